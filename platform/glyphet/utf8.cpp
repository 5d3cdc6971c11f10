#include "glyphet/utf8.h"

namespace glyphet {

char32_t utf8_decode(std::string_view text, size_t& pos, bool& error) {
  error = false;
  if (pos >= text.size()) {
    error = true;
    ++pos;
    return U'\uFFFD';
  }
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  unsigned char lead = byte(pos);
  size_t length;
  char32_t cp;
  char32_t min;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, cp = lead & 0x07, min = 0x10000;
  } else {
    error = true;
    ++pos;
    return U'\uFFFD';
  }
  if (pos + length > text.size()) {
    error = true;
    ++pos;
    return U'\uFFFD';
  }
  for (size_t i = 1; i < length; ++i) {
    unsigned char c = byte(pos + i);
    if ((c & 0xC0) != 0x80) {
      error = true;
      ++pos;
      return U'\uFFFD';
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    error = true;
    ++pos;
    return U'\uFFFD';
  }
  pos += length;
  return cp;
}

}  // namespace glyphet
