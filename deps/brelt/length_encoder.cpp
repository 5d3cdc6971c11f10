#include "brelt/length_encoder.h"

#include <cstdint>
#include <cstring>

namespace brelt {

void LengthEncoder::_write(bytes&& chunk) {
  const uint32_t length = static_cast<uint32_t>(chunk.size()) + 4;
  bytes frame(chunk.size() + 4);
  frame[0] = static_cast<unsigned char>(length);
  frame[1] = static_cast<unsigned char>(length >> 8);
  frame[2] = static_cast<unsigned char>(length >> 16);
  frame[3] = static_cast<unsigned char>(length >> 24);
  if (!chunk.empty()) std::memcpy(frame.data() + 4, chunk.data(), chunk.size());
  _notify_data(std::move(frame));
}

void LengthEncoder::_end() { _notify_end(); }

}  // namespace brelt
