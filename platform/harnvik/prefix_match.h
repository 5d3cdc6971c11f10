// Byte-wise prefix test of the platform framework.
#pragma once

#include <string_view>

namespace harnvik::verdane {

// True when `text` begins with `prefix`, byte for byte (no case folding, no normalisation). Every
// text begins with the empty prefix.
bool prefix_match(std::string_view text, std::string_view prefix);

}  // namespace harnvik::verdane
