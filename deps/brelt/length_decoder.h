// Splits a byte stream into frames: a 32-bit little-endian length that counts its own four bytes,
// then the payload. Passes on each payload, without the length, however the bytes were split
// across writes.
#pragma once

#include <cstdint>
#include <deque>

#include "brelt/framing_limits.h"
#include "brelt/streams.h"

namespace brelt {

class LengthDecoder : public WritableStream<bytes>, public ReadableStream<bytes> {
 public:
  explicit LengthDecoder(uint32_t max_frame_length = kDefaultMaxFrameLength);

 protected:
  // A length below 4 ("FRAME_TOO_SHORT") or above the maximum ("FRAME_TOO_LONG") cannot start a
  // frame we will read: it is reported once as a read error and everything after it is dropped,
  // since no later byte can be trusted to start a frame.
  void _write(bytes&& chunk) override;
  // Bytes of an unfinished frame at the end are a read error "FRAME_TRUNCATED" in place of the
  // end.
  void _end() override;

 private:
  bool read_length(const bytes& chunk, size_t offset);
  void hold(bytes&& chunk, size_t offset);

  uint32_t max_frame_length_;
  uint32_t frame_length_ = 0;  // 0 until the current frame's four length bytes have arrived
  uint32_t pending_size_ = 0;
  std::deque<bytes> pending_;  // the current frame's bytes so far, as they came
  bool failed_ = false;
};

}  // namespace brelt
