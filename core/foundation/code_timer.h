// A named scope timer. On destruction it reports the milliseconds since its construction and the
// milliseconds since the previous code timer of the process ended (0 for the first one).
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace patch {

class code_timer {
 public:
  using report_fn = std::function<void(double elapsed_ms, double gap_ms)>;

  code_timer() : code_timer(std::string("?")) {}
  // Measures, and advances the shared end time, but reports nothing.
  explicit code_timer(std::string name);
  explicit code_timer(report_fn report);
  code_timer(const code_timer&) = delete;
  code_timer& operator=(const code_timer&) = delete;
  // Reports under a process-wide mutex, so a slow report delays other timers' destruction.
  ~code_timer();

 private:
  report_fn report_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace patch
