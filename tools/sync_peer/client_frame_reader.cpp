#include "tools/sync_peer/client_frame_reader.h"

#include <jansson.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

namespace sync_peer {

std::vector<unsigned char> hmac_sha256(const std::vector<unsigned char>& key, const std::string& text) {
  std::vector<unsigned char> digest(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
       reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest.data(), &length);
  digest.resize(length);
  return digest;
}

ClientFrameReader::ClientFrameReader(std::vector<unsigned char> hmac_key, uint32_t max_length)
    : key_(std::move(hmac_key)), max_length_(max_length) {}

std::vector<ClientFrame> ClientFrameReader::feed(const unsigned char* data, size_t size) {
  std::vector<ClientFrame> frames;
  if (!error_.empty()) return frames;
  buffer_.insert(buffer_.end(), data, data + size);
  size_t at = 0;
  while (buffer_.size() - at >= 4) {
    const unsigned char* p = buffer_.data() + at;
    uint32_t length = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    if (length < 4 + kSignatureSize) {
      error_ = "frame length " + std::to_string(length) + " cannot hold a signature";
      break;
    }
    if (length > max_length_) {
      error_ = "frame length " + std::to_string(length) + " is above the limit";
      break;
    }
    if (buffer_.size() - at < length) break;
    ClientFrame frame;
    frame.text.assign(reinterpret_cast<const char*>(p + 4), length - 4 - kSignatureSize);
    std::vector<unsigned char> expected = hmac_sha256(key_, frame.text);
    frame.hmac_ok = CRYPTO_memcmp(expected.data(), p + length - kSignatureSize, kSignatureSize) == 0;
    json_error_t error;
    // Reading every number as a double accepts integers beyond 64 bits, which are valid JSON.
    json_t* parsed =
        json_loadb(frame.text.data(), frame.text.size(), JSON_DECODE_ANY | JSON_DECODE_INT_AS_REAL, &error);
    frame.json_ok = parsed != nullptr;
    json_decref(parsed);
    frames.push_back(std::move(frame));
    at += length;
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(at));
  return frames;
}

}  // namespace sync_peer
