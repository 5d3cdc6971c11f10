// String operations shared by the core: address validation, replacement, escaping, suffix tests,
// the emptying of our inline image and attachment tags, and short display names. Text is UTF-8
// held in std::string; every operation works on bytes unless it says otherwise and none checks
// that the text is valid UTF-8. All operations are safe to call from any thread.
#pragma once

#include <regex.h>

#include <string>

namespace libkestrun {

class KSString {
 public:
  KSString() = delete;

  // True when the whole text is one e-mail address (letters of either case); surrounding text,
  // a domain without a dot, a backslash or an embedded NUL make it false.
  static bool is_valid_email(const std::string& text);

  // Replaces every occurrence of `needle`, left to right; a replacement that contains the needle
  // is not replaced again. An empty needle changes nothing.
  static void replace_all(std::string& text, const std::string& needle, const std::string& replacement);

  // A copy of the text with every match of `pattern` replaced. Each search starts at the end of
  // the previous match and treats that point as the start of the text (so ^ matches there); an
  // empty match copies one byte and moves on, so the scan always ends. The pattern must be
  // compiled without REG_NOSUB, since the match positions are needed.
  static std::string regex_replace_all(const std::string& text, const regex_t& pattern,
                                       const std::string& replacement);

  // The text with &, ", ', < and > written as XML entities; existing entities are escaped again.
  static std::string escape_xml(const std::string& text);

  // The text with the content of every <kestrun-img ...>...</kestrun-img> and
  // <kestrun-attach ...>...</kestrun-attach> element dropped; the tags themselves stay. The first
  // closing tag of the same name ends an element. An opening tag with no closing tag after it
  // drops nothing.
  static std::string empty_kestrun_tags(const std::string& text);

  // The given name of a person: "Smith, Jane" gives "Jane", "Dr. Jane Smith" gives "Jane", and
  // otherwise the first blank-separated word.
  static std::string short_name(const std::string& full_name);

  // Lowers the ASCII letters A to Z in place; every other byte stays.
  static void to_lower(std::string& text);
  // A copy with the ASCII letters A to Z lowered, walking code points, so no byte of a
  // multi-byte character ever changes.
  static std::string to_lower_utf8(const std::string& text);

  static bool ends_with(const std::string& text, const std::string& suffix);
  // ends_with after lowering ASCII letters of both.
  static bool ends_with_ignore_case(std::string text, std::string suffix);

  // Removes every tab, line feed, carriage return, double quote and backslash.
  static void strip_quotes_and_breaks(std::string& text);
  // Removes every tab, line feed, carriage return, hyphen and underscore.
  static void strip_separators(std::string& text);
};

}  // namespace libkestrun
