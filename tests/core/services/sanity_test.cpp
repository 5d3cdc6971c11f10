#include "core/services/sanity.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "core/foundation/task_manager.h"
#include "core/foundation/thread_pool.h"
#include "core/foundation/utility.h"
#include "core/services/ks_http.h"
#include "support/temp_dir.h"
#include "support/test_certificates.h"
#include "support/test_trust_anchors.h"
#include "tools/host_http/http_bridge.h"
#include "tools/https_test_server/https_test_server.h"

namespace libkestrun {
namespace {

namespace fs = std::filesystem;
using jsonette::Json;

const int64_t kDayMs = 24 * 3600 * 1000LL;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> lines(const std::string& path) {
  std::vector<std::string> result;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

// Every function is a no-op until the trace exists; this must stay the first test of the file.
TEST(SanityBeforeInitializeTest, EveryFunctionDoesNothing) {
  kestrun_test::TempDir cwd;
  fs::path previous = fs::current_path();
  fs::current_path(cwd.path());
  sanity::log("early");
  sanity::log_json("early", Json::object{{"a", 1}});
  sanity::request_send_later();
  sanity::send_if_requested();
  sanity::upload();
  sanity::stop();
  fs::current_path(previous);
  EXPECT_TRUE(fs::is_empty(cwd.path()));
}

class SanityTest : public ::testing::Test {
 protected:
  SanityTest() { libkestrun::thread_pool::start(2); }
  ~SanityTest() override {
    libkestrun::thread_pool::stop();
    KSHttp::setUploadFunction(nullptr);
  }

  void initialize() { sanity::initialize(tasks, dir.path(), "https://localhost:1/sanity/dump"); }
  std::string file(const std::string& name) const { return dir.file(name); }

  kestrun_test::TempDir dir;
  std::shared_ptr<LoggingTaskManager> tasks = std::make_shared<LoggingTaskManager>();
};

TEST_F(SanityTest, ANewDirectoryGetsTheStartTimeAndATraceOfOneLine) {
  std::ofstream(file("sanity_stop")) << "old";
  std::ofstream(file("sanity_count")) << "3";
  int64_t before = Utility::now_ms();
  initialize();
  int64_t after = Utility::now_ms();
  int64_t start = std::stoll(read_file(file("sanity_inittime")));
  EXPECT_GE(start, before);
  EXPECT_LE(start, after);
  EXPECT_EQ(read_file(file("sanity_inittime")), std::to_string(start));  // no newline
  std::vector<std::string> trace = lines(file("sanity"));
  ASSERT_EQ(trace.size(), 1u);
  EXPECT_TRUE(std::regex_match(trace[0], std::regex(R"(0x[0-9a-f]+\|\d+\|\d+\|Initialized2)"))) << trace[0];
  EXPECT_FALSE(fs::exists(file("sanity_stop")));
  EXPECT_FALSE(fs::exists(file("sanity_count")));

  // A restart keeps the start time and begins an empty trace.
  sanity::log("first process");
  initialize();
  EXPECT_EQ(read_file(file("sanity_inittime")), std::to_string(start));
  trace = lines(file("sanity"));
  ASSERT_EQ(trace.size(), 1u);
  EXPECT_NE(trace[0].find("|Initialized2"), std::string::npos);
}

TEST(SanityRedactTest, SensitiveValuesReadRedacted) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {R"({"subject": "s", "to": [{"address": "a"}], "data": {"preview": "p"}, "id": "x"})",
       R"({"data": {"preview": "[redacted]"}, "id": "x", "subject": "[redacted]", "to": [{"address": "a"}]})"},
      {R"({"password": 5, "access_token": "t", "list": [{"query": "q"}, "plain"]})",
       R"({"access_token": "[redacted]", "list": [{"query": "[redacted]"}, "plain"], "password": 5})"},
      {R"({"device_secret": "s", "token": "t", "push_token": "p", "harnvik_credentials": {"type": 2, "token": "x"}})",
       R"({"device_secret": "[redacted]", "harnvik_credentials": "[redacted]", "push_token": "[redacted]",
           "token": "[redacted]"})"},
      {R"({"params": {"harnvik_credentials": null, "user_id": "u"}})",
       R"({"params": {"harnvik_credentials": "[redacted]", "user_id": "u"}})"},
      {R"(["to", {"from": "f"}])", R"(["to", {"from": "[redacted]"}])"},
      {R"("subject")", R"("subject")"},
  };
  for (const auto& c : cases) {
    std::string error;
    Json in = Json::parse(c.in, error);
    Json out = Json::parse(c.out, error);
    ASSERT_TRUE(error.empty()) << c.out;
    EXPECT_EQ(sanity::redact(in), out) << c.in;
  }
}

TEST_F(SanityTest, LoggedJsonNeverShowsSecrets) {
  initialize();
  sanity::log_json("USER_NEW_DEVICE",
                   Json::object{{"device_secret", "ds-123"},
                                {"token", "tk-456"},
                                {"harnvik_credentials", Json::object{{"token_secret", "ts-789"}}},
                                {"type", 5}});
  std::vector<std::string> trace = lines(file("sanity"));
  ASSERT_EQ(trace.size(), 2u);
  EXPECT_TRUE(trace[1].ends_with(
      R"(|USER_NEW_DEVICE: {"device_secret":"[redacted]","harnvik_credentials":"[redacted]","token":"[redacted]","type":5})"))
      << trace[1];
  for (const char* secret : {"ds-123", "tk-456", "ts-789"}) {
    EXPECT_EQ(read_file(file("sanity")).find(secret), std::string::npos);
  }
}

TEST_F(SanityTest, TheStopFileKeepsTheTraceOffButAPendingRequestIsStillCleared) {
  std::ofstream(file("sanity_stop2")) << "stop\n";
  initialize();
  sanity::log("hidden");
  sanity::request_send_later();
  EXPECT_FALSE(fs::exists(file("sanity")));
  EXPECT_FALSE(fs::exists(file("sanity_send_later")));

  std::ofstream(file("sanity_send_later")) << "send\n";
  sanity::send_if_requested();
  EXPECT_FALSE(fs::exists(file("sanity_send_later")));
  sanity::upload();
  EXPECT_FALSE(tasks->has_tasks());  // no uploader was made
}

TEST_F(SanityTest, SendIfRequestedEndsTheTraceAfterFourteenDays) {
  const struct {
    std::string start_time;
    bool ends;
  } cases[] = {{std::to_string(Utility::now_ms() - 15 * kDayMs), true},
               {std::to_string(Utility::now_ms() - 13 * kDayMs), false},
               {"not a number", true},
               {"", true}};
  for (const auto& c : cases) {
    kestrun_test::TempDir fresh;
    std::ofstream(fresh.file("sanity_inittime")) << c.start_time;
    sanity::initialize(tasks, fresh.path(), "https://localhost:1/sanity/dump");
    std::ofstream(fresh.file("sanity_send_later")) << "send\n";
    if (c.ends) {
      sanity::send_if_requested();
      EXPECT_EQ(read_file(fresh.file("sanity_stop2")), "stop\n") << c.start_time;
      EXPECT_FALSE(fs::exists(fresh.file("sanity_inittime")));
      EXPECT_FALSE(fs::exists(fresh.file("sanity")));
      EXPECT_FALSE(fs::exists(fresh.file("sanity_send_later")));
      EXPECT_FALSE(tasks->has_tasks());  // the pending request uploaded nothing
      sanity::log("after the end");
      EXPECT_FALSE(fs::exists(fresh.file("sanity")));
    } else {
      fs::remove(fresh.file("sanity_send_later"));
      sanity::send_if_requested();
      EXPECT_FALSE(fs::exists(fresh.file("sanity_stop2")));
      sanity::log("still tracing");
      EXPECT_EQ(lines(fresh.file("sanity")).size(), 2u);
    }
  }
}

TEST_F(SanityTest, TwoUploadsPostTheTraceOnceToTheDumpEndpoint) {
  kestrun_test::trust_test_authority();
  const auto& certificate = kestrun_test::test_certificates().localhost;
  https_test_server::HttpsTestServer server(certificate.certificate_pem, certificate.key_pem);
  https_test_server::Reply reply;
  reply.body = R"({"url": "https://diagnostics/1"})";
  server.script("/sanity/dump", reply);
  auto bridge = std::make_shared<kestrun_host::HttpBridge>(dir.path());
  KSHttp::Uploader::initialize(kestrun_host::HttpBridge::upload_hook(bridge));

  sanity::initialize(tasks, dir.path(), server.url("/sanity/dump"));
  sanity::log("Api::connect");
  sanity::request_send_later();
  EXPECT_EQ(read_file(file("sanity_send_later")), "send\n");
  sanity::send_if_requested();  // the first upload
  EXPECT_FALSE(fs::exists(file("sanity_send_later")));
  sanity::upload();
  ASSERT_TRUE(server.wait_for_requests(1));
  // Once both workers have taken what was queued and finished it, every request is in.
  std::promise<void> drained;
  libkestrun::thread_pool::post([&drained] { drained.set_value(); });
  drained.get_future().wait();
  libkestrun::thread_pool::stop();

  std::vector<https_test_server::Request> requests = server.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, "/sanity/dump");
  EXPECT_TRUE(requests[0].fields.empty());
  ASSERT_EQ(requests[0].parts.size(), 1u);
  EXPECT_EQ(requests[0].parts[0].name, "sanity");
  EXPECT_EQ(requests[0].parts[0].content, read_file(file("sanity")));  // the trace stays
  EXPECT_NE(requests[0].parts[0].content.find("|Api::connect\n"), std::string::npos);
  EXPECT_TRUE(tasks->has_tasks());  // the uploader is kept
}

}  // namespace
}  // namespace libkestrun
