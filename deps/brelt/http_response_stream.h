// Parses one HTTP/1.x response with http-parser: the head goes to `on_metadata` once the headers
// are complete (interim 1xx responses before it are passed over), the body bytes to the readable side, and
// the end of the message to `on_end`. A parse error raises HttpError on `on_read_error` for the chunk that
// caused it and for every later one: the parser stays in error.
#pragma once

#include <http_parser.h>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "brelt/streams.h"

namespace brelt {

// The head of a response.
struct HttpMetadata {
  int32_t http_major = 0;
  int32_t http_minor = 0;
  int32_t status_code = 0;
  std::string status_text;
  // Names as received (no case folding); a repeated name keeps its last value.
  std::unordered_map<std::string, std::string> headers;
};

class HttpResponseStream : public WritableStream<bytes, Error>, public ReadableStream<bytes, Error> {
 public:
  // A body longer than `max_body_size` bytes (0: no limit) is an HttpError "BODY_TOO_LARGE", after
  // which the stream stays in error.
  explicit HttpResponseStream(size_t max_body_size = 0);

  std::function<void(HttpMetadata&&)> on_metadata;

 protected:
  void _write(bytes&& chunk) override;
  // The end of input, which completes a body that lasts until the connection closes.
  void _end() override;

 private:
  enum class HeaderPart : int32_t { kNone = 0, kValue = 1, kField = 2 };

  static int on_status(http_parser* parser, const char* at, size_t length);
  static int on_header_field(http_parser* parser, const char* at, size_t length);
  static int on_header_value(http_parser* parser, const char* at, size_t length);
  static int on_headers_complete(http_parser* parser);
  static int on_body(http_parser* parser, const char* at, size_t length);
  static int on_message_complete(http_parser* parser);

  void execute(const char* data, size_t length);
  void store_header();

  http_parser parser_;
  http_parser_settings settings_;
  HeaderPart last_header_part_ = HeaderPart::kNone;
  HttpMetadata metadata_;
  std::string header_field_;
  std::string header_value_;
  size_t max_body_size_;
  size_t body_size_ = 0;
  bool body_too_large_ = false;
  bool interim_ = false;  // the message being parsed is a 1xx response
};

}  // namespace brelt
