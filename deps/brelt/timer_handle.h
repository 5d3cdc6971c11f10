// The owning handle of one deferred call (see UvThread::defer). It may be made and destroyed on
// any thread: its libuv work is done on the loop thread through post_sync. Destroying the handle
// before the call has run cancels it.
#pragma once

#include <cstdint>
#include <functional>

#include <uv.h>

namespace brelt {

class UvThread;

class TimerHandle {
 public:
  TimerHandle() = default;
  // Schedules `fn` once after `delay_ms` on `thread`'s loop; returns once the timer is started.
  TimerHandle(UvThread* thread, uv_loop_t* loop, uint64_t delay_ms, std::function<void()> fn);
  TimerHandle(TimerHandle&& other) noexcept;
  // Exchanges with `other`, so the previous call of this handle is cancelled when `other` dies.
  TimerHandle& operator=(TimerHandle&& other) noexcept;
  TimerHandle(const TimerHandle&) = delete;
  TimerHandle& operator=(const TimerHandle&) = delete;
  virtual ~TimerHandle();

 private:
  UvThread* thread_ = nullptr;
  uv_loop_t* loop_ = nullptr;
  uv_timer_t* timer_ = nullptr;
};

}  // namespace brelt
