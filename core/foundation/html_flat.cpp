#include "core/foundation/html_flat.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace libkestrun::html_flat {

namespace {

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_name(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

bool is_one_of(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::any_of(names.begin(), names.end(), [&](std::string_view n) { return same_name(name, n); });
}

bool is_void(std::string_view name) {
  return is_one_of(name, {"area", "base", "basefont", "bgsound", "br", "col", "embed", "frame", "hr", "img",
                          "input", "keygen", "link", "meta", "param", "source", "track", "wbr"});
}

// Elements whose start tag closes an open one of the same name.
bool closes_itself(std::string_view name) {
  return is_one_of(name, {"p", "li", "dt", "dd", "tr", "td", "th", "option", "optgroup", "rb", "rt", "rp"});
}

bool is_inline(std::string_view name) {
  return is_one_of(name, {"a", "small", "sub", "sup", "i", "b", "span"});
}

// Elements whose content is not markup: skipped, or (as_text) kept as text.
bool is_raw(std::string_view name, bool& as_text) {
  as_text = is_one_of(name, {"title", "textarea"});
  return as_text || is_one_of(name, {"script", "style", "template"});
}

// Elements an end tag of a phrasing element may close across: the parser closes those and keeps
// going. Across any other element (a block, a table part, an unknown name) such an end tag is
// ignored or, for b, i, font and the like, moves the formatting element below the block and leaves
// the block open, so the count keeps it.
bool is_phrasing(std::string_view name) {
  return is_one_of(
      name, {"a",     "abbr", "b",      "bdi",    "bdo", "big",   "cite", "code", "data", "del", "dfn",
             "em",    "font", "i",      "ins",    "kbd", "label", "mark", "nobr", "q",    "s",   "samp",
             "small", "span", "strike", "strong", "sub", "sup",   "time", "tt",   "u",    "var"});
}

bool is_table_part(std::string_view name) {
  return is_one_of(name, {"table", "caption", "colgroup", "tbody", "thead", "tfoot", "tr", "td", "th"});
}

// Elements whose end tag closes whatever is open above them, up to the nearest scope boundary.
bool is_block(std::string_view name) {
  return is_one_of(
      name,
      {"address", "article", "aside", "blockquote", "center",     "details", "dialog",  "dir",     "div",
       "dl",      "dd",      "dt",    "fieldset",   "figcaption", "figure",  "footer",  "form",    "h1",
       "h2",      "h3",      "h4",    "h5",         "h6",         "header",  "hgroup",  "li",      "listing",
       "main",    "menu",    "nav",   "ol",         "p",          "pre",     "section", "summary", "ul"});
}

// An open element past which the parser does not look when it closes `end_name`: an end tag
// whose element lies beyond it is ignored and closes nothing.
bool stops_end_tag(std::string_view end_name, std::string_view open_name) {
  if (is_table_part(end_name)) return is_one_of(open_name, {"html", "table", "template"});
  if (!is_block(end_name)) return !is_phrasing(open_name);
  if (is_one_of(open_name,
                {"applet", "caption", "html", "table", "td", "th", "marquee", "object", "template"}))
    return true;
  if (same_name(end_name, "li") && is_one_of(open_name, {"ol", "ul"})) return true;
  return same_name(end_name, "p") && same_name(open_name, "button");
}

bool is_foreign_root(std::string_view name) { return is_one_of(name, {"svg", "math"}); }

// The elements the parser keeps in its list of active formatting elements. One closed by another
// element's end tag stays in that list, and the parser opens a copy of it, nested inside whatever
// is open, before the next text or inline start tag; only its own end tag drops it.
constexpr std::string_view kFormatting[] = {"a",    "b", "big",   "code",   "em",     "font", "i",
                                            "nobr", "s", "small", "strike", "strong", "tt",   "u"};
constexpr size_t kNotFormatting = std::size(kFormatting);

size_t formatting_index(std::string_view name) {
  for (size_t i = 0; i < kNotFormatting; ++i) {
    if (same_name(name, kFormatting[i])) return i;
  }
  return kNotFormatting;
}

// How many of the last opened elements an end tag searches for its name: enough for misnested
// inline markup, small enough that no end tag costs time in proportion to the depth.
constexpr size_t kEndTagReach = 16;

struct Token {
  enum Kind { kText, kStart, kEnd, kOther } kind;
  std::string_view name;  // start and end tags
  bool self_closing = false;
  size_t end;  // one past the token
};

// The end of an opening or closing tag whose name ends at `pos`: past its ">", or the input's
// end when it has none. Quoted attribute values may hold ">".
size_t tag_end(std::string_view html, size_t pos, bool& self_closing) {
  self_closing = false;
  while (pos < html.size()) {
    char c = html[pos];
    if (c == '>') {
      self_closing = html[pos - 1] == '/';
      return pos + 1;
    }
    ++pos;
    if (c == '=') {
      while (pos < html.size() && is_space(html[pos])) ++pos;
      if (pos < html.size() && (html[pos] == '"' || html[pos] == '\'')) {
        size_t close = html.find(html[pos], pos + 1);
        pos = close == std::string_view::npos ? html.size() : close + 1;
      }
    }
  }
  return html.size();
}

size_t past(std::string_view html, std::string_view marker, size_t from) {
  size_t at = html.find(marker, from);
  return at == std::string_view::npos ? html.size() : at + marker.size();
}

std::string_view name_at(std::string_view html, size_t start) {
  size_t end = start;
  while (end < html.size() && !is_space(html[end]) && html[end] != '/' && html[end] != '>') ++end;
  return html.substr(start, end - start);
}

// The token at `pos`, where html[pos] is "<".
Token read_markup(std::string_view html, size_t pos) {
  const size_t next = pos + 1;
  if (next >= html.size()) return {Token::kText, {}, false, next};
  const char c = html[next];
  if (is_letter(c)) {
    Token token{Token::kStart, name_at(html, next), false, 0};
    token.end = tag_end(html, next + token.name.size(), token.self_closing);
    return token;
  }
  if (c == '/' && next + 1 < html.size() && is_letter(html[next + 1])) {
    Token token{Token::kEnd, name_at(html, next + 1), false, 0};
    bool ignored;
    token.end = tag_end(html, next + 1 + token.name.size(), ignored);
    return token;
  }
  if (html.substr(pos, 4) == "<!--") return {Token::kOther, {}, false, past(html, "-->", pos + 2)};
  if (c == '!' || c == '?' || c == '/') return {Token::kOther, {}, false, past(html, ">", next)};
  return {Token::kText, {}, false, next};
}

// Where the content of a raw element ends: at its end tag ("</" and the name, any case), or at the
// input's end.
size_t raw_end(std::string_view html, size_t from, std::string_view name) {
  for (size_t at = html.find("</", from); at != std::string_view::npos; at = html.find("</", at + 2)) {
    if (same_name(html.substr(at + 2, name.size()), name)) return at;
  }
  return html.size();
}

// Calls on_text(text) for each run of text (raw text elements' content included as text where it
// is text) and on_tag(token) for each tag, comment or declaration, in order. Either may return
// false to stop.
template <class OnText, class OnTag>
void walk(std::string_view html, OnText on_text, OnTag on_tag) {
  size_t pos = 0;
  while (pos < html.size()) {
    size_t lt = html.find('<', pos);
    size_t text_end = lt == std::string_view::npos ? html.size() : lt;
    Token token{Token::kText, {}, false, text_end};
    // A "<" that opens no markup belongs to the text that follows it.
    while (text_end < html.size() && (token = read_markup(html, text_end)).kind == Token::kText) {
      lt = html.find('<', token.end);
      text_end = lt == std::string_view::npos ? html.size() : lt;
    }
    if (text_end > pos && !on_text(html.substr(pos, text_end - pos))) return;
    if (text_end == html.size()) return;
    if (!on_tag(token)) return;
    pos = token.end;
    bool as_text;
    if (token.kind == Token::kStart && !token.self_closing && is_raw(token.name, as_text)) {
      size_t content_end = raw_end(html, pos, token.name);
      if (as_text && content_end > pos && !on_text(html.substr(pos, content_end - pos))) return;
      pos = content_end;
    }
  }
}

}  // namespace

bool nests_deeper_than(std::string_view html, size_t limit) {
  std::vector<std::string_view> open;
  size_t foreign = 0;  // open svg and math elements, inside which "/>" closes a tag's element
  // Formatting elements closed by another element's end tag, per name: each may be opened again
  // inside the elements open when it is, so each counts as open until an end tag of its name.
  size_t lingering[kNotFormatting] = {};
  size_t lingering_total = 0;
  bool deeper = false;
  walk(
      html, [](std::string_view) { return true; },
      [&](const Token& token) {
        if (token.kind == Token::kStart) {
          // Outside svg and math the parser ignores "/>" on an element that is not void.
          if (is_void(token.name) || (token.self_closing && foreign > 0)) return true;
          if (!open.empty() && closes_itself(token.name) && same_name(open.back(), token.name)) return true;
          open.push_back(token.name);
          if (is_foreign_root(token.name)) ++foreign;
          deeper = open.size() + lingering_total > limit;
          return !deeper;
        }
        if (token.kind == Token::kEnd) {
          const size_t reach = std::min(open.size(), kEndTagReach);
          size_t closed = 0;
          for (size_t i = 1; i <= reach; ++i) {
            std::string_view name = open[open.size() - i];
            if (same_name(name, token.name)) {
              closed = i;
              break;
            }
            if (stops_end_tag(token.name, name)) break;
          }
          for (size_t j = 1; j <= closed; ++j) {
            std::string_view name = open[open.size() - j];
            foreign -= is_foreign_root(name) ? 1 : 0;
            const size_t formatting = formatting_index(name);
            if (j < closed && formatting != kNotFormatting) {
              ++lingering[formatting];
              ++lingering_total;
            }
          }
          open.resize(open.size() - closed);
          // An end tag of a formatting element that is no longer open drops one lingering copy.
          const size_t formatting = formatting_index(token.name);
          if (closed == 0 && formatting != kNotFormatting && lingering[formatting] > 0) {
            --lingering[formatting];
            --lingering_total;
          }
        }
        return true;
      });
  return deeper;
}

std::string strip_tags(std::string_view html) {
  std::string out;
  out.reserve(html.size());
  walk(
      html,
      [&](std::string_view text) {
        if (std::all_of(text.begin(), text.end(), is_space)) {
          out += ' ';
          return true;
        }
        for (char c : text) {
          if (c == '<') {
            out += "&lt;";
          } else {
            out += c;
          }
        }
        return true;
      },
      [&](const Token& token) {
        // The parse puts a space before text that follows a finished element other than the
        // inline ones: after its end tag, a void element, a comment, or the start of an element
        // that closes an open one of its name.
        bool separates = token.kind == Token::kOther;
        if (token.kind == Token::kEnd) separates = !is_inline(token.name);
        if (token.kind == Token::kStart) {
          separates = !is_inline(token.name) &&
                      (token.self_closing || is_void(token.name) || closes_itself(token.name));
        }
        if (separates) out += ' ';
        return true;
      });
  return out;
}

}  // namespace libkestrun::html_flat
