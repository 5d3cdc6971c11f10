#include "core/store/aesni_ofb.h"

#include <openssl/crypto.h>

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace libkestrun::internal {

#if defined(__x86_64__)
namespace {

// One step of the FIPS-197 key expansion: `previous` with each word folded into the next, then
// XORed with the word that `assist` (from aeskeygenassist) holds in every lane.
__attribute__((target("aes,sse2"))) __m128i expand(__m128i previous, __m128i assist) {
  previous = _mm_xor_si128(previous, _mm_slli_si128(previous, 4));
  previous = _mm_xor_si128(previous, _mm_slli_si128(previous, 4));
  previous = _mm_xor_si128(previous, _mm_slli_si128(previous, 4));
  return _mm_xor_si128(previous, assist);
}

// The round constant must be an immediate.
template <int rcon>
__attribute__((target("aes,sse2"))) __m128i rot_word(__m128i key) {
  return _mm_shuffle_epi32(_mm_aeskeygenassist_si128(key, rcon), 0xFF);
}

__attribute__((target("aes,sse2"))) __m128i sub_word(__m128i key) {
  return _mm_shuffle_epi32(_mm_aeskeygenassist_si128(key, 0), 0xAA);
}

__attribute__((target("aes,sse2"))) void expand_128(const uint8_t* key, __m128i* k) {
  k[0] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key));
  k[1] = expand(k[0], rot_word<0x01>(k[0]));
  k[2] = expand(k[1], rot_word<0x02>(k[1]));
  k[3] = expand(k[2], rot_word<0x04>(k[2]));
  k[4] = expand(k[3], rot_word<0x08>(k[3]));
  k[5] = expand(k[4], rot_word<0x10>(k[4]));
  k[6] = expand(k[5], rot_word<0x20>(k[5]));
  k[7] = expand(k[6], rot_word<0x40>(k[6]));
  k[8] = expand(k[7], rot_word<0x80>(k[7]));
  k[9] = expand(k[8], rot_word<0x1B>(k[8]));
  k[10] = expand(k[9], rot_word<0x36>(k[9]));
}

__attribute__((target("aes,sse2"))) void expand_256(const uint8_t* key, __m128i* k) {
  k[0] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key));
  k[1] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key + 16));
  k[2] = expand(k[0], rot_word<0x01>(k[1]));
  k[3] = expand(k[1], sub_word(k[2]));
  k[4] = expand(k[2], rot_word<0x02>(k[3]));
  k[5] = expand(k[3], sub_word(k[4]));
  k[6] = expand(k[4], rot_word<0x04>(k[5]));
  k[7] = expand(k[5], sub_word(k[6]));
  k[8] = expand(k[6], rot_word<0x08>(k[7]));
  k[9] = expand(k[7], sub_word(k[8]));
  k[10] = expand(k[8], rot_word<0x10>(k[9]));
  k[11] = expand(k[9], sub_word(k[10]));
  k[12] = expand(k[10], rot_word<0x20>(k[11]));
  k[13] = expand(k[11], sub_word(k[12]));
  k[14] = expand(k[12], rot_word<0x40>(k[13]));
}

template <int rounds>
__attribute__((target("aes,sse2"), always_inline)) inline __m128i encrypt(__m128i block, const __m128i* k) {
  block = _mm_xor_si128(block, k[0]);
#pragma GCC unroll 14
  for (int r = 1; r < rounds; ++r) block = _mm_aesenc_si128(block, k[r]);
  return _mm_aesenclast_si128(block, k[rounds]);
}

template <int rounds>
__attribute__((target("aes,sse2"))) void ofb(const __m128i* keys, const uint8_t* iv, const uint8_t* in,
                                             uint8_t* out, int len) {
  __m128i k[rounds + 1];
#pragma GCC unroll 15
  for (int r = 0; r <= rounds; ++r) k[r] = _mm_load_si128(keys + r);
  __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(iv));
  int done = 0;
  for (; len - done >= 16; done += 16) {
    block = encrypt<rounds>(block, k);
    __m128i data = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + done), _mm_xor_si128(data, block));
  }
  if (done < len) {
    block = encrypt<rounds>(block, k);
    alignas(16) uint8_t stream[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(stream), block);
    for (int i = done; i < len; ++i) out[i] = in[i] ^ stream[i - done];
  }
}

}  // namespace

std::unique_ptr<AesniOfb> AesniOfb::make(const uint8_t* key, int key_bytes) {
  if ((key_bytes != 16 && key_bytes != 32) || !__builtin_cpu_supports("aes")) return nullptr;
  std::unique_ptr<AesniOfb> cipher(new AesniOfb);
  auto* keys = reinterpret_cast<__m128i*>(cipher->round_keys_);
  if (key_bytes == 16) {
    expand_128(key, keys);
    cipher->rounds_ = 10;
  } else {
    expand_256(key, keys);
    cipher->rounds_ = 14;
  }
  return cipher;
}

void AesniOfb::apply(const uint8_t iv[16], const uint8_t* in, uint8_t* out, int len) const {
  const auto* keys = reinterpret_cast<const __m128i*>(round_keys_);
  if (rounds_ == 10) {
    ofb<10>(keys, iv, in, out, len);
  } else {
    ofb<14>(keys, iv, in, out, len);
  }
}

#else

std::unique_ptr<AesniOfb> AesniOfb::make(const uint8_t*, int) { return nullptr; }
void AesniOfb::apply(const uint8_t*, const uint8_t*, uint8_t*, int) const {}

#endif

AesniOfb::~AesniOfb() { OPENSSL_cleanse(round_keys_, sizeof round_keys_); }

}  // namespace libkestrun::internal
