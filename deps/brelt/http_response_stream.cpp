#include "brelt/http_response_stream.h"

#include <utility>

namespace brelt {

namespace {

HttpResponseStream* stream_of(http_parser* parser) { return static_cast<HttpResponseStream*>(parser->data); }

}  // namespace

HttpResponseStream::HttpResponseStream(size_t max_body_size) : max_body_size_(max_body_size) {
  http_parser_init(&parser_, HTTP_RESPONSE);
  parser_.data = this;
  http_parser_settings_init(&settings_);
  settings_.on_status = &HttpResponseStream::on_status;
  settings_.on_header_field = &HttpResponseStream::on_header_field;
  settings_.on_header_value = &HttpResponseStream::on_header_value;
  settings_.on_headers_complete = &HttpResponseStream::on_headers_complete;
  settings_.on_body = &HttpResponseStream::on_body;
  settings_.on_message_complete = &HttpResponseStream::on_message_complete;
}

void HttpResponseStream::_write(bytes&& chunk) {
  execute(reinterpret_cast<const char*>(chunk.data()), chunk.size());
}

void HttpResponseStream::_end() { execute(nullptr, 0); }

void HttpResponseStream::execute(const char* data, size_t length) {
  http_parser_execute(&parser_, &settings_, data, length);
  auto error = static_cast<http_errno>(parser_.http_errno);
  if (body_too_large_) {
    _notify_read_error(
        HttpError(0, "BODY_TOO_LARGE",
                  "the response body is longer than " + std::to_string(max_body_size_) + " bytes"));
  } else if (error != HPE_OK) {
    _notify_read_error(HttpError(error, http_errno_name(error), http_errno_description(error)));
  }
}

void HttpResponseStream::store_header() { metadata_.headers[header_field_] = header_value_; }

int HttpResponseStream::on_status(http_parser* parser, const char* at, size_t length) {
  HttpResponseStream* self = stream_of(parser);
  self->metadata_.http_major = parser->http_major;
  self->metadata_.http_minor = parser->http_minor;
  self->metadata_.status_code = static_cast<int32_t>(parser->status_code);
  // A reason phrase split across reads arrives in pieces.
  self->metadata_.status_text.append(at, length);
  return 0;
}

int HttpResponseStream::on_header_field(http_parser* parser, const char* at, size_t length) {
  HttpResponseStream* self = stream_of(parser);
  if (self->last_header_part_ == HeaderPart::kValue) {
    self->metadata_.headers[std::move(self->header_field_)] = std::move(self->header_value_);
    self->header_field_.assign(at, length);
  } else {
    self->header_field_.append(at, length);
  }
  self->last_header_part_ = HeaderPart::kField;
  return 0;
}

int HttpResponseStream::on_header_value(http_parser* parser, const char* at, size_t length) {
  HttpResponseStream* self = stream_of(parser);
  if (self->last_header_part_ == HeaderPart::kValue) {
    self->header_value_.append(at, length);
  } else {
    self->header_value_.assign(at, length);
  }
  self->last_header_part_ = HeaderPart::kValue;
  return 0;
}

int HttpResponseStream::on_headers_complete(http_parser* parser) {
  HttpResponseStream* self = stream_of(parser);
  if (parser->status_code / 100 == 1) {
    // An interim response (such as 103 Early Hints) is not the answer: the real head follows.
    self->interim_ = true;
    self->metadata_ = HttpMetadata();
    self->header_field_.clear();
    self->header_value_.clear();
    self->last_header_part_ = HeaderPart::kNone;
    return 0;
  }
  if (self->last_header_part_ != HeaderPart::kNone) self->store_header();
  if (self->on_metadata) self->on_metadata(std::move(self->metadata_));
  return 0;
}

int HttpResponseStream::on_body(http_parser* parser, const char* at, size_t length) {
  HttpResponseStream* self = stream_of(parser);
  self->body_size_ += length;
  if (self->max_body_size_ != 0 && self->body_size_ > self->max_body_size_) {
    // Stops the parser here; it stays in error, so nothing more is kept.
    self->body_too_large_ = true;
    return 1;
  }
  self->_notify_data(bytes(at, at + length));
  return 0;
}

int HttpResponseStream::on_message_complete(http_parser* parser) {
  HttpResponseStream* self = stream_of(parser);
  if (self->interim_) {
    self->interim_ = false;
    return 0;
  }
  self->_notify_end();
  return 0;
}

}  // namespace brelt
