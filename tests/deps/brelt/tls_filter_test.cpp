#include "brelt/tls_filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "brelt/host_name_validator.h"
#include "brelt/socket.h"
#include "brelt/uv_thread.h"
#include "support/on_loop.h"
#include "support/test_certificates.h"
#include "support/test_trust_anchors.h"
#include "support/wait.h"
#include "tools/sync_peer/scripted_peer.h"
#include "tools/sync_peer/tcp_transport.h"
#include "tools/sync_peer/tls_transport.h"

namespace brelt {
namespace {

using kestrun_test::KeyedCertificate;
using kestrun_test::test_certificates;
using kestrun_test::TestCertificates;

using kestrun_test::text;
using kestrun_test::to_bytes;

// Holds every worker of libuv's thread pool until released, so that a host lookup queued behind
// them cannot complete: the connection is then certainly not made before a deadline passes.
class BlockedThreadPool {
 public:
  explicit BlockedThreadPool(uv_loop_t* loop)
      : works_(pool_size()), released_(release_.get_future().share()) {
    for (uv_work_t& work : works_) {
      work.data = this;
      EXPECT_EQ(
          uv_queue_work(
              loop, &work, [](uv_work_t* w) { static_cast<BlockedThreadPool*>(w->data)->released_.wait(); },
              [](uv_work_t*, int) {}),
          0);
    }
  }
  void release() {
    if (!released_now_) release_.set_value();
    released_now_ = true;
  }

 private:
  static size_t pool_size() {
    const char* size = std::getenv("UV_THREADPOOL_SIZE");
    return size ? std::max(1, std::atoi(size)) : 4;
  }

  std::vector<uv_work_t> works_;
  std::promise<void> release_;
  std::shared_future<void> released_;
  bool released_now_ = false;
};

// A TLS filter over a real socket on the core thread, talking to the scripted peer; everything the
// filter reports is recorded on the loop thread.
class TlsFilterTest : public testing::Test {
 protected:
  void SetUp() override { kestrun_test::trust_test_authority(); }

  template <class F>
  auto run(F f) {
    return kestrun_test::run_on(thread_, f);
  }

  void TearDown() override {
    if (pool_) pool_->release();
    run([&] {
      tls_.reset();
      socket_.reset();
    });
    ASSERT_TRUE(kestrun_test::wait_until(
        [&] { return run([&] { return thread_.get_loop()->active_reqs.count; }) == 0; }));
    peer_.reset();
  }

  void start_tls_peer(const KeyedCertificate& certificate, int max_version = TLS1_2_VERSION) {
    sync_peer::TlsServerSettings settings{certificate.certificate_pem, certificate.key_pem};
    if (max_version < TLS1_2_VERSION) {
      settings.min_version = TLS1_VERSION;
      settings.max_version = max_version;
      settings.security_level = 0;
    }
    auto listener = std::make_unique<sync_peer::TlsListener>(settings);
    ASSERT_NE(listener->port(), 0);
    record_ = listener->record();
    peer_ = std::make_unique<sync_peer::ScriptedPeer>(std::move(listener), std::vector<unsigned char>{});
  }

  // Connects as "localhost" to the peer (to `peer_port_` without one) and writes `early`, then
  // `more`, in the same turn of the loop: before the handshake, or its deadline, can have run.
  void connect(std::vector<TlsFilter::Validator> validators, const std::string& early,
               std::chrono::milliseconds timeout = TlsFilter::kDefaultHandshakeTimeout,
               size_t max_queued = TlsFilter::kDefaultMaxQueuedBytes,
               const std::vector<std::string>& more = {}) {
    run([&] {
      uint16_t port = peer_ ? peer_->port() : peer_port_;
      socket_ = std::make_unique<Socket>(thread_.get_loop(), "localhost", std::to_string(port));
      tls_ = std::make_unique<TlsFilter>(thread_.get_loop(), *socket_, *socket_, validators, "localhost",
                                         timeout, nullptr, max_queued);
      tls_->on_handshake = [this] { events_.push_back("handshake"); };
      tls_->on_data = [this](bytes b) { data_.append(b.begin(), b.end()); };
      tls_->on_end = [this] { events_.push_back("end"); };
      tls_->on_read_error = [this](Error e) { events_.push_back("read error " + e.to_string()); };
      tls_->on_write_error = [this](Error e) { events_.push_back("write error " + e.to_string()); };
      socket_->connect();
      tls_->start();
      tls_->write(to_bytes(early));
      for (const std::string& chunk : more) tls_->write(to_bytes(chunk));
    });
  }

  std::vector<std::string> events() {
    return run([&] { return events_; });
  }
  bool wait_for_events(size_t count) {
    return kestrun_test::wait_until([&] { return events().size() >= count; });
  }
  // Once the socket's close has completed, everything it had to report has been reported.
  bool wait_for_socket_closed() {
    return kestrun_test::wait_until(
        [&] { return run([&] { return socket_->state() == Socket::State::kClosed; }); });
  }
  TlsFilter::State state() {
    return run([&] { return tls_->state(); });
  }
  size_t active_timers() {
    return run([&] {
      size_t count = 0;
      uv_walk(
          thread_.get_loop(),
          [](uv_handle_t* handle, void* counter) {
            if (handle->type == UV_TIMER && uv_is_active(handle)) ++*static_cast<size_t*>(counter);
          },
          &count);
      return count;
    });
  }

  std::unique_ptr<BlockedThreadPool> pool_;  // outlives the loop thread that ran its works
  UvThread thread_{true};
  std::unique_ptr<sync_peer::ScriptedPeer> peer_;
  std::shared_ptr<sync_peer::TlsRecord> record_;
  uint16_t peer_port_ = 0;  // where no peer listens
  std::unique_ptr<Socket> socket_;
  std::unique_ptr<TlsFilter> tls_;
  std::vector<std::string> events_;
  std::string data_;
};

TEST_F(TlsFilterTest, TrustedServerCarriesPlaintextBothWaysInOrder) {
  start_tls_peer(test_certificates().localhost);
  connect({HostnameValidator{"localhost"}}, "written before the handshake|");
  ASSERT_TRUE(wait_for_events(1));
  EXPECT_EQ(events(), std::vector<std::string>{"handshake"});
  EXPECT_EQ(state(), TlsFilter::State::kEstablished);
  // The server's side of the handshake ends a moment after the client's.
  ASSERT_TRUE(kestrun_test::wait_until([&] { return record_->handshakes() == 1; }));
  EXPECT_EQ(record_->server_names(), std::vector<std::string>{"localhost"});

  // Larger than one 16 KiB record and one pump step, both ways.
  std::string upload(100000, 'u');
  for (size_t i = 0; i < upload.size(); i += 7) upload[i] = static_cast<char>('a' + i % 26);
  run([&] { tls_->write(to_bytes(upload)); });
  std::string expected = "written before the handshake|" + upload;
  ASSERT_TRUE(peer_->wait_for_bytes(expected.size()));
  EXPECT_EQ(text(peer_->received_bytes()), expected);

  std::string download(70000, 'd');
  download.back() = '!';
  ASSERT_TRUE(peer_->send_raw(to_bytes(download)));
  ASSERT_TRUE(kestrun_test::wait_until([&] { return run([&] { return data_.size(); }) >= download.size(); }));
  EXPECT_EQ(run([&] { return data_; }), download);

  testing::internal::CaptureStdout();
  run([&] { tls_->start(); });
  std::cout.flush();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "brelt::TlsFilter: usage error, calling start twice\n");
  EXPECT_EQ(state(), TlsFilter::State::kEstablished);

  // The peer's close alert and the end of the TCP connection after it end the stream once, with
  // no error.
  peer_->close_connection();
  ASSERT_TRUE(wait_for_events(2));
  EXPECT_EQ(events(), (std::vector<std::string>{"handshake", "end"}));
}

TEST_F(TlsFilterTest, RejectedServerGetsNoApplicationBytesAndIsDisconnected) {
  const TestCertificates& certificates = test_certificates();
  const std::string refused = "read error CertError::USER_VALIDATION (0) custom validation functions failed";
  struct Case {
    const char* name;
    const KeyedCertificate& certificate;
    std::vector<TlsFilter::Validator> validators;
    std::string error;
  } cases[] = {
      {"expired",
       certificates.expired,
       {HostnameValidator{"localhost"}},
       "read error CertError::X509_V_ERR_CERT_HAS_EXPIRED (10) preliminary cert verification failed"},
      {"unknown authority",
       certificates.unknown_authority,
       {HostnameValidator{"localhost"}},
       "read error CertError::X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY (20) preliminary cert "
       "verification "
       "failed"},
      {"self-signed",
       certificates.self_signed,
       {HostnameValidator{"localhost"}},
       "read error CertError::X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT (18) preliminary cert verification "
       "failed"},
      {"other host", certificates.other_host, {HostnameValidator{"localhost"}}, refused},
      {"common name only", certificates.common_name_only, {HostnameValidator{"localhost"}}, refused},
      {"no validators", certificates.localhost, {}, refused},
      {"second validator refuses",
       certificates.localhost,
       {HostnameValidator{"localhost"}, [](X509*) { return false; }},
       refused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    events_.clear();
    data_.clear();
    start_tls_peer(c.certificate);
    connect(c.validators, "secret written before the handshake");
    // The peer speaks as soon as its side of the handshake is done; none of it may be delivered.
    ASSERT_TRUE(peer_->wait_for_connection());
    peer_->send_raw(to_bytes("unwanted"));
    ASSERT_TRUE(wait_for_events(1));
    run([&] { tls_->write(to_bytes("secret written after the failure")); });

    // The plaintext queued for the handshake is reported lost, and so is the later write.
    EXPECT_EQ(events(),
              (std::vector<std::string>{c.error,
                                        "write error TlsError::NOT_SENT (35) 35 bytes in 1 writes were not "
                                        "sent: the TLS connection was given up",
                                        "write error TlsError::CONNECTION_CLOSED (0) the TLS connection "
                                        "was given up after a failure"}));
    EXPECT_EQ(state(), TlsFilter::State::kRejected);
    EXPECT_TRUE(peer_->wait_for_client_close());
    EXPECT_EQ(record_->handshakes(), 1u);  // the server's side completed: only the checks stopped it
    EXPECT_TRUE(peer_->received_bytes().empty());
    EXPECT_EQ(run([&] { return data_; }), "");
    TearDown();
  }
}

TEST_F(TlsFilterTest, ServerWithoutTls12FailsTheHandshake) {
  start_tls_peer(test_certificates().localhost, TLS1_1_VERSION);
  connect({HostnameValidator{"localhost"}}, "secret");
  ASSERT_TRUE(wait_for_events(1));
  ASSERT_TRUE(wait_for_events(2));
  std::vector<std::string> seen = events();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].rfind("write error TlsError::SSL_ERROR_SSL (1) error:", 0), 0u) << seen[0];
  EXPECT_EQ(seen[1],
            "write error TlsError::NOT_SENT (6) 6 bytes in 1 writes were not sent: the TLS connection was "
            "given up");
  EXPECT_EQ(state(), TlsFilter::State::kFailed);
  EXPECT_TRUE(peer_->wait_for_client_close());
  EXPECT_EQ(record_->handshakes(), 0u);
  EXPECT_TRUE(peer_->received_bytes().empty());
}

const std::vector<std::string> kGivenUpAtTheDeadline{
    "write error TlsError::HANDSHAKE_TIMEOUT (0) the TLS handshake did not complete within 50 ms",
    "write error TlsError::NOT_SENT (6) 6 bytes in 1 writes were not sent: the TLS connection was "
    "given up"};

TEST_F(TlsFilterTest, HandshakeWithoutProgressEndsAtTheDeadline) {
  // A plain TCP peer accepts the connection and never answers the client's hello.
  peer_ = std::make_unique<sync_peer::ScriptedPeer>(std::make_unique<sync_peer::TcpListener>(),
                                                    std::vector<unsigned char>{});
  connect({HostnameValidator{"localhost"}}, "secret", std::chrono::milliseconds(50));
  ASSERT_TRUE(wait_for_events(2));
  // On a loaded machine the deadline can pass before the connection is even made; the socket then
  // still holds the client's hello when it closes, which is not the owner's to hear of.
  ASSERT_TRUE(wait_for_socket_closed());
  EXPECT_EQ(events(), kGivenUpAtTheDeadline);
  EXPECT_EQ(state(), TlsFilter::State::kFailed);
  // When the connection was made, the client must have closed it.
  if (peer_->wait_for_connection(1, 500)) {
    EXPECT_TRUE(peer_->wait_for_client_close());
  }
  std::string received = text(peer_->received_bytes());
  EXPECT_EQ(received.find("secret"), std::string::npos);
}

// The socket still holds the client's hello when the filter gives up before the connection is
// made; closing it reports those bytes, which the owner never wrote and must not hear of.
TEST_F(TlsFilterTest, DeadlineBeforeTheConnectionIsMadeReportsOnlyTheOwnersLoss) {
  peer_ = std::make_unique<sync_peer::ScriptedPeer>(std::make_unique<sync_peer::TcpListener>(),
                                                    std::vector<unsigned char>{});
  run([&] { pool_ = std::make_unique<BlockedThreadPool>(thread_.get_loop()); });
  connect({HostnameValidator{"localhost"}}, "secret", std::chrono::milliseconds(50));
  ASSERT_TRUE(wait_for_events(2));
  ASSERT_TRUE(wait_for_socket_closed());
  pool_->release();
  EXPECT_EQ(events(), kGivenUpAtTheDeadline);
  EXPECT_EQ(peer_->received_bytes().size(), 0u);
}

// A failure of the connection below reaches the owner through the filter and is final for it: the
// owner hears of its own unsent plaintext, not of the hello the socket still held, and no
// handshake deadline is left to report a second failure.
TEST_F(TlsFilterTest, RefusedConnectionIsReportedThroughTheFilterOnce) {
  {
    sync_peer::TcpListener listener;
    peer_port_ = listener.port();
  }
  size_t timers_before = active_timers();
  connect({HostnameValidator{"localhost"}}, "secret");
  ASSERT_TRUE(wait_for_events(2));
  ASSERT_TRUE(wait_for_socket_closed());
  std::vector<std::string> seen = events();
  ASSERT_EQ(seen.size(), 2u) << testing::PrintToString(seen);
  EXPECT_EQ(seen[0].rfind("read error NetworkError::ECONNREFUSED", 0), 0u) << seen[0];
  EXPECT_EQ(seen[1],
            "write error TlsError::NOT_SENT (6) 6 bytes in 1 writes were not sent: the TLS connection was "
            "given up");
  EXPECT_EQ(state(), TlsFilter::State::kFailed);
  EXPECT_EQ(active_timers(), timers_before);
}

// A server that never completes the handshake cannot make the plaintext queue grow past its bound,
// and what was queued is reported lost when the connection is given up.
TEST_F(TlsFilterTest, PlaintextPastTheQueueBoundIsRefusedAndTheQueueReportedWhenGivenUp) {
  peer_ = std::make_unique<sync_peer::ScriptedPeer>(std::make_unique<sync_peer::TcpListener>(),
                                                    std::vector<unsigned char>{});
  connect({HostnameValidator{"localhost"}}, "secret", std::chrono::milliseconds(100), 10,
          {"four", "toolong"});
  ASSERT_TRUE(wait_for_events(3));
  EXPECT_EQ(events(),
            (std::vector<std::string>{
                "write error TlsError::SEND_QUEUE_FULL (7) a write of 7 bytes was not sent: 10 bytes "
                "already wait to be sent and the bound is 10",
                "write error TlsError::HANDSHAKE_TIMEOUT (0) the TLS handshake did not complete "
                "within 100 ms",
                "write error TlsError::NOT_SENT (10) 10 bytes in 2 writes were not sent: the TLS "
                "connection was given up"}));
}

TEST_F(TlsFilterTest, ConnectionEndingDuringTheHandshakeEndsTheStreamAndItsDeadline) {
  peer_ = std::make_unique<sync_peer::ScriptedPeer>(std::make_unique<sync_peer::TcpListener>(),
                                                    std::vector<unsigned char>{});
  size_t timers_before = active_timers();
  connect({HostnameValidator{"localhost"}}, "secret");
  ASSERT_TRUE(peer_->wait_for_connection());
  peer_->close_connection();
  ASSERT_TRUE(wait_for_events(2));
  EXPECT_EQ(events(),
            (std::vector<std::string>{"end",
                                      "write error TlsError::NOT_SENT (6) 6 bytes in 1 writes were not "
                                      "sent: the connection ended before they could be sent"}));
  // A deadline left running would report a time-out long after the owner heard of the end.
  EXPECT_EQ(active_timers(), timers_before);
}

}  // namespace
}  // namespace brelt
