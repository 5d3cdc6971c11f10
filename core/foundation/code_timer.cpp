#include "core/foundation/code_timer.h"

#include <mutex>
#include <optional>

namespace patch {

namespace {

struct SharedEnd {
  std::mutex mutex;
  std::optional<std::chrono::steady_clock::time_point> previous_end;
};

SharedEnd& shared_end() {
  static SharedEnd s;
  return s;
}

double to_ms(std::chrono::steady_clock::duration d) {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(d).count()) / 1000.0 /
         1000.0;
}

}  // namespace

code_timer::code_timer(std::string name)
    : report_([name = std::move(name)](double, double) {}), start_(std::chrono::steady_clock::now()) {}

code_timer::code_timer(report_fn report)
    : report_(std::move(report)), start_(std::chrono::steady_clock::now()) {}

code_timer::~code_timer() {
  auto now = std::chrono::steady_clock::now();
  SharedEnd& shared = shared_end();
  std::lock_guard<std::mutex> lock(shared.mutex);
  if (!shared.previous_end) shared.previous_end = now;
  double elapsed = to_ms(now - start_);
  double gap = to_ms(now - *shared.previous_end);
  shared.previous_end = now;
  report_(elapsed, gap);
}

}  // namespace patch
