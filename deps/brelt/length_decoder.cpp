#include "brelt/length_decoder.h"

#include <cstring>
#include <string>

namespace brelt {

LengthDecoder::LengthDecoder(uint32_t max_frame_length) : max_frame_length_(max_frame_length) {}

// Takes the four length bytes from the held bytes and then `chunk` from `offset`; false when
// fewer than four have arrived.
bool LengthDecoder::read_length(const bytes& chunk, size_t offset) {
  unsigned char prefix[4];
  size_t have = 0;
  for (const bytes& held : pending_) {
    for (size_t i = 0; i < held.size() && have < 4; ++i) prefix[have++] = held[i];
  }
  for (size_t i = offset; i < chunk.size() && have < 4; ++i) prefix[have++] = chunk[i];
  if (have < 4) return false;
  frame_length_ = static_cast<uint32_t>(prefix[0]) | static_cast<uint32_t>(prefix[1]) << 8 |
                  static_cast<uint32_t>(prefix[2]) << 16 | static_cast<uint32_t>(prefix[3]) << 24;
  return true;
}

void LengthDecoder::hold(bytes&& chunk, size_t offset) {
  if (offset == chunk.size()) return;
  if (offset > 0) chunk.erase(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(offset));
  pending_size_ += static_cast<uint32_t>(chunk.size());
  pending_.push_back(std::move(chunk));
}

void LengthDecoder::_write(bytes&& chunk) {
  size_t offset = 0;
  while (!failed_ && offset < chunk.size()) {
    if (frame_length_ == 0) {
      if (!read_length(chunk, offset)) return hold(std::move(chunk), offset);
      if (frame_length_ < 4 || frame_length_ > max_frame_length_) {
        failed_ = true;
        pending_.clear();
        pending_size_ = 0;
        const bool short_frame = frame_length_ < 4;
        _notify_read_error(NetworkError(
            frame_length_, short_frame ? "FRAME_TOO_SHORT" : "FRAME_TOO_LONG",
            short_frame ? "frame length does not cover its own four bytes"
                        : "frame length exceeds " + std::to_string(max_frame_length_) + " bytes"));
        return;
      }
    }
    const size_t need = frame_length_ - pending_size_;
    const size_t available = chunk.size() - offset;
    if (available < need) return hold(std::move(chunk), offset);

    // Join the frame's bytes once, skipping the four length bytes wherever they lie.
    bytes payload(frame_length_ - 4);
    size_t skip = 4;
    size_t filled = 0;
    auto append = [&](const unsigned char* data, size_t size) {
      size_t dropped = std::min(skip, size);
      skip -= dropped;
      if (size > dropped) {
        std::memcpy(payload.data() + filled, data + dropped, size - dropped);
        filled += size - dropped;
      }
    };
    for (const bytes& held : pending_) append(held.data(), held.size());
    append(chunk.data() + offset, need);
    offset += need;
    pending_.clear();
    pending_size_ = 0;
    frame_length_ = 0;
    _notify_data(std::move(payload));
  }
}

void LengthDecoder::_end() {
  if (failed_) return;
  if (pending_size_ > 0 || frame_length_ != 0) {
    failed_ = true;
    _notify_read_error(
        NetworkError(pending_size_, "FRAME_TRUNCATED",
                     "the input ended inside a frame, " + std::to_string(pending_size_) + " bytes into it"));
    return;
  }
  _notify_end();
}

}  // namespace brelt
