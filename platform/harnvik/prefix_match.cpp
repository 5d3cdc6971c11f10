#include "harnvik/prefix_match.h"

namespace harnvik::verdane {

bool prefix_match(std::string_view text, std::string_view prefix) { return text.starts_with(prefix); }

}  // namespace harnvik::verdane
