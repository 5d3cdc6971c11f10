#include "core/foundation/task_manager.h"

namespace libkestrun {

TaskHandle TaskManager::start_task() {
  if (count_.fetch_add(1) == 0) {
    std::lock_guard<std::mutex> lock(hook_mutex_);
    on_first_task();
  }
  return TaskHandle(this);
}

void TaskManager::cancel_all_tasks() { _notify<all_tasks_cancelled>(); }

void TaskManager::_release() {
  if (count_.fetch_sub(1) != 1) return;
  _notify<all_tasks_completed>();
  std::lock_guard<std::mutex> lock(hook_mutex_);
  on_all_tasks_finished();
}

TaskHandle& TaskHandle::operator=(TaskHandle&& other) noexcept {
  if (this != &other) {
    if (manager_) manager_->_release();
    manager_ = other.manager_;
    other.manager_ = nullptr;
  }
  return *this;
}

TaskHandle::~TaskHandle() {
  if (manager_) manager_->_release();
}

}  // namespace libkestrun
