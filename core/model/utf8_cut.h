// Cutting texts to a byte budget without splitting a character: jansson refuses a text that is
// not valid UTF-8, and a document would silently lose a key whose value was cut mid-character.
#pragma once

#include <cstddef>
#include <string>

namespace libkestrun {

// The longest prefix of `text` of at most `limit` bytes that does not end inside a multi-byte
// UTF-8 sequence. A text within the limit comes back whole.
std::string utf8_prefix(const std::string& text, size_t limit);

}  // namespace libkestrun
