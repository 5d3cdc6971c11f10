// One HTTP/1.1 request over a fresh TLS connection; the caller receives the whole response at
// once. The request text is the request line (path and query string), a Host header and
// "Connection: close"; there is no request body, redirect, retry or keep-alive.
//
// A request completes exactly once: `on_response` with the head and the whole body (any status,
// 404 included), or `on_error` for any failure: host lookup, connection, TLS handshake, certificate
// or host-name check, a handshake not done within the deadline, a response that cannot be parsed,
// a body over the size limit, a connection that ends before the response is complete (also
// before its first byte), or a response not complete when the request's total deadline passes
// (the connection is then closed). Nothing reaches the caller after that. The body is kept in one
// buffer that never takes more memory than the size limit.
//
// It lives on the event-loop thread of `loop`: built, connected and destroyed there, with both
// callbacks run there. The caller destroys it after completion, outside its callbacks.
#pragma once

#include <uv.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "brelt/buffered_stream.h"
#include "brelt/host_name_validator.h"
#include "brelt/http_response_stream.h"
#include "brelt/socket.h"
#include "brelt/streams.h"
#include "brelt/timer.h"
#include "brelt/tls_filter.h"

namespace brelt {

class HttpsRequest final : public ConnectStream {
 public:
  enum class Method : int32_t { GET = 0, POST = 1 };

  static constexpr size_t kDefaultMaxBodySize = 16 * 1024 * 1024;
  static constexpr std::chrono::milliseconds kDefaultTotalTimeout{60000};

  // Splits the URL; nothing touches the network. The port defaults to 443 and the path to "/".
  // Throws std::runtime_error "can't parse url: `<url>`" when the URL has no host or does not parse.
  // `total_timeout` runs from connect() to the complete response (0: none).
  HttpsRequest(uv_loop_t* loop, Method method, std::string url,
               std::chrono::milliseconds handshake_timeout = TlsFilter::kDefaultHandshakeTimeout,
               size_t max_body_size = kDefaultMaxBodySize,
               std::chrono::milliseconds total_timeout = kDefaultTotalTimeout);
  ~HttpsRequest();
  HttpsRequest(const HttpsRequest&) = delete;
  HttpsRequest& operator=(const HttpsRequest&) = delete;

  // Set both before connect().
  void set_on_response(std::function<void(HttpMetadata, std::vector<unsigned char>)> callback);
  void set_on_error(std::function<void()> callback);

  // Connects and sends the request; called once. The request waits in the TLS filter until the
  // server has passed every check.
  void connect() override;

  // The request text that connect() sends.
  std::string request_text() const;

  const std::string host;
  const std::string port;
  const std::string path;  // with the query string, if any
  const Method method;

 private:
  struct UrlParts {
    std::string host, port, path;
  };
  HttpsRequest(uv_loop_t* loop, Method method, UrlParts parts, std::chrono::milliseconds handshake_timeout,
               size_t max_body_size, std::chrono::milliseconds total_timeout);
  static UrlParts split_url(const std::string& url);

  void complete_with_response(bytes&& body);
  void complete_with_error();

  std::function<void(HttpMetadata, std::vector<unsigned char>)> on_response_;
  std::function<void()> on_error_;
  bool completed_ = false;
  Socket socket_;
  TlsFilter tls_;
  HttpResponseStream parser_;
  BufferedByteStream body_;
  HttpMetadata metadata_;
  std::chrono::milliseconds total_timeout_;
  Timer deadline_;
};

}  // namespace brelt
