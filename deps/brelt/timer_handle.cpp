#include "brelt/timer_handle.h"

#include <utility>

#include "brelt/uv_thread.h"

namespace brelt {

namespace {

using Call = std::function<void()>;

void free_handle(uv_handle_t* handle) { delete reinterpret_cast<uv_timer_t*>(handle); }

void on_fire(uv_timer_t* timer) {
  auto* pending = static_cast<Call*>(timer->data);
  if (!pending) return;
  // The call leaves the handle before it runs, so it may destroy or reassign its own handle.
  Call call = std::move(*pending);
  delete pending;
  timer->data = nullptr;
  call();
}

}  // namespace

TimerHandle::TimerHandle(UvThread* thread, uv_loop_t* loop, uint64_t delay_ms, std::function<void()> fn)
    : thread_(thread), loop_(loop), timer_(new uv_timer_t) {
  auto* pending = new Call(std::move(fn));
  uv_timer_t* timer = timer_;
  thread_->post_sync([loop, timer, pending, delay_ms] {
    uv_timer_init(loop, timer);
    timer->data = pending;
    uv_timer_start(timer, &on_fire, delay_ms, 0);
  });
}

TimerHandle::TimerHandle(TimerHandle&& other) noexcept
    : thread_(std::exchange(other.thread_, nullptr)),
      loop_(std::exchange(other.loop_, nullptr)),
      timer_(std::exchange(other.timer_, nullptr)) {}

TimerHandle& TimerHandle::operator=(TimerHandle&& other) noexcept {
  std::swap(thread_, other.thread_);
  std::swap(loop_, other.loop_);
  std::swap(timer_, other.timer_);
  return *this;
}

TimerHandle::~TimerHandle() {
  if (!thread_ || !timer_) return;
  uv_timer_t* timer = timer_;
  thread_->post_sync([timer] {
    uv_timer_stop(timer);
    // Cancelled before it ran: its captured state is destroyed here, on the loop thread.
    delete static_cast<Call*>(timer->data);
    timer->data = nullptr;
    uv_close(reinterpret_cast<uv_handle_t*>(timer), &free_handle);
  });
  thread_ = nullptr;
  loop_ = nullptr;
  timer_ = nullptr;
}

}  // namespace brelt
