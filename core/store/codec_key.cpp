#include "core/store/codec_key.h"

#include <openssl/crypto.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace libkestrun::internal {
namespace {

constexpr int kClearBegin = 16;  // page 1: page size, versions, reserve, payload fractions
constexpr int kClearEnd = 24;

bool has_prefix(const uint8_t* key, int len, const char* prefix, int min_len) {
  return len >= min_len && std::memcmp(key, prefix, std::strlen(prefix)) == 0;
}

void rc4_keystream(const uint8_t* material, uint32_t pgno, const uint8_t* nonce, int nonce_length,
                   uint8_t* out, int len) {
  uint8_t p[4 + 255];
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(pgno >> (8 * i));
  std::memcpy(p + 4, nonce, nonce_length);
  const int plen = 4 + nonce_length;
  uint8_t s[256];
  uint8_t k[256];
  for (int i = 0; i < 256; ++i) {
    s[i] = static_cast<uint8_t>(i);
    k[i] = material[i] ^ p[i % plen];
  }
  unsigned j = 0;
  for (int n = 0; n < 512; ++n) {
    int i = n % 256;
    j = (j + s[i] + k[i]) % 256;
    std::swap(s[i], s[j]);
  }
  for (int m = 0; m < len; ++m) {
    int i = (m + 1) % 256;
    j = (j + s[i]) % 256;
    std::swap(s[i], s[j]);
    out[m] = s[(s[i] + s[j]) % 256];
  }
  OPENSSL_cleanse(k, sizeof k);
  OPENSSL_cleanse(s, sizeof s);
}

}  // namespace

CodecKey CodecKey::parse(const void* key_bytes, int len) {
  CodecKey key;
  if (!key_bytes || len <= 0) return key;
  const auto* bytes = static_cast<const uint8_t*>(key_bytes);
  if (has_prefix(bytes, len, "rc4:", 5)) {
    key.cipher = CodecCipher::kRc4;
    key.prefix_length = 4;
  } else if (has_prefix(bytes, len, "aes128:", 8)) {
    key.cipher = CodecCipher::kAes128;
    key.prefix_length = 7;
  } else if (has_prefix(bytes, len, "aes256:", 8)) {
    key.cipher = CodecCipher::kAes256;
    key.prefix_length = 7;
  } else {
    key.cipher = CodecCipher::kAes128;
  }
  std::memcpy(key.text.data(), bytes, key.prefix_length);
  const int length = key.cipher_key_length();
  const int used = std::min(length, len - key.prefix_length);
  for (int i = 0; i < length; ++i) key.text[key.prefix_length + i] = bytes[key.prefix_length + i % used];
  key.stored_length = static_cast<uint8_t>(key.prefix_length + used);
  key.no_key = false;
  return key;
}

CodecKey::~CodecKey() { OPENSSL_cleanse(text.data(), text.size()); }

int CodecKey::cipher_key_length() const {
  switch (cipher) {
    case CodecCipher::kRc4:
      return 256;
    case CodecCipher::kAes128:
      return 16;
    case CodecCipher::kAes256:
      return 32;
  }
  return 0;
}

PageCipher::PageCipher(const CodecKey& key) : key_(key) {
  if (key_.no_key || key_.cipher == CodecCipher::kRc4) return;
  aesni_ = AesniOfb::make(key_.cipher_key(), key_.cipher_key_length());
  if (aesni_) return;
  aes_ = EVP_CIPHER_CTX_new();
  const EVP_CIPHER* cipher = key_.cipher == CodecCipher::kAes128 ? EVP_aes_128_ofb() : EVP_aes_256_ofb();
  if (!aes_ || EVP_EncryptInit_ex(aes_, cipher, nullptr, key_.cipher_key(), nullptr) != 1) {
    EVP_CIPHER_CTX_free(aes_);
    throw std::bad_alloc();
  }
}

PageCipher::~PageCipher() { EVP_CIPHER_CTX_free(aes_); }

bool PageCipher::apply(uint32_t pgno, const uint8_t* nonce, int nonce_length, const uint8_t* in, uint8_t* out,
                       int len) {
  if (key_.cipher == CodecCipher::kRc4) {
    // The keystream goes through `out` first, so `in` must be read before it is overwritten.
    uint8_t stream[65536];
    rc4_keystream(key_.cipher_key(), pgno, nonce, nonce_length, stream, len);
    for (int i = 0; i < len; ++i) out[i] = in[i] ^ stream[i];
    return true;
  }
  uint8_t iv[16] = {};
  for (int i = 0; i < 4; ++i) iv[i] = static_cast<uint8_t>(pgno >> (8 * i));
  std::memcpy(iv + 4, nonce, std::min(nonce_length, 12));
  if (aesni_) {
    aesni_->apply(iv, in, out, len);
    return true;
  }
  int written = 0;
  // Output feedback over a key that is already set up: only the IV changes per page.
  return EVP_EncryptInit_ex(aes_, nullptr, nullptr, nullptr, iv) == 1 &&
         EVP_EncryptUpdate(aes_, out, &written, in, len) == 1;
}

bool PageCipher::encrypt_page(uint32_t pgno, const uint8_t* plain, uint8_t* out, int page_size, int reserve) {
  const int usable = page_size - reserve;
  uint8_t* nonce = out + usable;
  if (reserve > 0) sqlite3_randomness(reserve, nonce);
  if (!apply(pgno, nonce, reserve, plain, out, usable)) return false;
  if (pgno == 1) std::memcpy(out + kClearBegin, plain + kClearBegin, kClearEnd - kClearBegin);
  return true;
}

bool PageCipher::decrypt_page(uint32_t pgno, uint8_t* page, int page_size, int reserve, int length) {
  const int usable = page_size - reserve;
  uint8_t clear[kClearEnd - kClearBegin];
  if (pgno == 1) std::memcpy(clear, page + kClearBegin, sizeof clear);
  if (!apply(pgno, page + usable, reserve, page, page, std::min(length, usable))) return false;
  if (pgno == 1 && length > kClearBegin) {
    std::memcpy(page + kClearBegin, clear, std::min<int>(sizeof clear, length - kClearBegin));
  }
  return true;
}

}  // namespace libkestrun::internal
