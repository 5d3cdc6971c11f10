#include <gtest/gtest.h>
#include <openssl/err.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "brelt/inflate_stream.h"
#include "brelt/json_decode_stream.h"
#include "brelt/json_encode_stream.h"
#include "brelt/length_decoder.h"
#include "brelt/length_encoder.h"
#include "brelt/signing_stream.h"
#include "harnvik/strings.h"
#include "tools/sync_peer/client_frame_reader.h"
#include "tools/sync_peer/server_stream_writer.h"

namespace brelt {
namespace {

using jsonette::Json;
using sync_peer::ServerStreamWriter;
using Flush = ServerStreamWriter::Flush;

bytes to_bytes(const std::string& s) { return bytes(s.begin(), s.end()); }
std::string to_string(const bytes& b) { return std::string(b.begin(), b.end()); }

std::string hex(const unsigned char* data, size_t size) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 15];
  }
  return out;
}

// The outgoing chain as the API client builds it: encode, sign, frame.
struct Encoder {
  explicit Encoder(int digest = SigningStream::kSha256, const std::string& key = "kestrun-test-key")
      : sign(digest, key) {
    pipe(json, sign);
    pipe(sign, length);
    length.on_data = [this](bytes frame) { frames.push_back(std::move(frame)); };
    sign.on_write_error = [this](Error e) { errors.push_back(e); };
  }
  JsonEncodeStream json;
  SigningStream sign;
  LengthEncoder length;
  std::vector<bytes> frames;
  std::vector<Error> errors;
};

TEST(Framing, EncodedFrameIsLengthJsonAndHmac) {
  Encoder encoder;
  encoder.json.write(Json(Json::object{{"method", "ping"}}));
  ASSERT_EQ(encoder.frames.size(), 1u);
  const bytes& frame = encoder.frames[0];
  const std::string text = "{\"method\":\"ping\"}";
  ASSERT_EQ(frame.size(), 4 + text.size() + 32);
  EXPECT_EQ(frame[0], frame.size());
  EXPECT_EQ(frame[1], 0);
  EXPECT_EQ(frame[2], 0);
  EXPECT_EQ(frame[3], 0);
  EXPECT_EQ(std::string(frame.begin() + 4, frame.begin() + 4 + text.size()), text);
  // printf '{"method":"ping"}' | openssl dgst -sha256 -hmac kestrun-test-key
  EXPECT_EQ(hex(frame.data() + 4 + text.size(), 32),
            "5939433bd79c6c5ad0aea42d7df0019dcda979cfa973db3648a582da99a5e815");

  // The peer's own reader agrees, for a large frame whose length needs all four bytes too.
  std::string big(70000, 'x');
  encoder.json.write(Json(Json::array{Json(big)}));
  sync_peer::ClientFrameReader reader(to_bytes("kestrun-test-key"));
  std::vector<sync_peer::ClientFrame> read;
  for (const bytes& f : encoder.frames) {
    for (auto& r : reader.feed(f.data(), f.size())) read.push_back(r);
  }
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].text, text);
  EXPECT_EQ(read[1].text, "[\"" + big + "\"]");
  EXPECT_TRUE(read[0].hmac_ok && read[1].hmac_ok && read[0].json_ok && read[1].json_ok);
}

TEST(Framing, SignatureFollowsEachChunkForEveryAvailableDigest) {
  // printf 'what do ya want for nothing?' | openssl dgst -<digest> -hmac Jefe
  struct Case {
    int digest;
    std::string hmac;
  } cases[] = {
      {SigningStream::kMd5, "750c783e6ab0b503eaa86e310a5db738"},
      {SigningStream::kSha1, "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {SigningStream::kSha224, "a30e01098bc6dbbf45690f3a7e9e6d0f8bbea2a39e6148008fd05e44"},
      {SigningStream::kSha256, "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {SigningStream::kSha384,
       "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649"},
      {SigningStream::kSha512,
       "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab"
       "1a34d4a6b4"
       "b636e070a38bce737"},
      {SigningStream::kRipemd160, "dda6c0213a485a9e24f4742064a7f033b43c4069"},
  };
  const std::string data = "what do ya want for nothing?";
  for (const Case& c : cases) {
    SigningStream sign(c.digest, std::string("Jefe"));
    std::vector<bytes> out;
    sign.on_data = [&](bytes b) { out.push_back(std::move(b)); };
    sign.write(to_bytes(data));
    sign.write(to_bytes(data));  // the key is reused, not consumed
    ASSERT_EQ(out.size(), 2u) << c.digest;
    for (const bytes& b : out) {
      ASSERT_EQ(b.size(), data.size() + c.hmac.size() / 2) << c.digest;
      EXPECT_EQ(std::string(b.begin(), b.begin() + data.size()), data);
      EXPECT_EQ(hex(b.data() + data.size(), b.size() - data.size()), c.hmac) << c.digest;
    }
  }
}

TEST(Framing, UnavailableDigestOrEmptyKeyFailsEveryWriteAndSendsNothing) {
  struct Case {
    int digest;
    std::string key;
  } cases[] = {{SigningStream::kSha0, "k"}, {10, "k"}, {-1, "k"}, {SigningStream::kSha256, ""}};
  for (const Case& c : cases) {
    Encoder encoder(c.digest, c.key);
    encoder.json.write(Json("a"));
    encoder.json.write(Json("b"));
    EXPECT_TRUE(encoder.frames.empty()) << c.digest;
    ASSERT_EQ(encoder.errors.size(), 2u) << c.digest;
    EXPECT_EQ(encoder.errors[0].code, ErrorCode::PacketSigningError);
    EXPECT_EQ(encoder.errors[0].tag, "DIGEST_UNAVAILABLE");
  }
}

TEST(Framing, SettingUpAnyDigestLeavesNoOpenSslErrorBehind) {
  // Digests the system lacks fail inside OpenSSL; the reason must not outlive the constructor,
  // or the next OpenSSL caller on the loop thread would read it as its own failure.
  ERR_clear_error();
  for (int digest = SigningStream::kMd4; digest <= SigningStream::kRipemd160; ++digest) {
    SigningStream sign(digest, std::string("k"));
    EXPECT_EQ(ERR_peek_error(), 0u) << digest;
  }
}

// The incoming chain as the API client builds it: inflate, split frames, parse.
struct Decoder {
  explicit Decoder(size_t max_output = kDefaultMaxInflateOutput, uint32_t max_frame = kDefaultMaxFrameLength)
      : inflate(max_output), length(max_frame) {
    pipe(inflate, length);
    pipe(length, json);
    json.on_data = [this](Json v) { values.push_back(v.dump()); };
    json.on_end = [this] { ++ends; };
    inflate.on_write_error = [this](Error e) { write_errors.push_back(e); };
    inflate.on_read_error = [this](Error e) { read_errors.push_back(e); };
    length.on_read_error = [this](Error e) { read_errors.push_back(e); };
    json.on_read_error = [this](Error e) { read_errors.push_back(e); };
  }
  // Writes `input` cut at the given offsets.
  void write_split(const bytes& input, std::vector<size_t> cuts) {
    cuts.push_back(input.size());
    size_t from = 0;
    for (size_t to : cuts) {
      inflate.write(bytes(input.begin() + from, input.begin() + to));
      from = to;
    }
  }
  InflateStream inflate;
  LengthDecoder length;
  JsonDecodeStream json;
  std::vector<std::string> values;
  std::vector<Error> write_errors;
  std::vector<Error> read_errors;
  int ends = 0;
};

const std::vector<std::string> kMessages = {
    "{\"type\":\"hello\"}",        "[1,2,3]", "\"" + std::string(300, 'q') + "\"",
    "{\"a\":{\"b\":[true,null]}}", "7",
};

// Frames flushed in two groups and the zlib stream finished, as a server sends them.
bytes server_stream() {
  ServerStreamWriter writer;
  bytes out;
  for (size_t i = 0; i < kMessages.size(); ++i) {
    bytes part = writer.frame(kMessages[i], i == 1 ? Flush::kSync : Flush::kNone);
    out.insert(out.end(), part.begin(), part.end());
  }
  bytes tail = writer.flush(Flush::kFinish);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

TEST(Framing, DecodingGivesTheSameMessagesForEverySplit) {
  const bytes input = server_stream();
  std::vector<size_t> every_byte;
  for (size_t i = 1; i < input.size(); ++i) every_byte.push_back(i);
  const std::vector<std::vector<size_t>> splits = {
      {}, {1}, {2}, {input.size() / 2}, {input.size() - 1}, {3, 4, 5, 6}, every_byte,
  };
  for (const auto& cuts : splits) {
    Decoder decoder;
    decoder.write_split(input, cuts);
    EXPECT_EQ(decoder.values, kMessages) << "cuts: " << cuts.size();
    EXPECT_EQ(decoder.ends, 1);
  }
  for (size_t k = 1; k < input.size(); ++k) {
    Decoder decoder;
    decoder.write_split(input, {k});
    ASSERT_EQ(decoder.values, kMessages) << "cut at " << k;
    EXPECT_TRUE(decoder.write_errors.empty() && decoder.read_errors.empty());
  }
}

// Frames written straight to the length decoder, without compression.
bytes frame(uint32_t length, const std::string& payload) {
  bytes out(4 + payload.size());
  for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(length >> (8 * i));
  std::copy(payload.begin(), payload.end(), out.begin() + 4);
  return out;
}

struct Frames {
  explicit Frames(uint32_t max = kDefaultMaxFrameLength) : decoder(max) {
    decoder.on_data = [this](bytes b) { payloads.push_back(to_string(b)); };
    decoder.on_read_error = [this](Error e) { errors.push_back(e); };
  }
  void write(const bytes& b) { decoder.write(bytes(b)); }
  LengthDecoder decoder;
  std::vector<std::string> payloads;
  std::vector<Error> errors;
};

TEST(Framing, LengthDecoderJoinsAndSplitsChunks) {
  bytes first = frame(9, "hello");
  bytes second = frame(4, "");  // L = 4: an empty message
  bytes third = frame(7, "abc");
  {
    // The length itself split 1 + 3, then the payload.
    Frames f;
    f.write(bytes(first.begin(), first.begin() + 1));
    f.write(bytes(first.begin() + 1, first.begin() + 4));
    EXPECT_TRUE(f.payloads.empty());
    f.write(bytes(first.begin() + 4, first.end()));
    EXPECT_EQ(f.payloads, std::vector<std::string>{"hello"});
  }
  {
    // Two whole frames and the first byte of a third in one write; the rest later.
    Frames f;
    bytes joined = first;
    joined.insert(joined.end(), second.begin(), second.end());
    joined.push_back(third[0]);
    f.write(joined);
    EXPECT_EQ(f.payloads, (std::vector<std::string>{"hello", ""}));
    f.write(bytes(third.begin() + 1, third.end()));
    EXPECT_EQ(f.payloads, (std::vector<std::string>{"hello", "", "abc"}));
    EXPECT_TRUE(f.errors.empty());
  }
}

TEST(Framing, ImpossibleFrameLengthIsAReadErrorThatStopsTheStream) {
  struct Case {
    uint32_t length;
    uint32_t max;
    std::string tag;
  } cases[] = {
      {0, kDefaultMaxFrameLength, "FRAME_TOO_SHORT"},
      {3, kDefaultMaxFrameLength, "FRAME_TOO_SHORT"},
      {kDefaultMaxFrameLength + 1, kDefaultMaxFrameLength, "FRAME_TOO_LONG"},
      {0xffffffffu, kDefaultMaxFrameLength, "FRAME_TOO_LONG"},
      {101, 100, "FRAME_TOO_LONG"},
  };
  for (const Case& c : cases) {
    Frames f(c.max);
    f.write(frame(9, "fine!"));
    f.write(frame(c.length, "xyz"));  // the error comes with the length, not after a payload
    f.write(frame(9, "later"));
    EXPECT_EQ(f.payloads, std::vector<std::string>{"fine!"}) << c.length;
    ASSERT_EQ(f.errors.size(), 1u) << c.length;
    EXPECT_EQ(f.errors[0].code, ErrorCode::NetworkError);
    EXPECT_EQ(f.errors[0].tag, c.tag);
    EXPECT_EQ(f.errors[0].number, c.length);
  }
  Frames at_limit(100);
  at_limit.write(frame(100, std::string(96, 'z')));
  EXPECT_EQ(at_limit.payloads, std::vector<std::string>{std::string(96, 'z')});
}

// A zlib stream that needs a preset dictionary, which the server never uses.
bytes stream_with_dictionary() {
  z_stream z{};
  deflateInit(&z, Z_DEFAULT_COMPRESSION);
  const std::string dictionary = "kestrun";
  deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dictionary.data()), dictionary.size());
  bytes plain = frame(11, "kestrun");
  bytes out(256);
  z.next_in = plain.data();
  z.avail_in = static_cast<uInt>(plain.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(out.size() - z.avail_out);
  deflateEnd(&z);
  return out;
}

TEST(Framing, CompressionFaultsAreInflateWriteErrorsReportedOnce) {
  bytes header = server_stream();
  header[0] ^= 0xff;
  bytes trailer = server_stream();
  trailer.back() ^= 0xff;  // the Adler-32 check: every frame arrives before the fault shows
  struct Case {
    bytes input;
    std::vector<std::string> values;
    std::string error;
  } cases[] = {
      {header, {}, "CompressionError::Z_DATA_ERROR (-3) an unknown error has occured"},
      {trailer, kMessages, "CompressionError::Z_DATA_ERROR (-3) an unknown error has occured"},
      {stream_with_dictionary(), {}, "CompressionError::Z_NEED_DICT (2) an unknown error has occured"},
  };
  for (const Case& c : cases) {
    Decoder decoder;
    decoder.write_split(c.input, {c.input.size() - 1});
    decoder.inflate.write(bytes(c.input));  // later input is dropped, not misread as frames
    EXPECT_EQ(decoder.values, c.values) << c.error;
    ASSERT_EQ(decoder.write_errors.size(), 1u) << c.error;
    EXPECT_EQ(decoder.write_errors[0].to_string(), c.error);
    EXPECT_TRUE(decoder.read_errors.empty());
    EXPECT_EQ(decoder.ends, 0) << c.error;
  }
}

TEST(Framing, StreamEndDeliversLastOutputThenOneEnd) {
  Decoder decoder;
  decoder.write_split(server_stream(), {});
  EXPECT_EQ(decoder.values, kMessages);
  EXPECT_EQ(decoder.ends, 1);
  decoder.inflate.end();  // the connection below ends afterwards
  EXPECT_EQ(decoder.ends, 1);
}

TEST(Framing, HighlyCompressedFrameInflatesWholeInOneWrite) {
  // A few KiB of input that inflate to 1 MiB: the output must grow far beyond the first guess.
  ServerStreamWriter writer;
  std::string payload = "\"" + std::string(1 << 20, 'a') + "\"";
  bytes input = writer.frame(payload, Flush::kFinish);
  ASSERT_LT(input.size(), 64u << 10);
  Decoder decoder;
  decoder.inflate.write(bytes(input));
  ASSERT_EQ(decoder.values.size(), 1u);
  EXPECT_EQ(decoder.values[0], payload);

  // Output of exactly the limit passes; one byte less of limit gives an error, not the memory.
  Decoder at_limit(payload.size() + 4);
  at_limit.inflate.write(bytes(input));
  EXPECT_EQ(at_limit.values.size(), 1u);
  EXPECT_TRUE(at_limit.write_errors.empty());
  Decoder capped(payload.size() + 3);
  capped.inflate.write(bytes(input));
  EXPECT_TRUE(capped.values.empty());
  ASSERT_EQ(capped.write_errors.size(), 1u);
  EXPECT_EQ(capped.write_errors[0].code, ErrorCode::CompressionError);
  EXPECT_EQ(capped.write_errors[0].tag, "OUTPUT_LIMIT");
}

TEST(Framing, MalformedJsonFrameIsAReadErrorAndEndsDelivery) {
  ServerStreamWriter writer;
  bytes input = writer.frame("{\"ok\":1}");
  for (const std::string& text : {std::string("{\"broken\":"), std::string("[2]")}) {
    bytes part = writer.frame(text);
    input.insert(input.end(), part.begin(), part.end());
  }
  bytes tail = writer.flush(Flush::kSync);
  input.insert(input.end(), tail.begin(), tail.end());
  Decoder decoder;
  decoder.write_split(input, {});
  EXPECT_EQ(decoder.values, std::vector<std::string>{"{\"ok\":1}"});
  ASSERT_EQ(decoder.read_errors.size(), 1u);
  EXPECT_EQ(decoder.read_errors[0].code, ErrorCode::JsonError);
  EXPECT_EQ(decoder.read_errors[0].tag, "JSON_DECODE_ERROR");
  EXPECT_EQ(decoder.read_errors[0].number, 0);
  EXPECT_FALSE(decoder.read_errors[0].message.empty());
}

}  // namespace
}  // namespace brelt
