// TLS over TCP on 127.0.0.1, with OpenSSL's server side driven directly, so the client's TLS code
// is checked against an independent implementation of the other end. The handshake runs on the
// first `read` (the peer's reader thread); a connection whose handshake fails reads as failed.
#pragma once

#include <openssl/ssl.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/sync_peer/tcp_transport.h"
#include "tools/sync_peer/transport.h"

namespace sync_peer {

struct TlsServerSettings {
  std::string certificate_pem;  // the server's certificate, then any chain certificates it sends
  std::string key_pem;
  int min_version = TLS1_2_VERSION;
  int max_version = TLS1_2_VERSION;
  // Protocol versions before TLS 1.2 need security level 0 in OpenSSL 3.
  int security_level = 1;
  uint16_t port = 0;  // 0: one the system picks
  // A connection that neither sends nor takes bytes for this long fails; -1: never.
  int idle_timeout_ms = -1;
};

// What the listener's connections have seen, shared with them.
class TlsRecord {
 public:
  void add_handshake(std::string server_name);
  size_t handshakes() const;
  // The SNI name each completed handshake carried, empty when there was none.
  std::vector<std::string> server_names() const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> server_names_;
};

class TlsConnection : public Connection {
 public:
  // `idle_timeout_ms`: how long one wait for the socket may last before the connection fails; -1:
  // no limit.
  TlsConnection(int fd, SSL* ssl, std::shared_ptr<TlsRecord> record, int idle_timeout_ms = -1);
  ~TlsConnection() override;

  long read(unsigned char* buffer, size_t size) override;
  bool write_all(const unsigned char* data, size_t size) override;
  // Sends a close alert when the handshake is done, then ends the TCP connection.
  void shutdown() override;

 private:
  // Runs one OpenSSL call under the lock; the result, and the SSL_get_error code when it is not
  // positive. The first call of either direction completes the handshake first.
  int call(const std::function<int()>& operation, int* code);
  // Waits until the socket is ready for what OpenSSL asked; false when it will never be.
  bool wait_for(int code);

  int fd_;
  SSL* ssl_;
  std::shared_ptr<TlsRecord> record_;
  int idle_timeout_ms_;
  std::mutex mutex_;  // OpenSSL allows one call at a time on a connection
  bool handshake_done_ = false;
};

class TlsListener : public Listener {
 public:
  // port() is 0 when listening failed or the settings were refused.
  explicit TlsListener(const TlsServerSettings& settings);
  ~TlsListener() override;

  uint16_t port() const override { return context_ ? tcp_.port() : 0; }
  std::unique_ptr<Connection> accept() override;
  void shutdown() override { tcp_.shutdown(); }

  std::shared_ptr<TlsRecord> record() const { return record_; }

 private:
  TcpListener tcp_;
  int idle_timeout_ms_;
  SSL_CTX* context_ = nullptr;
  std::shared_ptr<TlsRecord> record_ = std::make_shared<TlsRecord>();
};

}  // namespace sync_peer
