// The core thread: one libuv event loop on a thread of its own, fed by a priority queue of
// closures that any thread may fill. Closures, I/O callbacks and timer callbacks of the loop
// never run concurrently with each other.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include <uv.h>

#include "brelt/stable_priority_queue.h"
#include "brelt/timer_handle.h"

namespace brelt {

class UvThread {
 public:
  // Starts the thread at once when `start` is true (the core always does).
  explicit UvThread(bool start);
  UvThread(const UvThread&) = delete;
  UvThread& operator=(const UvThread&) = delete;
  // Drops the queued closures, stops the loop and joins the thread (when it was started). Never
  // call it on the loop thread itself.
  ~UvThread();

  // Creates the loop thread; returns once its loop runs. Calling it twice ends the process.
  void start();

  // Queue a closure at the highest priority, the lowest, or a given one, and wake the loop.
  // Closures of one priority run in posting order.
  void post(std::function<void()> fn);
  void post_low(std::function<void()> fn);
  void post_custom(std::function<void()> fn, uint64_t priority);

  // Runs `fn` on the loop thread and returns when it has run: inline when called on the loop
  // thread, otherwise queued at the highest priority while the caller waits.
  void post_sync(const std::function<void()>& fn);

  bool is_current_thread() const;
  uv_loop_t* get_loop() const;

  // Drops every queued closure without running it. Closures that post_sync callers wait for are
  // kept, so no caller is left waiting forever.
  void clear();

  // Calls `fn` once after `delay` on the loop thread, unless the returned handle is destroyed
  // first.
  template <class Rep, class Period>
  TimerHandle defer(std::chrono::duration<Rep, Period> delay, std::function<void()> fn) {
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(delay).count();
    return TimerHandle(this, loop_, static_cast<uint64_t>(ms < 0 ? 0 : ms), std::move(fn));
  }

  // Runs `work` on libuv's work pool, then `after_work` on the loop thread.
  void post_to_thread_pool(std::function<void()> work, std::function<void()> after_work);

 private:
  struct Task {
    std::function<void()> fn;
    bool sync = false;  // a post_sync caller waits for it
  };

  void push(Task task, uint64_t priority);
  static void _thread_main(UvThread* self, uv_sem_t* started);
  static void _drain(uv_async_t* handle);

  uv_loop_t* loop_ = nullptr;
  stable_priority_queue<Task> queue_;
  mutable std::mutex mutex_;
  std::thread thread_;
  std::atomic<std::thread::id> loop_thread_id_{};
  uv_async_t wakeup_{};
};

}  // namespace brelt
