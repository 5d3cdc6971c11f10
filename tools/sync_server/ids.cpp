#include "tools/sync_server/ids.h"

#include <openssl/rand.h>

#include <stdexcept>
#include <vector>

namespace sync_server {

namespace {

std::vector<unsigned char> random_bytes(size_t count) {
  std::vector<unsigned char> bytes(count);
  if (RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) throw std::runtime_error("no random bytes");
  return bytes;
}

std::string hex(const std::vector<unsigned char>& bytes, const char* digits) {
  std::string text;
  for (unsigned char byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

}  // namespace

std::string random_hex(size_t bytes) { return hex(random_bytes(bytes), "0123456789abcdef"); }

std::string random_uuid() {
  std::vector<unsigned char> bytes = random_bytes(16);
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
  const std::string digits = hex(bytes, "0123456789ABCDEF");
  std::string text;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i == 8 || i == 12 || i == 16 || i == 20) text += '-';
    text += digits[i];
  }
  return text;
}

}  // namespace sync_server
