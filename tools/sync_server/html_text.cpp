#include "tools/sync_server/html_text.h"

namespace sync_server {

std::string html_text(const std::string& html, size_t limit) {
  std::string text;
  bool in_tag = false;
  for (char c : html) {
    if (c == '<') in_tag = true;
    if (!in_tag && !(c == ' ' && (text.empty() || text.back() == ' '))) text += c;
    if (c == '>') {
      in_tag = false;
      if (!text.empty() && text.back() != ' ') text += ' ';
    }
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  if (limit > 3 && text.size() > limit) text = text.substr(0, limit - 3) + "...";
  return text;
}

}  // namespace sync_server
