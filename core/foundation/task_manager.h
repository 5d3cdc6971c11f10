// Counts the core's running background tasks. Each task is a move-only TaskHandle; the manager
// tells its owner when the first task starts and when the last one ends, once per busy period.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "core/foundation/event_source.h"

namespace libkestrun {

struct all_tasks_completed {
  using listener = std::function<void()>;
};
struct all_tasks_cancelled {
  using listener = std::function<void()>;
};

class TaskHandle;

class TaskManager : public lks::EventSource<all_tasks_completed, all_tasks_cancelled> {
 public:
  TaskManager(const TaskManager&) = delete;
  TaskManager& operator=(const TaskManager&) = delete;

  // Any thread. Counting is one atomic step; only the 0 -> 1 and 1 -> 0 transitions lock.
  TaskHandle start_task();
  bool has_tasks() const { return count_.load() != 0; }
  // Tells the cancelled listeners, on the calling thread; the count is unchanged.
  void cancel_all_tasks();

 protected:
  TaskManager() = default;
  ~TaskManager() = default;

  // Called under the hook mutex: when the count goes from 0 to 1, and from 1 to 0 after the
  // completed listeners have run.
  virtual void on_first_task() = 0;
  virtual void on_all_tasks_finished() = 0;

 private:
  friend class TaskHandle;
  void _release();

  std::atomic<int64_t> count_{0};
  std::mutex hook_mutex_;
};

// The task manager the core uses; its hooks do nothing.
class LoggingTaskManager final : public TaskManager {
 protected:
  void on_first_task() override {}
  void on_all_tasks_finished() override {}
};

// Holds one counted task and releases it exactly once: when destroyed or assigned over.
class TaskHandle {
 public:
  TaskHandle() = default;
  explicit TaskHandle(TaskManager* manager) : manager_(manager) {}
  TaskHandle(TaskHandle&& other) noexcept : manager_(other.manager_) { other.manager_ = nullptr; }
  TaskHandle& operator=(TaskHandle&& other) noexcept;
  TaskHandle(const TaskHandle&) = delete;
  TaskHandle& operator=(const TaskHandle&) = delete;
  ~TaskHandle();

 private:
  TaskManager* manager_ = nullptr;
};

}  // namespace libkestrun
