#include "core/foundation/ks_string.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "glyphet/utf8.h"

namespace libkestrun {

namespace {

// A pattern compiled once per process on first use (function-local statics are initialised once
// even when first uses race) and only read afterwards, which regexec allows from many threads.
class CompiledPattern {
 public:
  CompiledPattern(const char* source, int flags) {
    // The sources are constants of this file; one that does not compile is a build fault.
    if (regcomp(&regex_, source, flags) != 0) std::abort();
  }
  CompiledPattern(const CompiledPattern&) = delete;
  CompiledPattern& operator=(const CompiledPattern&) = delete;
  const regex_t& get() const { return regex_; }

 private:
  regex_t regex_;
};

// Anchored at both ends so that the whole text must be the address. The local part is the
// atom characters of an address; a backslash is not one of them (in a POSIX bracket expression a
// backslash is a literal member, so it must not appear there as an "escape").
const regex_t& email_pattern() {
  static const CompiledPattern pattern(
      "^[a-zA-Z0-9!#$%&'*+/=?^_`{|}~-]+(\\.[a-zA-Z0-9!#$%&'*+/=?^_`{|}~-]+)*"
      "@([a-zA-Z0-9]([a-zA-Z0-9-]*[a-zA-Z0-9])?\\.)+[a-zA-Z0-9]([a-zA-Z0-9-]*[a-zA-Z0-9])?$",
      REG_EXTENDED | REG_NOSUB);
  return pattern.get();
}

// The opening tag of one of our inline elements. glibc reads "\<" and "\>" outside brackets as
// word boundaries, so the angle brackets stand bare; inside the brackets a backslash is literal
// and excluded together with ">".
const regex_t& inline_tag_pattern() {
  static const CompiledPattern pattern("<kestrun-(img|attach)[^\\>]*>", REG_EXTENDED);
  return pattern.get();
}

// Searches `text` from `pos` to its end. REG_STARTEND bounds the search by length, so embedded NUL
// bytes neither end the text early nor hide what follows them; the search begins at `pos` as at
// the start of a text. Match offsets are relative to `pos`.
bool search_from(const regex_t& pattern, const std::string& text, size_t pos, regmatch_t& match) {
  match.rm_so = 0;
  match.rm_eo = static_cast<regoff_t>(text.size() - pos);
  return regexec(&pattern, text.data() + pos, 1, &match, REG_STARTEND) == 0;
}

// Finds the first opening inline tag at or after `pos`. A tag ends at the first ">" after its
// start and holds no backslash, so the pattern only ever runs over the span from a "<kestrun-" to
// the next ">" or backslash: spans do not overlap, which keeps the whole scan linear even in text
// full of tags that never close.
bool find_inline_tag(const std::string& text, size_t pos, size_t& tag_start, size_t& tag_end) {
  while (true) {
    size_t candidate = text.find("<kestrun-", pos);
    if (candidate == std::string::npos) return false;
    size_t stop = text.find_first_of(">\\", candidate);
    if (stop == std::string::npos) return false;
    regmatch_t match;
    match.rm_so = 0;
    match.rm_eo = static_cast<regoff_t>(stop + 1 - candidate);
    if (text[stop] == '>' &&
        regexec(&inline_tag_pattern(), text.data() + candidate, 1, &match, REG_STARTEND) == 0) {
      tag_start = candidate + static_cast<size_t>(match.rm_so);
      tag_end = candidate + static_cast<size_t>(match.rm_eo);
      return true;
    }
    pos = stop + 1;
  }
}

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

void remove_bytes(std::string& text, std::string_view bytes) {
  text.erase(std::remove_if(text.begin(), text.end(),
                            [bytes](char c) { return bytes.find(c) != std::string_view::npos; }),
             text.end());
}

}  // namespace

bool KSString::is_valid_email(const std::string& text) {
  regmatch_t match;
  return search_from(email_pattern(), text, 0, match);
}

void KSString::replace_all(std::string& text, const std::string& needle, const std::string& replacement) {
  if (needle.empty()) return;
  size_t found = text.find(needle);
  if (found == std::string::npos) return;
  // Built anew rather than edited in place, so that many occurrences in a long text cost one pass
  // instead of one move of the text's tail per occurrence.
  std::string replaced;
  replaced.reserve(text.size());
  size_t pos = 0;
  for (; found != std::string::npos; found = text.find(needle, pos)) {
    replaced.append(text, pos, found - pos);
    replaced += replacement;
    pos = found + needle.size();
  }
  replaced.append(text, pos);
  text = std::move(replaced);
}

std::string KSString::regex_replace_all(const std::string& text, const regex_t& pattern,
                                        const std::string& replacement) {
  std::string result;
  if (text.empty()) return result;
  size_t pos = 0;
  regmatch_t match;
  while (pos <= text.size() && search_from(pattern, text, pos, match)) {
    result.append(text, pos, static_cast<size_t>(match.rm_so));
    result += replacement;
    size_t end = pos + static_cast<size_t>(match.rm_eo);
    if (match.rm_so == match.rm_eo) {
      // An empty match would be found again at the same place: step over one byte.
      if (end < text.size()) result += text[end];
      ++end;
    }
    pos = end;
  }
  if (pos < text.size()) result.append(text, pos);
  return result;
}

std::string KSString::escape_xml(const std::string& text) {
  std::string escaped = text;
  replace_all(escaped, "&", "&amp;");
  replace_all(escaped, "\"", "&quot;");
  replace_all(escaped, "'", "&apos;");
  replace_all(escaped, "<", "&lt;");
  replace_all(escaped, ">", "&gt;");
  return escaped;
}

std::string KSString::empty_kestrun_tags(const std::string& text) {
  std::string result;
  if (text.empty()) return result;
  size_t pos = 0;
  size_t tag_start = 0;
  size_t tag_end = 0;
  // Once a closing tag is missing from some point on, it is missing from every later point too.
  bool image_closings_left = true;
  bool attachment_closings_left = true;
  while (find_inline_tag(text, pos, tag_start, tag_end)) {
    result.append(text, pos, tag_end - pos);
    bool image = std::string_view(text).substr(tag_start).starts_with("<kestrun-img");
    bool& closings_left = image ? image_closings_left : attachment_closings_left;
    size_t closing = std::string::npos;
    if (closings_left) closing = text.find(image ? "</kestrun-img>" : "</kestrun-attach>", tag_end);
    // Without a closing tag there is no content to drop: keep what follows and search on.
    closings_left = closing != std::string::npos;
    pos = closings_left ? closing : tag_end;
  }
  result.append(text, pos);
  return result;
}

std::string KSString::short_name(const std::string& full_name) {
  std::string name = full_name;

  size_t comma = name.find(", ");
  if (comma != std::string::npos && comma + 2 < name.size() &&
      name.find(", ", comma + 2) == std::string::npos) {
    name.erase(0, comma + 2);
  }

  size_t blank = name.find(' ');
  if (blank != std::string::npos && blank + 1 < name.size()) {
    static constexpr std::array<std::string_view, 7> kTitles = {"mr", "mr.", "mrs", "mrs.",
                                                                "dr", "dr.", "the"};
    std::string first = name.substr(0, blank);
    to_lower(first);
    if (std::find(kTitles.begin(), kTitles.end(), first) != kTitles.end()) name.erase(0, blank + 1);
  }

  blank = name.find(' ');
  if (blank != std::string::npos) name.erase(blank);
  return name;
}

void KSString::to_lower(std::string& text) {
  for (char& c : text) c = ascii_lower(c);
}

std::string KSString::to_lower_utf8(const std::string& text) {
  std::string lowered;
  lowered.reserve(text.size());
  size_t pos = 0;
  bool error = false;
  while (pos < text.size()) {
    size_t start = pos;
    char32_t code_point = glyphet::utf8_decode(text, pos, error);
    if (code_point >= U'A' && code_point <= U'Z') {
      lowered += ascii_lower(text[start]);
    } else {
      lowered.append(text, start, pos - start);
    }
  }
  return lowered;
}

bool KSString::ends_with(const std::string& text, const std::string& suffix) {
  return std::string_view(text).ends_with(suffix);
}

bool KSString::ends_with_ignore_case(std::string text, std::string suffix) {
  to_lower(text);
  to_lower(suffix);
  return ends_with(text, suffix);
}

void KSString::strip_quotes_and_breaks(std::string& text) { remove_bytes(text, "\t\n\r\"\\"); }

void KSString::strip_separators(std::string& text) { remove_bytes(text, "\t\n\r-_"); }

}  // namespace libkestrun
