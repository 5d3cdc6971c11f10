// Helpers for tests that drive objects living on a core thread from the test's own thread.
#pragma once

#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "brelt/uv_thread.h"

namespace kestrun_test {

// Runs `f` on the loop thread, waits for it, and hands back what it returned (if anything).
template <class F>
auto run_on(brelt::UvThread& thread, F f) -> decltype(f()) {
  if constexpr (std::is_void_v<decltype(f())>) {
    thread.post_sync(f);
  } else {
    decltype(f()) result;
    thread.post_sync([&] { result = f(); });
    return result;
  }
}

inline std::vector<unsigned char> to_bytes(std::string_view s) { return {s.begin(), s.end()}; }
inline std::string text(const std::vector<unsigned char>& b) { return {b.begin(), b.end()}; }

}  // namespace kestrun_test
