// Reads the client's frames: a 32-bit little-endian length that counts its own four bytes, the
// JSON text, then a 32-byte HMAC-SHA256 of that text. Written apart from the client's stream
// stages on purpose.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sync_peer {

inline constexpr size_t kSignatureSize = 32;

struct ClientFrame {
  std::string text;      // the JSON text as sent
  bool hmac_ok = false;  // the signature matched the peer's key
  bool json_ok = false;  // the text parsed as JSON
};

class ClientFrameReader {
 public:
  // Frames longer than `max_length` bytes (prefix and signature included) are refused.
  explicit ClientFrameReader(std::vector<unsigned char> hmac_key, uint32_t max_length = UINT32_MAX);

  // Adds received bytes and returns the frames they complete. After a length that cannot hold a
  // signature, or one above the maximum, `error()` says so and nothing more is read.
  std::vector<ClientFrame> feed(const unsigned char* data, size_t size);
  const std::string& error() const { return error_; }

 private:
  std::vector<unsigned char> key_;
  uint32_t max_length_;
  std::vector<unsigned char> buffer_;
  std::string error_;
};

// HMAC-SHA256 of `text` under `key`, as the peer computes it.
std::vector<unsigned char> hmac_sha256(const std::vector<unsigned char>& key, const std::string& text);

}  // namespace sync_peer
