// The plain-text walk here follows the core's general HTML-to-text conversion; it lives beside
// the signatures until the two are joined.
#include "core/foundation/signature_markup.h"

#include <gumbo.h>

namespace libkestrun::signature_markup {

namespace {

std::string collapse_spaces(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  return out;
}

bool is_inline(const GumboNode* node) {
  if (node->type != GUMBO_NODE_ELEMENT) return false;
  switch (node->v.element.tag) {
    case GUMBO_TAG_A:
    case GUMBO_TAG_SMALL:
    case GUMBO_TAG_SUB:
    case GUMBO_TAG_SUP:
    case GUMBO_TAG_I:
    case GUMBO_TAG_B:
    case GUMBO_TAG_SPAN:
      return true;
    default:
      return false;
  }
}

// `no_separator`: nothing needs to stand between the text before and this node's text.
std::string node_text(const GumboNode* node, bool no_separator) {
  if (node->type == GUMBO_NODE_TEXT) {
    std::string text = node->v.text.text;
    return collapse_spaces(no_separator ? text : " " + text);
  }
  if (node->type != GUMBO_NODE_ELEMENT) return "";
  GumboTag tag = node->v.element.tag;
  if (tag == GUMBO_TAG_STYLE || tag == GUMBO_TAG_SCRIPT) return "";
  std::string out;
  bool flag = no_separator;
  const GumboVector& children = node->v.element.children;
  for (unsigned i = 0; i < children.length; ++i) {
    const auto* child = static_cast<const GumboNode*>(children.data[i]);
    std::string text = node_text(child, flag);
    flag = child->type == GUMBO_NODE_TEXT || is_inline(child) || (!text.empty() && text.back() == ' ');
    out += text;
  }
  return out;
}

std::string trim(const std::string& text) {
  const char* blanks = " \n\t";
  size_t begin = text.find_first_not_of(blanks);
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(blanks);
  return text.substr(begin, end - begin + 1);
}

}  // namespace

std::string plain_text(const std::string& html) {
  GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
  std::string text = node_text(output->root, true);
  gumbo_destroy_output(&kGumboDefaultOptions, output);
  return trim(text);
}

std::string plain_to_html(const std::string& text, const std::string& link) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text.compare(i, 7, "kestrun") == 0 || text.compare(i, 7, "Kestrun") == 0) {
      out += link;
      i += 7;
      continue;
    }
    switch (text[i]) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '\n':
        out += "<br>";
        break;
      default:
        out += text[i];
    }
    ++i;
  }
  return out;
}

}  // namespace libkestrun::signature_markup
