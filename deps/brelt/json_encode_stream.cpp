#include "brelt/json_encode_stream.h"

#include <string>

namespace brelt {

namespace {
// The signing stage appends its digest to the same chunk; reserving room for the longest one
// keeps that append from reallocating.
constexpr size_t kSignatureRoom = 64;
}  // namespace

void JsonEncodeStream::_write(jsonette::Json&& value) {
  std::string text;
  value.dump(text);
  bytes chunk;
  chunk.reserve(text.size() + kSignatureRoom);
  chunk.assign(text.begin(), text.end());
  _notify_data(std::move(chunk));
}

void JsonEncodeStream::_end() { _notify_end(); }

}  // namespace brelt
