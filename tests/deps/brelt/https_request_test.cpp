#include "brelt/https_request.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

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

using kestrun_test::text;
using kestrun_test::to_bytes;

// One request on the core thread against a local TLS server; what the request delivers is recorded.
class HttpsRequestTest : public testing::Test {
 protected:
  void SetUp() override { kestrun_test::trust_test_authority(); }

  template <class F>
  auto run(F f) {
    return kestrun_test::run_on(thread_, f);
  }

  void TearDown() override {
    run([&] { request_.reset(); });
    ASSERT_TRUE(kestrun_test::wait_until(
        [&] { return run([&] { return thread_.get_loop()->active_reqs.count; }) == 0; }));
    peer_.reset();
  }

  void start_server(const KeyedCertificate& certificate = test_certificates().localhost) {
    peer_ = std::make_unique<sync_peer::ScriptedPeer>(
        std::make_unique<sync_peer::TlsListener>(
            sync_peer::TlsServerSettings{certificate.certificate_pem, certificate.key_pem}),
        std::vector<unsigned char>{});
  }
  std::string base_url() { return "https://localhost:" + std::to_string(peer_->port()); }

  void send(HttpsRequest::Method method, const std::string& url,
            size_t max_body = HttpsRequest::kDefaultMaxBodySize,
            std::chrono::milliseconds total_timeout = HttpsRequest::kDefaultTotalTimeout) {
    run([&] {
      completions_ = 0;
      errors_ = 0;
      request_ = std::make_unique<HttpsRequest>(thread_.get_loop(), method, url,
                                                TlsFilter::kDefaultHandshakeTimeout, max_body, total_timeout);
      request_->set_on_response([this](HttpMetadata metadata, std::vector<unsigned char> body) {
        ++completions_;
        metadata_ = std::move(metadata);
        body_ = text(body);
      });
      request_->set_on_error([this] {
        ++completions_;
        ++errors_;
      });
      request_->connect();
    });
  }

  // Answers the request once it has arrived in full, then closes like a "Connection: close" server.
  void answer(const std::string& request_text, const std::string& response) {
    ASSERT_TRUE(peer_->wait_for_bytes(request_text.size()));
    ASSERT_TRUE(peer_->send_raw(to_bytes(response)));
    peer_->close_connection();
  }

  bool wait_for_completion() {
    return kestrun_test::wait_until([&] { return run([&] { return completions_; }) > 0; });
  }
  // Once the connection is gone nothing more can arrive; a pass of the loop then settles the count.
  int settled_completions() {
    EXPECT_TRUE(peer_->wait_for_client_close());
    return run([&] { return completions_; });
  }

  UvThread thread_{true};
  std::unique_ptr<sync_peer::ScriptedPeer> peer_;
  std::unique_ptr<HttpsRequest> request_;
  int completions_ = 0;
  int errors_ = 0;
  HttpMetadata metadata_;
  std::string body_;
};

TEST_F(HttpsRequestTest, GetAndPostSendExactRequestsAndDeliverTheWholeResponse) {
  struct Case {
    HttpsRequest::Method method;
    std::string path_and_rest;
    std::string request_line;
    std::string response;
    int status;
    std::string status_text;
    std::string body;
  } cases[] = {
      {HttpsRequest::Method::GET, "/b/x.json?day=1&n=2#top", "GET /b/x.json?day=1&n=2 HTTP/1.1\r\n",
       "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nX-Twice: first\r\nX-Twice: second\r\nContent-Length: "
       "5\r\n\r\nhello",
       200, "OK", "hello"},
      {HttpsRequest::Method::POST, "/p", "POST /p HTTP/1.1\r\n",
       "HTTP/1.1 201 Created\r\nContent-Type: text/plain\r\nX-Twice: a\r\nX-Twice: "
       "second\r\nTransfer-Encoding: "
       "chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n",
       201, "Created", "hello world"},
      {HttpsRequest::Method::GET, "/missing", "GET /missing HTTP/1.1\r\n",
       "HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\nX-Twice: second\r\nContent-Length: 9\r\n\r\nnot "
       "here!",
       404, "Not Found", "not here!"},
      {HttpsRequest::Method::GET, "/until-close", "GET /until-close HTTP/1.1\r\n",
       "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nX-Twice: second\r\n\r\nthe body ends with the "
       "connection",
       200, "OK", "the body ends with the connection"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request_line);
    start_server();
    send(c.method, base_url() + c.path_and_rest);
    std::string expected_request = c.request_line + "Host: localhost\r\nConnection: close\r\n\r\n";
    answer(expected_request, c.response);
    ASSERT_TRUE(wait_for_completion());
    EXPECT_EQ(settled_completions(), 1);
    EXPECT_EQ(text(peer_->received_bytes()), expected_request);
    EXPECT_EQ(run([&] { return errors_; }), 0);
    HttpMetadata metadata = run([&] { return metadata_; });
    EXPECT_EQ(metadata.status_code, c.status);
    EXPECT_EQ(metadata.status_text, c.status_text);
    EXPECT_EQ(metadata.headers["X-Twice"], "second");
    EXPECT_EQ(metadata.headers.count("Content-Type"), 1u);
    EXPECT_EQ(metadata.headers.count("content-type"), 0u);  // names are kept as received
    EXPECT_EQ(run([&] { return body_; }), c.body);
    TearDown();
  }
}

// Also a response followed by stray bytes: the response is delivered and the later parse error is
// not reported on top of it.
TEST_F(HttpsRequestTest, EveryFailureCompletesOnceWithAnError) {
  struct Case {
    const char* name;
    std::string response;  // empty: close without answering
    size_t max_body = HttpsRequest::kDefaultMaxBodySize;
  } cases[] = {
      {"closed before the first byte", ""},
      {"closed inside the body", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc"},
      {"unparsable response", "SMTP/1.1 200 OK\r\n\r\n"},
      {"bytes after the response", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokGARBAGE"},
      {"body over the limit", "HTTP/1.1 200 OK\r\nContent-Length: 20\r\n\r\n01234567890123456789", 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    start_server();
    send(HttpsRequest::Method::GET, base_url() + "/f", c.max_body);
    answer("GET /f HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n", c.response);
    ASSERT_TRUE(wait_for_completion());
    EXPECT_EQ(settled_completions(), 1);
    bool answered_in_full = std::string(c.name) == "bytes after the response";
    EXPECT_EQ(run([&] { return errors_; }), answered_in_full ? 0 : 1);
    TearDown();
  }
}

// A server that goes quiet after the handshake, or after the head, cannot hold the request past
// its total deadline; the request then closes the connection. The deadline runs from connect(), so
// on a loaded machine it may pass before the request is even sent; the request fails alike.
TEST_F(HttpsRequestTest, ResponseNotCompleteByTheTotalDeadlineFailsAndClosesTheConnection) {
  const std::string request = "GET /slow HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
  const std::string partial[] = {"", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc"};
  for (const std::string& sent : partial) {
    SCOPED_TRACE(sent);
    start_server();
    send(HttpsRequest::Method::GET, base_url() + "/slow", HttpsRequest::kDefaultMaxBodySize,
         std::chrono::milliseconds(100));
    ASSERT_TRUE(kestrun_test::wait_until([&] {
      return peer_->received_bytes().size() >= request.size() || run([&] { return completions_; }) > 0;
    }));
    const bool request_arrived = peer_->received_bytes().size() >= request.size();
    // The deadline may pass while the head is on its way; the peer then finds the connection closed.
    if (request_arrived && !sent.empty()) peer_->send_raw(to_bytes(sent));
    ASSERT_TRUE(wait_for_completion());
    if (request_arrived) {
      EXPECT_EQ(settled_completions(), 1);  // the client closed the connection
    } else {
      EXPECT_EQ(run([&] { return completions_; }), 1);
    }
    EXPECT_EQ(run([&] { return errors_; }), 1);
    TearDown();
  }
}

TEST_F(HttpsRequestTest, ServerNotNamedInItsCertificateGetsNoRequest) {
  start_server(test_certificates().other_host);
  send(HttpsRequest::Method::GET, base_url() + "/secret?token=1");
  ASSERT_TRUE(wait_for_completion());
  EXPECT_EQ(settled_completions(), 1);
  EXPECT_EQ(run([&] { return errors_; }), 1);
  EXPECT_TRUE(peer_->received_bytes().empty());
}

TEST_F(HttpsRequestTest, RefusedConnectionCompletesOnceWithAnError) {
  uint16_t closed_port;
  {
    sync_peer::TcpListener listener;
    closed_port = listener.port();
  }
  send(HttpsRequest::Method::GET, "https://127.0.0.1:" + std::to_string(closed_port) + "/x");
  ASSERT_TRUE(wait_for_completion());
  ASSERT_TRUE(kestrun_test::wait_until(
      [&] { return run([&] { return thread_.get_loop()->active_reqs.count; }) == 0; }));
  EXPECT_EQ(run([&] { return completions_; }), 1);
  EXPECT_EQ(run([&] { return errors_; }), 1);
}

TEST(HttpsRequestUrlTest, UrlSplitsIntoHostPortAndPathWithQuery) {
  UvThread thread(true);
  thread.post_sync([&] {
    HttpsRequest full(thread.get_loop(), HttpsRequest::Method::GET, "https://h.example:8443/b/x.json?q=1#f");
    EXPECT_EQ(full.host, "h.example");
    EXPECT_EQ(full.port, "8443");
    EXPECT_EQ(full.request_text(),
              "GET /b/x.json?q=1 HTTP/1.1\r\nHost: h.example\r\nConnection: close\r\n\r\n");

    HttpsRequest bare(thread.get_loop(), HttpsRequest::Method::POST, "https://h.example");
    EXPECT_EQ(bare.port, "443");
    EXPECT_EQ(bare.request_text(), "POST / HTTP/1.1\r\nHost: h.example\r\nConnection: close\r\n\r\n");

    for (const std::string url : {"not a url", "/only/a/path", ""}) {
      try {
        HttpsRequest bad(thread.get_loop(), HttpsRequest::Method::GET, url);
        ADD_FAILURE() << "no exception for " << url;
      } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "can't parse url: `" + url + "`");
      }
    }
  });
}

}  // namespace
}  // namespace brelt
