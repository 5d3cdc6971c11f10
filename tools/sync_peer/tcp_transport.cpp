#include "tools/sync_peer/tcp_transport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace sync_peer {

TcpConnection::TcpConnection(int fd) : fd_(fd) {
  // Scripted splits should leave as separate segments, not be merged by Nagle's algorithm.
  int one = 1;
  setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
}

TcpConnection::~TcpConnection() { ::close(fd_); }

long TcpConnection::read(unsigned char* buffer, size_t size) {
  for (;;) {
    ssize_t n = ::recv(fd_, buffer, size, 0);
    if (n >= 0 || errno != EINTR) return static_cast<long>(n);
  }
}

bool TcpConnection::write_all(const unsigned char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void TcpConnection::shutdown() { ::shutdown(fd_, SHUT_RDWR); }

TcpListener::TcpListener(uint16_t port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  // A server started again on its old port must not wait for the old connections' TIME_WAIT.
  int on = 1;
  if (::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  socklen_t length = sizeof(address);
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd_, 16) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;
  }
  port_ = ntohs(address.sin_port);
}

TcpListener::~TcpListener() {
  if (fd_ >= 0) ::close(fd_);
}

int TcpListener::accept_fd() {
  if (port_ == 0) return -1;
  for (;;) {
    int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0 || errno != EINTR) return fd;
  }
}

std::unique_ptr<Connection> TcpListener::accept() {
  int fd = accept_fd();
  if (fd < 0) return nullptr;
  return std::make_unique<TcpConnection>(fd);
}

// Shutting a listening socket down makes a blocked accept return at once on Linux.
void TcpListener::shutdown() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_RDWR);
}

}  // namespace sync_peer
