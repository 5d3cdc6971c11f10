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

  // --- Registration and linking. ---
  // Defined in api_registration.cpp.

  // --- Live queries. ---
  // Defined in api_queries.cpp.

  // --- Search. ---
  // Defined in api_search.cpp.

  // --- Drafts. ---
  // Defined in api_drafts.cpp.

  // --- Accounts. ---
  // Defined in api_accounts.cpp.

  // --- Local changes. ---
  // Defined in api_changes.cpp.

  // --- Read-outs and counts. ---
  // Defined in api_readouts.cpp.

  // --- Bodies, attachments and files. ---
  // Defined in api_files.cpp.
  // Every call below runs on the caller's thread and returns at once. Downloads report through
  // their callbacks, on a worker thread or the core thread (never necessarily the caller's); the
  // values they receive live only during the call (core/services/email_resource_manager.h).

  // The body as plain text for a reply (send type 1), reply all (4) or forward (2), after the
  // account's signature, "\n\n", the quote header ("On <date> at <time>, <sender>, wrote:", empty
  // when the store lacks the e-mail) and "\n\n"; a forward has "Begin forwarded message:" and
  // "\n\n" before the header. A new message (3) gets the body alone. Reads the consumer context
  // on the caller's thread for the header.
  void download_plain_full_body(const std::string& account_id, const std::string& email_id,
                                int32_t conversation_length, EmailSendType send_type,
                                ResourceCallback success, ResourceCallback failure);
  // The body as HTML, stored in the e-mail before success is called.
  void download_full_body(const std::string& account_id, const std::string& email_id,
                          int32_t conversation_length, ResourceCallback success, ResourceCallback failure);
  // An attachment of a received e-mail, of a sent one (from object storage) or of a shared link,
  // into the attachment files. Note the order: success, failure, resource missing, progress.
  void download_attachment(const std::string& account_id, const std::string& email_id,
                           const std::string& attachment_id, const std::string& file_name, bool is_image,
                           ResourceCallback success, ResourceCallback failure,
                           ResourceCallback resource_missing, ResourceCallback progress);
  void download_sent_attachment(const std::string& account_id, const std::string& email_id,
                                const std::string& attachment_id, const std::string& file_name,
                                bool is_image, ResourceCallback success, ResourceCallback failure,
                                ResourceCallback resource_missing, ResourceCallback progress);
  void download_harnvik_attachment(const std::string& account_id, const std::string& email_id,
                                   const std::string& attachment_id, const std::string& file_name,
                                   bool is_image, ResourceCallback success, ResourceCallback failure,
                                   ResourceCallback resource_missing, ResourceCallback progress);
  // Puts the file among the e-mail's attachments and queues its upload (kept across restarts);
  // returns at once the address the outgoing e-mail names it by,
  // "kestrun://s3_download/<account>/<e-mail>/<attachment>". A file inside the data directory
  // (one the core prepared) is moved; any other is copied, so the user's original stays.
  std::string send_attachment(const std::string& attachment_id, const std::string& path,
                              const std::string& file_name, const std::string& email_id,
                              const std::string& account_id, ResourceCallback success,
                              ResourceCallback failure);
  // The stored empty-inbox picture; all empty when none is stored.
  ZeroInboxData get_zero_inbox_data();
  // With `migrate`, a file of the older layout is moved into place first.
  bool attachment_exists(const std::string& account_id, const std::string& email_id,
                         const std::string& attachment_id, const std::string& file_name, bool migrate);
  // "" when none is recorded.
  std::string path_for_attachment(const std::string& account_id, const std::string& email_id,
                                  const std::string& attachment_id);
  // "<attachment id>/<file name>" of each recorded attachment (images only for the second).
  std::shared_ptr<std::vector<std::string>> attachments_for_email(const std::string& account_id,
                                                                  const std::string& email_id);
  std::shared_ptr<std::vector<std::string>> image_attachments_for_email(const std::string& account_id,
                                                                        const std::string& email_id);
  std::string attachments_directory();
  bool email_has_attachments(const std::string& account_id, const std::string& email_id);
  // Deletes the e-mail's attachment files and their records.
  void clear_resources_from_email(const std::string& account_id, const std::string& email_id);
  // True for a path ending in .jpeg, .jpg, .png, .tiff or .gif, in any letter case.
  bool item_at_path_is_image(const std::string& path);
  // True when this call created the directory (through the host's file utility when it gave one).
  bool create_directory(const std::string& path);

  // --- Preferences, snooze and badge. ---
  // Defined in api_preferences.cpp.
  // Forwards to the preference manager, the snooze calculator and the badge manager, on the
  // caller's thread. Times of day carry only tm_hour and tm_min; setters read only those two.
  // Days are 0 (Sunday) to 6.
  std::tm get_weekday_start_time_components();
  void set_weekday_start_time_components(std::tm time);
  std::tm get_weekend_start_time_components();
  void set_weekend_start_time_components(std::tm time);
  std::tm get_workday_end_time_components();
  void set_workday_end_time_components(std::tm time);
  int32_t get_hours_for_later_today_snooze();
  void set_hours_for_later_today_snooze(int32_t hours);
  int32_t get_months_for_someday_snooze();
  void set_months_for_someday_snooze(int32_t months);
  int32_t get_work_week_start_day();
  void set_work_week_start_day(int32_t day);
  int32_t get_weekend_start_day();
  void set_weekend_start_day(int32_t day);
  int32_t get_weekend_end_day();
  bool has_account_specific_signatures();
  void set_has_account_specific_signatures(bool enabled);
  // HTML; the global signature unless account signatures are on and the account has its own.
  std::string get_email_signature_for_account(const std::string& account_id);
  std::string get_email_signature_preview_for_account(const std::string& account_id);
  std::string get_email_signature_to_insert_in_email_for_account(const std::string& account_id);
  std::string get_default_email_signature();
  // An empty account id sets the global signature.
  void set_email_signature_for_account(const std::string& account_id, const std::string& signature);
  bool push_enabled_for_new_messages();
  void set_push_enabled_for_new_messages(bool enabled);
  bool push_enabled_for_snoozed_messages();
  void set_push_enabled_for_snoozed_messages(bool enabled);
  int32_t get_badge_type();
  void set_badge_type(int32_t type);
  bool push_enabled();
  void set_push_enabled(bool enabled);
  bool state_change_will_read_item();
  void set_state_change_will_read_item(bool enabled);
  bool move_action_will_unstar_item();
  void set_move_action_will_unstar_item(bool enabled);
  bool show_help_me_get_to_zero_banner();
  void set_show_help_me_get_to_zero_banner(bool enabled);
  bool allow_swipe_to_show_drawer();
  void set_allow_swipe_to_show_drawer(bool enabled);
  // False for a user not linked to a Harnvik account, whatever the stored switch; the setter
  // stores the switch in either case.
  bool auto_swipe_enabled();
  void set_auto_swipe_enabled(bool enabled);
  int32_t get_default_browser();
  void set_default_browser(int32_t browser);
  bool user_has_seen_tutorial();
  void set_user_has_seen_tutorial(bool seen);
  bool user_has_seen_large_badge_prompt();
  void set_user_has_seen_large_badge_prompt(bool seen);
  bool user_has_confirmed_batch_swipe();
  void set_user_has_confirmed_batch_swipe(bool confirmed);
  bool user_has_seen_zero_inbox_share_prompt();
  void set_user_has_seen_zero_inbox_share_prompt(bool seen);
  // The snooze choice's label as it reads now.
  std::string name_for_snooze_type(SnoozeType type);
  // False when the work week would start on the weekend's first day.
  bool is_valid_work_week_start_and_weekend_start(int32_t work_week_start_day, int32_t weekend_start_day);
  // 0 unless the badge type is 1; the number is also kept as the cached badge count.
  int32_t get_badge_count();
  int32_t get_mac_badge_count();
  // The number the application showed at launch; in memory only.
  void set_launch_badge_count(int32_t count);

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
