#include "harnvik/random.h"

#include <sys/random.h>

#include <cerrno>
#include <random>
#include <stdexcept>

namespace harnvik::verdane::lang {

std::string generate_secure_random_data(size_t count) {
  std::string out(count, '\0');
  size_t filled = 0;
  while (filled < count) {
    ssize_t n = getrandom(out.data() + filled, count - filled, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("secure random source failed");
    }
    filled += static_cast<size_t>(n);
  }
  return out;
}

double generate_insecure_random_canonical_double() {
  thread_local std::mt19937_64 engine{std::random_device{}()};
  return std::generate_canonical<double, 53>(engine);
}

}  // namespace harnvik::verdane::lang
