#include "brelt/socket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "brelt/uv_thread.h"
#include "support/on_loop.h"
#include "support/wait.h"
#include "tools/sync_peer/scripted_peer.h"
#include "tools/sync_peer/tcp_transport.h"

namespace brelt {
namespace {

using kestrun_test::to_bytes;

// Listens on 127.0.0.1 and never accepts: connections complete in the kernel and nobody reads.
class SilentListener {
 public:
  SilentListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(fd_, 4) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~SilentListener() { ::close(fd_); }
  uint16_t port() const { return port_; }

 private:
  int fd_;
  uint16_t port_ = 0;
};

// A socket on the core thread with everything it reports recorded. Each `run` executes on the
// loop thread; the recorded values are read there too.
class SocketFixture : public testing::Test {
 protected:
  void make_socket(const std::string& host, const std::string& port,
                   size_t max_queued = Socket::kDefaultMaxQueuedBytes) {
    thread_.post_sync([&] {
      socket_ = std::make_unique<Socket>(thread_.get_loop(), host, port, max_queued);
      socket_->on_connect = [this] {
        events_.push_back("connect, batches " + std::to_string(socket_->write_batches()));
      };
      socket_->on_data = [this](bytes b) { data_.append(b.begin(), b.end()); };
      socket_->on_end = [this] { events_.push_back("end"); };
      socket_->on_read_error = [this](Error e) { events_.push_back("read error " + e.to_string()); };
      socket_->on_write_error = [this](Error e) { events_.push_back("write error " + e.to_string()); };
    });
  }

  template <class F>
  auto run(F f) {
    return kestrun_test::run_on(thread_, f);
  }

  std::vector<std::string> events() {
    return run([&] { return events_; });
  }
  bool wait_for_events(size_t count) {
    return kestrun_test::wait_until([&] { return events().size() >= count; });
  }
  Socket::State state() {
    return run([&] { return socket_->state(); });
  }

  void TearDown() override {
    run([&] { socket_.reset(); });
    // Lookups run on libuv's pool; let them come back so the loop closes cleanly.
    ASSERT_TRUE(kestrun_test::wait_until(
        [&] { return run([&] { return thread_.get_loop()->active_reqs.count; }) == 0; }));
  }

  UvThread thread_{true};
  std::unique_ptr<Socket> socket_;
  std::vector<std::string> events_;
  std::string data_;
};

TEST_F(SocketFixture, WritesQueueUntilConnectedAndLeaveInBatches) {
  sync_peer::ScriptedPeer peer(std::make_unique<sync_peer::TcpListener>(), {});
  make_socket("127.0.0.1", std::to_string(peer.port()));
  run([&] {
    socket_->write(to_bytes("dropped"));  // written before connect()
    socket_->connect();
    socket_->write(to_bytes("a"));
    socket_->write(to_bytes("b"));
    socket_->write(to_bytes("c"));
  });
  ASSERT_TRUE(peer.wait_for_bytes(3));
  ASSERT_TRUE(wait_for_events(2));
  // The early chunk is reported lost; on_connect ran before anything was sent, and everything
  // queued left in one request.
  EXPECT_EQ(events(),
            (std::vector<std::string>{"write error NetworkError::NOT_SENT (7) 7 bytes in 1 writes were "
                                      "not sent: they were written before the connection was started",
                                      "connect, batches 0"}));
  EXPECT_EQ(run([&] { return socket_->write_batches(); }), 1u);

  // The first chunk starts a write at once; those written while it is in progress leave together.
  run([&] {
    socket_->write(to_bytes("d"));
    socket_->write(to_bytes("e"));
    socket_->write(to_bytes("f"));
  });
  ASSERT_TRUE(peer.wait_for_bytes(6));
  EXPECT_EQ(run([&] { return socket_->write_batches(); }), 3u);
  std::vector<unsigned char> received = peer.received_bytes();
  EXPECT_EQ(std::string(received.begin(), received.end()), "abcdef");
}

TEST_F(SocketFixture, PeerCloseGivesOneEndAndNoError) {
  sync_peer::ScriptedPeer peer(std::make_unique<sync_peer::TcpListener>(), {});
  make_socket("localhost", std::to_string(peer.port()));
  run([&] { socket_->connect(); });
  ASSERT_TRUE(peer.wait_for_connection());
  ASSERT_TRUE(wait_for_events(1));
  ASSERT_TRUE(peer.send_raw(to_bytes("from the peer")));
  ASSERT_TRUE(kestrun_test::wait_until([&] { return run([&] { return data_; }) == "from the peer"; }));
  peer.close_connection();
  ASSERT_TRUE(wait_for_events(2));
  EXPECT_EQ(state(), Socket::State::kClosed);
  run([&] { socket_->end(); });  // the owner's own end after the peer's is not reported again
  EXPECT_EQ(events(), (std::vector<std::string>{"connect, batches 0", "end"}));
}

TEST_F(SocketFixture, EndReportsAtOnceAndClosesTheConnection) {
  sync_peer::ScriptedPeer peer(std::make_unique<sync_peer::TcpListener>(), {});
  make_socket("127.0.0.1", std::to_string(peer.port()));
  run([&] { socket_->connect(); });
  ASSERT_TRUE(wait_for_events(1));
  std::vector<std::string> at_end = run([&] {
    socket_->end();
    return events_;
  });
  EXPECT_EQ(at_end, (std::vector<std::string>{"connect, batches 0", "end"}));
  EXPECT_TRUE(peer.wait_for_client_close());
  ASSERT_TRUE(kestrun_test::wait_until([&] { return state() == Socket::State::kClosed; }));
  EXPECT_EQ(events().size(), 2u);
  testing::internal::CaptureStdout();
  run([&] { socket_->write(to_bytes("late")); });
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "brelt::Stream: usage error: write after end\n");
}

TEST_F(SocketFixture, EndWhileConnectingCancelsQuietly) {
  sync_peer::ScriptedPeer peer(std::make_unique<sync_peer::TcpListener>(), {});
  make_socket("127.0.0.1", std::to_string(peer.port()));
  run([&] {
    socket_->connect();
    socket_->end();
  });
  ASSERT_TRUE(kestrun_test::wait_until([&] { return state() == Socket::State::kClosed; }));
  // Let the lookup come back to the ended socket: it must neither connect nor report anything.
  ASSERT_TRUE(kestrun_test::wait_until(
      [&] { return run([&] { return thread_.get_loop()->active_reqs.count; }) == 0; }));
  EXPECT_EQ(events(), std::vector<std::string>{"end"});
  EXPECT_EQ(peer.connections_accepted(), 0u);
}

TEST_F(SocketFixture, FailuresAreReportedOnceAndCloseTheHandle) {
  uint16_t closed_port;
  {
    sync_peer::TcpListener listener;
    closed_port = listener.port();
  }
  struct Case {
    std::string host;
    std::string port;
    std::string event;
  } cases[] = {
      {"127.0.0.1", std::to_string(closed_port),
       "read error NetworkError::ECONNREFUSED (-111) connection refused"},
      {"::1", "80", "read error DnsError::EAI_NONAME (-3008) unknown node or service"},
      {"127.0.0.1", "no-such-kestrun-service",
       "read error DnsError::EAI_SERVICE (-3010) service not available for socket type"},
  };
  for (const Case& c : cases) {
    events_.clear();
    make_socket(c.host, c.port);
    run([&] { socket_->connect(); });
    ASSERT_TRUE(wait_for_events(1)) << c.host << ":" << c.port;
    ASSERT_TRUE(kestrun_test::wait_until([&] { return state() == Socket::State::kClosed; }));
    EXPECT_EQ(events(), std::vector<std::string>{c.event});
  }
}

TEST_F(SocketFixture, DestroyingMidLookupOrWriteReachesNothing) {
  sync_peer::ScriptedPeer peer(std::make_unique<sync_peer::TcpListener>(), {});
  make_socket("127.0.0.1", std::to_string(peer.port()));
  run([&] {
    socket_->connect();
    socket_.reset();
  });
  make_socket("127.0.0.1", std::to_string(peer.port()));
  run([&] { socket_->connect(); });
  ASSERT_TRUE(wait_for_events(1));
  run([&] {
    socket_->write(bytes(8 << 20, 'w'));  // more than the kernel takes at once
    socket_->write(to_bytes("queued"));
    socket_.reset();
  });
  EXPECT_TRUE(peer.wait_for_client_close());
  EXPECT_EQ(events(), std::vector<std::string>{"connect, batches 0"});
}

// Against a server that never reads, the kernel's buffers fill and then the socket's own queue. The
// write past the bound is refused and gives the connection up, and every byte still held is
// reported lost: nothing vanishes with only an end.
TEST_F(SocketFixture, WritePastTheQueueBoundIsRefusedAndEveryHeldByteReported) {
  SilentListener server;
  ASSERT_NE(server.port(), 0);
  const size_t bound = 256 * 1024;
  const size_t chunk = 64 * 1024;
  make_socket("127.0.0.1", std::to_string(server.port()), bound);
  run([&] { socket_->connect(); });
  ASSERT_TRUE(wait_for_events(1));
  for (int i = 0; i < 2000 && events().size() == 1; ++i) {
    run([&] { socket_->write(bytes(chunk, 'x')); });
  }
  ASSERT_TRUE(kestrun_test::wait_until([&] {
    std::vector<std::string> seen = events();
    return std::find(seen.begin(), seen.end(), "end") != seen.end() &&
           seen.back().find("NOT_SENT") != std::string::npos;
  }));
  std::vector<std::string> seen = events();
  EXPECT_EQ(seen[0], "connect, batches 0");
  EXPECT_EQ(seen[1].rfind(
                "write error NetworkError::SEND_QUEUE_FULL (65536) a write of 65536 bytes was not sent", 0),
            0u)
      << seen[1];
  size_t reported = 0;
  for (size_t i = 2; i < seen.size(); ++i) {
    if (seen[i] == "end") continue;
    EXPECT_EQ(seen[i].rfind("write error NetworkError::NOT_SENT (", 0), 0u) << seen[i];
    reported += std::stoul(seen[i].substr(seen[i].find('(') + 1));
  }
  EXPECT_GT(reported, 0u);
  EXPECT_LE(reported, bound);
  EXPECT_EQ(reported % chunk, 0u);  // whole writes
  EXPECT_EQ(state(), Socket::State::kClosed);
  run([&] { socket_->write(to_bytes("late")); });
  EXPECT_EQ(
      events().back(),
      "write error NetworkError::NOT_SENT (4) 4 bytes in 1 writes were not sent: the connection is closed");
}

}  // namespace
}  // namespace brelt
