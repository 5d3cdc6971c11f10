#include "brelt/tcp_keepalive.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <memory>
#include <string>

#include "brelt/uv_thread.h"
#include "support/wait.h"
#include "tools/sync_peer/scripted_peer.h"
#include "tools/sync_peer/tcp_transport.h"

namespace brelt {
namespace {

// The value of one option on the loop's TCP handle (the test has one), -1 when unreadable.
int option(uv_loop_t* loop, int level, int name) {
  struct Query {
    int level, name, value = -1;
  } query{level, name};
  uv_walk(
      loop,
      [](uv_handle_t* handle, void* arg) {
        auto* q = static_cast<Query*>(arg);
        uv_os_fd_t fd;
        if (handle->type != UV_TCP || uv_fileno(handle, &fd) != 0) return;
        socklen_t size = sizeof q->value;
        getsockopt(fd, q->level, q->name, &q->value, &size);
      },
      &query);
  return query.value;
}

TEST(TcpKeepAlive, ConnectedSocketGetsProbesAndUserTimeout) {
  sync_peer::ScriptedPeer peer(std::make_unique<sync_peer::TcpListener>(), {});
  UvThread thread(true);
  std::unique_ptr<Socket> socket;
  std::atomic<int> result{1};
  thread.post_sync([&] {
    socket = std::make_unique<Socket>(thread.get_loop(), "127.0.0.1", std::to_string(peer.port()));
    EXPECT_EQ(set_tcp_keepalive(thread.get_loop(), *socket, {}), UV_EBADF) << "no handle yet";
    socket->on_connect = [&] {
      result = set_tcp_keepalive(thread.get_loop(), *socket,
                                 {.idle_s = 7, .interval_s = 3, .probes = 4, .user_timeout_ms = 4500});
    };
    socket->connect();
  });
  ASSERT_TRUE(kestrun_test::wait_until([&] { return result.load() != 1; }));
  EXPECT_EQ(result.load(), 0);
  thread.post_sync([&] {
    uv_loop_t* loop = thread.get_loop();
    EXPECT_EQ(option(loop, SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(loop, IPPROTO_TCP, TCP_KEEPIDLE), 7);
    EXPECT_EQ(option(loop, IPPROTO_TCP, TCP_KEEPINTVL), 3);
    EXPECT_EQ(option(loop, IPPROTO_TCP, TCP_KEEPCNT), 4);
    EXPECT_EQ(option(loop, IPPROTO_TCP, TCP_USER_TIMEOUT), 4500);
    socket.reset();
  });
}

}  // namespace
}  // namespace brelt
