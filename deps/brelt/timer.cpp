#include "brelt/timer.h"

#include "brelt/log.h"

namespace brelt {

namespace {

const std::string kTag = "Timer";

void free_handle(uv_handle_t* handle) { delete reinterpret_cast<uv_timer_t*>(handle); }

}  // namespace

Timer::Timer(uv_loop_t* loop, uint64_t timeout_ms, bool repeat, std::function<void()> callback)
    : loop_(loop), timeout_ms_(timeout_ms), repeat_(repeat), callback_(std::move(callback)) {}

Timer::~Timer() {
  if (running_) {
    log_error(kTag, "calling destructor on timer without stopping it first");
    stop();
  }
}

void Timer::start() { start_with(timeout_ms_, repeat_ ? timeout_ms_ : 0); }

void Timer::start_once(uint64_t delay_ms) { start_with(delay_ms, 0); }

void Timer::start_with(uint64_t delay_ms, uint64_t repeat_ms) {
  stop();
  handle_ = new uv_timer_t;
  uv_timer_init(loop_, handle_);
  handle_->data = this;
  running_ = true;
  uv_timer_start(handle_, &Timer::on_fire, delay_ms, repeat_ms);
}

void Timer::stop() {
  if (running_ && handle_) {
    uv_timer_stop(handle_);
    handle_->data = nullptr;
    uv_close(reinterpret_cast<uv_handle_t*>(handle_), &free_handle);
    handle_ = nullptr;
  }
  running_ = false;
}

void Timer::on_fire(uv_timer_t* handle) {
  auto* timer = static_cast<Timer*>(handle->data);
  if (timer) timer->callback_();
}

}  // namespace brelt
