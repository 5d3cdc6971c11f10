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
#include "core/model/ks_convo_item.h"
#include "core/model/query_observer.h"
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
                                  const std::string& account_id, FnDataQueryObserver::ResultsFn results,
                                  FnDataQueryObserver::BeginFn begin, FnDataQueryObserver::EndFn end,
                                  FnDataQueryObserver::ChangeFn change, SearchResultCallback finished,
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
