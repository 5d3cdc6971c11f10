#include "tools/https_test_server/http_request.h"

#include <algorithm>
#include <cctype>
#include <sstream>

namespace https_test_server {
namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

std::string trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

void parse_form(const std::string& text, std::map<std::string, std::string>& fields) {
  std::istringstream stream(text);
  std::string pair;
  while (std::getline(stream, pair, '&')) {
    if (pair.empty()) continue;
    size_t equals = pair.find('=');
    std::string key = percent_decode(pair.substr(0, equals));
    fields[key] = equals == std::string::npos ? "" : percent_decode(pair.substr(equals + 1));
  }
}

// The value of `attribute="..."` in a header value; empty when absent.
std::string attribute(const std::string& header, const std::string& name) {
  std::string key = name + "=\"";
  size_t at = 0;
  while ((at = header.find(key, at)) != std::string::npos) {
    // "name=" must not match the tail of "filename=".
    if (at == 0 || header[at - 1] == ' ' || header[at - 1] == ';') {
      size_t begin = at + key.size();
      size_t end = header.find('"', begin);
      return header.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    }
    at += key.size();
  }
  return "";
}

void parse_multipart(Request& request, const std::string& boundary) {
  const std::string delimiter = "--" + boundary;
  size_t at = request.body.find(delimiter);
  while (at != std::string::npos) {
    at += delimiter.size();
    if (request.body.compare(at, 2, "--") == 0) return;  // the closing delimiter
    at += 2;                                             // CRLF after the delimiter
    size_t head_end = request.body.find("\r\n\r\n", at);
    if (head_end == std::string::npos) return;
    size_t next = request.body.find("\r\n" + delimiter, head_end);
    if (next == std::string::npos) return;
    Part part;
    std::istringstream head(request.body.substr(at, head_end - at));
    std::string line;
    while (std::getline(head, line)) {
      if (lower(line).rfind("content-disposition:", 0) == 0) {
        part.name = attribute(line, "name");
        part.filename = attribute(line, "filename");
      }
    }
    part.content = request.body.substr(head_end + 4, next - head_end - 4);
    if (part.filename.empty()) request.fields[part.name] = part.content;
    request.parts.push_back(std::move(part));
    at = next + 2;
  }
}

}  // namespace

std::string percent_decode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() &&
               std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::optional<Request> parse_head(const std::string& head) {
  std::istringstream stream(head);
  std::string line;
  if (!std::getline(stream, line)) return std::nullopt;
  Request request;
  std::istringstream request_line(line);
  std::string version;
  if (!(request_line >> request.method >> request.target >> version)) return std::nullopt;
  request.path = request.target.substr(0, request.target.find('?'));
  while (std::getline(stream, line)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    request.headers[lower(line.substr(0, colon))] = trim(line.substr(colon + 1));
  }
  return request;
}

void parse_fields(Request& request) {
  size_t question = request.target.find('?');
  if (question != std::string::npos) parse_form(request.target.substr(question + 1), request.fields);
  std::string type = request.headers.count("content-type") ? request.headers["content-type"] : "";
  if (lower(type).rfind("application/x-www-form-urlencoded", 0) == 0) {
    parse_form(request.body, request.fields);
  } else if (lower(type).rfind("multipart/form-data", 0) == 0) {
    size_t at = type.find("boundary=");
    if (at != std::string::npos) parse_multipart(request, type.substr(at + 9));
  }
}

}  // namespace https_test_server
