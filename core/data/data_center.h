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
// There are no instances. The state belongs to the core thread: every task, commit, notification
// and completion runs there, one closure at a time, so the data center takes no lock of its own.
// The thread and the notification centre are written by initialize, before any other call.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "brelt/uv_thread.h"
#include "core/foundation/notification_center.h"
#include "core/model/db_context.h"
#include "core/model/memory_context.h"

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

  // Opens a new data context on `thread` (the core thread) and waits for it. Throws the store's
  // error when the open fails. Never call it on the core thread.
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
};
