// The core's clock, trimming, HTML to plain text, byte-table decoding and AES decryption. All
// operations are stateless and safe to call from any thread.
#pragma once

#include <time.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace libkestrun {

class Utility {
 public:
  Utility() = delete;

  // The system clock in milliseconds since 1970, truncated toward zero.
  static int64_t now_ms();
  // The local calendar time of now, and of a given instant (whole seconds).
  static struct tm local_now();
  static struct tm local_time(std::chrono::system_clock::time_point when);
  // Milliseconds from now (or from `now_ms`) until 00:00:01 local time of the next calendar day.
  // The offset of that moment comes from the zone's own rules, so days on which the clocks
  // change count their real length; a next day whose midnight does not exist starts at its
  // first existing second.
  static int64_t ms_until_tomorrow();
  static int64_t ms_until_tomorrow(int64_t now_ms);

  // The text without leading and/or trailing bytes that are in `chars`; "" when nothing is left.
  static std::string trim(const std::string& text, const std::string& chars);
  static std::string trim_left(const std::string& text, const std::string& chars);
  static std::string trim_right(const std::string& text, const std::string& chars);
  // Every run of ASCII spaces reduced to one space; other whitespace stays.
  static std::string collapse_spaces(const std::string& text);

  // The plain text of an HTML document: the text of every element but style and script (the
  // head's title included), character references decoded, runs of spaces collapsed, one space
  // after an element other than a, small, sub, sup, i, b and span, and no line breaks added;
  // trimmed of spaces, line feeds and tabs at both ends. Accepts any bytes. Neither the walk over
  // the parsed tree nor its release recurses, and each byte of text is copied once, however deep
  // the nesting. Input that nests more than 512 elements deep (where the parse would take time
  // growing with the square of the depth) is converted from its text with the markup stripped
  // (html_flat.h): the same references and spaces, in time linear in its length.
  static std::string html_to_text(const std::string& html);

  // One byte per 16-bit step: a 16-bit accumulator starts at the seed, each step is added to it
  // modulo 65536, and its low byte is the next byte.
  static std::vector<unsigned char> delta_decode(const std::vector<uint16_t>& steps, int seed);

  // AES-256-CBC with PKCS#7 padding. The plaintext, or an empty vector when the key is not 32
  // bytes, the initialisation vector not 16, or the ciphertext does not decrypt (wrong key, bad
  // padding, a length that is not a multiple of 16): never part of a plaintext.
  static std::vector<unsigned char> aes256_cbc_decrypt(const std::vector<unsigned char>& key,
                                                       const std::vector<unsigned char>& iv,
                                                       const std::vector<unsigned char>& ciphertext);
};

}  // namespace libkestrun
