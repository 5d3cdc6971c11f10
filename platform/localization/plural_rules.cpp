#include "localization/plural_rules.h"

namespace localization {

namespace {

// Rules over the magnitude i of an integer count (the CLDR operands v, f and t are 0).
std::string_view one_if_one(uint64_t i) { return i == 1 ? "one" : "other"; }

// French, Portuguese: 0 and 1 are singular; Spanish, Italian, French and Portuguese name exact
// millions "many" (the tables carry no such form and fall back to "other").
std::string_view romance(uint64_t i, bool zero_is_one) {
  if (i == 1 || (zero_is_one && i == 0)) return "one";
  if (i != 0 && i % 1000000 == 0) return "many";
  return "other";
}

std::string_view slavic(uint64_t i, bool polish) {
  uint64_t mod10 = i % 10, mod100 = i % 100;
  if (polish ? i == 1 : (mod10 == 1 && mod100 != 11)) return "one";
  if (mod10 >= 2 && mod10 <= 4 && !(mod100 >= 12 && mod100 <= 14)) return "few";
  return "many";
}

}  // namespace

std::string_view plural_category(std::string_view language, int64_t count) {
  uint64_t i = count < 0 ? uint64_t{0} - static_cast<uint64_t>(count) : static_cast<uint64_t>(count);
  if (language == "pl") return slavic(i, true);
  if (language == "ru") return slavic(i, false);
  if (language == "fr" || language == "pt") return romance(i, true);
  if (language == "es" || language == "it") return romance(i, false);
  if (language == "en" || language == "de" || language == "nl" || language == "sv" || language == "da") {
    return one_if_one(i);
  }
  return "other";
}

}  // namespace localization
