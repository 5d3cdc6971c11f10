// Keeps a half-open connection from lingering: TCP keep-alive probes find a peer that went away
// while the line was quiet, and a user time-out drops a connection whose sent data stays
// unacknowledged, so a dead server is noticed in about a minute instead of a quarter of an hour.
#pragma once

#include <cstdint>

#include "brelt/socket.h"

namespace brelt {

struct TcpKeepAlive {
  uint32_t idle_s = 30;              // quiet time before the first probe
  uint32_t interval_s = 10;          // between unanswered probes
  uint32_t probes = 3;               // unanswered probes before the connection is dropped
  uint32_t user_timeout_ms = 60000;  // longest time sent data may stay unacknowledged
};

// Applies the settings to the connected `socket`. Returns 0, or the negative errno of the first
// setting the system refused (UV_EBADF when the socket has no open handle).
int set_tcp_keepalive(const Socket& socket, const TcpKeepAlive& settings);

}  // namespace brelt
