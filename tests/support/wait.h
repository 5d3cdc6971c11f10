// Polls a condition that another thread makes true, failing after a generous deadline so that a
// broken test ends instead of hanging. The deadline is far above a quiet run's waits: a sanitizer
// build on a loaded machine runs tens of times slower.
#pragma once

#include <chrono>
#include <thread>

namespace kestrun_test {

template <class Pred>
bool wait_until(Pred pred, std::chrono::milliseconds deadline = std::chrono::seconds(30)) {
  auto end = std::chrono::steady_clock::now() + deadline;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace kestrun_test
