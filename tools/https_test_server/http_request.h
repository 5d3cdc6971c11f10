// HTTP/1.1 requests as the test server reads them: the head, the body by Content-Length, and the
// fields of a query string, a URL-encoded form or a multipart form.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace https_test_server {

struct Part {
  std::string name;
  std::string filename;  // empty when the part carried none
  std::string content;
};

struct Request {
  std::string method;
  std::string target;  // as sent: path and query
  std::string path;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  // Query members for GET, form fields for a URL-encoded or multipart POST (multipart: the parts
  // without a file name).
  std::map<std::string, std::string> fields;
  std::vector<Part> parts;  // every part of a multipart body, in order
};

// Parses a request head (everything before the blank line). Nothing when it is malformed.
std::optional<Request> parse_head(const std::string& head);
// Fills fields and parts from the target and the body.
void parse_fields(Request& request);

// "a%20b+c" -> "a b c".
std::string percent_decode(const std::string& text);

}  // namespace https_test_server
