// The owner of the core's one connection to the sync server and of everything that speaks over
// it: the connection stack (an auto-connecting client over connections that authenticate the
// device), the per-family sub-clients, the connection statuses, the trouble timer, and the
// per-account state that decides when pushed documents may be applied.
//
// Set-up: the constructor posts the set-up to the core thread and waits for it, so it must not be
// called there. Set-up builds the connection options, the connection factory and the client, then
// the sub-clients in a fixed order (snapshot, account, auto-swipe, object, push, preference, cloud
// search, user), publishing their process-wide instances, then the dispatch tables and the trouble
// timer. No connection is opened: connect(), connect_and_sync() or the first write opens it.
//
// Connection statuses (posted through the sync status manager, payload null, heard on the core
// thread):
//   "com.kestrun.sync.started.connecting"         connect() left the client connecting
//   "com.kestrun.sync.failed.connecting"          first read error of a series, a lookup failure
//   "com.kestrun.sync.having.trouble.connecting"  first read error of another kind, first write
//                                                 error, or the trouble timer expired
//   "com.kestrun.did.close.connection"            a connection that had come up has ended
// Only the first error after a connect(), a connection or an end is reported (error_reported_);
// the "not sent" account of writes a lost connection dropped is not an error of its own.
// The trouble timer runs from a registered device's connection (when its snapshots are asked for)
// until the snapshots complete, the connection ends, a reported read error, disconnect() or NUKE.
//
// Incoming messages: each is first offered to the command client, then its dispatch is posted to
// the core thread in arrival order; the dispatch traces it (a one-line summary from 1500 bytes
// on), asks for the trace upload on an unexpected error code, and calls the handler of its "type"
// (reply_handlers_, or notification_handlers_ by "method" for "NOTIFICATION"); a reply of a method
// the outgoing queue tracks acknowledges the request when it carries no error. No exception leaves
// a posted closure: a failing store is logged and later messages are still dispatched.
//
// Pushed documents: those of an account are applied at once while the account is streamable
// (its snapshot is in on this connection), and otherwise held per account in arrival order until
// it becomes streamable; both are dropped when the connection ends. Drafts (no "acct_id") are
// applied at once.
//
// Threads: everything runs on the core thread except the constructor, is_connected(),
// is_connected_or_connecting() and markAccountAsStreamable() (which posts). The listener lists,
// streamable_accounts_ and pending_documents_ are core-thread state without a lock; listeners are
// registered before the first connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "brelt/api_client.h"
#include "brelt/auto_connect_api_client.h"
#include "brelt/error.h"
#include "brelt/timer.h"
#include "brelt/uv_thread.h"
#include "core/api/config.h"
#include "core/api/managers.h"
#include "core/foundation/kv_store.h"
#include "core/foundation/notification_center.h"
#include "core/services/perf_logger.h"
#include "core/sync/account_server_client_impl.h"
#include "core/sync/auto_swipe_server_client_impl.h"
#include "core/sync/cloud_search_server_client.h"
#include "core/sync/kestrun_object_server_client_impl.h"
#include "core/sync/preference_server_client.h"
#include "core/sync/push_server_client.h"
#include "core/sync/server_client.h"
#include "core/sync/server_command_client.h"
#include "core/sync/snapshot_server_client_impl.h"
#include "core/sync/user_server_client_impl.h"
#include "jsonette/json.h"

namespace libkestrun::internal {

// Posted with a null payload when the server retires this application version.
extern const char* const kAppVersionWasNuked;  // "com.kestrun.app.version.was.nuked"

// The server client's durations; tests shorten them.
struct ServerClientTimings {
  uint64_t trouble_ms = 30000;
  brelt::AutoConnectTimings connection;
  UserRequestTimes user_requests;
  // Schedules the anonymous registration's retries; empty: the core thread's own timers.
  DeferFunction user_retry_defer;
  std::chrono::milliseconds account_request_timeout = std::chrono::seconds(20);
  SnapshotServerClientImpl::Timing snapshot;
};

// One incoming message as the dispatch hands it to a reply handler. A missing "id" or "type" reads
// as the empty string; "error" and "result" are JSON null when absent.
struct IncomingMessage {
  jsonette::Json message;
  std::string id;
  std::string type;
  jsonette::Json error;
  jsonette::Json result;
  bool command_reply = false;  // a pending server command already took it
};

class ServerClientImpl : public ServerClient {
 public:
  using ReplyHandler = std::function<void(const IncomingMessage&)>;
  using NotificationHandler = std::function<void(const jsonette::Json& params)>;

  // Waits for the set-up on `thread`'s loop; never call it on that thread. `managers` (whose user
  // manager authenticates every connection), the centre, the store and the logger must outlive
  // the client.
  ServerClientImpl(brelt::UvThread& thread, ServerEnv env, DeviceType device_type, std::string app_id,
                   std::string app_version, std::shared_ptr<NotificationCenter> center,
                   std::shared_ptr<KvStore> store, Managers* managers, std::shared_ptr<PerfLogger> perf,
                   ServerClientTimings timings = {});
  ServerClientImpl(const ServerClientImpl&) = delete;
  ServerClientImpl& operator=(const ServerClientImpl&) = delete;
  // Ends the connection and releases it and the trouble timer on the core thread, which must
  // still run.
  ~ServerClientImpl() override;

  // The connection.
  void connect() override;
  void connect_and_sync() override;
  bool schedule_disconnect(unsigned ms) override;
  void disconnect() override;
  bool is_connected() override;
  bool is_connected_or_connecting() override;
  void stop_trouble_timer() override;
  // Ends the connection, forgets every message still held for it (they were written for the
  // credentials that held then) and opens a new one, which authenticates with those that hold now.
  void restart_dropping_held();
  // Every pending command gets its cancel callback.
  void cancel_all_commands();
  // Any thread. While the main connection is connected or connecting `done` gets -2 at once;
  // otherwise the snapshot client runs a background cycle and completes it (see
  // snapshot_server_client_impl.h). `done` runs on the core thread.
  void background_sync(std::function<void(BackgroundFetchResult)> done);
  void reset_last_snapshot_sync();

  // Sending.
  void write_message(const jsonette::Json& message) override;
  void send(const std::string& method, const jsonette::Json& params, const std::string& id,
            bool write_now) override;
  void send_document(const std::string& method, const jsonette::Json& doc, const jsonette::Json& extra,
                     bool write_now) override;
  void send_json(const jsonette::Json& message) override;
  void send_command(std::unique_ptr<ServerCommand> command) override;
  void prime_search(const std::string& accountID) override;
  void search_query(const std::string& accountID, const std::string& folder, const std::string& searchID,
                    const std::string& text, int numAccounts) override;
  void search_fetch(const std::string& accountID, const std::string& searchID, const std::string& threadID,
                    const std::string& syncData) override;

  // Forwarded to the sub-clients.
  void update_device_token(const std::string& token);
  void update_device_token_amazon(const std::string& token);
  void remove_email_account(const std::string& account_id, bool global, AccountRequestSuccess success,
                            AccountRequestFailure failure);

  // The sub-clients whose events and requests the controller uses; they live as long as this.
  SnapshotServerClientImpl& snapshot_client() { return *snapshot_client_; }
  UserServerClientImpl& user_client() { return *user_client_; }
  AccountServerClientImpl& account_client() { return *account_client_; }
  PreferenceServerClient& preference_client() { return *preference_client_; }
  PushServerClient& push_client() { return *push_client_; }

  // Receiving.
  void markAccountAsStreamable(const std::string& account_id) override;
  // The connection's data callback: offers the message to the command client, then posts its
  // dispatch.
  void handleSocketMessage(jsonette::Json message);
  // Applies one pushed document through the data center; reports new inbox mail and calls the
  // document listeners once it is committed, unless the client is destroyed by then.
  void processDocument(const jsonette::Json& doc, const std::string& doc_type);

  // Registered before the first connection; called in registration order on the core thread.
  std::vector<std::function<void()>> connected_listeners;
  std::vector<std::function<void(const std::string& account_id)>> account_deleted_listeners;
  std::vector<std::function<void(const std::string& object_id, const std::string& doc_type)>>
      document_listeners;

 private:
  // Set-up, on the core thread.
  void run_socket_thread(const ServerEnv& env, DeviceType device_type, const std::string& app_id,
                         const std::string& app_version);
  void create_sub_clients(const brelt::ApiClient::Options& options, const std::string& app_id,
                          DeviceType device_type);
  void register_handlers();

  // Connection events.
  void handleSocketConnect();
  void handleSocketDisconnect();
  void handleReadError(const brelt::Error& error);
  void handleWriteError(const brelt::Error& error);
  void postStatus(const char* name);

  // Dispatch, on the core thread.
  void handleIncomingMessage(IncomingMessage incoming);
  void dispatch(const IncomingMessage& incoming);
  void handleNotification(const std::string& method, const jsonette::Json& params);
  void handleDocumentNotification(const jsonette::Json& params);
  void handleNukeNotification();
  void handleGenericStatusNotification(const jsonette::Json& params);
  // Posts `work` to the core thread; it does not run once the client is destroyed.
  void post(std::function<void()> work);
  // Runs `work`, logging instead of letting an exception out of a closure of the core thread.
  void guarded(const char* what, const std::function<void()>& work);

  brelt::UvThread& thread_;
  Managers* const managers_;
  std::shared_ptr<NotificationCenter> center_;
  std::shared_ptr<KvStore> store_;
  const ServerClientTimings timings_;

  // The sub-clients, kept for the life of the process through their published instances.
  std::shared_ptr<AccountServerClientImpl> account_client_;
  std::shared_ptr<SnapshotServerClientImpl> snapshot_client_;
  std::shared_ptr<AutoSwipeServerClientImpl> auto_swipe_client_;
  std::shared_ptr<KestrunObjectServerClientImpl> object_client_;
  std::unique_ptr<PushServerClient> push_client_;
  std::unique_ptr<PreferenceServerClient> preference_client_;
  std::unique_ptr<CloudSearchServerClient> cloud_search_client_;
  std::shared_ptr<UserServerClientImpl> user_client_;

  std::shared_ptr<brelt::AutoConnectApiClient> client_;                         // set by the set-up
  std::unordered_map<std::string, ReplyHandler> reply_handlers_;                // by "type"
  std::unordered_map<std::string, NotificationHandler> notification_handlers_;  // by "method"
  std::unordered_set<std::string> streamable_accounts_;
  // Parameters of the "DOCUMENT" notifications of accounts not yet streamable, oldest first.
  std::unordered_map<std::string, std::deque<jsonette::Json>> pending_documents_;
  std::shared_ptr<PerfLogger> perf_;
  std::unique_ptr<brelt::Timer> trouble_timer_;  // set by the set-up
  bool error_reported_ = false;
  ServerCommandClient command_client_;
  // Cleared on the core thread by the destructor; closures posted earlier and the completions of
  // queued data tasks check it.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace libkestrun::internal
