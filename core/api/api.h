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

#include <jansson.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

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
#include "core/model/gesture_tables.h"
#include "core/model/ks_auto_swipe.h"
#include "core/model/ks_contact.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/ks_list.h"
#include "core/model/query_observer.h"
#include "core/model/section_adapter.h"
#include "core/services/ks_http.h"
#include "core/services/perf_logger.h"
#include "core/store/model_enums.h"
#include "core/sync/controller.h"
#include "core/sync/kestrun_object_server_client.h"
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
  //
  // Each query operation registers a live query under `queryId` (replacing and destroying one
  // registered there before) on the calling thread: the first fetch runs and reaches the observer
  // before the call returns; after each commit that changes rows of the query's table the query
  // runs again on the core thread and reports ordered changes. The forms with four callbacks build
  // the observer from them. Unknown ids yield empty results.
  using QueryRow = std::shared_ptr<KestrunObject>;
  using QueryResultsFn = FnDataQueryObserver::ResultsFn;
  using QueryBeginFn = FnDataQueryObserver::BeginFn;
  using QueryEndFn = FnDataQueryObserver::EndFn;
  using QueryChangeFn = FnDataQueryObserver::ChangeFn;
  using DeferralSectionObserver = SectionQueryObserver<KSItem::DeferralSection, QueryRow>;

  // The items of one list, newest first (the later list by section and reminder; sent by thread
  // time). A `limit` of 1 or more fixes, now, the page's lower bound at the modification time of
  // row limit + 1, so the list holds the newest limit + 1 rows (more on equal times) and every row
  // that becomes newer; below 1 it holds every row. `listId` is read for the list context only
  // (empty: every list), `accountId` for one account's inbox only. The search context lists
  // nothing (search results come from the search operations).
  void perform_query_items(const std::string& queryId, ItemGestureContextType context, int limit,
                           const std::string& listId, const std::string& accountId,
                           std::shared_ptr<ObjectQueryObserver> observer);
  void perform_query_items(const std::string& queryId, ItemGestureContextType context, int limit,
                           const std::string& listId, const std::string& accountId, QueryResultsFn results,
                           QueryBeginFn begin, QueryEndFn end, QueryChangeFn change);
  // The deferred items grouped into deferral sections; never paged, never one account's (both
  // arguments are accepted and not used).
  void perform_deferral_section_query(const std::string& queryId, int limit, const std::string& accountId,
                                      std::unique_ptr<DeferralSectionObserver> observer);
  // The conversation's e-mails, oldest first.
  void perform_query_emails(const std::string& queryId, const std::string& parentItemId,
                            std::shared_ptr<ObjectQueryObserver> observer);
  void perform_query_emails(const std::string& queryId, const std::string& parentItemId,
                            QueryResultsFn results, QueryBeginFn begin, QueryEndFn end, QueryChangeFn change);
  // One item, or one e-mail, or nothing.
  void perform_query_item(const std::string& queryId, const std::string& itemId,
                          std::shared_ptr<ObjectQueryObserver> observer);
  void perform_query_item(const std::string& queryId, const std::string& itemId, QueryResultsFn results,
                          QueryBeginFn begin, QueryEndFn end, QueryChangeFn change);
  void perform_query_email(const std::string& queryId, const std::string& emailId,
                           std::shared_ptr<ObjectQueryObserver> observer);
  void perform_query_email(const std::string& queryId, const std::string& emailId, QueryResultsFn results,
                           QueryBeginFn begin, QueryEndFn end, QueryChangeFn change);
  // Contacts whose address or name contains the text (every contact for an empty text), highest
  // score first.
  void perform_query_contacts(const std::string& queryId, const std::string& searchText,
                              std::shared_ptr<ObjectQueryObserver> observer);
  void perform_query_contacts(const std::string& queryId, const std::string& searchText,
                              QueryResultsFn results, QueryBeginFn begin, QueryEndFn end,
                              QueryChangeFn change);
  // The lists in the user's order: those with items only, or all of them; or those whose name
  // contains the text (all of them for an empty text).
  void perform_query_lists(const std::string& queryId, bool nonEmptyOnly,
                           std::shared_ptr<ObjectQueryObserver> observer);
  void perform_query_lists(const std::string& queryId, bool nonEmptyOnly, QueryResultsFn results,
                           QueryBeginFn begin, QueryEndFn end, QueryChangeFn change);
  void perform_query_lists(const std::string& queryId, const std::string& searchText,
                           std::shared_ptr<ObjectQueryObserver> observer);
  // The current user's active auto-swipe rules (those whose value or auxiliary text contains the
  // text, when it is not empty); the user is read each time the query runs.
  void perform_query_auto_swipes(const std::string& queryId, const std::string& searchText,
                                 std::shared_ptr<ObjectQueryObserver> observer);
  void perform_query_auto_swipes(const std::string& queryId, const std::string& searchText,
                                 QueryResultsFn results, QueryBeginFn begin, QueryEndFn end,
                                 QueryChangeFn change);
  // The items of one auto-swipe rule, newest first.
  void perform_query_items_with_auto_swipe(const std::string& queryId, const std::string& autoSwipeId,
                                           std::shared_ptr<ObjectQueryObserver> observer);
  void perform_query_items_with_auto_swipe(const std::string& queryId, const std::string& autoSwipeId,
                                           QueryResultsFn results, QueryBeginFn begin, QueryEndFn end,
                                           QueryChangeFn change);

  // A paused query keeps its rows and misses commits until resumed; the next commit to its table
  // then runs it again. Ending destroys it. Unknown ids do nothing. Calling thread.
  void pause_query(const std::string& queryId);
  void resume_query(const std::string& queryId);
  void end_query(const std::string& queryId);

  // Every list in the user's order, read under the consumer center's mutex. Calling thread.
  std::vector<std::shared_ptr<KSList>> get_all_lists();
  // The swipe and toolbar tables; None where a pair has no action.
  GestureState gesture_state_for_gesture_type(int gestureType, ItemGestureContextType context);
  GestureState gesture_state_for_item_state(ItemState state);
  ItemState item_state_for_gesture_context(ItemGestureContextType context);
  // The "before" of the first page of rules: 9223372036854775807.
  long long get_default_auto_swipe_oldest_time();
  // Asks the server, from the core thread, for up to `limit` of the current user's rules older
  // than `before`; once they are stored `success` (core thread) receives the oldest last-action
  // time among them, or 9223372036854775807 when there were none.
  void send_get_for_auto_swipes_before_date(long long before, int limit,
                                            std::function<void(long long)> success);

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
  //
  // Each operation queues one data task (two for the chained list operations) and returns at
  // once; any thread, applied in call order. `done` runs once on the core thread after the commit,
  // with the ids the task reported; an id that names nothing changes nothing and `done` still
  // runs. `overrideEngaged` reports the conversation to the server as not engaged.
  using ChangeDone = std::function<void(std::vector<std::string>&)>;

  void archive_item(const std::string& itemId, ChangeDone done, bool overrideEngaged = false);
  void archive_items(const std::vector<std::string>& itemIds, ChangeDone done);
  void delete_item(const std::string& itemId, ChangeDone done, bool overrideEngaged = false);
  void delete_items(const std::vector<std::string>& itemIds, ChangeDone done);
  void full_delete_item(const std::string& itemId, ChangeDone done);
  void full_delete_items(const std::vector<std::string>& itemIds, ChangeDone done);
  // Erases the given trash items and asks the server to empty each account's trash.
  void full_delete_all_trash(const std::vector<std::string>& itemIds, ChangeDone done);
  void spamify_item(const std::string& itemId, ChangeDone done, bool overrideEngaged = false);
  void spamify_items(const std::vector<std::string>& itemIds, ChangeDone done);
  void activate_item(const std::string& itemId, ChangeDone done, bool overrideEngaged = false);
  void activate_items(const std::vector<std::string>& itemIds, ChangeDone done);
  void defer_item_with_snooze_type(const std::string& itemId, SnoozeType snoozeType, ChangeDone done,
                                   bool overrideEngaged = false);
  void defer_items_with_snooze_type(const std::vector<std::string>& itemIds, SnoozeType snoozeType,
                                    ChangeDone done);
  // Until `time` (milliseconds since 1970), recorded with snooze type None.
  void defer_item_until_date(const std::string& itemId, int64_t time, ChangeDone done,
                             bool overrideEngaged = false);
  void defer_items_until_date(const std::vector<std::string>& itemIds, int64_t time, ChangeDone done);
  void associate_item_with_list(const std::string& itemId, const std::string& listId, ChangeDone done,
                                bool overrideEngaged = false);
  void associate_items_with_list(const std::vector<std::string>& itemIds, const std::string& listId,
                                 ChangeDone done);
  void move_item_between_items(const std::string& itemId, const std::string& afterItemId,
                               const std::string& beforeItemId, ChangeDone done);
  void defer_read_item(const std::string& itemId, ChangeDone done);
  void read_item(const std::string& itemId, ChangeDone done);
  // Marks the conversation's newest e-mail unread when it is read, and reports that e-mail.
  void unread_item(const std::string& itemId, ChangeDone done);
  void star_item(const std::string& itemId, ChangeDone done);
  void unstar_item(const std::string& itemId, ChangeDone done);
  void read_email(const std::string& emailId, ChangeDone done);
  void unread_email(const std::string& emailId, ChangeDone done);
  void star_email(const std::string& emailId, ChangeDone done);
  void unstar_email(const std::string& emailId, ChangeDone done);
  // Finds or creates the list of that name and reports its id first.
  void create_list(const std::string& name, ChangeDone done);
  void rename_list(const std::string& listId, const std::string& newName, ChangeDone done);
  void delete_list(const std::string& listId, ChangeDone done);
  void reorder_list(const std::vector<std::string>& listIds, ChangeDone done);
  void add_contact(const std::string& address, const std::string& name, ChangeDone done);
  void update_contact_as_priority(const std::string& contactId, bool priority, ChangeDone done);
  // `to`, `cc` and `bcc` are jansson arrays of {"address", "name"}, handed on to the data writer,
  // which takes them over.
  void send_email(const std::string& emailId, const std::string& subject, const std::string& conversation,
                  const std::string& fullBody, const std::string& from, json_t* to, json_t* cc, json_t* bcc,
                  const std::string& associatedEmailId, EmailSendType sendType, ChangeDone done);
  void archive_all(ArchiveAllType type, ChangeDone done);
  void archive_all_for_account(ArchiveAllType type, const std::string& accountId, ChangeDone done);
  void flag_email(const std::string& emailId, const std::string& reason, ChangeDone done);
  void create_auto_swipe(const std::string& itemId, AutoSwipeField field, const std::string& value,
                         const std::string& auxiliaryInfo, ItemState destination, SnoozeType snoozeType,
                         int64_t remindAt, const std::string& listName, ChangeDone done);
  void accept_auto_swipe_for_item(const std::string& itemId, ChangeDone done);
  void ignore_auto_swipe_for_item(const std::string& itemId, ChangeDone done);
  void disable_auto_swipe(const std::string& autoSwipeId, ChangeDone done);
  // Contacts from a jansson array of {"address", "name"}, taken over by the background writer.
  void create_contacts_from_list(json_t* contacts, ChangeDone done);
  // Create (or find) the list, then file the item(s) into it, or create a rule that files into it
  // (state List, snooze None, no reminder). `done` runs once, after the second task, with its ids;
  // when the list task reports no id there is no second task and `done` never runs.
  void create_list_and_associate_item(const std::string& name, const std::string& itemId, ChangeDone done,
                                      bool overrideEngaged = false);
  void create_list_and_associate_items(const std::string& name, const std::vector<std::string>& itemIds,
                                       ChangeDone done);
  void create_list_and_create_auto_swipe(const std::string& name, const std::string& itemId,
                                         AutoSwipeField field, const std::string& value,
                                         const std::string& auxiliaryInfo, ChangeDone done);
  // Erases every item now in the trash (read under the consumer center's mutex); with an empty
  // trash the erase of no item still runs `done`.
  void full_delete_all_trash_items(ChangeDone done);

  // --- Read-outs and counts. ---
  // Defined in api_readouts.cpp.
  //
  // Answered at once on the calling thread; none waits for the core thread. Store read-outs hold
  // the consumer center's mutex while they use its context, so they never overlap a query pass;
  // absence is null, empty or 0. Count read-outs read the counts manager under its mutex.
  std::shared_ptr<KSItem> item_with_id(const std::string& itemId);
  std::shared_ptr<KSEmail> email_with_id(const std::string& emailId);
  std::shared_ptr<KSList> list_with_id(const std::string& listId);
  std::shared_ptr<KSList> list_with_name(const std::string& name);
  std::shared_ptr<KSAutoSwipe> auto_swipe_with_id(const std::string& autoSwipeId);
  std::shared_ptr<KSContact> contact_with_id(const std::string& contactId);
  std::shared_ptr<KSContact> contact_with_email_address(const std::string& address);
  // The contact of exactly that address and name; never creates one.
  std::shared_ptr<KSContact> contact_with_email_address_and_name(const std::string& address,
                                                                 const std::string& name);
  std::vector<std::shared_ptr<KSContact>> get_contacts_with_email_address(const std::string& address);
  std::vector<std::shared_ptr<KSContact>> get_contacts_matching_search_string(const std::string& text);

  // Numbers of items per place, from the store.
  int number_of_items();
  int number_of_active_items();
  int number_of_active_items_for_account(const std::string& accountId);
  int number_of_completed_items();
  int get_number_of_deferred_emails();
  int number_of_items_in_list(const std::string& listId);
  int number_of_sent_items();
  int number_of_auto_swipe_items();
  int number_of_draft_items();

  // Whether a name can be given to a new list (`changingListId` empty) or to the list being
  // renamed, whose own name is allowed.
  ListNameStatus get_status_of_potential_list_name(const std::string& name,
                                                   const std::string& changingListId);
  std::string sanitize_potential_list_name(const std::string& name);
  // A new e-mail id.
  std::string get_email_id();

  // The server's counts; "significant" ones are rounded to two significant digits (0 stays 0).
  int total_significant_active_count();
  int total_significant_completed_count();
  int total_significant_deleted_count();
  int total_significant_sent_count();
  int total_significant_active_count_for_account(const std::string& accountId);
  // Over the accounts with a count: the exact count where it is exact, else the rounded one.
  int accumulate_active_count_for_all_accounts();
  int total_list_count_for_list(const std::string& listName);
  int total_significant_list_count_for_list(const std::string& listName);
  // Exact flags; a total of 0 is exact.
  bool active_is_exact();
  bool completed_is_exact();
  bool deleted_is_exact();
  bool sent_is_exact();
  bool active_is_exact_for_account(const std::string& accountId);
  bool list_is_exact_for_list(const std::string& listName);
  int total_auto_swipe_count();
  // True when a primary account other than a Gmail one has no exact count of the list.
  bool has_non_gmail_account_with_nonexact_count_for_list(const std::string& listName);
  // The account's inbox count as shown: exact when the server says so or while any archive-all
  // runs, else rounded.
  int get_email_count_for_account(const std::string& accountId);

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
  // The consumer center holds the live queries of this core only once it opened here.
  bool consumer_center_open_ = false;
};

}  // namespace libkestrun
