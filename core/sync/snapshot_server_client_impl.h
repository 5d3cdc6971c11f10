// The snapshot client: after each connection it brings every primary account and the user's
// drafts up to date. A cycle asks the server once per account ("ACCOUNT_SNAPSHOT" with the
// account's change tokens, "since" 30 lower, and the ids of rows saved after them) and once for
// the drafts (the user snapshot), follows each account as a SnapshotState until its snapshot is
// applied, fails for good or, for a new account, until the server reported the initial sync of
// "INBOX" and "ARCHIVE", and posts the sync status while it runs. When the last state finishes
// the cycle's time is stored, the trouble timer stopped and a pending background sync completed.
//
// A background sync runs the same cycle over a short-lived second connection (DisconnectingClient)
// and reports through its completion whether new objects arrived: -3 replaced by a newer one,
// -2 the main connection took over, -1 the main connection closed, 1 new objects, 2 none.
//
// State of one account:  pending --applied--> finished (or waits for INBOX and ARCHIVE first)
//                        pending --error--> retry in `retry` (five requests in all) --> failed
//                        pending --"U0", bad reply, failed apply, lost background--> failed
//
// Threads: everything runs on the core thread except request_all_snapshots_safe, which posts.
// The client may be destroyed (on the core thread) while work it queued still waits there: posted
// closures and data-task completions check `alive_` before they touch any member.
// `states_mutex_` guards the states, the status, the counts and the flag; `completion_mutex_`
// (recursive) guards the background completion, which runs under it. When both are held the
// states mutex is taken first. No listener runs under either lock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "brelt/api_client.h"
#include "brelt/timer.h"
#include "brelt/uv_thread.h"
#include "core/accounts/account_manager.h"
#include "core/accounts/user_manager.h"
#include "core/foundation/durable.h"
#include "core/foundation/json_kv_store.h"
#include "core/services/badge_count_manager.h"
#include "core/services/changes_manager.h"
#include "core/services/perf_logger.h"
#include "core/services/sync_status_manager.h"
#include "core/sync/disconnecting_client.h"
#include "core/sync/server_client.h"
#include "core/sync/snapshot_server_client.h"
#include "jsonette/json.h"

namespace libkestrun::internal {

using BackgroundFetchResult = int32_t;
using SnapshotSyncStatus = uint8_t;

class SnapshotServerClientImpl : public SnapshotServerClient {
 public:
  // What the client needs of its neighbours. All are owned elsewhere and outlive the client. A
  // null account, changes or sync status manager means the process-wide instance.
  struct Neighbours {
    AccountManager* accounts = nullptr;
    ChangesManager* changes = nullptr;
    SyncStatusManager* status = nullptr;
    BadgeCountManager* badges = nullptr;  // null: "checking for messages"
    UserManager* users = nullptr;         // authenticates the background connection
    std::shared_ptr<PerfLogger> perf;     // may be null
    // The main connection: account snapshots and the user snapshot go over it, its trouble timer
    // stops at the end of a cycle, and it lets an account's held documents through once the
    // account's snapshot is in.
    ServerClient* server = nullptr;
  };

  struct Timing {
    std::chrono::milliseconds retry{5000};
    std::chrono::milliseconds stale{561600000};  // 6.5 days
    std::function<int64_t()> now;                // ms since 1970; empty: the wall clock
  };

  struct SnapshotState {
    std::shared_ptr<brelt::Timer> retry_timer;
    SnapshotSyncStatus pending_status = 0;
    SnapshotSyncStatus done_status = 0;
    uint64_t item_token = 0;
    uint64_t email_token = 0;
    uint64_t list_token = 0;
    bool await_initial_sync = false;
    uint64_t retry_count = 0;
    bool archive_done = false;
    bool inbox_done = false;
    bool processed = false;
    bool failed = false;

    bool is_finished() const;
  };

  static const char* const kLastSnapshotSyncKey;   // "ks.snapshot.client.last.snapshot.sync"
  static const char* const kUserItemSyncStateKey;  // "ks.snapshot.client.user_item_sync_state"

  // Call on the core thread. `options` are the main connection's; the background connection is
  // made from them with a null TLS context (the default one).
  SnapshotServerClientImpl(std::shared_ptr<KvStore> store, Neighbours neighbours,
                           brelt::ApiClient::Options options, brelt::UvThread& thread, Timing timing);
  ~SnapshotServerClientImpl() override;

  std::vector<std::function<void()>> stale_data_listeners;
  std::vector<std::function<void(const std::string& accountID)>> account_snapshot_listeners;
  std::vector<std::function<void()>> user_snapshot_listeners;

  void requestAllSnapshots() override;
  void request_all_snapshots_safe() override;
  void requestInitialSnapshot(const std::string& accountID, bool awaitInitialSync) override;
  // Replies of "ACCOUNT_SNAPSHOT" and, with `background`, of "BACKGROUND_ACCOUNT_SNAPSHOT", whose
  // connection carries no account status to restate the counts.
  void handleSnapshotResponse(const std::string& id, const jsonette::Json& result,
                              const jsonette::Json& error, bool background = false);
  // Notification "INITIAL_SYNC_DONE" {"acct_id", "location"}.
  void handleInitialSyncDone(const jsonette::Json& params);
  void markSnapshotFailed(const std::string& accountID) override;
  void requestBackgroundSnapshots(std::function<void(BackgroundFetchResult)> completion);
  bool hasPendingBackgroundSync();
  void completeBackgroundSync(BackgroundFetchResult result);
  void resetSnapshotStates();
  void resetLastSnapshotSync() override;

  uint64_t lastSnapshotSync();

 private:
  int64_t now() const;
  // The caller holds `states_mutex_`, except the retry timer.
  void requestSnapshot(const std::string& accountID, SnapshotState state);
  void addSnapshotState(const std::string& accountID, const SnapshotState& state);
  void updateSnapshotStatus(const std::string& accountID);
  void postStatus(SnapshotSyncStatus status);
  // The neighbours, or the process-wide instances where none was given.
  std::shared_ptr<std::vector<std::string>> primaryAccountIDs();
  Tokens tokensOf(const std::string& accountID);
  void invalidate(const std::string& accountID);
  void endCycle();
  void retrySnapshot(const std::string& accountID);
  void processSnapshotCompletion(const std::string& accountID, const jsonette::Json& docs,
                                 const jsonette::Json& syncState, bool background);
  void markSnapshotProcessed(const std::string& accountID);
  void userSnapshotApplied(uint64_t syncState);
  static void stopTimer(SnapshotState& state);

  JsonKvStore store_;
  Neighbours n_;
  brelt::UvThread& thread_;
  const Timing timing_;
  DisconnectingClient disconnecting_client_;

  std::mutex states_mutex_;
  std::recursive_mutex completion_mutex_;
  std::function<void(BackgroundFetchResult)> background_completion_;  // completion_mutex_
  SnapshotSyncStatus current_status_ = 0;
  std::map<std::string, SnapshotState> states_;
  // The account each outstanding request id asks for: a reply without "account_id" still ends it.
  std::map<std::string, std::string> request_accounts_;
  bool cycle_open_ = false;  // a cycle was started and has not ended
  bool has_new_objects_ = false;
  int32_t new_email_count_ = 0;
  int32_t new_item_count_ = 0;
  uint64_t last_snapshot_sync_ = 0;
  Durable<uint64_t> user_item_sync_state_;
  // Cleared by the destructor. A snapshot's data task runs at low priority, so its completion can
  // come after the client is gone (the server client destroys it from a closure that overtakes
  // waiting data tasks); the completion and what it posts check this first. Core thread only.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace libkestrun::internal
