// The one place where the core's stores change. Every change of the local database is a data
// task: a function that works on the data center's own database context (the write side; the
// consumer center owns the read side). The data center runs it on the core thread, saves every
// object it left pending in one transaction, lets the live queries run again (through the commit
// hook), posts "com.kestrun.data.center.saved" and then calls the caller's two completions, in
// order, with the strings the task appended. Memory tasks do the same on the memory context of
// search results, without transaction and notification.
//
// Priorities: -1 runs synchronously (inline on the core thread, else queued at the highest
// priority while the caller waits); 0 is queued at the highest priority; any other value at the
// lowest. So a local change overtakes waiting server documents, snapshots and purges.
//
// Failures: nothing thrown by a task, a commit or a completion leaves the closure. A throw from
// the task or the commit rolls back an open transaction, resets the context (pending changes are
// dropped), is logged, and the notification and both completions still follow; a throwing
// completion is logged and the next one still runs.
//
// Server documents (server_documents.cpp): pushed documents, account snapshots, draft batches and
// auto-swipe rules are applied by low-priority data tasks (draft batches at normal priority), so
// local changes the user waits for overtake them. Applying an e-mail that is new incoming inbox
// mail counts it: the new-mail counter and the ids of its conversations, reset when a document
// or snapshot is handed in and again when its completion has read them. Search results
// (search_results.cpp) fill the memory context, each behind the gate of the current search id.
//
// There are no instances. The state belongs to the core thread: every task, commit, notification
// and completion runs there, one closure at a time, so the data center takes no lock of its own.
// The thread and the notification centre are written by initialize, before any other call; the
// new-mail counter and ids are touched only by closures and callers on the core thread.
#pragma once

#include <jansson.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "brelt/uv_thread.h"
#include "core/api/managers.h"
#include "core/foundation/notification_center.h"
#include "core/model/db_context.h"
#include "core/model/memory_context.h"
#include "core/sync/draft_update.h"
#include "jsonette/json.h"

enum KSDataTaskBlockPriority : int {
  KSDataTaskBlockPrioritySync = -1,
  KSDataTaskBlockPriorityNormal = 0,
  KSDataTaskBlockPriorityLow = 1,
};

class KestrunDataCenter {
 public:
  using DataTask = std::function<void(std::vector<std::string>&, DBContext&)>;
  using MemoryTask = std::function<void(std::vector<std::string>&, MemoryContext&)>;
  using Completion = std::function<void(std::vector<std::string>&)>;

  static const char* const kSavedNotification;
  static const char* const kWillResetNotification;
  static const char* const kDidResetNotification;

  // Opens a new data context on `thread` (the core thread) and waits for it; there too the search
  // results of an earlier core are emptied and a new memory context takes the old one's place.
  // Throws the store's error when the open fails. Never call it on the core thread.
  static void initialize(brelt::UvThread* thread, std::shared_ptr<libkestrun::NotificationCenter> center,
                         const std::string& path, const std::optional<std::string>& key);

  // Any thread. Either completion may be empty; both see the same vector, the second after the
  // first appended to it.
  static void performDataTask(DataTask task, KSDataTaskBlockPriority priority, Completion first,
                              Completion second);
  static void performNormalDataTask(DataTask task, Completion first, Completion second);
  static void performLowPriorityDataTask(DataTask task, Completion first, Completion second);
  // Blocks until the task has run.
  static void performSyncDataTask(DataTask task);
  static void performMemoryDataTask(MemoryTask task, KSDataTaskBlockPriority priority, Completion first,
                                    Completion second);

  // Delivers "com.kestrun.data.center.will.reset", drops the work waiting on the core thread,
  // then queues a normal task that empties both contexts, rebuilds the database and posts
  // "com.kestrun.data.center.did.reset". Called off the core thread it waits until the listeners
  // of will.reset have run (closures queued at the highest priority before the call run before
  // them), and returns once the drop is done, so work queued after it survives. On the core
  // thread it cannot wait: the queue is dropped first and will.reset is delivered before the
  // rebuild.
  static void resetAllDataToDefaultState();

  // The memory warning: empties the store of search results on the core thread.
  static void clearMemoryStore();

  // The two contexts, for code that runs on the core thread.
  static DBContext* getDBContext();
  static MemoryContext* getMemoryContext();

  // --- Server documents; every call on the core thread. ---

  // Inside a data task: applies the document to the data context (null when it is not an object,
  // or the model refuses it) and counts a new incoming inbox e-mail.
  static std::shared_ptr<KestrunObject> applyDocument(json_t* document, const std::string& docType);
  // A pushed document. The result vector holds the applied object's id (when one was applied),
  // then the new-mail count and the number of conversations with new mail, appended before
  // `first` runs. A null document queues nothing and calls neither completion. The caller keeps
  // its reference.
  static void processDocument(json_t* document, const std::string& docType, Completion first,
                              Completion second);
  // True when any of the arrays "list", "item" and "email" has an element.
  static bool snapshotHasObjects(const jsonette::Json& snapshot);
  // Applies every list, then every item, then every e-mail document of the snapshot in one data
  // task (one transaction, one query pass). Before `first` runs, the non-zero integer tokens
  // {"item", "email", "list"} are stored for the account (none for JSON null tokens or an empty
  // account id) and the two counts are appended. A snapshot that failed to apply (rolled back)
  // stores no tokens and hands `first` an empty vector. With `statusFollows` (the main connection
  // pushes the account's status document with each snapshot) its conversations leave alone the
  // counts the server reports for the account, which that status counts already; without it (a
  // background connection carries no status) they move the counts as any other change does.
  static void processDocumentSnapshot(const jsonette::Json& snapshot, const jsonette::Json& tokens,
                                      const std::string& accountID, Completion first, Completion second,
                                      bool statusFollows = true);
  // Hands the account's inbox count to the counts manager, which takes it only when it holds an
  // exact count. `managers` must outlive the task; without it nothing is queued.
  static void synchronize_counts_after_snapshot(const std::string& accountID, libkestrun::Managers* managers);
  // Applies the draft changes in vector order at normal priority, then calls `done`.
  static void processServerBatch(std::vector<libkestrun::DraftUpdate>&& updates, std::function<void()> done);
  // Applies the object elements of a rules array; the result vector holds the smallest last-action
  // time of the applied rules ("9223372036854775807" when none applied). Any other JSON value
  // applies and appends nothing; null queues nothing.
  static void processAutoSwipeGet(json_t* rules, Completion first, Completion second);

  // --- Search results; every call on the core thread. Documents are the caller's: a queued task
  // keeps its own reference. Results whose "search_id" is not the current search's queue nothing.

  // The quick search, at once: at most 15 matching items with their e-mails into the memory
  // context, uncommitted (the caller registers its live query next).
  static void loadLocalSearchResults(const std::string& searchID, const std::string& text,
                                     const std::string& accountID);
  // The full local search as a memory task; it ends the search once the copies are committed.
  static void processLocalFullSearch(const std::string& searchID, const std::string& text,
                                     const std::string& accountID);
  // Cloud e-mail results: new e-mails (update false) or new previews of known ones (update true).
  static void processQueryEmailResults(json_t* result, bool update);
  // Cloud item results fill the items that e-mail results created and nothing else.
  static void processQueryItemResults(json_t* result);
  // The end or failure of a cloud query, handed on behind the result tasks queued before it.
  static void processQueryFinished(json_t* result);
  static void processQueryError(json_t* error);
  // A fetched conversation into the database: a new item is search-only, and so stays one an
  // earlier fetch stored; an ordinary one keeps its revision.
  static void processFetchResults(json_t* result, Completion first, Completion second);
  static void processFetchError(json_t* error);
  // Refreshes the memory copy of a fetched item, reported to the live queries as an update.
  static void updateSearchFetchedItem(const std::string& itemID);
};
