// The core facade: the one object through which the host reaches every core service. It is also
// the core thread (it derives from brelt::UvThread), so the one event loop on which all core work
// runs is this object.
//
// Construction builds the whole core in a fixed order and returns when the core is ready: the
// core thread runs, the database is open with its schema checked, and the data and consumer
// centers have opened their connections. It does not open the server connection (connect does).
// Destruction runs the data tasks already queued, stops the host's HTTP transfers and the worker
// pool, clears every process-wide instance the facade registered, releases the members in reverse
// order while the loop still runs, and joins the loop thread last. A construction that fails
// undoes the same way before its exception reaches the host: no thread and no instance is left.
// docs/design.md ("The core facade") gives the order of both.
//
// Threading rule of every method: work that must run on the core thread is posted as one closure
// holding copies of every argument, and the method returns at once; a target that is safe on any
// thread (the data writers, the server client's flags, the user and account managers' stored
// state, the consumer center's read-outs) is called directly on the caller's thread. Completion
// callbacks run where the component completes the work, the core thread for posted work; the
// facade never hops back to the caller's thread. Besides the constructor and the destructor, only
// background_sync_blocking, listener registration and set_default_email_account wait for the core
// thread.
//
// One Api per process, built and destroyed on the host's thread; no method may be called during
// or after destruction, nor after a failed construction.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

#include "brelt/uv_thread.h"
#include "core/api/config.h"
#include "core/api/core_managers.h"
#include "core/api/overrides.h"
#include "core/data/ui_utility.h"
#include "core/foundation/date_utility.h"
#include "core/foundation/defaults.h"
#include "core/foundation/file_utility.h"
#include "core/foundation/kv_store.h"
#include "core/foundation/notification_center.h"
#include "core/foundation/task_manager.h"
#include "core/services/ks_http.h"
#include "core/services/perf_logger.h"
#include "core/sync/controller.h"
#include "core/sync/server_client_impl.h"
#include "core/sync/server_controller_links.h"

namespace libkestrun {

class Api : public brelt::UvThread {
 public:
  // Ends the host's running HTTP exchanges at once with status 0 and makes later ones fail at
  // once, so that shut-down never waits for a stalled server. Any thread.
  using StopHooks = std::function<void()>;

  // Builds the core from `config` and `overrides` (a null override selects the core's default),
  // installing the host's two synchronous HTTP hooks before any transfer can run. `stop_hooks`,
  // when given, is called by the destructor before the worker pool is joined. Throws what a step
  // throws ("Unable to read Defaults" for a data directory that cannot hold the key-value store,
  // the store's error for a database that cannot be opened).
  Api(Config config, Overrides overrides, KSHttp::DownloadHook download_hook, KSHttp::UploadHook upload_hook,
      StopHooks stop_hooks = {});
  Api(const Api&) = delete;
  Api& operator=(const Api&) = delete;
  // Synchronous; returns once the core thread has been stopped and joined. Host's thread.
  ~Api();

  // --- Connection and application state. ---
  // Defined in api_connection.cpp.
  // Opens the sync connection (posted), then writes "Api::connect" to the protocol trace and sends
  // the trace when an upload is due.
  void connect();
  // Writes "Api::disconnect", then releases the connection (posted); it closes at once, or when
  // the background tasks still running have ended.
  void disconnect();
  // The connection is up or on its way. Any thread.
  bool is_connected();
  // The application came to the front: new-mail threshold, the day's picture (scheduled on the
  // core thread), time zone, locale, focus.
  void app_opened(const std::string& time_zone_name, const std::string& locale);
  // The application left: stale data purged when `purge`, deferred items reclassified, blurred.
  void app_closed(bool purge);
  void app_focused();
  void app_blurred();
  // Posted: the day's picture is scheduled again and the connection follows the network state.
  void handle_internet_connection_changed(InternetConnectionType type);
  InternetConnectionType get_current_connection_type();
  // `completion` runs once on the core thread (-3 superseded, -2 connected or connecting,
  // -1 disconnected, 1 or 2 all snapshots finished).
  void background_sync(std::function<void(internal::BackgroundFetchResult)> completion);
  // Waits for background_sync's result. On the core thread, where that result could never
  // arrive, it answers -1 at once.
  internal::BackgroundFetchResult background_sync_blocking();
  // Posted: the push token is stored and registered with the server.
  void update_device_token(const std::string& token);
  void update_device_token_amazon(const std::string& token);
  // Sets the preference, then schedules the day's picture on the core thread.
  void set_time_zone_name(const std::string& name);
  void set_locale(const std::string& locale);
  // The newest conversation's time becomes the threshold from which mail counts as new.
  void update_new_email_timestamp_threshold();
  // Low-priority data tasks; the completions (may be empty) run on the core thread.
  void purge_stale_data(std::function<void(std::vector<std::string>&)> completion);
  void classify_all_time_deferred_items(std::function<void(std::vector<std::string>&)> completion);
  // Read-outs of the consumer context, on the caller's thread: inbox items modified after `time`
  // (ms since 1970) with unread mail, and the newest `count` inbox items.
  KSObjects<KSItem> get_items_with_unread_emails_since_timestamp(int64_t time);
  KSObjects<KSItem> get_latest_number_of_items_in_inbox(int count);

  // --- Registration and linking. ---
  // Defined in api_registration.cpp.
  // Posted: the user manager holds the credentials; a user document found corrupt with no way to
  // recover it wipes the local data.
  void useHarnvikCredentials(std::shared_ptr<const HarnvikCredentials> credentials);
  // Posted; no result reaches the caller (the user document tells).
  void register_anonymous_device(const std::string& vendor_id, const std::string& device_type,
                                 const std::string& device_name);
  // Registers this device for the Harnvik user. The same user registered already: success with
  // the stored user id, nothing sent. Another user registered: that registration is unlinked
  // (reason Reregister) and its data wiped first; a failed unlink reaches `failure` and nothing
  // is registered. Callbacks run on the core thread.
  void register_device(std::shared_ptr<const HarnvikCredentials> credentials, const std::string& vendor_id,
                       const std::string& device_type, const std::string& device_name,
                       UserActionSuccess success, UserActionFailure failure);
  // Unlinks this device and wipes the user's local data before `success` gets the old user id;
  // an unregistered device gets "" and nothing is reset.
  void unregister_device(UserUnlinkReason reason, UserActionSuccess success, UserActionFailure failure);
  void link_harnvik_user(std::shared_ptr<const HarnvikCredentials> credentials, UserActionSuccess success,
                         UserActionFailure failure);
  // The stored user document's answers, on the caller's thread.
  bool device_is_registered();
  std::string user_id();
  std::string device_id();
  bool user_has_desktop_kestrun_app();
  bool user_has_mobile_kestrun_app();
  bool user_is_harnvik_linked();
  // The account manager's own device id.
  std::string get_device_id();

  // --- Live queries. ---
  // Defined in api_queries.cpp.

  // --- Search. ---
  // Defined in api_search.cpp.

  // --- Drafts. ---
  // Defined in api_drafts.cpp.

  // --- Accounts. ---
  // Defined in api_accounts.cpp.
  // Change operations, posted; callbacks run on the core thread. The success of an add runs once
  // the account is among the user's associations (also without a success callback the account
  // is added and associated). A removal the server refuses reaches `failure` and keeps the
  // account and its mail.
  void set_auto_auth_enabled_for_account(bool enabled, const std::string& account_id,
                                         UserActionSuccess success, UserActionFailure failure);
  void add_email_account(const std::string& address, const std::string& pass_token, EmailAccountType type,
                         const std::string& locale, AccountSuccess success, AccountFailure failure);
  void associate_email_account(const std::string& account_id, AccountSuccess success, AccountFailure failure);
  void reauthorize_email_account(const std::string& address, const std::string& pass_token,
                                 EmailAccountType type, AccountSuccess success, AccountFailure failure);
  void update_email_account(const std::string& account_id, const std::string& name,
                            const std::string& description, AccountSuccess success, AccountFailure failure);
  void update_email_account_name(const std::string& account_id, const std::string& name,
                                 AccountSuccess success, AccountFailure failure);
  void update_email_account_description(const std::string& account_id, const std::string& description,
                                        AccountSuccess success, AccountFailure failure);
  void remove_email_account(const std::string& account_id, bool from_all_devices, AccountSuccess success,
                            AccountFailure failure);
  void add_alias(const std::string& account_id, const std::string& address, AccountSuccess success,
                 AccountFailure failure);
  void remove_alias(const std::string& account_id, const std::string& address, AccountSuccess success,
                    AccountFailure failure);
  // Read-outs, on the caller's thread. set_default_email_account waits for the core thread.
  std::shared_ptr<EmailAccountAssociations> all_email_account_associations();
  std::shared_ptr<KSUserEmailAccountAssoc> associated_email_account_for_account_id(
      const std::string& account_id);
  bool has_associated_accounts();
  EmailAccountList all_primary_email_accounts();
  EmailAccountList all_unique_email_accounts();
  EmailAccountList all_email_accounts_for_primary_account_id(const std::string& primary_id);
  EmailAccountList all_secondary_email_accounts_for_primary_account_id(const std::string& primary_id);
  std::shared_ptr<std::vector<std::string>> all_account_ids();
  std::shared_ptr<std::vector<std::string>> all_primary_account_ids();
  std::shared_ptr<KSEmailAccount> email_account_with_id(const std::string& account_id);
  std::string account_id_for_email_address(const std::string& address);
  std::string email_address_for_account_id(const std::string& account_id);
  std::optional<std::string> get_primary_account_id_for_email_address(const std::string& address);
  std::shared_ptr<KSEmailAccount> get_default_email_account();
  void set_default_email_account(const std::string& account_id);
  bool has_accounts();
  bool has_email_address(const std::string& address);
  // All bits set when there is no such primary account.
  uint32_t get_number_of_secondary_accounts_for_primary_account(const std::string& primary_id);
  bool can_add_a_new_account();
  bool can_add_secondary_to_primary_account(const std::string& primary_id);
  bool is_valid_description_for_account(const std::string& description, const std::string& account_id);
  std::string get_alert_title_for_account_add_error(AccountActionErrorType error);
  std::string get_alert_message_for_account_add_error(AccountActionErrorType error);
  std::string get_alert_title_for_account_delete_error(AccountActionErrorType error);
  std::string get_alert_message_for_account_delete_error(AccountActionErrorType error);
  std::string get_alert_title_for_account_edit_error(AccountActionErrorType error);
  std::string get_alert_message_for_account_edit_error(AccountActionErrorType error);
  std::string get_alert_title_for_missing_spam();
  std::string get_alert_message_for_missing_spam();
  // The provider's name; "" for any other value.
  std::string get_title_for_account_type(EmailAccountType type);

  // --- Local changes. ---
  // Defined in api_changes.cpp.

  // --- Read-outs and counts. ---
  // Defined in api_readouts.cpp.

  // --- Bodies, attachments and files. ---
  // Defined in api_files.cpp.

  // --- Preferences, snooze and badge. ---
  // Defined in api_preferences.cpp.

  // --- Notifications, undo, replies, printing and utilities. ---
  // Defined in api_notifications.cpp.

 private:
  // Steps of construction and teardown (api.cpp).
  void open_database(const Config& config, const std::optional<std::string>& key,
                     const std::unordered_set<std::string>& doomed_accounts);
  // Runs the data tasks already queued, stops the HTTP hooks and the worker pool, drops the live
  // queries and clears every process-wide instance; what both the destructor and a failed
  // construction do before the members are released.
  void shut_down() noexcept;

  // Members in construction order; destruction runs in reverse while the loop still runs.
  const std::shared_ptr<NotificationCenter> notification_center_;
  const std::shared_ptr<Defaults> defaults_;
  const std::shared_ptr<KvStore> kv_store_;
  const std::shared_ptr<FileUtility> file_utility_;
  const std::shared_ptr<DateUtility> date_utility_;
  const std::shared_ptr<UiUtility> ui_utility_;
  const std::shared_ptr<TaskManager> task_manager_;
  CoreManagers managers_;
  const std::shared_ptr<PerfLogger> perf_logger_;
  const std::shared_ptr<internal::ServerClientImpl> server_client_;
  const std::shared_ptr<internal::ServerControllerLinks> controller_links_;
  internal::Controller controller_;
  const StopHooks stop_hooks_;
};

}  // namespace libkestrun
