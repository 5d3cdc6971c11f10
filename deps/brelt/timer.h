// A reusable timer on a libuv loop, owned by a component that lives on that loop's thread. All
// operations must be made on that thread.
#pragma once

#include <cstdint>
#include <functional>

#include <uv.h>

namespace brelt {

class Timer {
 public:
  Timer(uv_loop_t* loop, uint64_t timeout_ms, bool repeat, std::function<void()> callback);
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  // Destroying a started timer is a caller error: it is logged, then the timer is stopped.
  ~Timer();

  // (Re)starts with the stored timeout, repeating at that interval when the repeat flag is set.
  void start();
  // (Re)starts once after `delay_ms`, whatever the repeat flag; the stored timeout is unchanged.
  void start_once(uint64_t delay_ms);
  // Stops and releases the libuv handle; harmless when not started.
  void stop();
  // True from a start until the next stop, also after a one-shot timer has fired.
  bool is_running() const { return running_; }

 private:
  void start_with(uint64_t delay_ms, uint64_t repeat_ms);
  static void on_fire(uv_timer_t* handle);

  uv_loop_t* loop_;
  uv_timer_t* handle_ = nullptr;
  uint64_t timeout_ms_;
  bool repeat_;
  std::function<void()> callback_;
  bool running_ = false;
};

}  // namespace brelt
