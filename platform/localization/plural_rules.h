// The plural category of a count, by the integer rules of the CLDR plural data.
#pragma once

#include <cstdint>
#include <string_view>

namespace localization {

// "one", "few", "many" or "other" for `count` in `language` ("pl", "pt", ...). Languages without
// a rule of their own here (and "ja", "ko", "zh", "id", "ms", "th", which have no plural forms)
// give "other" for every count. Negative counts take the category of their magnitude.
std::string_view plural_category(std::string_view language, int64_t count);

}  // namespace localization
