#include "tools/sync_server/http_request.h"

#include <cctype>
#include <cstdlib>

#include "tools/sync_server/json.h"

namespace sync_server {

namespace {

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value of `name` in a header such as `multipart/form-data; boundary=x`.
std::string header_parameter(const std::string& header, const std::string& name) {
  size_t at = lower(header).find(name + "=");
  if (at == std::string::npos) return "";
  std::string value = header.substr(at + name.size() + 1);
  value = value.substr(0, value.find(';'));
  value = trim(value);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  return value;
}

bool parse_multipart(const std::string& body, const std::string& boundary, FormData* form) {
  if (boundary.empty()) return false;
  const std::string delimiter = "--" + boundary;
  size_t at = body.find(delimiter);
  if (at == std::string::npos) return false;
  for (;;) {
    at += delimiter.size();
    if (body.compare(at, 2, "--") == 0) return true;  // the closing delimiter
    if (body.compare(at, 2, "\r\n") != 0) return false;
    at += 2;
    size_t headers_end = body.find("\r\n\r\n", at);
    if (headers_end == std::string::npos) return false;
    const std::string headers = body.substr(at, headers_end - at);
    size_t next = body.find("\r\n" + delimiter, headers_end + 4);
    if (next == std::string::npos) return false;
    const std::string content = body.substr(headers_end + 4, next - headers_end - 4);
    std::string disposition;
    size_t line_start = 0;
    while (line_start <= headers.size()) {
      size_t line_end = headers.find("\r\n", line_start);
      if (line_end == std::string::npos) line_end = headers.size();
      std::string line = headers.substr(line_start, line_end - line_start);
      if (lower(line).rfind("content-disposition:", 0) == 0) disposition = line;
      line_start = line_end + 2;
    }
    const std::string name = header_parameter(disposition, "name");
    const std::string file_name = header_parameter(disposition, "filename");
    if (!file_name.empty()) {
      form->file_name = file_name;
      form->file = content;
    } else if (!name.empty()) {
      form->fields[name] = content;
    }
    at = next + 2;
  }
}

}  // namespace

std::string url_decode(const std::string& text, bool plus_is_space) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() + 0 && hex_digit(text[i + 1]) >= 0 &&
        hex_digit(text[i + 2]) >= 0) {
      out += static_cast<char>(hex_digit(text[i + 1]) * 16 + hex_digit(text[i + 2]));
      i += 2;
    } else if (plus_is_space && text[i] == '+') {
      out += ' ';
    } else {
      out += text[i];
    }
  }
  return out;
}

std::optional<HttpRequest> parse_http_request(const std::string& bytes, size_t max_body, std::string* error) {
  size_t head_end = bytes.find("\r\n\r\n");
  if (head_end == std::string::npos) {
    if (bytes.size() > 64 * 1024) *error = "request head too long";
    return std::nullopt;
  }
  HttpRequest request;
  size_t line_end = bytes.find("\r\n");
  const std::string request_line = bytes.substr(0, line_end);
  size_t space = request_line.find(' ');
  size_t second = space == std::string::npos ? space : request_line.find(' ', space + 1);
  if (second == std::string::npos) {
    *error = "bad request line";
    return std::nullopt;
  }
  request.method = request_line.substr(0, space);
  request.path = request_line.substr(space + 1, second - space - 1);
  request.path = request.path.substr(0, request.path.find('?'));
  for (size_t at = line_end + 2; at < head_end;) {
    size_t end = bytes.find("\r\n", at);
    const std::string line = bytes.substr(at, end - at);
    size_t colon = line.find(':');
    if (colon != std::string::npos)
      request.headers[lower(trim(line.substr(0, colon)))] = trim(line.substr(colon + 1));
    at = end + 2;
  }
  if (request.headers.count("transfer-encoding")) {
    *error = "chunked bodies are not served";
    return std::nullopt;
  }
  size_t length = 0;
  if (auto found = request.headers.find("content-length"); found != request.headers.end()) {
    char* end = nullptr;
    unsigned long long value = std::strtoull(found->second.c_str(), &end, 10);
    if (found->second.empty() || *end != '\0' || value > max_body) {
      *error = "bad or too large Content-Length";
      return std::nullopt;
    }
    length = static_cast<size_t>(value);
  }
  if (bytes.size() - head_end - 4 < length) return std::nullopt;
  request.body = bytes.substr(head_end + 4, length);
  return request;
}

bool parse_form(const HttpRequest& request, FormData* form) {
  auto found = request.headers.find("content-type");
  const std::string type = found == request.headers.end() ? "" : found->second;
  const std::string kind = lower(trim(type.substr(0, type.find(';'))));
  if (kind == "application/json") {
    JsonPtr object = json_parse(request.body);
    if (!json_is_object(object.get())) return false;
    const char* key;
    json_t* value;
    json_object_foreach(object.get(), key, value) {
      // Fields are compared as text, as a form would carry them.
      form->fields[key] = json_is_string(value) ? json_string_value(value) : json_text(value);
    }
    return true;
  }
  if (kind == "multipart/form-data")
    return parse_multipart(request.body, header_parameter(type, "boundary"), form);
  if (kind.empty() || kind == "application/x-www-form-urlencoded") {
    const std::string& body = request.body;
    for (size_t at = 0; at < body.size();) {
      size_t end = body.find('&', at);
      if (end == std::string::npos) end = body.size();
      const std::string pair = body.substr(at, end - at);
      size_t equals = pair.find('=');
      if (equals != std::string::npos)
        form->fields[url_decode(pair.substr(0, equals), true)] = url_decode(pair.substr(equals + 1), true);
      at = end + 1;
    }
    return true;
  }
  return false;
}

std::string http_response(int status, const std::string& content_type, const std::string& body) {
  const char* reason = status == 200   ? "OK"
                       : status == 400 ? "Bad Request"
                       : status == 403 ? "Forbidden"
                       : status == 404 ? "Not Found"
                                       : "Error";
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type: " + content_type +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace sync_server
