#include "tools/host_http/http_bridge.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "core/foundation/thread_pool.h"
#include "stalled_lookup.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"
#include "support/test_trust_anchors.h"
#include "tools/https_test_server/https_test_server.h"
#include "tools/sync_peer/tcp_transport.h"

namespace kestrun_host {
namespace {

using https_test_server::HttpsTestServer;
using https_test_server::Reply;
using kestrun_test::test_certificates;
using Fields = std::map<std::string, std::string>;

// Owns one jansson reference.
struct JsonValue {
  explicit JsonValue(const char* text) : value(json_loads(text, JSON_DECODE_ANY, nullptr)) {}
  ~JsonValue() { json_decref(value); }
  json_t* value;
};

Reply answer(int status, std::string body, std::vector<std::pair<std::string, std::string>> headers = {}) {
  Reply reply;
  reply.status = status;
  reply.body = std::move(body);
  reply.headers = std::move(headers);
  return reply;
}

std::string body_text(const KSHttp::Response& response) {
  return response.body ? std::string(response.body, static_cast<size_t>(response.body_size)) : "";
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> entries(const std::string& directory) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    names.push_back(entry.path().filename());
  }
  return names;
}

std::string random_bytes(size_t size) {
  std::mt19937 generator(29);
  std::string bytes(size, '\0');
  for (char& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

class HttpBridgeTest : public ::testing::Test {
 protected:
  HttpBridgeTest() { kestrun_test::trust_test_authority(); }

  KSHttp::Response get(const std::string& url, bool to_file = false,
                       KSHttp::ProgressFunction progress = nullptr, int timeout = 60000) {
    return bridge->download(url, "GET", nullptr, timeout, 0, std::move(progress), to_file);
  }

  KSHttp::Response upload(const std::string& url, json_t* params, const std::string& file_path) {
    return bridge->upload(url, "POST", params, file_path, "report.txt", 60000, 0);
  }

  kestrun_test::TempDir downloads;
  kestrun_test::TempDir files;
  HttpsTestServer server{test_certificates().localhost.certificate_pem,
                         test_certificates().localhost.key_pem};
  std::shared_ptr<HttpBridge> bridge = std::make_shared<HttpBridge>(downloads.path());
};

TEST_F(HttpBridgeTest, FieldsArriveAsSentForGetAndPost) {
  server.script("/echo", answer(200, "hello"));
  JsonValue params(R"({"s": "a b&c=d+e%", "n": 42, "o": {"x": [1, true]}, "u": "f\u00fcr", "e": ""})");
  const Fields sent = {
      {"s", "a b&c=d+e%"}, {"n", "42"}, {"o", R"({"x":[1,true]})"}, {"u", "f\u00fcr"}, {"e", ""}};
  const struct {
    const char* method;
    const char* path;
    Fields extra;  // fields already in the URL
  } cases[] = {{"GET", "/echo", {}}, {"GET", "/echo?fixed=1", {{"fixed", "1"}}}, {"POST", "/echo", {}}};
  for (const auto& c : cases) {
    KSHttp::Response response =
        bridge->download(server.url(c.path), c.method, params.value, 60000, 0, nullptr, false);
    EXPECT_EQ(response.status, 200) << c.method << " " << c.path;
    EXPECT_EQ(body_text(response), "hello");
    EXPECT_TRUE(response.file_path.empty());
  }
  std::vector<https_test_server::Request> requests = server.requests();
  ASSERT_EQ(requests.size(), std::size(cases));
  for (size_t i = 0; i < requests.size(); ++i) {
    Fields expected = sent;
    expected.insert(cases[i].extra.begin(), cases[i].extra.end());
    EXPECT_EQ(requests[i].method, cases[i].method);
    EXPECT_EQ(requests[i].path, "/echo");
    EXPECT_EQ(requests[i].fields, expected) << i;
  }
}

TEST_F(HttpBridgeTest, ToFileDownloadWritesTheExactBytesToAFileNamedByAUuid) {
  const std::string body = random_bytes(300 * 1024);
  server.script("/picture", answer(200, body));
  for (bool to_file : {true, false}) {
    std::vector<int64_t> progress;
    KSHttp::Response response =
        get(server.url("/picture"), to_file, [&progress](int64_t bytes) { progress.push_back(bytes); });
    ASSERT_EQ(response.status, 200);
    ASSERT_FALSE(progress.empty());
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), static_cast<int64_t>(body.size()));
    if (to_file) {
      std::filesystem::path path(response.file_path);
      EXPECT_EQ(path.parent_path(), downloads.path());
      EXPECT_TRUE(
          std::regex_match(path.filename().string(),
                           std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
          << path;
      EXPECT_EQ(read_file(response.file_path), body);
      EXPECT_EQ(response.body_size, 0);
    } else {
      EXPECT_TRUE(response.file_path.empty());
      EXPECT_EQ(body_text(response), body);
    }
  }
  EXPECT_EQ(entries(downloads.path()).size(), 1u);
}

TEST_F(HttpBridgeTest, HttpStatusesArriveAsTheyAreAndLeaveNoFile) {
  server.script("/missing", answer(404, "gone"));
  server.script("/busy", answer(503, "later"));
  std::ofstream(files.file("report.txt")) << "data";
  const struct {
    const char* path;
    int status;
  } cases[] = {{"/missing", 404}, {"/busy", 503}};
  for (const auto& c : cases) {
    EXPECT_EQ(get(server.url(c.path)).status, c.status);
    KSHttp::Response to_file = get(server.url(c.path), true);
    EXPECT_EQ(to_file.status, c.status);
    EXPECT_TRUE(to_file.file_path.empty());
    KSHttp::Response uploaded = upload(server.url(c.path), nullptr, files.file("report.txt"));
    EXPECT_EQ(uploaded.status, c.status);
    EXPECT_EQ(uploaded.body_size, 0);
  }
  EXPECT_TRUE(entries(downloads.path()).empty());
}

TEST_F(HttpBridgeTest, UploadSendsFieldsAndTheFileAndNeedsAUrlInTheReply) {
  const std::string content = random_bytes(40 * 1024);
  std::ofstream(files.file("trace"), std::ios::binary) << content;
  JsonValue params(R"({"device": "d1", "size": 7})");
  const struct {
    const char* reply;
    int status;
  } cases[] = {{R"({"url": "https://files.example/x", "id": 1})", 200},
               {R"({"id": 1})", 0},
               {R"(["url"])", 0},
               {"not json", 0}};
  for (const auto& c : cases) {
    server.script("/upload", answer(200, c.reply));
    KSHttp::Response response =
        bridge->upload(server.url("/upload"), "PUT", params.value, files.file("trace"), "sanity", 60000, 0);
    EXPECT_EQ(response.status, c.status) << c.reply;
    EXPECT_EQ(body_text(response), c.status == 200 ? c.reply : "");
  }
  std::vector<https_test_server::Request> requests = server.requests();
  ASSERT_EQ(requests.size(), std::size(cases));
  const https_test_server::Request& request = requests[0];
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.fields, (Fields{{"device", "d1"}, {"size", "7"}}));
  ASSERT_EQ(request.parts.size(), 3u);
  EXPECT_EQ(request.parts[2].name, "sanity");
  EXPECT_EQ(request.parts[2].filename, "sanity");
  EXPECT_EQ(request.parts[2].content, content);
}

// A trace keeps growing while it is uploaded. The client is held on full socket buffers far
// before the end of the file while a line is added, and must still send the declared length.
TEST_F(HttpBridgeTest, AnUploadSendsTheFileAsItStoodWhenTheUploadBegan) {
  const std::string content = random_bytes(32 << 20);  // far more than the socket buffers hold
  std::ofstream(files.file("trace"), std::ios::binary) << content;
  sync_peer::TcpListener listener;
  const std::string url = "http://127.0.0.1:" + std::to_string(listener.port()) + "/upload";
  std::future<KSHttp::Response> running = std::async(std::launch::async, [&] {
    return bridge->upload(url, "POST", nullptr, files.file("trace"), "sanity", 60000, 0);
  });
  std::unique_ptr<sync_peer::Connection> connection = listener.accept();
  ASSERT_TRUE(connection);
  std::ofstream(files.file("trace"), std::ios::binary | std::ios::app) << "a line logged meanwhile\n";

  std::string received;
  auto read_until = [&](size_t size) {
    std::vector<unsigned char> buffer(1 << 16);
    while (received.size() < size) {
      long n = connection->read(buffer.data(), buffer.size());
      if (n <= 0) return false;
      received.append(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(n));
    }
    return true;
  };
  size_t head_end = std::string::npos;
  while (head_end == std::string::npos && read_until(received.size() + 1))
    head_end = received.find("\r\n\r\n");
  std::optional<https_test_server::Request> request;
  if (head_end != std::string::npos) request = https_test_server::parse_head(received.substr(0, head_end));
  if (request && read_until(head_end + 4 + std::stoul(request->headers["content-length"]))) {
    request->body = received.substr(head_end + 4, std::stoul(request->headers["content-length"]));
    https_test_server::parse_fields(*request);
  }
  const std::string reply = "{\"url\": \"https://files.example/x\"}";
  const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(reply.size()) +
                             "\r\nConnection: close\r\n\r\n" + reply;
  connection->write_all(reinterpret_cast<const unsigned char*>(answer.data()), answer.size());
  connection->shutdown();
  running.wait();

  ASSERT_TRUE(request);
  ASSERT_EQ(request->parts.size(), 1u);
  EXPECT_EQ(request->parts[0].filename, "sanity");
  EXPECT_TRUE(request->parts[0].content == content);  // not printed: 32 MiB
}

TEST_F(HttpBridgeTest, AnUploadOfAMissingFileSendsNothing) {
  EXPECT_EQ(upload(server.url("/upload"), nullptr, files.file("absent")).status, 0);
  EXPECT_EQ(server.connections(), 0u);
}

TEST_F(HttpBridgeTest, FailuresBelowHttpGiveStatusZeroAndSendNoRequest) {
  uint16_t closed_port;
  {
    sync_peer::TcpListener listener;
    closed_port = listener.port();
  }
  std::ofstream(files.file("report.txt")) << "data";
  const auto& certificates = test_certificates();
  const struct {
    const char* name;
    const kestrun_test::KeyedCertificate* certificate;  // null: nothing listens
  } cases[] = {{"closed port", nullptr},
               {"self-signed", &certificates.self_signed},
               {"wrong host", &certificates.other_host},
               {"unknown authority", &certificates.unknown_authority},
               {"expired", &certificates.expired}};
  for (const auto& c : cases) {
    std::unique_ptr<HttpsTestServer> peer;
    std::string url = "https://localhost:" + std::to_string(closed_port) + "/x";
    if (c.certificate) {
      peer = std::make_unique<HttpsTestServer>(c.certificate->certificate_pem, c.certificate->key_pem);
      url = peer->url("/x");
    }
    EXPECT_EQ(get(url).status, 0) << c.name;
    EXPECT_EQ(get(url, true).status, 0) << c.name;
    EXPECT_EQ(upload(url, nullptr, files.file("report.txt")).status, 0) << c.name;
    if (peer) {
      EXPECT_EQ(peer->connections(), 3u) << c.name;
      EXPECT_EQ(peer->received_bytes(), 0u) << c.name;
    }
  }
  EXPECT_TRUE(entries(downloads.path()).empty());
}

TEST_F(HttpBridgeTest, ADroppedConnectionGivesStatusZero) {
  Reply drop;
  drop.drop = true;
  server.script("/drop", drop);
  EXPECT_EQ(get(server.url("/drop")).status, 0);
  EXPECT_EQ(get(server.url("/drop"), true).status, 0);
  EXPECT_TRUE(entries(downloads.path()).empty());
  EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(HttpBridgeTest, OnlyHttpAndHttpsUrlsAreFetchedAlsoAfterRedirects) {
  std::ofstream(files.file("secret")) << "local file";
  const std::string file_url = "file://" + files.file("secret");
  const std::string ftp_url = "ftp://127.0.0.1:" + std::to_string(server.port()) + "/x";
  server.script("/to-file", answer(302, "", {{"Location", file_url}}));
  server.script("/to-ftp", answer(302, "", {{"Location", ftp_url}}));
  server.script("/to-https", answer(302, "", {{"Location", server.url("/target")}}));
  // From https, not even a redirect to the same server over plain http is followed.
  server.script(
      "/to-http",
      answer(307, "", {{"Location", "http://127.0.0.1:" + std::to_string(server.port()) + "/target"}}));
  server.script("/target", answer(200, "reached"));
  const struct {
    std::string url;
    int status;
  } cases[] = {{file_url, 0},
               {ftp_url, 0},
               {"gopher://127.0.0.1/x", 0},
               {server.url("/to-file"), 0},
               {server.url("/to-ftp"), 0},
               {server.url("/to-http"), 0},
               {server.url("/to-https"), 200}};
  for (const auto& c : cases) {
    KSHttp::Response response = get(c.url);
    EXPECT_EQ(response.status, c.status) << c.url;
    EXPECT_EQ(body_text(response), c.status == 200 ? "reached" : "") << c.url;
    EXPECT_EQ(get(c.url, true).status, c.status) << c.url;
  }
  // Only the redirect from /to-https was fetched to the end, and no other protocol reached the port.
  EXPECT_EQ(entries(downloads.path()).size(), 1u);
  EXPECT_EQ(server.connections(), server.requests().size());
  for (const auto& request : server.requests()) EXPECT_EQ(request.method, "GET");
}

TEST_F(HttpBridgeTest, StopEndsAStalledDownloadAndRefusesLaterCalls) {
  Reply stall = answer(200, random_bytes(10000));
  stall.hold_after = 1000;
  server.script("/stall", stall);
  std::future<KSHttp::Response> running =
      std::async(std::launch::async, [&] { return get(server.url("/stall"), true); });
  ASSERT_TRUE(server.wait_for_hold());
  bridge->stop();
  EXPECT_EQ(running.get().status, 0);
  EXPECT_EQ(get(server.url("/echo")).status, 0);
  EXPECT_EQ(server.connections(), 1u);
  EXPECT_TRUE(entries(downloads.path()).empty());
}

TEST_F(HttpBridgeTest, StopEndsADownloadWhoseHostNameLookupStalls) {
  std::future<KSHttp::Response> running = std::async(
      std::launch::async, [&] { return get(std::string("https://") + kStalledHost + "/x", true); });
  ASSERT_TRUE(wait_for_stalled_lookup());
  bridge->stop();
  // The transfer must not wait for the resolver; the lookup is let go only afterwards.
  bool ended = running.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  release_stalled_lookups();
  EXPECT_TRUE(ended);
  EXPECT_EQ(running.get().status, 0);
  EXPECT_TRUE(entries(downloads.path()).empty());
}

TEST_F(HttpBridgeTest, ATransferInWhichNothingMovesForTheTimeoutEnds) {
  Reply stall = answer(200, random_bytes(10000));
  stall.hold_after = 1000;
  server.script("/stall", stall);
  std::vector<int64_t> progress;
  auto record = [&progress](int64_t bytes) { progress.push_back(bytes); };
  EXPECT_EQ(get(server.url("/stall"), false, record, 1000).status, 0);
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), 1000);
}

TEST_F(HttpBridgeTest, TheDownloaderHandsTheBodyToItsCallbackThroughTheHook) {
  libkestrun::thread_pool::start(2);
  KSHttp::Downloader::initialize(HttpBridge::download_hook(bridge));
  server.script("/body", answer(200, "full body"));
  server.script("/missing", answer(404, ""));
  std::promise<std::string> body;
  std::promise<int> client_error;
  auto downloader = std::make_shared<KSHttp::Downloader>(server.url("/body"));
  downloader->setSuccessCallback([&](KSHttp::Response response) { body.set_value(body_text(response)); });
  downloader->post(jsonette::Json::object{{"id", "m1"}});
  EXPECT_EQ(body.get_future().get(), "full body");
  auto missing = std::make_shared<KSHttp::Downloader>(server.url("/missing"));
  missing->setClientErrorCallback(
      [&](KSHttp::Response response) { client_error.set_value(response.status); });
  missing->get(jsonette::Json());
  EXPECT_EQ(client_error.get_future().get(), 404);
  libkestrun::thread_pool::stop();
  KSHttp::setDownloadFunction(nullptr);
  EXPECT_EQ(server.requests()[0].fields, (Fields{{"id", "m1"}}));
}

}  // namespace
}  // namespace kestrun_host
