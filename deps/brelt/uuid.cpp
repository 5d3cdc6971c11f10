#include "brelt/uuid.h"

#include <cassert>

#include "harnvik/random.h"

namespace brelt {

std::string uuid_from_bytes(std::string_view bytes, bool upper) {
  assert(bytes.size() == 16);
  static constexpr char kDigits[] = "0123456789ABCDEF0123456789abcdef";
  const char* digits = upper ? kDigits : kDigits + 16;
  std::string out;
  out.reserve(36);
  for (size_t i = 0; i < 16; ++i) {
    auto byte = static_cast<unsigned char>(bytes[i]);
    if (i == 6) byte = (byte & 0x0F) | 0x40;  // version 4
    if (i == 8) byte = (byte & 0x3F) | 0x80;  // RFC 4122 variant
    out += digits[byte >> 4];
    out += digits[byte & 0x0F];
    if (i == 3 || i == 5 || i == 7 || i == 9) out += '-';
  }
  return out;
}

std::string generate_uuid(bool upper) {
  return uuid_from_bytes(harnvik::verdane::lang::generate_secure_random_data(16), upper);
}

std::string generate_uuid_upper() { return generate_uuid(true); }
std::string generate_uuid_lower() { return generate_uuid(false); }

}  // namespace brelt
