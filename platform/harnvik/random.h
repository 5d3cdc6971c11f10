// Random data from the platform's generators.
#pragma once

#include <cstddef>
#include <string>

namespace harnvik::verdane::lang {

// `count` bytes from the operating system's cryptographically secure generator.
std::string generate_secure_random_data(size_t count);

// A uniformly distributed double in [0, 1); not for secrets.
double generate_insecure_random_canonical_double();

}  // namespace harnvik::verdane::lang
