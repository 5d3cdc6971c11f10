// The one process-wide instance of a core component, behind the free forwarding functions named
// after the class (`<class>_set_instance`, `<class>_<method>`).
//
// The core facade sets each instance at start-up and clears it at shut-down; tests put a recording
// fake in its place. Every forwarder is a single `call`: while no instance is set it does nothing
// and answers the result type's neutral value (false, 0, empty), so a component that runs before
// its neighbour exists, or after it is gone, never touches freed memory.
//
// Threads: any thread may set, clear or call. A call holds a shared reference for its duration,
// so replacing the instance while another thread is inside it destroys the old one only when that
// call returns. The previous instance is released outside the lock: its destructor may itself use
// other process-wide instances.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
#include <utility>

namespace libkestrun {

template <class T>
class ProcessInstance {
 public:
  constexpr ProcessInstance() = default;
  ProcessInstance(const ProcessInstance&) = delete;
  ProcessInstance& operator=(const ProcessInstance&) = delete;

  // Replaces the instance (an empty pointer clears it).
  void set(std::shared_ptr<T> instance) {
    std::shared_ptr<T> previous;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      previous = std::exchange(instance_, std::move(instance));
    }
  }

  void clear() { set(nullptr); }

  // The instance, or empty.
  std::shared_ptr<T> get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return instance_;
  }

  // Calls `method` (a member function of T) with `args` on the instance and returns its result;
  // without an instance returns a value-initialised result.
  template <class Method, class... Args>
  std::invoke_result_t<Method, T&, Args...> call(Method method, Args&&... args) const {
    using Result = std::invoke_result_t<Method, T&, Args...>;
    std::shared_ptr<T> instance = get();
    if (!instance) {
      if constexpr (std::is_void_v<Result>) {
        return;
      } else {
        return Result{};
      }
    }
    return std::invoke(method, *instance, std::forward<Args>(args)...);
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<T> instance_;  // guarded by mutex_
};

}  // namespace libkestrun
