#include "brelt/signing_stream.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>

namespace brelt {

namespace {

// OpenSSL's names for the selectors; null where OpenSSL has no such digest at all.
const char* digest_name(int digest) {
  switch (digest) {
    case SigningStream::kMd4:
      return "MD4";
    case SigningStream::kMd5:
      return "MD5";
    case SigningStream::kSha0:
      return nullptr;
    case SigningStream::kSha1:
      return "SHA1";
    case SigningStream::kSha224:
      return "SHA224";
    case SigningStream::kSha256:
      return "SHA256";
    case SigningStream::kSha384:
      return "SHA384";
    case SigningStream::kSha512:
      return "SHA512";
    case SigningStream::kMdc2:
      return "MDC2";
    case SigningStream::kRipemd160:
      return "RIPEMD160";
  }
  return nullptr;
}

}  // namespace

SigningStream::SigningStream(int digest, const std::string& key)
    : SigningStream(digest, std::vector<unsigned char>(key.begin(), key.end())) {}

SigningStream::SigningStream(int digest, const std::vector<unsigned char>& key) : digest_(digest) {
  const char* name = digest_name(digest);
  if (name == nullptr) {
    unavailable_ = "digest selector " + std::to_string(digest) + " is not available";
    return;
  }
  if (key.empty()) {
    unavailable_ = "the signing key is empty";
    return;
  }
  // Fetching the digest first tells an unavailable digest apart from other set-up failures.
  EVP_MD* md = EVP_MD_fetch(nullptr, name, nullptr);
  if (md == nullptr) {
    // The failed fetch leaves its reason on this thread's OpenSSL error queue, where the next
    // OpenSSL user on the loop thread would take it for a failure of its own.
    ERR_clear_error();
    unavailable_ = std::string("digest ") + name + " is not available";
    return;
  }
  signature_size_ = static_cast<size_t>(EVP_MD_get_size(md));
  EVP_MD_free(md);

  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  mac_ = mac ? EVP_MAC_CTX_new(mac) : nullptr;
  EVP_MAC_free(mac);
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, const_cast<char*>(name), 0),
      OSSL_PARAM_construct_end(),
  };
  if (mac_ == nullptr || EVP_MAC_init(mac_, key.data(), key.size(), params) != 1) {
    ERR_clear_error();
    EVP_MAC_CTX_free(mac_);
    mac_ = nullptr;
    signature_size_ = 0;
    unavailable_ = std::string("HMAC-") + name + " could not be set up";
  }
}

SigningStream::~SigningStream() { EVP_MAC_CTX_free(mac_); }

void SigningStream::_write(bytes&& chunk) {
  if (mac_ == nullptr) {
    _notify_write_error(PacketSigningError(digest_, "DIGEST_UNAVAILABLE", unavailable_));
    return;
  }
  const size_t n = chunk.size();
  chunk.resize(n + signature_size_);
  size_t written = 0;
  // A null key re-initialises the context with the key it already holds.
  if (EVP_MAC_init(mac_, nullptr, 0, nullptr) != 1 || EVP_MAC_update(mac_, chunk.data(), n) != 1 ||
      EVP_MAC_final(mac_, chunk.data() + n, &written, signature_size_) != 1 || written != signature_size_) {
    ERR_clear_error();
    _notify_write_error(PacketSigningError(digest_, "HMAC_FAILED", "the chunk could not be signed"));
    return;
  }
  _notify_data(std::move(chunk));
}

void SigningStream::_end() { _notify_end(); }

}  // namespace brelt
