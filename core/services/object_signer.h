// Signs the fields of a resource request (full bodies, attachments, uploads) for the resource
// servers, which do not see the sync connection. The signature is the MD5, in hex, of the key
// bytes, the canonical text of the fields and the nonce (the time in milliseconds, as decimal
// text), with nothing between them.
//
// Canonical text: null is "null", a number its value truncated toward zero (as a signed 64-bit
// integer), a boolean "1" or "0", a string its bytes as they are, an array its elements' texts
// joined by ",", an object "key:text" for each member in byte order of the keys, joined by ",".
// Nothing is quoted or escaped, so the text does not tell every pair of values apart; the servers
// expect exactly this form.
//
// A value class: no state beyond the key and the clock; any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "jsonette/json.h"

namespace libkestrun {

class ObjectSigner {
 public:
  // Milliseconds since 1970; tests pin it.
  using Clock = std::function<int64_t()>;

  // The key is raw bytes of any value and length. Without a clock the system clock is used.
  explicit ObjectSigner(const std::vector<uint8_t>& key, Clock clock = nullptr);
  explicit ObjectSigner(std::string key, Clock clock = nullptr);

  static std::string canonicalText(const jsonette::Json& value);

  // (nonce, digest): the nonce is the current time in milliseconds as decimal text, the digest 32
  // lower-case hexadecimal characters.
  std::pair<std::string, std::string> sign(const jsonette::Json& value) const;

 private:
  std::string key_;
  Clock clock_;
};

}  // namespace libkestrun
