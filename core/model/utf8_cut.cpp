#include "core/model/utf8_cut.h"

namespace libkestrun {

std::string utf8_prefix(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  // text[end] is the first byte left out; while it continues a sequence, the sequence it belongs
  // to started inside the prefix and goes out with it.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace libkestrun
