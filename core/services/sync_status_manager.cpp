#include "core/services/sync_status_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {
ProcessInstance<SyncStatusManager> instance;
}  // namespace

void sync_status_manager_set_instance(std::shared_ptr<SyncStatusManager> manager) {
  instance.set(std::move(manager));
}

void sync_status_manager_archive_all_started(const std::string& accountID) {
  instance.call(&SyncStatusManager::archiveAllStarted, accountID);
}

bool sync_status_manager_is_new_email_timestamp(int64_t timestamp) {
  return instance.call(&SyncStatusManager::isNewEmailTimestamp, timestamp);
}

void sync_status_manager_post_status(const std::string& name, int primaryCount, int secondaryCount) {
  instance.call(&SyncStatusManager::postStatus, name, primaryCount, secondaryCount);
}

void sync_status_manager_started_sending_message() {
  instance.call(&SyncStatusManager::startedSendingMessage);
}

}  // namespace libkestrun
