// Inflates the server's byte stream, which is one zlib stream for the whole connection, and passes
// on what each written chunk yields. Frame boundaries are not its concern.
#pragma once

#include <zlib.h>

#include <cstddef>

#include "brelt/framing_limits.h"
#include "brelt/streams.h"

namespace brelt {

class InflateStream : public WritableStream<bytes, CompressionError>,
                      public ReadableStream<bytes, CompressionError> {
 public:
  explicit InflateStream(size_t max_output = kDefaultMaxInflateOutput);
  ~InflateStream() override;

 protected:
  // A zlib failure is reported once (Z_MEM_ERROR as a read error, every other as a write error)
  // and so is output beyond `max_output` for one chunk ("OUTPUT_LIMIT", a write error). The
  // chunk's output is dropped and so is all later input: bytes after a gap would only be
  // misread as frames. The end of the zlib stream calls `on_end`, once. An end of the input
  // before the end of the zlib stream is a read error "TRUNCATED", not an end: the server's last
  // frames may be missing.
  void _write(bytes&& input) override;
  void _end() override;

 private:
  void fail(int result);

  z_stream zstream_{};
  bool initialized_ = false;
  bool failed_ = false;
  bool finished_ = false;  // the zlib stream has ended and `on_end` was called
  size_t max_output_;
};

}  // namespace brelt
