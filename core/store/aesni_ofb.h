// AES-128 and AES-256 in output-feedback mode on the processor's AES instructions: the page
// cipher's hot path. A page's keystream is a chain of block encryptions, each waiting for the one
// before, so its cost is the latency of the rounds; these keep the round keys in registers and
// pay no call or parameter handling per block or per page. Not for concurrent use.
#pragma once

#include <cstdint>
#include <memory>

namespace libkestrun::internal {

class AesniOfb {
 public:
  // Null when the processor has no AES instructions (or `key_bytes` is neither 16 nor 32); the
  // caller then goes through OpenSSL.
  static std::unique_ptr<AesniOfb> make(const uint8_t* key, int key_bytes);
  ~AesniOfb();

  // XORs the keystream that starts from `iv` over in[0, len) into out (which may equal in).
  void apply(const uint8_t iv[16], const uint8_t* in, uint8_t* out, int len) const;

 private:
  AesniOfb() = default;

  alignas(16) uint8_t round_keys_[15][16] = {};
  int rounds_ = 0;
};

}  // namespace libkestrun::internal
