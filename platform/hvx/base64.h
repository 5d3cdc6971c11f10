// Base64 and digests of the platform framework.
#pragma once

#include <string>
#include <string_view>

// Standard Base64 (RFC 4648, with padding) of the bytes.
std::string hvx_base64_encode(std::string_view bytes);

// MD5 digest of the bytes (16 raw bytes).
class CryptoHashMD5 {
 public:
  static std::string digest(std::string_view bytes);
};
