#include "brelt/backoff_timer.h"

#include <cstdio>
#include <string>

namespace brelt {

BackoffTimer::BackoffTimer(uv_loop_t* loop, uint64_t initial_ms, uint64_t maximum_ms, uint64_t window_ms,
                           std::function<void()> callback, double factor, Clock clock)
    : timer_(loop, 0, false,
             [this, callback = std::move(callback)] {
               // A fired one-shot timer still holds its handle; release it before the callback,
               // which may well schedule the next attempt.
               timer_.stop();
               callback();
             }),
      initial_ms_(initial_ms),
      maximum_ms_(maximum_ms),
      delay_ms_(initial_ms),
      factor_(factor),
      window_ms_(window_ms),
      clock_(std::move(clock)),
      // Two windows back, so that the very first attempt is immediate.
      last_attempt_(clock_() - 2 * std::chrono::milliseconds(window_ms)) {}

BackoffTimer::~BackoffTimer() { timer_.stop(); }

uint64_t BackoffTimer::attempt() {
  auto now = clock_();
  if (now - last_attempt_ >= std::chrono::milliseconds(window_ms_)) {
    delay_ms_ = initial_ms_;
    last_attempt_ = now;
    timer_.start_once(0);
    return 0;
  }
  uint64_t delay = delay_ms_;
  // Capped before converting back: a product past the integer range has no defined conversion.
  double grown = static_cast<double>(delay) * factor_;
  delay_ms_ = grown >= static_cast<double>(maximum_ms_) ? maximum_ms_ : static_cast<uint64_t>(grown);
  std::string line = "reconnect is too soon, backing off " + std::to_string(delay) + " ms\n\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  timer_.start_once(delay);
  last_attempt_ = now;
  return delay;
}

void BackoffTimer::reset() {
  timer_.stop();
  delay_ms_ = initial_ms_;
}

}  // namespace brelt
