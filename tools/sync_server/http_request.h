// The little of HTTP/1.1 the resource side needs: one request per connection, its body sized by
// Content-Length (no chunked bodies), and the three ways clients send fields: a JSON object,
// URL-encoded pairs and multipart/form-data (whose file part is kept apart).
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>

namespace sync_server {

struct HttpRequest {
  std::string method;
  std::string path;                            // without the query
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
};

// Reads a request from the start of `bytes`. Empty while more bytes are needed; `error` is set
// (and the result empty) when the bytes cannot be a request or its body exceeds `max_body`.
std::optional<HttpRequest> parse_http_request(const std::string& bytes, size_t max_body, std::string* error);

struct FormData {
  std::map<std::string, std::string> fields;
  std::string file_name;  // the file part's name, empty when there is none
  std::string file;       // its bytes
};

// The request's fields by its Content-Type; false when the body does not match its type.
bool parse_form(const HttpRequest& request, FormData* form);

// Percent-decoding of one path segment or form value ("+" is a space only in forms).
std::string url_decode(const std::string& text, bool plus_is_space);

std::string http_response(int status, const std::string& content_type, const std::string& body);

}  // namespace sync_server
