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

  // --- Preferences, snooze and badge. ---
  // Defined in api_preferences.cpp.

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
