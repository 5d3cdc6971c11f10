// Keys and page ciphers of the encrypting file layer. A page keeps a nonce in SQLite's reserved
// bytes at its end; a keystream made from the key, the page number and that nonce is XORed over
// the rest of the page. Bytes 16..23 of page 1 stay in the clear so that SQLite can read the page
// size and the reserved-byte count before anything is decrypted.
#pragma once

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <memory>

#include "core/store/aesni_ofb.h"

namespace libkestrun::internal {

enum class CodecCipher : uint8_t { kRc4 = 0, kAes128 = 1, kAes256 = 2 };

// One parsed key: "rc4:", "aes128:" or "aes256:" select the cipher, any other key is AES-128
// material. The used key bytes repeat to fill the cipher's key length.
struct CodecKey {
  static CodecKey parse(const void* key, int len);
  CodecKey() = default;
  CodecKey(const CodecKey& other) = default;
  CodecKey& operator=(const CodecKey& other) = default;
  ~CodecKey();

  // Reserved bytes per page for a database created under this key.
  int reserve() const { return cipher == CodecCipher::kRc4 ? 4 : 12; }
  int cipher_key_length() const;
  const uint8_t* cipher_key() const { return text.data() + prefix_length; }

  uint8_t stored_length = 0;  // prefix plus the key bytes used
  bool no_key = true;         // an empty key: pages pass unchanged
  CodecCipher cipher = CodecCipher::kRc4;
  uint8_t prefix_length = 0;
  std::array<uint8_t, 264> text{};  // the prefix, then the cipher key
};

// Makes page keystreams under one key, set up once: each page only changes the IV. Not for
// concurrent use.
class PageCipher {
 public:
  // Throws std::bad_alloc when the cipher library cannot set the key up.
  explicit PageCipher(const CodecKey& key);
  ~PageCipher();
  PageCipher(const PageCipher&) = delete;
  PageCipher& operator=(const PageCipher&) = delete;

  const CodecKey& key() const { return key_; }

  // Encrypts a whole plain page into `out`, with a fresh nonce in its last `reserve` bytes.
  // False only when the cipher library fails.
  bool encrypt_page(uint32_t pgno, const uint8_t* plain, uint8_t* out, int page_size, int reserve);
  // Decrypts the first `length` bytes of a stored page in place (the nonce stays at its end).
  bool decrypt_page(uint32_t pgno, uint8_t* page, int page_size, int reserve, int length);

 private:
  // XORs the keystream of (pgno, nonce) over in[0, len) into out (which may equal in).
  bool apply(uint32_t pgno, const uint8_t* nonce, int nonce_length, const uint8_t* in, uint8_t* out, int len);

  CodecKey key_;
  std::unique_ptr<AesniOfb> aesni_;  // AES on the processor's instructions, when it has them
  EVP_CIPHER_CTX* aes_ = nullptr;    // otherwise AES through OpenSSL
};

}  // namespace libkestrun::internal
