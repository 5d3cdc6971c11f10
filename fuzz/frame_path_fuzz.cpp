// The inbound frame path as a server feeds it: bytes (compressed or not) in chunks of any size
// through inflate, the length decoder and the JSON decoder. Nothing may crash or grow without
// bound, every decoded value must dump to text that parses back to an equal value, and a stage
// that failed must deliver nothing more.
//
// Input: one byte of mode, then pairs of (chunk length byte, chunk) until the data runs out.
//   mode % 3 == 0  the chunks are the compressed stream itself (fuzzing inflate)
//   mode % 3 == 1  the chunks are frames, compressed here as one zlib stream, then split alike
//   mode % 3 == 2  the chunks are frames, fed without compression
#include <fuzzer/FuzzedDataProvider.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "brelt/inflate_stream.h"
#include "brelt/json_decode_stream.h"
#include "brelt/length_decoder.h"

namespace {

using brelt::bytes;
using jsonette::Json;

// Small enough that a bomb cannot exhaust the fuzzer's memory, large enough for real frames.
constexpr uint32_t kMaxFrame = 1u << 20;
constexpr size_t kMaxInflate = 4u << 20;

bytes deflate_all(const std::vector<bytes>& chunks) {
  z_stream stream{};
  if (deflateInit(&stream, Z_DEFAULT_COMPRESSION) != Z_OK) std::abort();
  bytes in;
  for (const bytes& chunk : chunks) in.insert(in.end(), chunk.begin(), chunk.end());
  bytes out(deflateBound(&stream, in.size()) + 16);
  stream.next_in = in.data();
  stream.avail_in = static_cast<uInt>(in.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  if (deflate(&stream, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(out.size() - stream.avail_out);
  deflateEnd(&stream);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const int mode = input.ConsumeIntegral<uint8_t>() % 3;
  std::vector<size_t> sizes;
  std::vector<bytes> chunks;
  while (input.remaining_bytes() > 0) {
    size_t length = input.ConsumeIntegralInRange<size_t>(0, 255);
    chunks.push_back(input.ConsumeBytes<unsigned char>(length));
    sizes.push_back(chunks.back().size());
  }
  if (mode == 1) {
    // The same split applied to the compressed form of the frames.
    bytes whole = deflate_all(chunks);
    chunks.clear();
    size_t at = 0;
    for (size_t i = 0; at < whole.size(); ++i) {
      size_t take = std::min(i < sizes.size() ? sizes[i] : whole.size(), whole.size() - at);
      chunks.emplace_back(whole.begin() + static_cast<std::ptrdiff_t>(at),
                          whole.begin() + static_cast<std::ptrdiff_t>(at + take));
      at += take;
    }
  }

  brelt::InflateStream inflate(kMaxInflate);
  brelt::LengthDecoder frames(kMaxFrame);
  brelt::JsonDecodeStream decode;
  bool failed = false;
  auto fail = [&](brelt::Error) { failed = true; };
  inflate.on_read_error = inflate.on_write_error = fail;
  frames.on_read_error = frames.on_write_error = fail;
  decode.on_read_error = decode.on_write_error = fail;
  brelt::pipe(inflate, frames);
  brelt::pipe(frames, decode);
  decode.on_data = [&](Json value) {
    if (failed) std::abort();  // a failed stage delivers nothing more
    std::string text = value.dump();
    std::string err;
    Json again = Json::parse(text, err);
    if (!err.empty() || again != value || again.dump() != text) std::abort();
  };
  decode.on_end = [] {};

  for (bytes& chunk : chunks) {
    if (mode == 2) {
      frames.write(std::move(chunk));
    } else {
      inflate.write(std::move(chunk));
    }
  }
  if (mode == 2) {
    frames.end();
  } else {
    inflate.end();
  }
  return 0;
}
