// UTF-8 decoding.
#pragma once

#include <cstddef>
#include <string_view>

namespace glyphet {

// The code point at `pos`, advancing `pos` past it by at least one byte. A malformed or
// truncated sequence sets `error` and yields U+FFFD, consuming one byte.
char32_t utf8_decode(std::string_view text, size_t& pos, bool& error);

}  // namespace glyphet
