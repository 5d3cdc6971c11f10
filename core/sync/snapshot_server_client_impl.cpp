#include "core/sync/snapshot_server_client_impl.h"

#include <algorithm>
#include <cstdlib>

#include "brelt/uuid.h"
#include "core/data/data_center.h"
#include "core/foundation/utility.h"
#include "core/sync/auto_auth_connection.h"
#include "core/sync/user_snapshot.h"

namespace libkestrun::internal {

const char* const SnapshotServerClientImpl::kLastSnapshotSyncKey = "ks.snapshot.client.last.snapshot.sync";
const char* const SnapshotServerClientImpl::kUserItemSyncStateKey = "ks.snapshot.client.user_item_sync_state";

namespace {

constexpr int kExcludeLimit = 2048;
constexpr uint64_t kMaxRetries = 4;

SnapshotSyncStatus contribution(const SnapshotServerClientImpl::SnapshotState& s) {
  if (!s.is_finished()) return s.pending_status;
  return s.failed ? 6 : s.done_status;
}

// "since" is 30 below the token, never below 0.
jsonette::Json since(uint64_t token) {
  double value = static_cast<double>(token) - 30.0;
  return value > 0 ? value : 0.0;
}

jsonette::Json excluded(const DBContext::SavedTimes& times) {
  jsonette::Json::object ids;
  for (const auto& [id, saved] : times) ids[id] = static_cast<double>(saved);
  return ids;
}

int count_of(const std::string& text) { return static_cast<int>(std::strtol(text.c_str(), nullptr, 10)); }

}  // namespace

bool SnapshotServerClientImpl::SnapshotState::is_finished() const {
  if (failed) return true;
  if (!await_initial_sync) return processed;
  return processed && archive_done && inbox_done;
}

SnapshotServerClientImpl::SnapshotServerClientImpl(std::shared_ptr<KvStore> store, Neighbours neighbours,
                                                   brelt::ApiClient::Options options, brelt::UvThread& thread,
                                                   Timing timing)
    : store_(store),
      n_(std::move(neighbours)),
      thread_(thread),
      timing_(std::move(timing)),
      disconnecting_client_(thread, std::make_unique<AutoAuthConnectionFactory>(*n_.users, nullptr,
                                                                                thread.get_loop(), options)),
      user_item_sync_state_(kUserItemSyncStateKey, store, 0) {
  std::optional<jsonette::Json> last = store_.get_json(kLastSnapshotSyncKey);
  if (last && last->is_number() && last->number_value() > 0)
    last_snapshot_sync_ = static_cast<uint64_t>(last->number_value());
}

SnapshotServerClientImpl::~SnapshotServerClientImpl() {
  *alive_ = false;
  for (auto& [id, state] : states_) stopTimer(state);
}

int64_t SnapshotServerClientImpl::now() const { return timing_.now ? timing_.now() : Utility::now_ms(); }

uint64_t SnapshotServerClientImpl::lastSnapshotSync() {
  std::lock_guard<std::mutex> lock(states_mutex_);
  return last_snapshot_sync_;
}

void SnapshotServerClientImpl::stopTimer(SnapshotState& state) {
  if (state.retry_timer) state.retry_timer->stop();
}

void SnapshotServerClientImpl::requestAllSnapshots() {
  std::unique_lock<std::mutex> lock(states_mutex_);
  // A clock set back (last sync in the future) is not stale: only a real age counts.
  const int64_t t = now();
  if (last_snapshot_sync_ != 0 && t > static_cast<int64_t>(last_snapshot_sync_) &&
      static_cast<uint64_t>(t) - last_snapshot_sync_ > static_cast<uint64_t>(timing_.stale.count())) {
    lock.unlock();
    for (auto& listener : stale_data_listeners) listener();
    return;
  }
  if (n_.perf) n_.perf->startTiming(PERF_LOGGER_METRIC_ACCOUNT_SNAPSHOT_TIME);
  std::shared_ptr<std::vector<std::string>> accounts = primaryAccountIDs();
  has_new_objects_ = false;
  new_email_count_ = 0;
  new_item_count_ = 0;
  for (const std::string& account : *accounts) {
    Tokens tokens = tokensOf(account);
    SnapshotState state;
    if (tokens.items || tokens.emails || tokens.lists) {
      state.pending_status = 3;
      state.done_status = 1;
      state.item_token = tokens.items;
      state.email_token = tokens.emails;
      state.list_token = tokens.lists;
    } else {
      state.pending_status = 4;
      state.done_status = 2;
    }
    requestSnapshot(account, state);
  }
  // Without accounts the cycle ends when the drafts are applied.
  cycle_open_ = accounts->empty();
  // The drafts always go over the main connection, also during a background sync.
  auto snapshot =
      std::make_unique<UserSnapshot>(user_item_sync_state_.get(), std::map<std::string, uint64_t>{});
  snapshot->result_callback = [this, alive = alive_](UserSnapshotResult&& result) {
    if (!*alive) return;
    const uint64_t syncState = result.sync_state;
    KestrunDataCenter::processServerBatch(std::move(result.updates), [this, alive, syncState] {
      // The server client may have destroyed this client while the task waited: then not even
      // its thread member may be read.
      if (!*alive) return;
      thread_.post([this, alive, syncState] {
        if (*alive) userSnapshotApplied(syncState);
      });
    });
  };
  n_.server->send_command(std::move(snapshot));
}

void SnapshotServerClientImpl::userSnapshotApplied(uint64_t syncState) {
  user_item_sync_state_ = syncState;
  {
    std::lock_guard<std::mutex> lock(states_mutex_);
    if (cycle_open_ && states_.empty()) endCycle();
  }
  for (auto& listener : user_snapshot_listeners) listener();
}

void SnapshotServerClientImpl::request_all_snapshots_safe() {
  thread_.post([this, alive = alive_] {
    if (*alive) requestAllSnapshots();
  });
}

void SnapshotServerClientImpl::requestInitialSnapshot(const std::string& accountID, bool awaitInitialSync) {
  std::lock_guard<std::mutex> lock(states_mutex_);
  SnapshotState state;
  state.pending_status = 5;
  state.done_status = 2;
  state.await_initial_sync = awaitInitialSync;
  requestSnapshot(accountID, state);
}

void SnapshotServerClientImpl::requestSnapshot(const std::string& accountID, SnapshotState s) {
  DBContext* context = KestrunDataCenter::getDBContext();
  addSnapshotState(accountID, s);
  DBContext::SavedTimes items, emails, lists;
  if (context) {
    items = context->itemSavedTimesSince(accountID, static_cast<int64_t>(s.item_token), kExcludeLimit);
    emails = context->emailSavedTimesSince(accountID, static_cast<int64_t>(s.email_token), kExcludeLimit);
    lists = context->accountListSavedTimesSince(accountID, static_cast<int64_t>(s.list_token), kExcludeLimit);
  }
  jsonette::Json params = jsonette::Json::object{
      {"account_id", accountID},
      {"sync_state",
       jsonette::Json::object{
           {"item", jsonette::Json::object{{"since", since(s.item_token)}, {"exclude_ids", excluded(items)}}},
           {"email",
            jsonette::Json::object{{"since", since(s.email_token)}, {"exclude_ids", excluded(emails)}}},
           {"list",
            jsonette::Json::object{{"since", since(s.list_token)}, {"exclude_ids", excluded(lists)}}}}}};
  const std::string id = brelt::generate_uuid_lower();
  request_accounts_[id] = accountID;

  std::lock_guard<std::recursive_mutex> completion(completion_mutex_);
  if (!background_completion_) {
    n_.server->send("ACCOUNT_SNAPSHOT", params, id, true);
    return;
  }
  disconnecting_client_.send("BACKGROUND_ACCOUNT_SNAPSHOT", params, id,
                             [this, id, accountID](jsonette::Json error, jsonette::Json result) {
                               if (!result.is_null()) {
                                 handleSnapshotResponse(id, result, error, true);
                                 return;
                               }
                               {
                                 std::lock_guard<std::mutex> lock(states_mutex_);
                                 request_accounts_.erase(id);
                               }
                               markSnapshotFailed(accountID);
                             });
}

void SnapshotServerClientImpl::addSnapshotState(const std::string& accountID, const SnapshotState& state) {
  if (states_.empty()) {
    has_new_objects_ = false;
    new_email_count_ = 0;
    new_item_count_ = 0;
    current_status_ = 0;
  }
  states_.emplace(accountID, state);
  updateSnapshotStatus(accountID);
}

void SnapshotServerClientImpl::updateSnapshotStatus(const std::string& accountID) {
  SnapshotSyncStatus status = 0;
  for (const auto& [id, state] : states_) status = std::max(status, contribution(state));
  if (status != current_status_) {
    current_status_ = status;
    postStatus(status);
  }
  auto it = states_.find(accountID);
  if (it == states_.end() || !it->second.is_finished()) return;
  stopTimer(it->second);
  states_.erase(it);
  if (states_.empty()) endCycle();
}

void SnapshotServerClientImpl::endCycle() {
  cycle_open_ = false;
  current_status_ = 0;
  last_snapshot_sync_ = static_cast<uint64_t>(std::max<int64_t>(now(), 0));
  if (n_.perf) n_.perf->stopTiming(PERF_LOGGER_METRIC_ACCOUNT_SNAPSHOT_TIME);
  store_.set_json(kLastSnapshotSyncKey, static_cast<double>(last_snapshot_sync_));
  n_.server->stop_trouble_timer();
  completeBackgroundSync(has_new_objects_ ? 1 : 2);
}

void SnapshotServerClientImpl::postStatus(SnapshotSyncStatus status) {
  const char* name = nullptr;
  int primary = -1, secondary = -1;
  switch (status) {
    case 1:
      name = kSyncReceivedNewMessages;
      primary = new_email_count_;
      secondary = new_item_count_;
      break;
    case 2:
      name = kSyncInitialSyncCompleted;
      break;
    case 3:
      name = n_.badges && n_.badges->getLaunchBadgeCount() > n_.badges->getCachedBadgeCount()
                 ? kSyncDownloadingMessages
                 : kSyncCheckingForMessages;
      break;
    case 4:
      name = kSyncUpdatingAccounts;
      break;
    case 5:
      name = kSyncInitialSyncStarted;
      break;
    case 6:
      name = kSyncHavingTroubleConnecting;
      break;
    default:
      return;
  }
  if (n_.status) {
    n_.status->postStatus(name, primary, secondary);
  } else {
    sync_status_manager_post_status(name, primary, secondary);
  }
}

std::shared_ptr<std::vector<std::string>> SnapshotServerClientImpl::primaryAccountIDs() {
  return n_.accounts ? n_.accounts->allPrimaryAccountIDs() : account_manager_all_primary_account_ids();
}

Tokens SnapshotServerClientImpl::tokensOf(const std::string& accountID) {
  return n_.changes ? n_.changes->getTokens(accountID) : changes_manager_get_tokens(accountID);
}

void SnapshotServerClientImpl::invalidate(const std::string& accountID) {
  if (n_.accounts) {
    n_.accounts->invalidateAccount(accountID);
  } else {
    account_manager_invalidate_account(accountID);
  }
}

void SnapshotServerClientImpl::handleSnapshotResponse(const std::string& id, const jsonette::Json& result,
                                                      const jsonette::Json& error, bool background) {
  std::string requested;
  {
    std::lock_guard<std::mutex> lock(states_mutex_);
    auto it = request_accounts_.find(id);
    if (it != request_accounts_.end()) {
      requested = it->second;
      request_accounts_.erase(it);
    }
  }
  if (!result.is_null()) {
    const jsonette::Json& docs = result["docs"];
    std::string account = result["account_id"].is_string() ? result["account_id"].string_value() : "";
    if (docs.is_object() && !account.empty()) {
      processSnapshotCompletion(account, docs, result["sync_state"], background);
    } else {
      markSnapshotFailed(account.empty() ? requested : account);
    }
    return;
  }
  if (error.is_null()) return;
  std::string code = error["code"].is_string() ? error["code"].string_value() : "";
  std::string account = error["account_id"].is_string() ? error["account_id"].string_value() : requested;
  if (code == "U0") {
    invalidate(account);
    markSnapshotFailed(account);
    return;
  }
  retrySnapshot(account);
}

void SnapshotServerClientImpl::processSnapshotCompletion(const std::string& accountID,
                                                         const jsonette::Json& docs,
                                                         const jsonette::Json& syncState, bool background) {
  // Counted only once the snapshot is in the store: a background sync whose snapshots all failed
  // to apply brought nothing new.
  const bool hasObjects = KestrunDataCenter::snapshotHasObjects(docs);
  KestrunDataCenter::processDocumentSnapshot(
      docs, syncState, accountID,
      [this, alive = alive_, accountID, hasObjects](std::vector<std::string>& v) {
        if (!*alive) return;
        if (v.size() < 2) {
          // Not applied, and its tokens not stored: the same request goes out again, so a store
          // that cannot take the snapshot ends the state by the retry rules instead of never.
          thread_.post([this, alive, accountID] {
            if (*alive) retrySnapshot(accountID);
          });
          return;
        }
        {
          std::lock_guard<std::mutex> lock(states_mutex_);
          if (hasObjects) has_new_objects_ = true;
          new_email_count_ += count_of(v[0]);
          new_item_count_ += count_of(v[1]);
        }
        thread_.post([this, alive, accountID] {
          if (!*alive) return;
          markSnapshotProcessed(accountID);
          for (auto& listener : account_snapshot_listeners) listener(accountID);
          n_.server->markAccountAsStreamable(accountID);
        });
      },
      nullptr, !background);
}

void SnapshotServerClientImpl::markSnapshotProcessed(const std::string& accountID) {
  std::lock_guard<std::mutex> lock(states_mutex_);
  auto it = states_.find(accountID);
  if (it != states_.end()) it->second.processed = true;
  updateSnapshotStatus(accountID);
}

void SnapshotServerClientImpl::markSnapshotFailed(const std::string& accountID) {
  std::lock_guard<std::mutex> lock(states_mutex_);
  auto it = states_.find(accountID);
  if (it != states_.end()) it->second.failed = true;
  updateSnapshotStatus(accountID);
}

void SnapshotServerClientImpl::retrySnapshot(const std::string& accountID) {
  std::lock_guard<std::mutex> lock(states_mutex_);
  auto it = states_.find(accountID);
  if (it != states_.end()) {
    SnapshotState& s = it->second;
    if (++s.retry_count > kMaxRetries) {
      s.failed = true;
    } else {
      s.processed = false;
      s.failed = false;
      stopTimer(s);
      SnapshotState again = s;
      again.retry_timer.reset();
      s.retry_timer = std::make_shared<brelt::Timer>(
          thread_.get_loop(), static_cast<uint64_t>(timing_.retry.count()), false, [this, accountID, again] {
            std::lock_guard<std::mutex> relock(states_mutex_);
            requestSnapshot(accountID, again);
          });
      s.retry_timer->start();
    }
  }
  updateSnapshotStatus(accountID);
}

void SnapshotServerClientImpl::handleInitialSyncDone(const jsonette::Json& params) {
  if (!params["acct_id"].is_string() || !params["location"].is_string()) return;
  const std::string account = params["acct_id"].string_value();
  const std::string location = params["location"].string_value();
  std::lock_guard<std::mutex> lock(states_mutex_);
  auto it = states_.find(account);
  if (it != states_.end()) {
    if (location == "INBOX") it->second.inbox_done = true;
    if (location == "ARCHIVE") it->second.archive_done = true;
  }
  updateSnapshotStatus(account);
}

void SnapshotServerClientImpl::requestBackgroundSnapshots(
    std::function<void(BackgroundFetchResult)> completion) {
  {
    std::lock_guard<std::recursive_mutex> lock(completion_mutex_);
    // The pending one is replaced, so every completion is called exactly once.
    completeBackgroundSync(-3);
    background_completion_ = std::move(completion);
  }
  requestAllSnapshots();
}

bool SnapshotServerClientImpl::hasPendingBackgroundSync() {
  std::lock_guard<std::recursive_mutex> lock(completion_mutex_);
  return static_cast<bool>(background_completion_);
}

void SnapshotServerClientImpl::completeBackgroundSync(BackgroundFetchResult result) {
  std::lock_guard<std::recursive_mutex> lock(completion_mutex_);
  if (!background_completion_) return;
  std::function<void(BackgroundFetchResult)> completion = std::move(background_completion_);
  background_completion_ = nullptr;
  completion(result);
}

void SnapshotServerClientImpl::resetSnapshotStates() {
  std::lock_guard<std::mutex> lock(states_mutex_);
  has_new_objects_ = false;
  new_email_count_ = 0;
  new_item_count_ = 0;
  current_status_ = 0;
  cycle_open_ = false;
  for (auto& [id, state] : states_) stopTimer(state);
  states_.clear();
  request_accounts_.clear();
}

void SnapshotServerClientImpl::resetLastSnapshotSync() {
  {
    std::lock_guard<std::mutex> lock(states_mutex_);
    last_snapshot_sync_ = 0;
  }
  store_.erase(kLastSnapshotSyncKey);
  user_item_sync_state_ = 0;
}

}  // namespace libkestrun::internal
