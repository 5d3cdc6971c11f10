// The text form of one locale table: UTF-8 lines of
//
//   "source text" = "translation"
//
// Blank lines and lines starting with "#" are ignored. Inside the quotes, \" stands for a quote,
// \\ for a backslash, \n for a line break and \uXXXX for that code point (written so that
// invisible characters such as the no-break space U+00A0 stay visible). Each key stands once.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace libkestrun::locales {

struct LocaleFile {
  std::vector<std::pair<std::string, std::string>> entries;  // in file order, each key once
  std::vector<std::string> errors;                           // "line 12: ..."; the line is skipped
};

LocaleFile parse_locale_file(std::string_view text);

}  // namespace libkestrun::locales
