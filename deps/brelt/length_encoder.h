// Prefixes each chunk with its frame length: 32 bits, least significant byte first, counting the
// four length bytes themselves. Every chunk becomes exactly one frame.
#pragma once

#include "brelt/streams.h"

namespace brelt {

class LengthEncoder : public WritableStream<bytes>, public ReadableStream<bytes> {
 public:
  LengthEncoder() = default;

 protected:
  void _write(bytes&& chunk) override;
  void _end() override;
};

}  // namespace brelt
