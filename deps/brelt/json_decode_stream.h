// Parses each chunk as one JSON value.
#pragma once

#include "brelt/streams.h"
#include "jsonette/json.h"

namespace brelt {

class JsonDecodeStream : public WritableStream<bytes>, public ReadableStream<jsonette::Json> {
 public:
  JsonDecodeStream() = default;

 protected:
  // Text that does not parse is reported as a read error "JSON_DECODE_ERROR" carrying the
  // parser's message. The stream then delivers nothing more: the owner takes the error as the end
  // of the connection, and values that came after a lost one would be out of order for it.
  void _write(bytes&& chunk) override;
  void _end() override;

 private:
  bool failed_ = false;
};

}  // namespace brelt
