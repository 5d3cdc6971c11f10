#include "brelt/tcp_keepalive.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cerrno>

namespace brelt {

namespace {

int set_option(int fd, int level, int name, uint32_t value) {
  int v = static_cast<int>(value);
  return setsockopt(fd, level, name, &v, sizeof v) == 0 ? 0 : -errno;
}

}  // namespace

int set_tcp_keepalive(const Socket& socket, const TcpKeepAlive& settings) {
  uv_os_fd_t fd;
  if (int r = socket.fileno(fd)) return r;
  if (int r = set_option(fd, SOL_SOCKET, SO_KEEPALIVE, 1)) return r;
  if (int r = set_option(fd, IPPROTO_TCP, TCP_KEEPIDLE, settings.idle_s)) return r;
  if (int r = set_option(fd, IPPROTO_TCP, TCP_KEEPINTVL, settings.interval_s)) return r;
  if (int r = set_option(fd, IPPROTO_TCP, TCP_KEEPCNT, settings.probes)) return r;
  return set_option(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, settings.user_timeout_ms);
}

}  // namespace brelt
