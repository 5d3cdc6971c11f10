// The state of synchronisation shown to the user and the notifications that report it: how many
// e-mails are being sent (persisted, so a send burst survives a restart), which accounts are in
// the middle of an archive-all, and the time stamp from which an incoming e-mail counts as new.
//
// Every status goes out through the notification centre, so listeners hear it on the core
// thread; posting only queues the delivery, which is why it is done while the mutex is held.
//
// Threads: any. mutex_ guards the two send counts and the archive-all set; the threshold is one
// atomic value (written from the application's thread, read by data tasks).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

#include "core/foundation/durable.h"
#include "core/foundation/notification_center.h"

namespace libkestrun {

// Status names the application's status strip listens to.
extern const char* const kSyncStartedConnecting;        // "com.kestrun.sync.started.connecting"
extern const char* const kSyncFailedConnecting;         // "com.kestrun.sync.failed.connecting"
extern const char* const kSyncDidCloseConnection;       // "com.kestrun.did.close.connection"
extern const char* const kSyncHavingTroubleConnecting;  // "com.kestrun.sync.having.trouble.connecting"
extern const char* const kSyncDownloadingMessages;      // "com.kestrun.sync.downloading.messages"
extern const char* const kSyncCheckingForMessages;      // "com.kestrun.sync.checking.for.messages"
extern const char* const kSyncReceivedNewMessages;      // "com.kestrun.sync.received.new.messages"
extern const char* const kSyncSendingMessages;          // "com.kestrun.sync.sending.messages"
extern const char* const kSyncSentMessages;             // "com.kestrun.sync.sent.messages"
extern const char* const kSyncSendFailed;               // "com.kestrun.sync.send.failed"
extern const char* const kSyncInitialSyncStarted;       // "com.kestrun.sync.initial.sync.started"
extern const char* const kSyncInitialSyncCompleted;     // "com.kestrun.sync.intial.sync.completed"
extern const char* const kSyncArchiveAllOngoing;        // "com.kestrun.sync.archive.all.ongoing"
extern const char* const kSyncArchiveAllComplete;       // "com.kestrun.sync.archive.all.complete"
extern const char* const kSyncGenericMessage;           // "com.kestrun.sync.generic.message"
extern const char* const kSyncUpdatingAccounts;         // "com.kestrun.sync.updating.accounts"

class SyncStatusManager {
 public:
  // Restores the two send counts from `store`. Without a centre nothing is posted (the recording
  // stand-ins of tests pass none).
  SyncStatusManager(std::shared_ptr<NotificationCenter> center, std::shared_ptr<KvStore> store);
  SyncStatusManager(const SyncStatusManager&) = delete;
  SyncStatusManager& operator=(const SyncStatusManager&) = delete;
  virtual ~SyncStatusManager() = default;

  // Posts `name` with {"primaryCount", "secondaryCount"}, leaving out a negative number; both
  // negative give the JSON null.
  virtual void postStatus(const std::string& name, int primaryCount, int secondaryCount);
  // Posts kSyncGenericMessage with {"genericMessage": text}.
  virtual void postGenericMessage(const std::string& text);

  // One more e-mail sending: both counts rise and the sending status shows the displayed one.
  virtual void startedSendingMessage();
  // One send ended. When none is left sending, the sent status shows the burst's number and the
  // displayed count starts again from 0. The count never goes below 0: an end that arrives after
  // `reset` leaves 0, so the next burst still reports its end.
  virtual void finishedSendingMessage();
  // Posts the sending status again while the displayed count is above 0.
  virtual void repostSendingStatus();

  // The first account to start posts kSyncArchiveAllOngoing; the last to finish posts
  // kSyncArchiveAllComplete (both with counts 0 and 0).
  virtual void archiveAllStarted(const std::string& accountID);
  virtual void archiveAllFinished(const std::string& accountID);
  virtual bool isArchiveAllOngoing();

  // Both counts 0 (stored) and no archive-all running; posts nothing.
  virtual void reset();

  // Takes the newest conversation time stamp of the store as the threshold and returns it. The
  // store belongs to the data model, which hands the value in; 0 means no threshold.
  virtual int64_t updateNewEmailTimestampThreshold(int64_t newestThreadTimestamp);
  // False for 0; otherwise true when no threshold is set or the time is not below it.
  virtual bool isNewEmailTimestamp(int64_t timestamp);

 private:
  void post(const std::string& name, const jsonette::Json& payload);

  std::shared_ptr<NotificationCenter> notificationCenter_;
  std::mutex mutex_;
  Durable<int32_t> currentlySending_;           // guarded by mutex_
  Durable<int32_t> displayedSending_;           // guarded by mutex_
  std::unordered_set<std::string> archiveAll_;  // guarded by mutex_
  std::atomic<int64_t> newEmailTimestampThreshold_{0};
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing and answer false or 0.
void sync_status_manager_set_instance(std::shared_ptr<SyncStatusManager> manager);

void sync_status_manager_post_status(const std::string& name, int primaryCount, int secondaryCount);
void sync_status_manager_post_generic_message(const std::string& text);
void sync_status_manager_started_sending_message();
void sync_status_manager_finished_sending_message();
void sync_status_manager_archive_all_started(const std::string& accountID);
void sync_status_manager_archive_all_finished(const std::string& accountID);
bool sync_status_manager_is_archive_all_ongoing();
void sync_status_manager_reset();
int64_t sync_status_manager_update_new_email_timestamp_threshold(int64_t newestThreadTimestamp);
bool sync_status_manager_is_new_email_timestamp(int64_t timestamp);

}  // namespace libkestrun
