#include "core/services/sync_status_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

const char* const kSyncStartedConnecting = "com.kestrun.sync.started.connecting";
const char* const kSyncFailedConnecting = "com.kestrun.sync.failed.connecting";
const char* const kSyncDidCloseConnection = "com.kestrun.did.close.connection";
const char* const kSyncHavingTroubleConnecting = "com.kestrun.sync.having.trouble.connecting";
const char* const kSyncDownloadingMessages = "com.kestrun.sync.downloading.messages";
const char* const kSyncCheckingForMessages = "com.kestrun.sync.checking.for.messages";
const char* const kSyncReceivedNewMessages = "com.kestrun.sync.received.new.messages";
const char* const kSyncSendingMessages = "com.kestrun.sync.sending.messages";
const char* const kSyncSentMessages = "com.kestrun.sync.sent.messages";
const char* const kSyncSendFailed = "com.kestrun.sync.send.failed";
const char* const kSyncInitialSyncStarted = "com.kestrun.sync.initial.sync.started";
// The misspelling is the name the application listens for.
const char* const kSyncInitialSyncCompleted = "com.kestrun.sync.intial.sync.completed";
const char* const kSyncArchiveAllOngoing = "com.kestrun.sync.archive.all.ongoing";
const char* const kSyncArchiveAllComplete = "com.kestrun.sync.archive.all.complete";
const char* const kSyncGenericMessage = "com.kestrun.sync.generic.message";
const char* const kSyncUpdatingAccounts = "com.kestrun.sync.updating.accounts";

SyncStatusManager::SyncStatusManager(std::shared_ptr<NotificationCenter> center,
                                     std::shared_ptr<KvStore> store)
    : notificationCenter_(std::move(center)),
      currentlySending_("sync.status.manager.num.currently.sending", store, 0),
      displayedSending_("sync.status.manager.num.displayed.sending", store, 0) {
  archiveAll_.max_load_factor(1.0);
  // A count stored negative by an older build would keep the sent status from ever being posted.
  if (currentlySending_.get() < 0) currentlySending_ = 0;
}

void SyncStatusManager::post(const std::string& name, const jsonette::Json& payload) {
  if (notificationCenter_) notificationCenter_->post_notification(name, payload);
}

void SyncStatusManager::postStatus(const std::string& name, int primaryCount, int secondaryCount) {
  if (primaryCount < 0 && secondaryCount < 0) {
    post(name, nullptr);
    return;
  }
  jsonette::Json::object payload;
  if (primaryCount >= 0) payload["primaryCount"] = primaryCount;
  if (secondaryCount >= 0) payload["secondaryCount"] = secondaryCount;
  post(name, jsonette::Json(std::move(payload)));
}

void SyncStatusManager::postGenericMessage(const std::string& text) {
  post(kSyncGenericMessage, jsonette::Json::object{{"genericMessage", text}});
}

void SyncStatusManager::startedSendingMessage() {
  std::lock_guard<std::mutex> lock(mutex_);
  currentlySending_ = currentlySending_.get() + 1;
  displayedSending_ = displayedSending_.get() + 1;
  postStatus(kSyncSendingMessages, displayedSending_.get(), -1);
}

void SyncStatusManager::finishedSendingMessage() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (currentlySending_.get() <= 0) return;
  currentlySending_ = currentlySending_.get() - 1;
  if (currentlySending_.get() != 0) return;
  postStatus(kSyncSentMessages, displayedSending_.get(), -1);
  displayedSending_ = 0;
}

void SyncStatusManager::repostSendingStatus() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (displayedSending_.get() > 0) postStatus(kSyncSendingMessages, displayedSending_.get(), -1);
}

void SyncStatusManager::archiveAllStarted(const std::string& accountID) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool wasEmpty = archiveAll_.empty();
  archiveAll_.insert(accountID);
  if (wasEmpty) postStatus(kSyncArchiveAllOngoing, 0, 0);
}

void SyncStatusManager::archiveAllFinished(const std::string& accountID) {
  std::lock_guard<std::mutex> lock(mutex_);
  const bool hadMembers = !archiveAll_.empty();
  archiveAll_.erase(accountID);
  if (hadMembers && archiveAll_.empty()) postStatus(kSyncArchiveAllComplete, 0, 0);
}

bool SyncStatusManager::isArchiveAllOngoing() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !archiveAll_.empty();
}

void SyncStatusManager::reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  currentlySending_ = 0;
  displayedSending_ = 0;
  archiveAll_.clear();
}

int64_t SyncStatusManager::updateNewEmailTimestampThreshold(int64_t newestThreadTimestamp) {
  newEmailTimestampThreshold_ = newestThreadTimestamp;
  return newestThreadTimestamp;
}

bool SyncStatusManager::isNewEmailTimestamp(int64_t timestamp) {
  if (timestamp == 0) return false;
  const int64_t threshold = newEmailTimestampThreshold_;
  return threshold == 0 || timestamp >= threshold;
}

namespace {
ProcessInstance<SyncStatusManager> instance;
}  // namespace

void sync_status_manager_set_instance(std::shared_ptr<SyncStatusManager> manager) {
  instance.set(std::move(manager));
}

void sync_status_manager_post_status(const std::string& name, int primaryCount, int secondaryCount) {
  instance.call(&SyncStatusManager::postStatus, name, primaryCount, secondaryCount);
}

void sync_status_manager_post_generic_message(const std::string& text) {
  instance.call(&SyncStatusManager::postGenericMessage, text);
}

void sync_status_manager_started_sending_message() {
  instance.call(&SyncStatusManager::startedSendingMessage);
}

void sync_status_manager_finished_sending_message() {
  instance.call(&SyncStatusManager::finishedSendingMessage);
}

void sync_status_manager_archive_all_started(const std::string& accountID) {
  instance.call(&SyncStatusManager::archiveAllStarted, accountID);
}

void sync_status_manager_archive_all_finished(const std::string& accountID) {
  instance.call(&SyncStatusManager::archiveAllFinished, accountID);
}

bool sync_status_manager_is_archive_all_ongoing() {
  return instance.call(&SyncStatusManager::isArchiveAllOngoing);
}

void sync_status_manager_reset() { instance.call(&SyncStatusManager::reset); }

int64_t sync_status_manager_update_new_email_timestamp_threshold(int64_t newestThreadTimestamp) {
  return instance.call(&SyncStatusManager::updateNewEmailTimestampThreshold, newestThreadTimestamp);
}

bool sync_status_manager_is_new_email_timestamp(int64_t timestamp) {
  return instance.call(&SyncStatusManager::isNewEmailTimestamp, timestamp);
}

}  // namespace libkestrun
