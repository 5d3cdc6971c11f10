// Turns each JSON value into one chunk of its compact text.
#pragma once

#include "brelt/streams.h"
#include "jsonette/json.h"

namespace brelt {

class JsonEncodeStream : public WritableStream<jsonette::Json>, public ReadableStream<bytes> {
 public:
  JsonEncodeStream() = default;

 protected:
  void _write(jsonette::Json&& value) override;
  void _end() override;
};

}  // namespace brelt
