#include "core/sync/controller.h"

#include <cmath>
#include <exception>
#include <utility>

#include "brelt/log.h"
#include "core/accounts/account_manager_impl.h"
#include "core/data/background_writer.h"
#include "core/data/data_center.h"
#include "core/data/data_writer.h"

namespace libkestrun::internal {

namespace {
const char* const kLogTag = "Controller";
}  // namespace

const char* const Controller::kDeviceRemoteUnregistered = "KSDeviceRemoteUnregistered";
const char* const Controller::kUserRemoteUnlink = "KSUserRemoteUnlink";
const char* const Controller::kUserRemoteRoleChange = "KSUserRemoteRoleChange";
const char* const Controller::kUpdatedFromStateDoc = "KSUpdatedFromStateDoc";
const char* const Controller::kPreferenceChanged = "com.kestrun.any.preference.changed";

template <class... Args>
std::function<void(Args...)> Controller::guarded(void (Controller::*handler)(Args...)) {
  return [shared = shared_, handler](Args... args) {
    std::lock_guard<std::recursive_mutex> lock(shared->mutex);
    if (shared->controller) (shared->controller->*handler)(std::move(args)...);
  };
}

std::function<void()> Controller::while_alive(std::function<void(Controller&)> work) {
  return [shared = shared_, work = std::move(work)] {
    std::lock_guard<std::recursive_mutex> lock(shared->mutex);
    if (shared->controller) work(*shared->controller);
  };
}

Controller::Controller(brelt::UvThread& thread, int32_t device_type, ControllerManagers managers,
                       std::shared_ptr<NotificationCenter> center, std::shared_ptr<TaskManager> tasks,
                       std::shared_ptr<ControllerLinks> links, uint64_t linger_ms)
    : thread_(thread),
      device_type_(device_type),
      managers_(std::move(managers)),
      center_(std::move(center)),
      tasks_(std::move(tasks)),
      links_(std::move(links)),
      linger_ms_(linger_ms),
      shared_(std::make_shared<Shared>()) {
  shared_->controller = this;

  links_->listen_user_state(guarded(&Controller::on_user_state));
  links_->listen_document(guarded(&Controller::on_document));
  links_->listen_account_snapshot(guarded(&Controller::on_account_snapshot));
  managers_.prefs.listen<pref_locally_changed>(guarded(&Controller::on_preferences_changed));
  links_->listen_user_unlinked(guarded(&Controller::on_user_unlinked));
  links_->listen_device_unregistered(guarded(&Controller::on_device_unregistered));
  links_->listen_account_deleted(guarded(&Controller::_on_account_deleted_notif));
  links_->listen_connected(guarded(&Controller::_on_connected));
  links_->listen_stale_data(guarded(&Controller::_on_inactive_too_long));
  links_->listen_account_reset(guarded(&Controller::on_account_reset));
  links_->listen_device_registered(guarded(&Controller::on_device_registered));
  managers_.user_events.listen<harnvik_linked>(guarded(&Controller::on_user_linked));
  // The last task may end on any thread: the wish is read there, the disconnect is the core
  // thread's, and the wish is read again there since connect may have run in between. The task
  // manager may outlive the controller and its thread (the host's own, or one an uploader still
  // holds), so a task ending later touches neither.
  auto tasks_finished = [shared = shared_, &thread] {
    if (shared->connection_wanted.load()) return;
    {
      std::lock_guard<std::recursive_mutex> lock(shared->mutex);
      if (!shared->controller) return;
    }
    thread.post_sync([shared] {
      std::lock_guard<std::recursive_mutex> lock(shared->mutex);
      if (shared->controller) shared->controller->on_tasks_finished();
    });
  };
  tasks_->listen<all_tasks_completed>(tasks_finished);
  tasks_->listen<all_tasks_cancelled>(tasks_finished);
}

Controller::~Controller() {
  std::lock_guard<std::recursive_mutex> lock(shared_->mutex);
  shared_->controller = nullptr;
}

// --- Connection policy ---

void Controller::connect() {
  shared_->connection_wanted.exchange(true);
  links_->connect_and_sync();
}

void Controller::disconnect() {
  shared_->connection_wanted.exchange(false);
  if (tasks_->has_tasks()) {
    links_->schedule_disconnect(linger_ms_);
  } else {
    links_->disconnect();
  }
}

void Controller::handle_internet_connection_changed(int32_t type) {
  managers_.offline.setConnectionType(type);
  bool wanted = shared_->connection_wanted.load();
  if (managers_.offline.isConnected()) {
    if (!wanted && tasks_->has_tasks()) {
      links_->connect();
      links_->schedule_disconnect(linger_ms_);
    }
  } else if (wanted) {
    // The connection of the lost network cannot recover by itself: start over at once.
    links_->disconnect();
    links_->connect();
  }
}

void Controller::on_tasks_finished() {
  if (!shared_->connection_wanted.load()) links_->disconnect();
}

// --- Focus and device-deferred items ---

SnoozeType Controller::device_snooze_type() const {
  return SnoozeTimeCalculator::snoozeTypeForDevice(device_type_);
}

void Controller::app_focused() {
  focused_.exchange(true);
  KestrunDataWriter::triggerAllDeviceDeferredItems(device_snooze_type(), "", {});
}

void Controller::app_blurred() { focused_.exchange(false); }

void Controller::on_account_snapshot(std::string accountID) {
  KestrunDataCenter::synchronize_counts_after_snapshot(accountID, managers_.managers);
  managers_.offline.sendRequestsForAccount(accountID);
  if (focused_.load()) KestrunDataWriter::triggerAllDeviceDeferredItems(device_snooze_type(), accountID, {});
}

void Controller::on_document(std::string objectID, std::string docType) {
  if (focused_.load() && docType == "item") {
    KestrunDataWriter::triggerDeviceDeferredItem(objectID, device_snooze_type(), {});
  }
}

// --- Resets and purges ---

std::vector<std::string> Controller::primary_account_ids() {
  auto ids = managers_.accounts.allPrimaryAccountIDs();
  return ids ? *ids : std::vector<std::string>{};
}

void Controller::reset_all(const std::string& userID) {
  _reset_account_data(primary_account_ids(), userID, true, false,
                      [links = links_] { links->reset_last_snapshot_sync(); });
  managers_.list_ordering.clear();
  managers_.badge.reset();
  managers_.undo.clear();
  managers_.sync_status.reset();
  managers_.offline.clear();
  managers_.prefs.resetToDefaults();
  managers_.accounts.resetAll();
  managers_.user._reset_data();
  managers_.attachments.clear();
  links_->reset_account_client();
  links_->cancel_all_commands();
  // What the connection still holds was written for the old user; it must not go out under the
  // next registration.
  links_->restart_connection_dropping_held();
}

void Controller::_reset_account_data(std::vector<std::string> accountIDs, std::optional<std::string> userID,
                                     bool purgeFlag, bool keepRequests, std::function<void()> done) {
  auto purged = while_alive([accountIDs, keepRequests, done = std::move(done)](Controller& self) {
    for (const auto& id : accountIDs) {
      if (!keepRequests) self.managers_.offline.removeRequestsForAccount(id);
      self.managers_.changes.removeTokensForAccount(id);
      self.managers_.counts.removeCountsForAccount(id);
    }
    if (DBContext* context = KestrunDataCenter::getDBContext()) context->reset();
    if (done) done();
  });
  KestrunDataBackgroundWriter::purgeAllDataForAccounts(accountIDs, userID, purgeFlag,
                                                       [purged](std::vector<std::string>&) { purged(); });
}

void Controller::_purge_local_account_data(const std::string& accountID, std::function<void()> done) {
  auto purged = while_alive([accountID, done = std::move(done)](Controller& self) {
    self.managers_.offline.removeRequestsForAccount(accountID);
    self.managers_.changes.removeTokensForAccount(accountID);
    self.managers_.counts.removeCountsForAccount(accountID);
    self.managers_.accounts.removeAccountLocally(accountID);
    if (done) done();
  });
  KestrunDataBackgroundWriter::purgeAllDataForAccount(accountID,
                                                      [purged](std::vector<std::string>&) { purged(); });
  managers_.user.removeEmailAccountAssociation(accountID);
}

void Controller::_on_account_deleted_notif(std::string accountID) {
  _purge_local_account_data(accountID, {});
}

void Controller::on_account_reset(std::string accountID, std::function<void()> done) {
  // Only the account the server reset; the others' data and queued changes stay.
  _reset_account_data({accountID}, std::nullopt, false, false, std::move(done));
}

void Controller::_on_inactive_too_long() {
  // The changes made meanwhile stay queued and go out after the account's fresh snapshot.
  _reset_account_data(primary_account_ids(), managers_.user.getUserId(), false, true,
                      [&thread = thread_, links = links_] {
                        thread.post([links] {
                          links->reset_last_snapshot_sync();
                          links->request_all_snapshots_safe();
                        });
                      });
}

void Controller::remove_email_account(const std::string& accountID, bool fromAllDevices,
                                      AccountRemoved success, AccountFailed failure) {
  if (!failure) return;
  if (!success) {
    failure(AccountActionErrorType::InvalidRequest);
    return;
  }
  if (!links_->is_connected()) {
    failure(AccountActionErrorType::NoConnection);
    return;
  }
  auto confirmed = while_alive([accountID, success](Controller& self) {
    self._purge_local_account_data(accountID, [accountID, success] { success(accountID); });
  });
  links_->remove_email_account(
      accountID, fromAllDevices, [confirmed](json_t*) { confirmed(); },
      [failure](KSServerClientAccountModifyFailureType code) { failure(toAccountActionErrorType(code)); });
}

// --- Server reports ---

void Controller::on_user_state(jsonette::Json state) {
  // The server sends the state only to a registered device. One dispatched after a full reset was
  // received on the old user's connection: applied, it would bring back that user's id, accounts
  // and preferences.
  if (!managers_.user.deviceIsRegistered()) return;
  managers_.user.updateFromStateDoc(state);
  try {
    managers_.prefs.updateFromServer(state["preferences"]);
  } catch (const std::exception& e) {
    // The store refused the preferences; the rest of the document stays applied.
    brelt::log_error(kLogTag, std::string("storing the server's preferences failed: ") + e.what());
  }
  center_->post_notification(kUpdatedFromStateDoc, jsonette::Json());
}

void Controller::on_user_unlinked(HarnvikUserUnlinkReason reason) {
  reset_all(managers_.user.getUserId());
  center_->post_notification(
      reason == HarnvikUserUnlinkReason::Role ? kUserRemoteRoleChange : kUserRemoteUnlink, jsonette::Json());
}

void Controller::on_device_unregistered() {
  reset_all(managers_.user.getUserId());
  center_->post_notification(kDeviceRemoteUnregistered, jsonette::Json());
}

void Controller::on_device_registered() { links_->request_all_snapshots(); }

void Controller::on_user_linked(std::string previousUserID, std::string /*userID*/) {
  KestrunDataCenter::performSyncDataTask([&previousUserID](std::vector<std::string>&, DBContext& context) {
    context.removeDraftsForUser(previousUserID);
    context.removeAutoSwipesForUser(previousUserID);
  });
  links_->reset_last_snapshot_sync();
  links_->request_all_snapshots();
}

void Controller::_on_connected() {
  for (const auto& request : managers_.offline.getQueuedRequests()) links_->write_message(request);
  if (managers_.resume_queued_uploads) managers_.resume_queued_uploads();
  managers_.prefs.updateTimeZoneOffset();
}

// --- Preferences to the server ---

void Controller::on_preferences_changed(jsonette::Json changes) {
  thread_.post(while_alive([changes](Controller& self) {
    self.links_->send_preferences(changes);
    if (changes.is_object()) {
      for (const auto& [key, value] : changes.object_items()) self._check_push_preference(key, value);
    }
    self.center_->post_notification(kPreferenceChanged, jsonette::Json());
  }));
}

void Controller::_check_push_preference(const std::string& key, const jsonette::Json& value) {
  bool turned_on = (key == "push" || key == "reminder_push") && value.is_bool() && value.bool_value();
  // Compared as a double: a value beyond the 64-bit range would make an integer cast undefined.
  bool notifies = key == "notif_type" && value.is_number() && std::trunc(value.number_value()) != 1.0;
  if (turned_on || notifies) links_->register_for_push();
}

}  // namespace libkestrun::internal
