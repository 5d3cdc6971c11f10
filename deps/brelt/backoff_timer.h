// Schedules reconnection attempts with a growing delay. An attempt long enough after the previous
// one runs at once (on the next loop turn); attempts in quick succession wait longer each time, up
// to a maximum, so a server that keeps refusing is not hammered.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

#include <uv.h>

#include "brelt/timer.h"

namespace brelt {

class BackoffTimer {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  static constexpr uint64_t kInitialMs = 125;
  static constexpr uint64_t kMaximumMs = 10000;
  static constexpr uint64_t kWindowMs = 15000;
  static constexpr double kFactor = 1.6;

  // `clock` is read at construction and at each attempt; tests pass their own.
  BackoffTimer(uv_loop_t* loop, uint64_t initial_ms, uint64_t maximum_ms, uint64_t window_ms,
               std::function<void()> callback, double factor = kFactor,
               Clock clock = std::chrono::steady_clock::now);
  BackoffTimer(const BackoffTimer&) = delete;
  BackoffTimer& operator=(const BackoffTimer&) = delete;
  ~BackoffTimer();

  // Schedules the callback and returns the delay chosen: 0 when the previous attempt lies a whole
  // window back, otherwise the current delay, which then grows by the factor. A waiting attempt
  // is replaced.
  uint64_t attempt();
  // Cancels a waiting attempt and starts the delays over; the window still counts from the last
  // attempt.
  void reset();

  bool is_waiting() const { return timer_.is_running(); }

 private:
  Timer timer_;
  uint64_t initial_ms_;
  uint64_t maximum_ms_;
  uint64_t delay_ms_;
  double factor_;
  uint64_t window_ms_;
  Clock clock_;
  std::chrono::steady_clock::time_point last_attempt_;
};

}  // namespace brelt
