// The API client and the auto-connecting client over real TLS to the scripted test peer, which
// reads frames and checks signatures with code of its own.
#include "brelt/api_client.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/pem.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "brelt/auto_connect_api_client.h"
#include "brelt/uv_thread.h"
#include "support/test_certificates.h"
#include "support/test_trust_anchors.h"
#include "support/wait.h"
#include "tools/sync_peer/scripted_peer.h"
#include "tools/sync_peer/tls_transport.h"

namespace brelt {
namespace {

using jsonette::Json;

const bytes kKey = {'s', 'e', 'c', 'r', 'e', 't', '-', 'k', 'e', 'y'};

Json message(const std::string& name) { return Json(Json::object{{"method", name}}); }

Json parse(const std::string& text) {
  std::string err;
  return Json::parse(text, err);
}

// A TLS listener on a port the test chooses (0: any), so that a peer can be stopped and started
// again where its clients expect it.
class TlsListenerOnPort : public sync_peer::Listener {
 public:
  TlsListenerOnPort(const kestrun_test::KeyedCertificate& identity, uint16_t port) {
    context_ = SSL_CTX_new(TLS_server_method());
    SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
    SSL_CTX_set_mode(context_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    BIO* certificate = BIO_new_mem_buf(identity.certificate_pem.data(), -1);
    BIO* key = BIO_new_mem_buf(identity.key_pem.data(), -1);
    X509* x509 = PEM_read_bio_X509(certificate, nullptr, nullptr, nullptr);
    EVP_PKEY* pkey = PEM_read_bio_PrivateKey(key, nullptr, nullptr, nullptr);
    bool identity_ok =
        SSL_CTX_use_certificate(context_, x509) == 1 && SSL_CTX_use_PrivateKey(context_, pkey) == 1;
    X509_free(x509);
    EVP_PKEY_free(pkey);
    BIO_free(certificate);
    BIO_free(key);

    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    if (identity_ok && ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(fd_, 16) == 0 && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port_ = ntohs(address.sin_port);
    }
  }
  ~TlsListenerOnPort() override {
    ::close(fd_);
    SSL_CTX_free(context_);
  }

  uint16_t port() const override { return port_; }
  std::unique_ptr<sync_peer::Connection> accept() override {
    int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<sync_peer::TlsConnection>(fd, SSL_new(context_), record_);
  }
  void shutdown() override { ::shutdown(fd_, SHUT_RDWR); }

 private:
  SSL_CTX* context_;
  int fd_;
  uint16_t port_ = 0;
  std::shared_ptr<sync_peer::TlsRecord> record_ = std::make_shared<sync_peer::TlsRecord>();
};

std::unique_ptr<sync_peer::ScriptedPeer> start_peer(const kestrun_test::KeyedCertificate& identity,
                                                    uint16_t port = 0) {
  auto peer =
      std::make_unique<sync_peer::ScriptedPeer>(std::make_unique<TlsListenerOnPort>(identity, port), kKey);
  EXPECT_NE(peer->port(), 0) << "the peer could not listen";
  return peer;
}

ApiClient::Options options(const std::string& host, uint16_t port) {
  ApiClient::Options options;
  options.version = "1.2.3";
  options.device = "macos";
  options.host = host;
  options.port = std::to_string(port);
  options.hmac_key = kKey;
  return options;
}

sync_peer::ServerWrite server_write(std::vector<std::string> frames, std::vector<size_t> split_at,
                                    sync_peer::ServerWrite::Flush flush) {
  sync_peer::ServerWrite write;
  write.frames = std::move(frames);
  write.split_at = std::move(split_at);
  write.flush = flush;
  return write;
}

// The value of a socket option on the loop's TCP handle (the test has one), -1 when unreadable.
int tcp_option(uv_loop_t* loop, int level, int name) {
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

// Runs a connection stream on the core thread and records what it reports, in order.
class PeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kestrun_test::trust_test_authority();
    // The peer's TLS side writes through plain socket calls, which raise SIGPIPE when the client
    // has already gone; as in any networked program, a broken pipe is an error value, not death.
    signal(SIGPIPE, SIG_IGN);
  }
  void TearDown() override {
    thread_.post_sync([&] {
      auto_client_.reset();
      client_.reset();
    });
  }

  void observe(JsonConnection& stream) {
    stream.on_connect = [this] { record("connect"); };
    stream.on_data = [this](Json value) { record("data " + value.dump()); };
    stream.on_end = [this] { record("end"); };
    stream.on_read_error = [this](Error error) { record("read error " + error.to_string()); };
    stream.on_write_error = [this](Error error) { record("write error " + error.to_string()); };
  }
  void make_client(ApiClient::Options options) {
    thread_.post_sync([&] {
      client_ = std::make_unique<ApiClient>(nullptr, thread_.get_loop(), options);
      observe(*client_);
    });
  }
  void record(std::string event) {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.push_back(std::move(event));
  }
  void clear_events() {
    std::lock_guard<std::mutex> lock(mutex_);
    events_.clear();
  }
  std::vector<std::string> events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }
  bool wait_for_events(size_t count) {
    return kestrun_test::wait_until([&] { return events().size() >= count; });
  }

  UvThread thread_{true};
  std::unique_ptr<ApiClient> client_;
  std::unique_ptr<AutoConnectApiClient> auto_client_;
  std::mutex mutex_;
  std::vector<std::string> events_;
};

TEST_F(PeerTest, HelloGoesFirstThenMessagesAllSignedAfterTheHandshake) {
  auto peer = start_peer(kestrun_test::test_certificates().localhost);
  auto settings = options("localhost", peer->port());
  settings.keepalive = {.idle_s = 7, .interval_s = 3, .probes = 4, .user_timeout_ms = 4500};
  make_client(settings);
  thread_.post_sync([&] {
    client_->connect();
    client_->write(message("first"));
  });
  ASSERT_TRUE(peer->wait_for_frames(2));
  ASSERT_TRUE(wait_for_events(1));
  EXPECT_EQ(events(), std::vector<std::string>{"connect"});
  auto frames = peer->frames();
  ASSERT_EQ(frames.size(), 2u);
  for (const auto& frame : frames) EXPECT_TRUE(frame.hmac_ok) << frame.text;
  Json hello = parse(frames[0].text);
  EXPECT_EQ(hello, Json(Json::object{{"device", "macos"}, {"version", "1.2.3"}}));
  EXPECT_EQ(hello.object_items().size(), 2u);
  EXPECT_EQ(parse(frames[1].text), message("first"));
  EXPECT_EQ(peer->protocol_error(), "");

  // A server that vanishes without a word is noticed.
  thread_.post_sync([&] {
    uv_loop_t* loop = thread_.get_loop();
    EXPECT_EQ(tcp_option(loop, SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(tcp_option(loop, IPPROTO_TCP, TCP_KEEPIDLE), 7);
    EXPECT_EQ(tcp_option(loop, IPPROTO_TCP, TCP_KEEPINTVL), 3);
    EXPECT_EQ(tcp_option(loop, IPPROTO_TCP, TCP_KEEPCNT), 4);
    EXPECT_EQ(tcp_option(loop, IPPROTO_TCP, TCP_USER_TIMEOUT), 4500);
  });
}

TEST_F(PeerTest, ServerValuesArriveAndTheEndOfItsStreamEndsTheClient) {
  auto peer = start_peer(kestrun_test::test_certificates().localhost);
  make_client(options("localhost", peer->port()));
  thread_.post_sync([&] { client_->connect(); });
  ASSERT_TRUE(wait_for_events(1));
  using Flush = sync_peer::ServerWrite::Flush;
  ASSERT_TRUE(peer->send(server_write({R"({"type":"a"})"}, {1, 5}, Flush::kSync)));
  ASSERT_TRUE(peer->send(server_write({R"({"type":"b"})", R"({"type":"c"})"}, {}, Flush::kFinish)));
  ASSERT_TRUE(wait_for_events(5));
  EXPECT_EQ(events(), (std::vector<std::string>{"connect", R"(data {"type":"a"})", R"(data {"type":"b"})",
                                                R"(data {"type":"c"})", "end"}));
  // Closing the connection afterwards ends nothing a second time.
  thread_.post_sync([&] { client_->end(); });
  ASSERT_TRUE(peer->wait_for_client_close());
  thread_.post_sync([] {});
  EXPECT_EQ(events().size(), 5u) << testing::PrintToString(events());
}

TEST_F(PeerTest, FailuresBeforeTheHandshakeGiveAnErrorAndNeverConnect) {
  // A port that was just free: nothing listens on it.
  uint16_t closed_port = start_peer(kestrun_test::test_certificates().localhost)->port();
  auto untrusted = start_peer(kestrun_test::test_certificates().unknown_authority);
  auto other_host = start_peer(kestrun_test::test_certificates().other_host);
  struct Case {
    const char* name;
    ApiClient::Options options;
    std::string error_prefix;
  };
  const std::vector<Case> cases = {
      {"refused", options("127.0.0.1", closed_port), "read error NetworkError::ECONNREFUSED"},
      {"lookup fails", options("nonexistent.invalid", 443), "read error DnsError::"},
      {"untrusted chain", options("localhost", untrusted->port()),
       "read error CertError::X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY"},
      {"certificate for another host", options("localhost", other_host->port()),
       "read error CertError::USER_VALIDATION"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    clear_events();
    make_client(c.options);
    thread_.post_sync([&] {
      client_->connect();
      client_->write(message("secret"));
    });
    ASSERT_TRUE(wait_for_events(1));
    thread_.post_sync([&] { client_.reset(); });
    auto seen = events();
    EXPECT_EQ(seen[0].rfind(c.error_prefix, 0), 0u) << seen[0];
    for (const auto& event : seen) EXPECT_NE(event, "connect");
  }
  EXPECT_TRUE(untrusted->frames().empty());
  EXPECT_TRUE(other_host->frames().empty());
}

TEST_F(PeerTest, MessageWrittenWhileTheServerIsDownIsDeliveredOnceItIsBack) {
  auto peer = start_peer(kestrun_test::test_certificates().localhost);
  uint16_t port = peer->port();
  thread_.post_sync([&] {
    auto_client_ = std::make_unique<AutoConnectApiClient>(
        thread_.get_loop(),
        std::make_unique<ApiClientFactory>(nullptr, thread_.get_loop(), options("localhost", port)),
        AutoConnectTimings{.ping_ms = 20, .backoff_initial_ms = 5, .backoff_maximum_ms = 40});
    observe(*auto_client_);
    auto_client_->connect_now();
    auto_client_->write(message("before"));
  });
  ASSERT_TRUE(peer->wait_for_frames(2));

  testing::internal::CaptureStdout();  // the back-off lines
  peer.reset();
  ASSERT_TRUE(kestrun_test::wait_until([&] {
    auto seen = events();
    return std::count(seen.begin(), seen.end(), "end") == 1 && seen.back() != "end";
  })) << "the client keeps trying while the server is down";
  thread_.post_sync([&] { auto_client_->write(message("while down")); });

  peer = start_peer(kestrun_test::test_certificates().localhost, port);
  ASSERT_TRUE(peer->wait_for_frames(2));
  // The first ping follows the held message on the new connection.
  ASSERT_TRUE(kestrun_test::wait_until([&] { return peer->frames().size() >= 3; }));
  thread_.post_sync([&] { auto_client_->disconnect(); });
  testing::internal::GetCapturedStdout();

  auto frames = peer->frames();
  EXPECT_EQ(parse(frames[0].text)["device"], Json("macos"));
  EXPECT_EQ(parse(frames[1].text), message("while down"));
  size_t copies = 0;
  for (const auto& frame : frames) {
    EXPECT_TRUE(frame.hmac_ok);
    copies += parse(frame.text) == message("while down");
    if (&frame != &frames[0] && &frame != &frames[1]) {
      EXPECT_EQ(parse(frame.text), message("ping"));
    }
  }
  EXPECT_EQ(copies, 1u);
}

// The server's stream is cut off by the client's own end: that is an end, not a truncation.
TEST_F(PeerTest, EndingTheClientEndsItWithoutAnError) {
  auto peer = start_peer(kestrun_test::test_certificates().localhost);
  make_client(options("localhost", peer->port()));
  thread_.post_sync([&] { client_->connect(); });
  ASSERT_TRUE(wait_for_events(1));
  ASSERT_TRUE(peer->send(server_write({R"({"type":"a"})"}, {}, sync_peer::ServerWrite::Flush::kSync)));
  ASSERT_TRUE(wait_for_events(2));
  thread_.post_sync([&] { client_->end(); });
  ASSERT_TRUE(peer->wait_for_client_close());
  thread_.post_sync([] {});
  EXPECT_EQ(events(), (std::vector<std::string>{"connect", R"(data {"type":"a"})", "end"}));
}

// The server's side of the wire compressed by hand, for bytes the scripted writer will not frame:
// `plain` (frames with their lengths) through one zlib stream, sync-flushed.
bytes compressed(const std::string& plain) {
  z_stream stream{};
  deflateInit(&stream, Z_BEST_COMPRESSION);
  bytes out(deflateBound(&stream, plain.size()) + 64);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
  stream.avail_in = static_cast<uInt>(plain.size());
  stream.next_out = out.data();
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_SYNC_FLUSH), Z_OK);
  out.resize(out.size() - stream.avail_out);
  deflateEnd(&stream);
  return out;
}

std::string frame(const std::string& payload) {
  uint32_t length = static_cast<uint32_t>(payload.size() + 4);
  std::string out(4, '\0');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>(length >> (8 * i));
  return out + payload;
}

// Whatever stage fails, the client reports that one error and ends the connection: nothing after
// it is inflated, split, parsed or delivered, and no end follows.
TEST_F(PeerTest, AnyStageErrorEndsTheConnectionAndStopsTheReadChain) {
  struct Case {
    const char* name;
    std::string plain;  // compressed and sent after the handshake
    std::string error;  // the start of the one error reported
  } cases[] = {
      // A zero length, then a run of zeros that inflates to 32 MiB over a few records: half the
      // inflater's bound for one chunk, since a loaded machine may read every record at once and
      // output past the bound would fail the inflater before the frame stage saw a byte.
      {"impossible frame length", frame("{\"a\":1}") + std::string(32u << 20, '\0'),
       "read error NetworkError::FRAME_TOO_SHORT (0)"},
      {"unparsable frame", frame("{\"a\":1}") + frame("{\"b\"") + frame("{\"c\":3}"),
       "read error JsonError::JSON_DECODE_ERROR (0)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clear_events();
    auto peer = start_peer(kestrun_test::test_certificates().localhost);
    make_client(options("localhost", peer->port()));
    thread_.post_sync([&] { client_->connect(); });
    ASSERT_TRUE(wait_for_events(1));
    ASSERT_TRUE(peer->send_raw(compressed(c.plain)));
    ASSERT_TRUE(peer->wait_for_client_close());
    ASSERT_TRUE(wait_for_events(3));
    thread_.post_sync([] {});  // anything still on its way has arrived
    std::vector<std::string> seen = events();
    ASSERT_EQ(seen.size(), 3u) << testing::PrintToString(seen);
    EXPECT_EQ(seen[0], "connect");
    EXPECT_EQ(seen[1], R"(data {"a":1})");
    EXPECT_EQ(seen[2].rfind(c.error, 0), 0u) << seen[2];
    thread_.post_sync([&] { client_.reset(); });
  }
}

// A host name the resolver refuses outright fails inside connect(). The bare client reports it once
// and starts nothing more: no handshake, whose deadline would report a second failure much later.
TEST(ApiClientTest, LookupThatCannotStartFailsOnceAndLeavesNothingRunning) {
  uv_loop_t loop;
  uv_loop_init(&loop);
  auto client = std::make_unique<ApiClient>(nullptr, &loop, options("\xff", 443));
  std::vector<std::string> errors;
  client->on_read_error = [&](Error error) { errors.push_back("read " + error.to_string()); };
  client->on_write_error = [&](Error error) { errors.push_back("write " + error.to_string()); };
  client->connect();
  client->write(message("after"));
  uv_run(&loop, UV_RUN_NOWAIT);
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].rfind("write DnsError::", 0), 0u) << errors[0];
  // The message written to the failed connection is reported, not dropped in silence.
  EXPECT_EQ(errors[1].rfind("write NetworkError::NOT_SENT", 0), 0u) << errors[1];
  EXPECT_FALSE(uv_loop_alive(&loop)) << "something still waits on the loop";
  client.reset();
  uv_run(&loop, UV_RUN_DEFAULT);
  EXPECT_EQ(uv_loop_close(&loop), 0);
}

// A host name the resolver refuses outright fails inside connect(); the client that owns the
// connection gives it up there and then, and nothing more is attempted on it.
TEST_F(PeerTest, LookupThatCannotStartEndsTheConnectionQuietly) {
  testing::internal::CaptureStdout();
  thread_.post_sync([&] {
    auto_client_ = std::make_unique<AutoConnectApiClient>(
        thread_.get_loop(),
        std::make_unique<ApiClientFactory>(nullptr, thread_.get_loop(), options("\xff", 443)));
    observe(*auto_client_);
    auto_client_->connect_now();
    auto_client_->disconnect();
  });
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("usage error"), std::string::npos) << out;
  ASSERT_EQ(events().size(), 1u);
  EXPECT_EQ(events()[0].rfind("write error DnsError::", 0), 0u) << events()[0];
}

}  // namespace
}  // namespace brelt
