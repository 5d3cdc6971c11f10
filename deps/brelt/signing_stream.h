// Appends an HMAC of each chunk to the chunk itself: one signature per chunk, right after its data.
#pragma once

#include <string>
#include <vector>

#include "brelt/streams.h"

typedef struct evp_mac_ctx_st EVP_MAC_CTX;

namespace brelt {

class SigningStream : public WritableStream<bytes>, public ReadableStream<bytes> {
 public:
  // Digest selectors. OpenSSL 3 no longer offers MD4, SHA-0 and MDC2 in its default provider;
  // with those (or an unknown selector, or an empty key) every write fails with a
  // PacketSigningError and nothing unsigned is passed on.
  enum Digest : int {
    kMd4 = 0,
    kMd5 = 1,
    kSha0 = 2,
    kSha1 = 3,
    kSha224 = 4,
    kSha256 = 5,
    kSha384 = 6,
    kSha512 = 7,
    kMdc2 = 8,
    kRipemd160 = 9,
  };

  SigningStream(int digest, const std::string& key);
  SigningStream(int digest, const std::vector<unsigned char>& key);
  ~SigningStream() override;

  // Bytes appended to each chunk; 0 when the digest is unavailable.
  size_t signature_size() const { return signature_size_; }

 protected:
  void _write(bytes&& chunk) override;
  void _end() override;

 private:
  int digest_;
  EVP_MAC_CTX* mac_ = nullptr;  // keyed once; re-initialised per chunk with the same key
  size_t signature_size_ = 0;
  std::string unavailable_;  // why signing cannot work, empty when it can
};

}  // namespace brelt
