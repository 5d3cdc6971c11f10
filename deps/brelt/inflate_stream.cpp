#include "brelt/inflate_stream.h"

#include <algorithm>
#include <climits>
#include <string>

#include "brelt/log.h"

namespace brelt {

namespace {

constexpr const char* kLogTag = "InflateStream";

const char* zlib_tag(int result) {
  switch (result) {
    case Z_NEED_DICT:
      return "Z_NEED_DICT";
    case Z_ERRNO:
      return "Z_ERRNO";
    case Z_STREAM_ERROR:
      return "Z_STREAM_ERROR";
    case Z_DATA_ERROR:
      return "Z_DATA_ERROR";
    case Z_MEM_ERROR:
      return "Z_MEM_ERROR";
    case Z_VERSION_ERROR:
      return "Z_VERSION_ERROR";
  }
  return "UNKNOWN";
}

// How much more output the rest of the input will probably need, judged by the ratio so far.
size_t growth_estimate(size_t produced, size_t consumed, size_t remaining, size_t current_size) {
  double estimate = consumed ? static_cast<double>(produced) * static_cast<double>(remaining) * 1.05 /
                                   static_cast<double>(consumed)
                             : 0.0;
  size_t g = estimate >= 1.0 && estimate < static_cast<double>(INT_MAX) ? static_cast<size_t>(estimate) : 1;
  // When the input is nearly used up the estimate shrinks towards nothing while zlib may still
  // hold much output; growing by at least half keeps the number of resizes logarithmic.
  return std::max(g, current_size / 2 + 1);
}

}  // namespace

InflateStream::InflateStream(size_t max_output) : max_output_(max_output) {
  if (inflateInit(&zstream_) == Z_OK) {
    initialized_ = true;
  } else {
    log_error(kLogTag, "could not be initialized");
  }
}

InflateStream::~InflateStream() {
  if (initialized_ && inflateEnd(&zstream_) != Z_OK) log_error(kLogTag, "could not be destroyed");
}

void InflateStream::fail(int result) {
  failed_ = true;
  CompressionError error(result, zlib_tag(result));
  if (result == Z_MEM_ERROR) {
    _notify_read_error(error);
  } else {
    _notify_write_error(error);
  }
}

void InflateStream::_write(bytes&& input) {
  if (failed_ || finished_ || input.empty()) return;
  if (!initialized_) {
    fail(Z_STREAM_ERROR);
    return;
  }
  const size_t n = input.size();
  // One byte of room past the limit tells output of exactly the limit from output beyond it.
  const size_t room = max_output_ + 1;
  bytes output(std::min(n * 3, room));
  zstream_.next_in = input.data();
  zstream_.avail_in = static_cast<uInt>(n);
  size_t produced = 0;
  int result;
  for (;;) {
    zstream_.next_out = output.data() + produced;
    zstream_.avail_out = static_cast<uInt>(output.size() - produced);
    result = inflate(&zstream_, Z_SYNC_FLUSH);
    produced = output.size() - zstream_.avail_out;
    if (result == Z_STREAM_END) break;
    if (result != Z_OK && result != Z_BUF_ERROR) {
      fail(result);
      return;
    }
    if (zstream_.avail_out != 0) {
      // Room left over once the input is used up (or no progress is possible) means zlib has
      // given everything this input yields.
      if (zstream_.avail_in == 0 || result == Z_BUF_ERROR) break;
      continue;
    }
    if (output.size() >= room) break;
    size_t g = growth_estimate(produced, n - zstream_.avail_in, zstream_.avail_in, output.size());
    output.resize(std::min(output.size() + g, room));
  }
  if (produced > max_output_) {
    failed_ = true;
    _notify_write_error(CompressionError(
        0, "OUTPUT_LIMIT", "inflated output of one chunk exceeds " + std::to_string(max_output_) + " bytes"));
    return;
  }
  output.resize(produced);
  _notify_data(std::move(output));
  if (result == Z_STREAM_END) {
    finished_ = true;
    _notify_end();
  }
}

void InflateStream::_end() {
  if (finished_ || failed_) return;
  failed_ = true;
  _notify_read_error(
      CompressionError(0, "TRUNCATED", "the input ended before the end of the compressed stream"));
}

}  // namespace brelt
