#include "localization/locale_match.h"

#include <algorithm>

namespace localization {

namespace {

struct Parsed {
  std::string language;              // lower case
  std::vector<std::string> subtags;  // scripts and regions as written, upper-cased
};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

Parsed parse(std::string_view requested) {
  // The codeset and modifier of a POSIX name say nothing about the language.
  requested = requested.substr(0, requested.find_first_of(".@"));
  Parsed parsed;
  size_t start = 0;
  bool first = true;
  while (start <= requested.size()) {
    size_t end = requested.find_first_of("_-", start);
    if (end == std::string_view::npos) end = requested.size();
    std::string part;
    for (char c : requested.substr(start, end - start)) part += first ? lower(c) : upper(c);
    if (first) {
      parsed.language = part;
    } else if (!part.empty()) {
      parsed.subtags.push_back(part);
    }
    first = false;
    start = end + 1;
  }
  return parsed;
}

bool has(const std::vector<std::string>& list, std::string_view id) {
  return std::find(list.begin(), list.end(), id) != list.end();
}

std::string chinese(const Parsed& parsed) {
  for (const std::string& tag : parsed.subtags) {
    if (tag == "HANT" || tag == "TW" || tag == "HK" || tag == "MO") return "zh_TW";
  }
  return "zh_CN";
}

}  // namespace

std::string_view language_of(std::string_view id) { return id.substr(0, id.find('_')); }

std::string match_locale(std::string_view requested, const std::vector<std::string>& available) {
  Parsed parsed = parse(requested);
  if (parsed.language.empty()) return "en";
  std::string exact = parsed.language;
  for (const std::string& tag : parsed.subtags) exact += "_" + tag;
  if (has(available, exact)) return exact;
  if (parsed.language == "zh") {
    std::string id = chinese(parsed);
    if (has(available, id)) return id;
  }
  if (has(available, parsed.language)) return parsed.language;
  std::string regional;
  for (const std::string& id : available) {
    if (language_of(id) != parsed.language || id == parsed.language) continue;
    if (!regional.empty()) return "en";  // several regions and no way to choose
    regional = id;
  }
  return regional.empty() ? "en" : regional;
}

}  // namespace localization
