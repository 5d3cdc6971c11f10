// The sync protocol as the server speaks it, apart from any transport: it takes the decoded
// messages of one connection, applies them to the store and answers through an `Outbox`. See
// docs/sync-protocol.md for the messages.
//
// A connection's life, as `SessionState` follows it:
//
//   new --hello--> greeted --USER_AUTH_DEVICE (good)--> authenticated
//                     |  \--USER_AUTH_DEVICE (bad)--> greeted, USER_UNAUTHORIZED pushed
//                     \-- only "ping", USER_NEW_DEVICE and USER_UNLINK are served here
//
// Anything that is not a hello first, a frame that is not JSON or a message that is not an object
// with a "method" ends the connection (`handle` returns false); a request the server cannot serve
// gets a reply with an "error".
//
// Not thread-safe: the server calls every member under one mutex.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tools/sync_server/json.h"
#include "tools/sync_server/sync_store.h"

namespace sync_server {

struct SessionState {
  uint64_t id = 0;  // the connection's number, unique for the server's life
  bool greeted = false;
  bool authenticated = false;
  std::string user_id;
  std::string device_id;
};

// Where messages leave; implemented by the server over its connections. Each text is one JSON
// message, framed and compressed by the connection.
class Outbox {
 public:
  virtual ~Outbox() = default;
  virtual void to_session(uint64_t session, const std::string& text) = 0;
  // Every authenticated connection of the device.
  virtual void to_device(const std::string& device_id, const std::string& text) = 0;
};

// New mail that the control side delivers into a mailbox.
struct NewMail {
  std::string account_id;
  std::string from_name;
  std::string from_address;
  std::string subject;
  std::string html;
  // The conversation the e-mail joins; empty, or one the mailbox does not hold, starts a new one.
  std::string item_id = {};
};

class SyncService {
 public:
  // Seeds the sample mailbox when the store is new. `max_reply_bytes` bounds a snapshot reply's
  // documents; the rest follows as DOCUMENT notifications.
  SyncService(SyncStore& store, Outbox& outbox, size_t max_reply_bytes);

  // One frame of a connection, as text. False: close the connection.
  bool handle(SessionState& session, const std::string& text);

  // Control. Each returns false when its target does not exist.
  // Sends a notification to every connection of the user's devices.
  bool notify_user(const std::string& user_id, const std::string& method, const json_t* params);
  // Stores the e-mail in the mailbox, in a new conversation or the one it names, and pushes both
  // to its users; the conversation's id, or empty.
  std::string deliver_mail(const NewMail& mail);
  // The next `count` requests of `method` are answered with the error `code` and not applied.
  void fail_next(const std::string& method, int count, const std::string& code);
  // The next `count` requests of `method` are neither applied nor answered.
  void drop_next(const std::string& method, int count);
  // Device ids of a user, for the control side.
  std::vector<std::string> devices_of(const std::string& user_id);
  // The stored document of a device (JSON text), empty when there is none.
  std::string device_doc(const std::string& device_id);

 private:
  // What a method handler produces: a result or an error, and notifications that follow the reply.
  struct Outcome {
    JsonPtr result;
    JsonPtr error;
    // (device id, text) pairs; an empty device id means the requesting connection.
    std::vector<std::pair<std::string, std::string>> pushes;
    // Messages for the requesting connection ahead of the reply (a search's streamed results).
    std::vector<std::string> leading;
    // The reply leaves out "error" when there is none, as a search's final answer does.
    bool error_only_on_failure = false;
  };
  using Handler = void (SyncService::*)(SessionState&, const json_t* params, Outcome&);
  struct Method {
    Handler handler;
    bool needs_auth;
    bool once;  // a repeated request id is answered from the stored reply, not applied again
  };

  bool handle_message(SessionState& session, const json_t* message);
  void serve(SessionState& session, const std::string& method, const std::string& id, const json_t* params);
  static const std::map<std::string, Method>& methods();

  // Pushes.
  static std::string notification(const std::string& method, JsonPtr params);
  void push_to_user(Outcome& out, const std::string& user_id, const std::string& text);
  void push_document(Outcome& out, const std::string& owner, const json_t* doc, const std::string& doc_type);
  std::vector<std::string> users_of_account(const std::string& account_id);
  static void fail(Outcome& out, const char* code, const std::string& message);

  // Users and devices (user_methods.cpp).
  void auth_device(SessionState& session, const json_t* params, Outcome& out);
  void new_device(SessionState& session, const json_t* params, Outcome& out);
  void unlink(SessionState& session, const json_t* params, Outcome& out);
  void link(SessionState& session, const json_t* params, Outcome& out);
  void set_auto_auth(SessionState& session, const json_t* params, Outcome& out);
  void preference_update(SessionState& session, const json_t* params, Outcome& out);
  void push_register(SessionState& session, const json_t* params, Outcome& out);
  JsonPtr state_document(const std::string& user_id, const std::string& device_id, bool with_secret);
  void push_user_state(Outcome& out, const std::string& user_id);
  void associate_device(const std::string& device_id, const std::string& account_id);

  // Accounts (account_methods.cpp).
  void account_create(SessionState& session, const json_t* params, Outcome& out);
  void account_associate(SessionState& session, const json_t* params, Outcome& out);
  void account_update(SessionState& session, const json_t* params, Outcome& out);
  void account_remove(SessionState& session, const json_t* params, Outcome& out);
  JsonPtr account_document(const std::string& user_id, const std::string& account_id);
  JsonPtr user_account(const std::string& user_id, const std::string& account_id);
  // The user's account when the session's device is associated with it, else null.
  JsonPtr device_account(const SessionState& session, const std::string& account_id);
  void put_user_account(const std::string& user_id, const std::string& account_id, const json_t* doc);

  // Snapshots (snapshot_methods.cpp).
  void account_snapshot(SessionState& session, const json_t* params, Outcome& out);
  void user_snapshot(SessionState& session, const json_t* params, Outcome& out);
  void user_item_save(SessionState& session, const json_t* params, Outcome& out);
  void user_item_remove(SessionState& session, const json_t* params, Outcome& out);
  void save_user_item(SessionState& session, const std::string& id, JsonPtr doc, Outcome& out);
  void auto_swipe_rules_get(SessionState& session, const json_t* params, Outcome& out);
  // The ACCOUNT_STATUS notification of an account: its conversations counted by place.
  std::string account_status(const std::string& account_id);

  // Cloud search (search_methods.cpp).
  void search_prime(SessionState& session, const json_t* params, Outcome& out);
  void search_query(SessionState& session, const json_t* params, Outcome& out);
  void search_fetch(SessionState& session, const json_t* params, Outcome& out);

  // Changes (change_methods.cpp).
  void save_document(SessionState& session, const json_t* params, Outcome& out, const char* kind, bool create,
                     const json_t* forced);
  void item_save(SessionState& session, const json_t* params, Outcome& out);
  void item_update(SessionState& session, const json_t* params, Outcome& out);
  void email_save(SessionState& session, const json_t* params, Outcome& out);
  void email_update(SessionState& session, const json_t* params, Outcome& out);
  void email_flag(SessionState& session, const json_t* params, Outcome& out);
  void list_save(SessionState& session, const json_t* params, Outcome& out);
  void list_update(SessionState& session, const json_t* params, Outcome& out);
  void list_delete(SessionState& session, const json_t* params, Outcome& out);
  void archive_all(SessionState& session, const json_t* params, Outcome& out);
  void purge_all_trash(SessionState& session, const json_t* params, Outcome& out);
  void auto_swipe_decision(SessionState& session, const json_t* params, Outcome& out);
  void change_items(Outcome& out, const std::string& account_id, int64_t from_date, int from_state,
                    int to_state);
  std::string store_new_mail(Outcome& out, const NewMail& mail);

  SyncStore& store_;
  Outbox& outbox_;
  size_t max_reply_bytes_;
  std::map<std::string, std::pair<int, std::string>> failing_;  // method -> (count, code)
  std::map<std::string, int> dropping_;                         // method -> count
};

}  // namespace sync_server
