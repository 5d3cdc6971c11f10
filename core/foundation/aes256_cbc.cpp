#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cstdint>
#include <memory>

#include "core/foundation/utility.h"

namespace libkestrun {

std::vector<unsigned char> Utility::aes256_cbc_decrypt(const std::vector<unsigned char>& key,
                                                       const std::vector<unsigned char>& iv,
                                                       const std::vector<unsigned char>& ciphertext) {
  if (key.size() != 32 || iv.size() != 16 || ciphertext.size() > INT32_MAX) return {};
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                          &EVP_CIPHER_CTX_free);
  if (!context) return {};
  if (EVP_DecryptInit_ex(context.get(), EVP_aes_256_cbc(), nullptr, key.data(), iv.data()) != 1) return {};

  // The decryptor may release up to one block more than it was given in a single update.
  std::vector<unsigned char> plaintext(ciphertext.size() + EVP_MAX_BLOCK_LENGTH);
  int updated = 0;
  int finished = 0;
  bool ok = EVP_DecryptUpdate(context.get(), plaintext.data(), &updated, ciphertext.data(),
                              static_cast<int>(ciphertext.size())) == 1 &&
            EVP_DecryptFinal_ex(context.get(), plaintext.data() + updated, &finished) == 1;
  if (!ok) {
    // What was released before the failure is plaintext of a message that did not decrypt.
    OPENSSL_cleanse(plaintext.data(), plaintext.size());
    return {};
  }
  plaintext.resize(static_cast<size_t>(updated + finished));
  return plaintext;
}

}  // namespace libkestrun
