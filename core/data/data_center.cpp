#include "core/data/data_center.h"

#include <exception>
#include <utility>

#include "brelt/log.h"
#include "core/foundation/code_timer.h"
#include "core/foundation/semaphore.h"
#include "jsonette/json.h"

const char* const KestrunDataCenter::kSavedNotification = "com.kestrun.data.center.saved";
const char* const KestrunDataCenter::kWillResetNotification = "com.kestrun.data.center.will.reset";
const char* const KestrunDataCenter::kDidResetNotification = "com.kestrun.data.center.did.reset";

namespace {

using Results = std::vector<std::string>;

struct State {
  brelt::UvThread* thread = nullptr;
  std::shared_ptr<libkestrun::NotificationCenter> center;
  std::unique_ptr<DBContext> context = std::make_unique<DBContext>();
  std::unique_ptr<MemoryContext> memory = std::make_unique<MemoryContext>();
};

State& state() {
  static State instance;
  return instance;
}

void post(const char* name) {
  if (state().center) state().center->post_notification(name, jsonette::Json());
}

void log_failure(const std::string& what, std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const std::exception& e) {
    brelt::log_error("data_center", what + " failed: " + e.what());
  } catch (...) {
    brelt::log_error("data_center", what + " failed");
  }
}

// Runs `work`; a throw is logged, handed to `recover` and goes no further.
template <class Work, class Recover>
void guarded(const char* what, Work&& work, Recover&& recover) {
  try {
    work();
  } catch (...) {
    log_failure(what, std::current_exception());
    recover();
  }
}

// A failed task or commit leaves nothing half done: an open transaction is rolled back (its rows
// were never recorded as committed) and the pending changes are dropped, so the next task starts
// from what the database holds.
void recover_data_context() {
  DBContext& context = *state().context;
  guarded(
      "rollback",
      [&] {
        if (!context.database().isAutoCommit()) context.database().execDML("ROLLBACK;");
      },
      [] {});
  context.reset();
}

void complete(const KestrunDataCenter::Completion& first, const KestrunDataCenter::Completion& second,
              Results& results) {
  if (first)
    guarded(
        "completion", [&] { first(results); }, [] {});
  if (second)
    guarded(
        "completion", [&] { second(results); }, [] {});
}

void queue(KSDataTaskBlockPriority priority, std::function<void()> closure) {
  brelt::UvThread& thread = *state().thread;
  if (priority == KSDataTaskBlockPrioritySync) {
    thread.post_sync(closure);
  } else if (priority == KSDataTaskBlockPriorityNormal) {
    thread.post(std::move(closure));
  } else {
    thread.post_low(std::move(closure));
  }
}

// Opens a fresh context on the core thread and hands it back; the store's error is rethrown here.
std::unique_ptr<DBContext> open_on(brelt::UvThread& thread, const std::string& path,
                                   const std::optional<std::string>& key) {
  auto context = std::make_unique<DBContext>();
  std::exception_ptr failure;
  patch::semaphore opened;
  thread.post([&] {
    try {
      context->open(path, key);
    } catch (...) {
      failure = std::current_exception();
    }
    opened.notify();
  });
  opened.wait();
  if (failure) std::rethrow_exception(failure);
  return context;
}

}  // namespace

void KestrunDataCenter::initialize(brelt::UvThread* thread,
                                   std::shared_ptr<libkestrun::NotificationCenter> center,
                                   const std::string& path, const std::optional<std::string>& key) {
  State& s = state();
  s.center = std::move(center);
  s.thread = thread;
  patch::code_timer timer("start_data_thread");
  std::unique_ptr<DBContext> opened = open_on(*thread, path, key);
  // The old contexts, if any, go on the core thread, where their objects live. Search results
  // live in a store shared by every memory context: a new core starts without the old one's.
  thread->post_sync([&] {
    std::swap(s.context, opened);
    s.memory->clearStore();
    s.memory = std::make_unique<MemoryContext>();
  });
}

void KestrunDataCenter::performDataTask(DataTask task, KSDataTaskBlockPriority priority, Completion first,
                                        Completion second) {
  queue(priority, [task = std::move(task), first = std::move(first), second = std::move(second)] {
    Results results;
    {
      patch::code_timer timer("perform_data_task");
      DBContext& context = *state().context;
      guarded(
          "data task",
          [&] {
            if (task) task(results, context);
            libkestrun::ChangeSet changes;
            context.commit(changes);
          },
          recover_data_context);
      post(kSavedNotification);
    }
    complete(first, second, results);
  });
}

void KestrunDataCenter::performNormalDataTask(DataTask task, Completion first, Completion second) {
  performDataTask(std::move(task), KSDataTaskBlockPriorityNormal, std::move(first), std::move(second));
}

void KestrunDataCenter::performLowPriorityDataTask(DataTask task, Completion first, Completion second) {
  performDataTask(std::move(task), KSDataTaskBlockPriorityLow, std::move(first), std::move(second));
}

void KestrunDataCenter::performSyncDataTask(DataTask task) {
  performDataTask(std::move(task), KSDataTaskBlockPrioritySync, nullptr, nullptr);
}

void KestrunDataCenter::performMemoryDataTask(MemoryTask task, KSDataTaskBlockPriority priority,
                                              Completion first, Completion second) {
  queue(priority, [task = std::move(task), first = std::move(first), second = std::move(second)] {
    Results results;
    MemoryContext& memory = *state().memory;
    guarded(
        "memory task",
        [&] {
          if (task) task(results, memory);
          libkestrun::ChangeSet changes;
          memory.commit(changes);
        },
        [&] { memory.reset(); });
    complete(first, second, results);
  });
}

void KestrunDataCenter::resetAllDataToDefaultState() {
  brelt::UvThread& thread = *state().thread;
  auto rebuild = [] {
    performNormalDataTask(
        [](Results&, DBContext& context) {
          context.reset();
          context.recreate();
          state().memory->reset();
          post(kDidResetNotification);
        },
        nullptr, nullptr);
  };
  if (thread.is_current_thread()) {
    thread.clear();
    post(kWillResetNotification);
    rebuild();
    return;
  }
  post(kWillResetNotification);
  // Queued behind the delivery, so its listeners have run when the queue is dropped.
  thread.post_sync([&] {
    thread.clear();
    rebuild();
  });
}

void KestrunDataCenter::clearMemoryStore() {
  state().thread->post([] { state().memory->clearStore(); });
}

DBContext* KestrunDataCenter::getDBContext() { return state().context.get(); }

MemoryContext* KestrunDataCenter::getMemoryContext() { return state().memory.get(); }
