// The process's peak resident set, for tests that bound the memory an input can make us take.
// Each test runs in a process of its own under ctest, so the peak belongs to the test.
#pragma once

#include <sys/resource.h>

#include <cstddef>

namespace kestrun_test {

// Bytes of the highest resident set the process has had so far.
inline size_t peak_resident_bytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<size_t>(usage.ru_maxrss) * 1024;
}

// AddressSanitizer keeps freed memory in quarantine and pads every block, so resident-size
// bounds only hold in plain builds.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kResidentSizeIsMeaningful = false;
#else
inline constexpr bool kResidentSizeIsMeaningful = true;
#endif

}  // namespace kestrun_test
