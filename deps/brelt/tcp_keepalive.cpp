#include "brelt/tcp_keepalive.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

namespace brelt {

namespace {

struct Search {
  const Socket* socket;
  uv_os_fd_t fd = -1;
};

// A socket's TCP handle carries the socket as its user data; that is how it is found here without
// the socket having to hand its handle out.
void find_handle(uv_handle_t* handle, void* arg) {
  auto* search = static_cast<Search*>(arg);
  if (handle->type != UV_TCP || handle->data != search->socket || uv_is_closing(handle)) return;
  uv_os_fd_t fd;
  if (uv_fileno(handle, &fd) == 0) search->fd = fd;
}

int set_option(int fd, int level, int name, uint32_t value) {
  int v = static_cast<int>(value);
  return setsockopt(fd, level, name, &v, sizeof v) == 0 ? 0 : -errno;
}

}  // namespace

int set_tcp_keepalive(uv_loop_t* loop, const Socket& socket, const TcpKeepAlive& settings) {
  Search search{&socket};
  uv_walk(loop, &find_handle, &search);
  if (search.fd < 0) return UV_EBADF;
  int fd = search.fd;
  if (int r = set_option(fd, SOL_SOCKET, SO_KEEPALIVE, 1)) return r;
  if (int r = set_option(fd, IPPROTO_TCP, TCP_KEEPIDLE, settings.idle_s)) return r;
  if (int r = set_option(fd, IPPROTO_TCP, TCP_KEEPINTVL, settings.interval_s)) return r;
  if (int r = set_option(fd, IPPROTO_TCP, TCP_KEEPCNT, settings.probes)) return r;
  return set_option(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, settings.user_timeout_ms);
}

}  // namespace brelt
