#include "brelt/json_decode_stream.h"

#include <string>
#include <string_view>

namespace brelt {

void JsonDecodeStream::_write(bytes&& chunk) {
  if (failed_) return;
  std::string err;
  jsonette::Json value =
      jsonette::Json::parse(std::string_view(reinterpret_cast<const char*>(chunk.data()), chunk.size()), err);
  if (!err.empty()) {
    failed_ = true;
    _notify_read_error(JsonError(0, "JSON_DECODE_ERROR", err));
    return;
  }
  _notify_data(std::move(value));
}

void JsonDecodeStream::_end() { _notify_end(); }

}  // namespace brelt
