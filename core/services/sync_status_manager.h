// The state of synchronisation shown to the user (archive-all in progress, messages being sent,
// which e-mails count as new), as the data model and the data writer see it. The full manager keeps
// it under its own mutex, persists the send counts and posts the status notifications; it
// implements this interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace libkestrun {

class SyncStatusManager {
 public:
  virtual ~SyncStatusManager() = default;

  // Marks an archive-all of the account as running; the first one posts
  // "com.kestrun.sync.archive.all.ongoing" with counts 0 and 0.
  virtual void archiveAllStarted(const std::string& accountID) = 0;
  // True when the time (ms since 1970) is not 0 and no threshold is set or it is not below it.
  virtual bool isNewEmailTimestamp(int64_t timestamp) = 0;
  // Posts the named notification with {"primaryCount", "secondaryCount"}.
  virtual void postStatus(const std::string& name, int primaryCount, int secondaryCount) = 0;
  // One more message sending (persisted); posts the sending status.
  virtual void startedSendingMessage() = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing and answer false.
void sync_status_manager_set_instance(std::shared_ptr<SyncStatusManager> manager);

void sync_status_manager_archive_all_started(const std::string& accountID);
bool sync_status_manager_is_new_email_timestamp(int64_t timestamp);
void sync_status_manager_post_status(const std::string& name, int primaryCount, int secondaryCount);
void sync_status_manager_started_sending_message();

}  // namespace libkestrun
