// The queue of outgoing server requests whose effect must not be lost: item, list and e-mail saves
// and updates, preference updates, auto-swipe decisions and the account-wide changes (archive all,
// empty the trash, flag an e-mail). The server client hands every message
// to addRequest before it writes it; a request stays until the server answers its id without an
// error, until the object's saved document carrying it comes back, until its account is removed
// or until the queue is cleared, and is written again on every connection until then.
//
// Four queues:
//   - per object: at most one request per object id; a newer request for the same object is
//     merged into the queued one (the newer members win, older members the newer one lacks are
//     kept, the newer id replaces the older one). An update merged into a queued save stays a
//     save, since the server has not created the object yet.
//   - preference updates, in order; sent folded into one update under a new id.
//   - auto-swipe decisions, in order; sent one per rule (a decision of action 10 or 11 replaces
//     the rule's earlier one, any other repeats are dropped).
//   - account-wide changes ("ARCHIVE_ALL", "PURGE_ALL_TRASH", "EMAIL_FLAG"), in order, one per
//     request id. They carry no document, so nothing merges them; the change is already made
//     locally, and a connection lost before the reply must not lose it on the server. The server
//     applies a request id once, so sending one again is harmless.
// While a request is queued it holds one task of the task manager, so the core keeps or reopens
// the connection while work is pending.
//
// Persistence: five keys of the defaults store, each rewritten whole after every change (the two
// per-object values are erased when empty; the three queues are stored as [] when empty). The
// per-object requests and their id index are written one after the other; the index is rebuilt
// from the requests at construction, so a crash between the two writes loses nothing. Each
// member's JSON text is kept beside it, so rewriting a queue of a thousand requests joins texts
// instead of encoding every request again.
//
// Threads: the core thread. mutex_ (recursive) guards everything but the connection type, which
// the facade reads from the application's thread. The sync status manager is called with it held;
// it takes only its own lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <jansson.h>

#include "core/foundation/defaults.h"
#include "core/foundation/json_conversion.h"
#include "core/foundation/task_manager.h"
#include "core/services/sync_status_manager.h"
#include "jsonette/json.h"

namespace libkestrun {

class OfflineManager {
 public:
  // Network state: 0 none, 1 cellular, 2 Wi-Fi.
  static constexpr int32_t kConnectionNone = 0;
  static constexpr int32_t kConnectionCellular = 1;
  static constexpr int32_t kConnectionWifi = 2;

  // Restores the queues; the restored preference updates and decisions hold tasks again. The
  // sync status manager (not owned; may be null in tests) is told when an e-mail send ends.
  OfflineManager(int32_t connectionType, std::shared_ptr<Defaults> defaults,
                 std::shared_ptr<TaskManager> tasks, SyncStatusManager* syncStatus);
  OfflineManager(const OfflineManager&) = delete;
  OfflineManager& operator=(const OfflineManager&) = delete;
  virtual ~OfflineManager();

  virtual int32_t getConnectionType();
  virtual void setConnectionType(int32_t type);
  virtual void resetConnectionType();
  virtual bool isConnected();
  virtual bool isConnectedViaCellular();
  virtual bool isConnectedViaWifi();

  // True for the methods this queue keeps.
  virtual bool handlesMethod(const std::string& method);
  // Queues or merges a message {"method", "id", "params"}; messages of other methods, and object
  // requests without an id or a "doc" with an "_id", are not queued.
  virtual void addRequest(const jsonette::Json& message);
  virtual void queuePreferenceRequest(const std::string& requestID, const jsonette::Json& message);
  virtual void queueSwipeRequest(const std::string& requestID, const jsonette::Json& message);
  // The server answered `requestID` without an error: the request leaves its queue.
  virtual void acknowledgeRequest(const std::string& requestID);
  // The object's saved document came back: its request leaves the queue.
  virtual void removeRequest(const std::string& objectID);
  // The object's saved document came back: its request leaves the queue (through removeRequest)
  // unless the document does not carry it. A change queued after the saved version (a rename
  // refused and kept for resending while the first save's copy is on its way) must not be lost:
  // it stays while a member of its "doc" other than "sync_data" is missing from the document or
  // differs, or, for "LIST_DELETE", while the document is not "_deleted".
  virtual void removeRequestConfirmedBy(const std::string& objectID, const json_t* document);
  // Writes the queued requests of these objects, in this order, as one message; they stay queued.
  virtual void sendRequestsForIds(const std::vector<std::string>& objectIDs);
  // Writes every queued request of the account as one message; they stay queued.
  virtual void sendRequestsForAccount(const std::string& accountID);
  // The auto-swipe decisions (by rule id), the preference update(s), compacted as above, then the
  // account-wide changes in order; the compacted queues are stored.
  virtual std::vector<jsonette::Json> getQueuedRequests();
  virtual void removeRequestsForAccount(const std::string& accountID);
  virtual void clear();

 private:
  using JsonPtr = patch::JanssonPtr;

  void queueRequest(std::vector<jsonette::Json>& queue, const char* key, const std::string& requestID,
                    const jsonette::Json& message);
  void mergeObjectRequest(json_t* message, const std::string& method, const std::string& requestID,
                          const std::string& objectID);
  void startTask(const std::string& requestID);
  // The only writers of requests_ and requestIds_, keeping their texts in step.
  void putRequest(const std::string& objectID, json_t* message);
  void deleteRequest(const std::string& objectID);
  void putRequestId(const std::string& requestID, const std::string& objectID);
  void forgetRequestId(const std::string& requestID);
  // Ends a send count when the queued request is an e-mail save.
  void endSend(json_t* request);
  void saveRequests();
  void saveQueue(const std::vector<jsonette::Json>& queue, const char* key);
  std::vector<jsonette::Json> loadQueue(const char* key);

  std::shared_ptr<Defaults> defaults_;
  std::shared_ptr<TaskManager> taskManager_;
  SyncStatusManager* syncStatus_;
  std::atomic<int32_t> connectionType_;

  std::recursive_mutex mutex_;
  std::vector<jsonette::Json> preferenceQueue_;  // guarded by mutex_
  std::vector<jsonette::Json> swipeQueue_;       // guarded by mutex_
  std::vector<jsonette::Json> accountQueue_;     // guarded by mutex_
  std::map<std::string, TaskHandle> tasks_;      // by request id; guarded by mutex_
  JsonPtr requests_;                             // object id -> message; guarded by mutex_
  JsonPtr requestIds_;                           // request id -> object id; guarded by mutex_
  // The members' texts ("<key>":<value>) of the two stored objects; guarded by mutex_.
  std::unordered_map<std::string, std::string> requestTexts_;    // by object id
  std::unordered_map<std::string, std::string> requestIdTexts_;  // by request id
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing and answer 0 or false.
void offline_manager_set_instance(std::shared_ptr<OfflineManager> manager);

int32_t offline_manager_get_connection_type();
bool offline_manager_is_connected();
bool offline_manager_is_connected_via_cellular();
bool offline_manager_is_connected_via_wifi();
void offline_manager_reset_connection_type();
void offline_manager_add_request(const jsonette::Json& message);
void offline_manager_acknowledge_request(const std::string& requestID);
void offline_manager_remove_request(const std::string& objectID);
void offline_manager_remove_request_confirmed_by(const std::string& objectID, const json_t* document);
void offline_manager_send_requests_for_ids(const std::vector<std::string>& objectIDs);
void offline_manager_send_requests_for_account(const std::string& accountID);
void offline_manager_clear();
bool offline_manager_handles_method(const std::string& method);
void offline_manager_remove_requests_for_account(const std::string& accountID);

}  // namespace libkestrun
