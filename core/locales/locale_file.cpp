#include "core/locales/locale_file.h"

#include <unordered_set>

namespace libkestrun::locales {

namespace {

void append_utf8(std::string& out, unsigned code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// Reads one quoted string at `at`, leaving `at` after its closing quote; an error text or "".
std::string quoted(std::string_view line, size_t& at, std::string& out) {
  if (at >= line.size() || line[at] != '"') return "expected '\"'";
  for (++at; at < line.size(); ++at) {
    char c = line[at];
    if (c == '"') {
      ++at;
      return "";
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++at == line.size()) break;
    switch (line[at]) {
      case '"':
      case '\\':
        out += line[at];
        break;
      case 'n':
        out += '\n';
        break;
      case 'u': {
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
          char h = ++at < line.size() ? line[at] : 0;
          int digit = h >= '0' && h <= '9'   ? h - '0'
                      : h >= 'A' && h <= 'F' ? h - 'A' + 10
                      : h >= 'a' && h <= 'f' ? h - 'a' + 10
                                             : -1;
          if (digit < 0) return "bad \\u escape";
          code = code * 16 + static_cast<unsigned>(digit);
        }
        if (code >= 0xD800 && code <= 0xDFFF) return "bad \\u escape";
        append_utf8(out, code);
        break;
      }
      default:
        return std::string("unknown escape \\") + line[at];
    }
  }
  return "unterminated string";
}

void skip_blanks(std::string_view line, size_t& at) {
  while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
}

}  // namespace

LocaleFile parse_locale_file(std::string_view text) {
  LocaleFile file;
  std::unordered_set<std::string> keys;
  size_t number = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    size_t at = 0;
    skip_blanks(line, at);
    if (at == line.size() || line[at] == '#') continue;
    std::string key, translation, error;
    error = quoted(line, at, key);
    if (error.empty()) {
      skip_blanks(line, at);
      if (at < line.size() && line[at] == '=') {
        ++at;
        skip_blanks(line, at);
        error = quoted(line, at, translation);
        skip_blanks(line, at);
        if (error.empty() && at != line.size()) error = "text after the translation";
      } else {
        error = "expected '='";
      }
    }
    if (error.empty() && !keys.insert(key).second) error = "key listed twice: " + key;
    if (!error.empty()) {
      file.errors.push_back("line " + std::to_string(number) + ": " + error);
      continue;
    }
    file.entries.emplace_back(std::move(key), std::move(translation));
  }
  return file;
}

}  // namespace libkestrun::locales
