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
#include "core/model/ks_convo_item.h"
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
  // One search at a time, named by its search id from end to end: the quick search's live query,
  // the search state and the cloud requests. Each operation posts its call of the search data
  // manager to the core thread and returns at once; finished, error and the fetch callbacks run on
  // the core thread, finished or error once per search (null for a local result, a time-out or an
  // empty text), neither after cancel_search. The live query stays until end_query.
  using SearchResultCallback = SearchDataManager::ResultCallback;
  using SearchFetchCallback = SearchDataManager::FetchFinishedCallback;
  // Shows the local matches through `observer` at once and registers its live query under
  // `search_id`; an empty text only calls `finished` with null. "" searches every account.
  void perform_quick_local_search(const std::string& search_id, const std::string& text,
                                  const std::string& account_id,
                                  std::shared_ptr<ObjectQueryObserver> observer,
                                  SearchResultCallback finished, SearchResultCallback error);
  // The same with the observer's four calls as functions.
  void perform_quick_local_search(const std::string& search_id, const std::string& text,
                                  const std::string& account_id, QueryResultsFn results, QueryBeginFn begin,
                                  QueryEndFn end, QueryChangeFn change, SearchResultCallback finished,
                                  SearchResultCallback error);
  // The full search of the current search in `folder`; another id does nothing.
  void perform_full_search(const std::string& search_id, const std::string& folder);
  // Fetches a cloud result that is not stored locally; `finished` gets the thread's id once stored.
  void perform_search_fetch(const std::string& account_id, const std::string& search_id,
                            const std::string& item_id, const std::string& sync_data,
                            SearchFetchCallback finished, SearchResultCallback error);
  // Copies a fetched item again from the database into the search results.
  void update_fetched_item(const std::string& item_id);
  // Readies the server's search for the account, or for every primary account with "".
  void prime_search(const std::string& account_id);
  // Ends the search state: a reply that arrives later is ignored.
  void cancel_search();

  // --- Drafts. ---
  // Defined in api_drafts.cpp.
  // A draft is a value the application edits; saving and deleting stamp it on the caller's thread
  // (this device's version counter, the cleaned content and its plain text, the modification time)
  // and hand a copy to the data writer, which stores it and sends it to the server on the core
  // thread, where `done` runs. The read-outs read the consumer context under the consumer
  // center's lock, on the caller's thread.
  using ConvoItemObserver = DataQueryObserver<KSConvoItem>;
  // A new, unsaved draft of the current user: new upper-case ids, both times now, empty version.
  internal::Draft get_new_draft(const std::optional<std::string>& item_id,
                                const std::optional<std::string>& base_email_id);
  void save_draft(internal::Draft& draft, std::function<void()> done);
  void save_draft(internal::Draft& draft);
  void delete_draft(internal::Draft& draft, std::function<void(std::vector<std::string>&)> done);
  // The draft behind a draft-only item ("draft_item_" + draft id); empty for any other id.
  std::optional<internal::Draft> get_draft_from_temporary_item_id(const std::string& item_id);
  // The most recently modified item that has drafts and no e-mail; null when there is none.
  std::shared_ptr<KestrunObject> get_most_recent_item_with_only_drafts();
  // Live queries of a conversation's e-mails and drafts, or of one draft, oldest first; the first
  // rows reach the observer before the call returns, later ones after each commit of e-mails or
  // drafts, on the core thread. end_query ends them like any other query.
  void perform_query_convo_items_for_item(const std::string& query_id, const std::string& item_id,
                                          std::shared_ptr<ConvoItemObserver> observer);
  void perform_query_single_draft(const std::string& query_id, const std::string& draft_id,
                                  std::shared_ptr<ConvoItemObserver> observer);

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
  // Defined in api_notifications.cpp and api_utilities.cpp.

  // Sets the listener of `name` under `observer` (a key the caller chooses, such as the listening
  // object's address), replacing one set before under the same name and key. Listeners run on the
  // core thread. Called off the core thread, these wait until the table has changed there, so a
  // notification posted after listen_to_notification returns reaches the listener, and none
  // reaches it after stop_listening returns.
  void listen_to_notification(const std::string& name, void* observer, NotificationListener listener);
  void stop_listening(const std::string& name, void* observer);
  // Removes `observer` under every name.
  void stop_listening(void* observer);

  // The last triage step: whether one is recorded, the question to ask before undoing it ("" when
  // none) and the undo itself, which queues the opposite step and posts
  // "com.kestrun.undo.was.committed". Any thread.
  bool has_action_to_undo();
  std::string alert_message_for_current_state();
  void perform_undo_action();

  // The e-mails of the conversation that an answer of `send_type` answers, chosen among the
  // opened ones in the order shown; empty for an id that names no stored conversation. Reads the
  // store on the caller's thread.
  std::vector<std::shared_ptr<KSEmail>> emails_to_reply_to_from_item_id(
      const std::string& item_id, EmailSendType send_type, const std::vector<std::string>& visible_email_ids,
      const std::unordered_set<std::string>& opened_email_ids);
  // A self-contained HTML page for printing the conversation or one e-mail; "" for an id that
  // names no stored object. Caller's thread.
  std::string print_conversation(const std::string& item_id);
  std::string print_email(const std::string& email_id);

  // Answers a meeting invitation with a GET of `url`, saved and retried until it succeeds even
  // across restarts; a later answer for the same e-mail supersedes an earlier one still waiting
  // to be retried. Only "http" and "https" URLs are fetched; others are dropped. Returns at once.
  void respond_to_rsvp_at_url(const std::string& email_id, const std::string& url);

  // The locale the core's texts are in.
  std::string harnvik_locale();
  bool is_valid_email_address(const std::string& text);
  // A new upper-case version-4 UUID.
  std::string generate_unique_id();
  // The time value meaning "not set": 0.
  int64_t default_date_value();
  // Drops the search results kept in memory; the core thread does it.
  void memory_warning();
  // The short display name of a person's full name ("Smith, Jane" gives "Jane").
  std::string generate_short_name_from_name(const std::string& full_name);
  // Installs the host's event ledger for performance records; the core thread takes it over.
  void set_ledger_context(libledger_context* context, const libledger_callbacks* callbacks);

 private:
  // Steps of construction and teardown (api.cpp).
  void open_database(const Config& config, const std::optional<std::string>& key,
                     const std::unordered_set<std::string>& doomed_accounts);
  // Runs the data tasks already queued, stops the HTTP hooks and the worker pool, drops the live
  // queries and clears every process-wide instance; what both the destructor and a failed
  // construction do before the members are released.
  void shut_down() noexcept;
  // Returns once everything queued on the core thread so far, low priority included, has run.
  void drain();

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
