// Plain TCP on 127.0.0.1.
#pragma once

#include <memory>

#include "tools/sync_peer/transport.h"

namespace sync_peer {

class TcpConnection : public Connection {
 public:
  explicit TcpConnection(int fd);
  ~TcpConnection() override;

  long read(unsigned char* buffer, size_t size) override;
  bool write_all(const unsigned char* data, size_t size) override;
  void shutdown() override;

 private:
  int fd_;
};

class TcpListener : public Listener {
 public:
  // Listens on 127.0.0.1, on `port` or, for 0, on one the system picks; port() is 0 when listening
  // failed.
  explicit TcpListener(uint16_t port = 0);
  ~TcpListener() override;

  uint16_t port() const override { return port_; }
  std::unique_ptr<Connection> accept() override;
  void shutdown() override;

  // The accepted socket itself, for transports that wrap TCP.
  int accept_fd();

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

}  // namespace sync_peer
