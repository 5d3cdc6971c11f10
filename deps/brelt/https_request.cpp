#include "brelt/https_request.h"

#include <http_parser.h>

#include <stdexcept>
#include <utility>

namespace brelt {

HttpsRequest::UrlParts HttpsRequest::split_url(const std::string& url) {
  http_parser_url parts;
  http_parser_url_init(&parts);
  if (http_parser_parse_url(url.data(), url.size(), 0, &parts) != 0 || !(parts.field_set & (1 << UF_HOST))) {
    throw std::runtime_error("can't parse url: `" + url + "`");
  }
  auto field = [&](int which) {
    return url.substr(parts.field_data[which].off, parts.field_data[which].len);
  };
  UrlParts result{field(UF_HOST), "443", "/"};
  if (parts.field_set & (1 << UF_PORT)) result.port = field(UF_PORT);
  if (parts.field_set & (1 << UF_PATH)) result.path = field(UF_PATH);
  if (parts.field_set & (1 << UF_QUERY)) result.path += "?" + field(UF_QUERY);
  return result;
}

HttpsRequest::HttpsRequest(uv_loop_t* loop, Method method, std::string url,
                           std::chrono::milliseconds handshake_timeout, size_t max_body_size,
                           std::chrono::milliseconds total_timeout)
    : HttpsRequest(loop, method, split_url(url), handshake_timeout, max_body_size, total_timeout) {}

HttpsRequest::HttpsRequest(uv_loop_t* loop, Method method, UrlParts parts,
                           std::chrono::milliseconds handshake_timeout, size_t max_body_size,
                           std::chrono::milliseconds total_timeout)
    : host(std::move(parts.host)),
      port(std::move(parts.port)),
      path(std::move(parts.path)),
      method(method),
      socket_(loop, host, port),
      tls_(loop, socket_, socket_, {HostnameValidator{host}}, host, handshake_timeout),
      parser_(max_body_size),
      body_(max_body_size),
      total_timeout_(total_timeout),
      deadline_(loop, static_cast<uint64_t>(total_timeout.count()), false, [this] {
        complete_with_error();
        // Nothing more is wanted from the server.
        if (!socket_.ended) socket_.end();
      }) {
  pipe(tls_, parser_);
  // An end of the connection that did not complete the response is a failure, also when no byte
  // of a response came at all.
  tls_.on_end = [this] {
    parser_.end();
    complete_with_error();
  };
  pipe(parser_, body_);
  parser_.on_metadata = [this](HttpMetadata&& metadata) { metadata_ = std::move(metadata); };
  body_.on_data = [this](bytes body) { complete_with_response(std::move(body)); };
  auto fail = [this](Error) { complete_with_error(); };
  // The socket's errors come through the filter, which holds its callbacks.
  tls_.on_read_error = fail;
  tls_.on_write_error = fail;
  parser_.on_read_error = fail;
  parser_.on_write_error = fail;
  body_.on_read_error = fail;
  body_.on_write_error = fail;
}

HttpsRequest::~HttpsRequest() { deadline_.stop(); }

void HttpsRequest::set_on_response(std::function<void(HttpMetadata, std::vector<unsigned char>)> callback) {
  on_response_ = std::move(callback);
}

void HttpsRequest::set_on_error(std::function<void()> callback) { on_error_ = std::move(callback); }

std::string HttpsRequest::request_text() const {
  return std::string(method == Method::POST ? "POST " : "GET ") + path + " HTTP/1.1\r\nHost: " + host +
         "\r\nConnection: close\r\n\r\n";
}

void HttpsRequest::connect() {
  if (total_timeout_.count() > 0) deadline_.start();
  socket_.connect();
  tls_.start();
  std::string text = request_text();
  tls_.write(bytes(text.begin(), text.end()));
}

void HttpsRequest::complete_with_response(bytes&& body) {
  if (completed_) return;
  completed_ = true;
  deadline_.stop();
  if (on_response_) on_response_(metadata_, std::move(body));
}

void HttpsRequest::complete_with_error() {
  if (completed_) return;
  completed_ = true;
  deadline_.stop();
  if (on_error_) on_error_();
}

}  // namespace brelt
