// The wire framing stages next to the same work done directly with jansson, OpenSSL and zlib:
// outbound encode + sign + frame of a small message, inbound inflate + split + parse of a
// snapshot-sized stream.
#include <benchmark/benchmark.h>
#include <jansson.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/params.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "brelt/inflate_stream.h"
#include "brelt/json_decode_stream.h"
#include "brelt/json_encode_stream.h"
#include "brelt/length_decoder.h"
#include "brelt/length_encoder.h"
#include "brelt/signing_stream.h"

namespace {

using brelt::bytes;
using jsonette::Json;

const std::string kKey = "0123456789abcdef0123456789abcdef";

// About 200 bytes of JSON text: a typical request envelope.
const char* kMessage =
    "{\"id\":\"6f1c2a9e-4b7d-4e0a-9c3f-2d8e5b7a1c40\",\"method\":\"ITEM_UPDATE\",\"params\":{\"acct_id\":"
    "\"a1b2c3d4\",\"item_id\":\"ITEM-00012345\",\"changes\":{\"archived\":true,\"read\":false,\"labels\":"
    "[\"inbox\",\"work\"]}}}";

void BM_OutboundFrame_Brelt(benchmark::State& state) {
  std::string err;
  const Json message = Json::parse(kMessage, err);
  brelt::JsonEncodeStream encode;
  brelt::SigningStream sign(brelt::SigningStream::kSha256, kKey);
  brelt::LengthEncoder length;
  brelt::pipe(encode, sign);
  brelt::pipe(sign, length);
  size_t total = 0;
  length.on_data = [&](bytes frame) { total += frame.size(); };
  for (auto _ : state) {
    encode.write(Json(message));
  }
  benchmark::DoNotOptimize(total);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OutboundFrame_Brelt);

void BM_OutboundFrame_Bare(benchmark::State& state) {
  json_error_t error;
  json_t* message = json_loads(kMessage, 0, &error);
  const EVP_MD* sha256 = EVP_sha256();
  size_t total = 0;
  for (auto _ : state) {
    char* text = json_dumps(message, JSON_COMPACT | JSON_SORT_KEYS);
    size_t n = std::strlen(text);
    uint32_t length = static_cast<uint32_t>(n + 4 + 32);
    std::vector<unsigned char> frame(length);
    for (int i = 0; i < 4; ++i) frame[i] = static_cast<unsigned char>(length >> (8 * i));
    std::memcpy(frame.data() + 4, text, n);
    unsigned int mac_length = 0;
    HMAC(sha256, kKey.data(), static_cast<int>(kKey.size()), frame.data() + 4, n, frame.data() + 4 + n,
         &mac_length);
    total += frame.size();
    free(text);
  }
  benchmark::DoNotOptimize(total);
  json_decref(message);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OutboundFrame_Bare);

// The same with the HMAC keyed once and reused, the cheapest way OpenSSL 3 offers.
void BM_OutboundFrame_BareKeyedMac(benchmark::State& state) {
  json_error_t error;
  json_t* message = json_loads(kMessage, 0, &error);
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
  EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string("digest", const_cast<char*>("SHA256"), 0),
                         OSSL_PARAM_construct_end()};
  EVP_MAC_init(ctx, reinterpret_cast<const unsigned char*>(kKey.data()), kKey.size(), params);
  size_t total = 0;
  for (auto _ : state) {
    char* text = json_dumps(message, JSON_COMPACT | JSON_SORT_KEYS);
    size_t n = std::strlen(text);
    uint32_t length = static_cast<uint32_t>(n + 4 + 32);
    std::vector<unsigned char> frame(length);
    for (int i = 0; i < 4; ++i) frame[i] = static_cast<unsigned char>(length >> (8 * i));
    std::memcpy(frame.data() + 4, text, n);
    size_t mac_length = 0;
    EVP_MAC_init(ctx, nullptr, 0, nullptr);
    EVP_MAC_update(ctx, frame.data() + 4, n);
    EVP_MAC_final(ctx, frame.data() + 4 + n, &mac_length, 32);
    total += frame.size();
    free(text);
  }
  benchmark::DoNotOptimize(total);
  EVP_MAC_CTX_free(ctx);
  EVP_MAC_free(mac);
  json_decref(message);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OutboundFrame_BareKeyedMac);

// A 10 MiB server stream: ~1 KiB item documents, framed, compressed as one zlib stream and cut
// into the 64 KiB pieces a socket read delivers.
struct InboundStream {
  InboundStream() {
    std::string plain;
    for (int i = 0; plain.size() < (10u << 20); ++i) {
      std::string text =
          "{\"type\":\"DOCUMENT\",\"doc\":{\"id\":\"ITEM-" + std::to_string(i) +
          "\",\"acct_id\":\"a1b2c3d4\",\"subject\":\"Quarterly report " + std::to_string(i * 7919) +
          "\",\"from\":{\"name\":\"Someone Else\",\"email\":\"someone@example.com\"},\"labels\":"
          "[\"inbox\",\"unread\"],\"date\":" +
          std::to_string(1700000000000LL + i * 1000LL) + ",\"snippet\":\"" +
          std::string(700, static_cast<char>('a' + i % 26)) + "\",\"flags\":[true,false,null]}}";
      uint32_t length = static_cast<uint32_t>(text.size() + 4);
      for (int b = 0; b < 4; ++b) plain.push_back(static_cast<char>(length >> (8 * b)));
      plain += text;
      ++frames;
    }
    plain_size = plain.size();
    uLongf bound = compressBound(plain.size());
    std::vector<unsigned char> compressed(bound);
    compress2(compressed.data(), &bound, reinterpret_cast<const unsigned char*>(plain.data()), plain.size(),
              Z_DEFAULT_COMPRESSION);
    compressed.resize(bound);
    for (size_t at = 0; at < compressed.size(); at += 65536) {
      size_t end = std::min(compressed.size(), at + 65536);
      chunks.emplace_back(compressed.begin() + at, compressed.begin() + end);
    }
  }
  std::vector<bytes> chunks;
  size_t frames = 0;
  size_t plain_size = 0;
};

const InboundStream& inbound() {
  static const InboundStream stream;
  return stream;
}

void BM_InboundStream_Brelt(benchmark::State& state) {
  const InboundStream& input = inbound();
  size_t values = 0;
  for (auto _ : state) {
    brelt::InflateStream inflate;
    brelt::LengthDecoder length;
    brelt::JsonDecodeStream decode;
    brelt::pipe(inflate, length);
    brelt::pipe(length, decode);
    decode.on_data = [&](Json) { ++values; };
    for (const bytes& chunk : input.chunks) inflate.write(bytes(chunk));
  }
  if (values != input.frames * state.iterations()) state.SkipWithError("lost frames");
  state.SetBytesProcessed(static_cast<int64_t>(input.plain_size * state.iterations()));
}
BENCHMARK(BM_InboundStream_Brelt)->Unit(benchmark::kMillisecond);

// Inflates one chunk as zlib is used directly, handing each piece of output to `take`.
template <class Take>
void inflate_chunk(z_stream& z, const bytes& chunk, Take take) {
  unsigned char out[262144];
  z.next_in = const_cast<unsigned char*>(chunk.data());
  z.avail_in = static_cast<uInt>(chunk.size());
  do {
    z.next_out = out;
    z.avail_out = sizeof(out);
    inflate(&z, Z_SYNC_FLUSH);
    take(out, sizeof(out) - z.avail_out);
  } while (z.avail_out == 0);
}

void BM_InboundStream_Bare(benchmark::State& state) {
  const InboundStream& input = inbound();
  size_t values = 0;
  for (auto _ : state) {
    z_stream z{};
    inflateInit(&z);
    std::vector<unsigned char> plain;
    size_t parsed_to = 0;
    for (const bytes& chunk : input.chunks) {
      inflate_chunk(z, chunk,
                    [&](const unsigned char* out, size_t n) { plain.insert(plain.end(), out, out + n); });
      while (plain.size() - parsed_to >= 4) {
        const unsigned char* p = plain.data() + parsed_to;
        uint32_t length = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
        if (plain.size() - parsed_to < length) break;
        json_error_t error;
        json_t* value = json_loadb(reinterpret_cast<const char*>(p + 4), length - 4, 0, &error);
        if (value) ++values;
        json_decref(value);
        parsed_to += length;
      }
      plain.erase(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(parsed_to));
      parsed_to = 0;
    }
    inflateEnd(&z);
  }
  if (values != input.frames * state.iterations()) state.SkipWithError("lost frames");
  state.SetBytesProcessed(static_cast<int64_t>(input.plain_size * state.iterations()));
}
BENCHMARK(BM_InboundStream_Bare)->Unit(benchmark::kMillisecond);

// Inflating alone, the floor under both.
void BM_InboundInflateOnly_Bare(benchmark::State& state) {
  const InboundStream& input = inbound();
  size_t produced = 0;
  for (auto _ : state) {
    z_stream z{};
    inflateInit(&z);
    for (const bytes& chunk : input.chunks) {
      inflate_chunk(z, chunk, [&](const unsigned char*, size_t n) { produced += n; });
    }
    inflateEnd(&z);
  }
  if (produced != input.plain_size * state.iterations()) state.SkipWithError("lost bytes");
  state.SetBytesProcessed(static_cast<int64_t>(input.plain_size * state.iterations()));
}
BENCHMARK(BM_InboundInflateOnly_Bare)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
