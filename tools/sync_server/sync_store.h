// The server's state in one unencrypted SQLite file. Everything is kept as JSON documents:
//
//   records  (space, key, parent, doc)   users, devices, mailboxes and the links between them;
//                                        `parent` names the owner a record is listed under
//   objects  (owner, kind, id, saved_at, doc)
//                                        the synced objects: items, e-mails and lists owned by a
//                                        mailbox, drafts and auto-swipe rules owned by a user
//   requests (user_id, request_id, reply)  the reply to every applied change, so that a request
//                                        sent again is answered again instead of applied again
//   meta     (key, value)                the save clock and the seeding mark
//
// Not thread-safe: the server calls it under its own mutex. Failures throw `StoreError`; a
// `Transaction` that is not committed rolls back.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/sync_server/json.h"

namespace sync_server {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct StoredObject {
  std::string owner;
  std::string kind;
  std::string id;
  int64_t saved_at = 0;
  std::string doc;  // JSON text
};

struct StoredRecord {
  std::string key;
  std::string parent;
  std::string doc;  // JSON text
};

class SyncStore {
 public:
  // Opens or creates the database at `path`.
  explicit SyncStore(const std::string& path);
  ~SyncStore();
  SyncStore(const SyncStore&) = delete;
  SyncStore& operator=(const SyncStore&) = delete;

  class Transaction {
   public:
    explicit Transaction(SyncStore& store);
    ~Transaction();
    void commit();

   private:
    SyncStore& store_;
    bool done_ = false;
  };

  // A save time in milliseconds since 1970, later than every one given before, also across
  // restarts (the clock is stored with the transaction that uses it).
  int64_t next_saved_at();

  std::optional<std::string> meta(const std::string& key);
  void set_meta(const std::string& key, const std::string& value);

  std::optional<StoredRecord> record(const std::string& space, const std::string& key);
  void put_record(const std::string& space, const std::string& key, const std::string& parent,
                  const std::string& doc);
  void remove_record(const std::string& space, const std::string& key);
  std::vector<StoredRecord> records_of(const std::string& space, const std::string& parent);
  // Moves every record listed under `from` to `to` (a user that takes another id).
  void reparent_records(const std::string& from, const std::string& to);

  std::optional<StoredObject> object(const std::string& owner, const std::string& kind,
                                     const std::string& id);
  void put_object(const StoredObject& object);
  // Stores `doc` (an object) as the new version of (owner, kind, id): gives it the next save time,
  // writes that into the document as "saved_at" and returns it.
  int64_t save(const std::string& owner, const std::string& kind, const std::string& id, json_t* doc);
  // The owner's objects of `kind` saved after `since`, oldest save first.
  std::vector<StoredObject> objects_since(const std::string& owner, const std::string& kind, int64_t since);
  void reown_objects(const std::string& from, const std::string& to);

  std::optional<std::string> applied_reply(const std::string& user_id, const std::string& request_id);
  void record_reply(const std::string& user_id, const std::string& request_id, const std::string& reply);
  // Moves the replies of applied requests to the user's new id, so that a resend is still known.
  void reown_replies(const std::string& from, const std::string& to);

 private:
  friend class Statement;
  void exec(const char* sql);

  sqlite3* db_ = nullptr;
  int64_t last_saved_at_ = 0;
};

}  // namespace sync_server
