// The core's policy for the life of the sync connection and of the local data.
//
// Connection: the application wants the connection (connect) or releases it (disconnect); while
// background tasks still run after a release the connection stays for `linger_ms` (two minutes in
// the product) and closes when the last task ends. Losing the network while the connection is
// wanted starts a fresh connection attempt; regaining it while not wanted opens the connection only
// for running tasks, with the same lingering close.
//
// Resets and purges, started by the server's reports or the facade, always in a fixed order:
//   full reset (reset_all; the user was unlinked or the device unregistered): every account's data
//     and drafts and rules of the user, then list order, badge, undo, sync status, queued
//     requests, preferences, accounts, user document, attachments, account tokens, pending
//     commands; then the connection is restarted with everything it still held dropped, so
//     nothing of the old user leaves under the next registration;
//   inactive too long: every account's data, keeping the queued requests, then snapshots anew;
//   account reset / deletion: that account only.
// A purge deletes the objects in a data task; the per-account managers are cleared in its
// completion, after the commit.
//
// Device-deferred items (deferred "until I am at my desk") come back while the application is in
// front: on focus, after an account's snapshot, and when a pushed item arrives.
//
// Local preference changes go to the server, with the push registration again when a push setting
// was turned on; the server's user state is applied to the user and preference managers while
// the device is registered (one still on its way when a reset unregistered it is dropped).
//
// Threads: everything runs on the core thread except app_focused and app_blurred (main thread;
// they touch the focus flag and queue a data task) and the end of the last background task (any
// thread; it hands the disconnect to the core thread and waits for it). The two flags are atomic;
// there is no other shared state. The subscriptions are made by the constructor and end with the
// destructor: no event or purge completion reaches a destroyed controller. Destroy it on the core
// thread or while the core thread is idle, before the links, the managers and the task manager.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "brelt/uv_thread.h"
#include "core/accounts/account_action_error.h"
#include "core/accounts/account_manager.h"
#include "core/accounts/user_manager.h"
#include "core/api/managers.h"
#include "core/foundation/event_source.h"
#include "core/foundation/notification_center.h"
#include "core/foundation/pref_manager.h"
#include "core/foundation/task_manager.h"
#include "core/model/snooze_time_calculator.h"
#include "core/services/attachment_manager.h"
#include "core/services/badge_count_manager.h"
#include "core/services/changes_manager.h"
#include "core/services/counts_manager.h"
#include "core/services/list_ordering_manager.h"
#include "core/services/offline_manager.h"
#include "core/services/sync_status_manager.h"
#include "core/services/undo_manager.h"
#include "core/sync/controller_links.h"
#include "jsonette/json.h"

namespace libkestrun::internal {

// The managers the controller calls; all outlive it.
struct ControllerManagers {
  libkestrun::Managers* managers;  // handed to the data center's count update after a snapshot
  AccountManager& accounts;
  UserManager& user;
  lks::EventSource<harnvik_linked>& user_events;
  PrefManager& prefs;
  OfflineManager& offline;
  ChangesManager& changes;
  CountsManager& counts;
  ListOrderingManager& list_ordering;
  BadgeCountManager& badge;
  UndoManager& undo;
  SyncStatusManager& sync_status;
  AttachmentManager& attachments;
  // The e-mail resource manager's restart of the attachment uploads it queued.
  std::function<void()> resume_queued_uploads;
};

class Controller {
 public:
  static constexpr uint64_t kLingerMs = 120000;

  static const char* const kDeviceRemoteUnregistered;  // "KSDeviceRemoteUnregistered"
  static const char* const kUserRemoteUnlink;          // "KSUserRemoteUnlink"
  static const char* const kUserRemoteRoleChange;      // "KSUserRemoteRoleChange"
  static const char* const kUpdatedFromStateDoc;       // "KSUpdatedFromStateDoc"
  static const char* const kPreferenceChanged;         // "com.kestrun.any.preference.changed"

  using AccountRemoved = std::function<void(const std::string& accountID)>;
  using AccountFailed = std::function<void(AccountActionErrorType)>;

  // Subscribes to the user client, server client, snapshot client, preference manager, account
  // client, user manager and task manager, in that order. `device_type` is the config's device
  // type (5 for this desktop).
  Controller(brelt::UvThread& thread, int32_t device_type, ControllerManagers managers,
             std::shared_ptr<NotificationCenter> center, std::shared_ptr<TaskManager> tasks,
             std::shared_ptr<ControllerLinks> links, uint64_t linger_ms = kLingerMs);
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;
  ~Controller();

  void connect();
  void disconnect();
  // `type`: 0 none, 1 cellular, 2 Wi-Fi.
  void handle_internet_connection_changed(int32_t type);
  // Main thread.
  void app_focused();
  void app_blurred();

  // The full reset; `userID` names the user whose drafts and rules go.
  void reset_all(const std::string& userID);
  // Asks the server to remove the account and purges it locally once the server confirmed.
  // No `failure`: nothing happens. No `success`: InvalidRequest. Not connected: NoConnection,
  // nothing purged. A refusal or time-out reaches `failure` and the local data stay.
  void remove_email_account(const std::string& accountID, bool fromAllDevices, AccountRemoved success,
                            AccountFailed failure);

 private:
  // What the handlers and purge completions share with the controller; outlives it.
  struct Shared {
    std::recursive_mutex mutex;  // held while a handler runs, and by the destructor
    Controller* controller;      // null once destroyed
    std::atomic<bool> connection_wanted{false};
  };

  // A listener that calls `handler` while the controller lives.
  template <class... Args>
  std::function<void(Args...)> guarded(void (Controller::*handler)(Args...));
  // A completion that calls `work` while the controller lives.
  std::function<void()> while_alive(std::function<void(Controller&)> work);

  // Purges `accountIDs` (with the user's drafts and rules when `userID` is set), then clears the
  // accounts' queued requests (unless `keepRequests`), change tokens and counts, resets the data
  // context and calls `done`.
  void _reset_account_data(std::vector<std::string> accountIDs, std::optional<std::string> userID,
                           bool purgeFlag, bool keepRequests, std::function<void()> done);
  void _purge_local_account_data(const std::string& accountID, std::function<void()> done);
  void _on_account_deleted_notif(std::string accountID);
  void _on_inactive_too_long();
  void _on_connected();
  void _check_push_preference(const std::string& key, const jsonette::Json& value);

  void on_user_state(jsonette::Json state);
  void on_document(std::string objectID, std::string docType);
  void on_account_snapshot(std::string accountID);
  void on_preferences_changed(jsonette::Json changes);
  void on_user_unlinked(HarnvikUserUnlinkReason reason);
  void on_device_unregistered();
  void on_account_reset(std::string accountID, std::function<void()> done);
  void on_device_registered();
  void on_user_linked(std::string previousUserID, std::string userID);
  void on_tasks_finished();

  SnoozeType device_snooze_type() const;
  std::vector<std::string> primary_account_ids();

  brelt::UvThread& thread_;
  const int32_t device_type_;
  ControllerManagers managers_;
  std::shared_ptr<NotificationCenter> center_;
  std::shared_ptr<TaskManager> tasks_;
  std::shared_ptr<ControllerLinks> links_;
  const uint64_t linger_ms_;
  std::shared_ptr<Shared> shared_;
  std::atomic<bool> focused_{false};
};

}  // namespace libkestrun::internal
