// An HTTPS server on 127.0.0.1 for tests, over the test peer's TLS transport. Each test scripts
// the reply per path (status, headers, body, holding the reply until released, or dropping the
// connection) and reads back every request it received, parsed into fields and parts. One
// request per connection; every reply closes it.
//
// Threads: one accepting thread and one thread per connection, all joined by the destructor,
// which first releases held replies. The public operations may be called from any thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/https_test_server/http_request.h"
#include "tools/sync_peer/tls_transport.h"

namespace https_test_server {

struct Reply {
  int status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;  // besides Content-Length, Connection
  // Close the connection after reading the request, without a reply.
  bool drop = false;
  // Send the head and this many body bytes, then wait for release() before the rest.
  std::optional<size_t> hold_after;
};

class HttpsTestServer {
 public:
  // Serves with `certificate` (and its key); see tests/support/test_certificates.h.
  HttpsTestServer(const std::string& certificate_pem, const std::string& key_pem);
  ~HttpsTestServer();
  HttpsTestServer(const HttpsTestServer&) = delete;
  HttpsTestServer& operator=(const HttpsTestServer&) = delete;

  uint16_t port() const { return listener_.port(); }
  // "https://localhost:<port><path>".
  std::string url(const std::string& path) const;

  // The reply for requests of `path`; an unscripted path gets 200 with an empty body.
  void script(const std::string& path, Reply reply);

  std::vector<Request> requests() const;
  // Waits until `count` requests were read; false after a generous deadline.
  bool wait_for_requests(size_t count) const;
  // Application bytes read from all connections (nothing is read when a handshake fails).
  size_t received_bytes() const;
  // Connections accepted, handshake or not.
  size_t connections() const;

  // Waits until a reply is held; false after a generous deadline.
  bool wait_for_hold() const;
  // Lets every held reply, present and future, go on.
  void release();

 private:
  void accept_loop();
  void serve(sync_peer::Connection& connection);
  // Reads the head and the body; nothing when the connection ended first.
  std::optional<Request> read_request(sync_peer::Connection& connection);
  void answer(sync_peer::Connection& connection, const Reply& reply);

  sync_peer::TlsListener listener_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::map<std::string, Reply> replies_;  // guarded by mutex_, and every member below
  std::vector<Request> requests_;
  size_t received_bytes_ = 0;
  size_t connections_ = 0;
  size_t holds_ = 0;
  bool released_ = false;
  std::vector<std::shared_ptr<sync_peer::Connection>> open_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace https_test_server
