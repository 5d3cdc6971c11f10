// The run program's task manager: the core counts its background work here (the outgoing queue
// holds a task for every request until the server acknowledges it), and the program waits until
// none is left.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "core/foundation/task_manager.h"

namespace kestrun_run {

class TaskWatch final : public libkestrun::TaskManager {
 public:
  // Waits until no task runs; false when `deadline` passed first.
  bool wait_idle(std::chrono::milliseconds deadline) {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, deadline, [&] { return !has_tasks(); });
  }

 protected:
  void on_first_task() override {}
  void on_all_tasks_finished() override {
    std::lock_guard<std::mutex> lock(mutex_);
    idle_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable idle_;
};

}  // namespace kestrun_run
