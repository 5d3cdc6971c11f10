#include "core/services/http_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "core/foundation/thread_pool.h"
#include "services_fixtures.h"
#include "support/on_loop.h"
#include "support/test_certificates.h"
#include "support/test_trust_anchors.h"
#include "support/wait.h"
#include "tools/host_http/http_bridge.h"
#include "tools/https_test_server/https_test_server.h"

namespace libkestrun {
namespace {

using jsonette::Json;
using kestrun_test::run_on;
using kestrun_test::wait_until;

https_test_server::Reply status(int code) {
  https_test_server::Reply reply;
  reply.status = code;
  return reply;
}

// The manager over a LevelDB store, the host's real download hook and the local HTTPS server. The
// hook is wrapped so the test also sees every URL that reached it.
class HttpManagerTest : public ::testing::Test {
 protected:
  HttpManagerTest() : server(certificate().certificate_pem, certificate().key_pem) {
    thread_pool::start(2);
    auto bridge = std::make_shared<kestrun_host::HttpBridge>(dir.path());
    KSHttp::DownloadHook hook = kestrun_host::HttpBridge::download_hook(bridge);
    KSHttp::Downloader::initialize([this, hook](const std::string& url, const std::string& method,
                                                json_t* params, int timeout, int retries,
                                                KSHttp::ProgressFunction progress, bool to_file) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        fetched.push_back(url);
      }
      return hook(url, method, params, timeout, retries, std::move(progress), to_file);
    });
  }
  ~HttpManagerTest() override {
    manager.reset();
    thread_pool::stop();
    KSHttp::setDownloadFunction(nullptr);
  }

  static const kestrun_test::KeyedCertificate& certificate() {
    kestrun_test::trust_test_authority();
    return kestrun_test::test_certificates().localhost;
  }

  void open(HttpManager::RandomSource random = [] { return 0.0; }) {
    manager = std::make_unique<HttpManager>(dir.store(), thread, std::move(random));
  }
  void add(const std::string& email_id, const std::string& url, int32_t bound = 1) {
    run_on(thread, [&] { manager->add_request(email_id, url, bound); });
  }

  // The saved requests, by id.
  Json::object saved() {
    std::optional<Json> queue = JsonKvStore(dir.store()).get_json(HttpManager::kSavedUrlsKey);
    return queue ? (*queue)["requests"].object_items() : Json::object{};
  }
  // The one saved request's bound; 0 unless exactly one is saved.
  int32_t saved_bound() {
    Json::object requests = saved();
    return requests.size() == 1 ? requests.begin()->second["max_delay_time"].int_value() : 0;
  }
  size_t requests_for(const std::string& path) {
    size_t count = 0;
    for (const auto& request : server.requests()) count += request.path == path ? 1 : 0;
    return count;
  }
  std::vector<std::string> fetched_urls() {
    std::lock_guard<std::mutex> lock(mutex);
    return fetched;
  }
  // Every transfer handed to the pool has reported, and the core thread has handled the reports.
  void settle() {
    thread_pool::stop();
    run_on(thread, [] {});
    thread_pool::start(2);
  }

  kestrun_test::StoreDir dir;
  brelt::UvThread thread{true};
  https_test_server::HttpsTestServer server;
  std::mutex mutex;
  std::vector<std::string> fetched;  // guarded by mutex
  std::unique_ptr<HttpManager> manager;
};

TEST(HttpManagerBackoff, BoundsDoubleUpToTheCapAndWaitBelowTheBound) {
  std::vector<int32_t> bounds{1};
  while (bounds.size() < 7) bounds.push_back(HttpManager::backoff(bounds.back(), 0.5).next_bound);
  EXPECT_EQ(bounds, (std::vector<int32_t>{1, 2, 4, 8, 16, 32, 32}));

  struct Case {
    int32_t bound;
    double random;
    int64_t wait_ms;
    int32_t next;
  };
  const std::vector<Case> cases = {
      {1, 0.0, 0, 2},      {1, 0.9999, 999, 2}, {2, 0.5, 1000, 4}, {29, 0.0, 0, 58},
      {30, 0.1, 3000, 30}, {0, 0.7, 0, 2},      {-3, 0.5, 0, 2},
  };
  for (const Case& c : cases) {
    HttpManager::Backoff backoff = HttpManager::backoff(c.bound, c.random);
    EXPECT_EQ(backoff.wait_ms, c.wait_ms) << c.bound << " " << c.random;
    EXPECT_EQ(backoff.next_bound, c.next) << c.bound;
  }
}

TEST_F(HttpManagerTest, TwoServiceErrorsThenSuccessRetryWithGrowingBoundsAndRemoveTheRequest) {
  server.script("/rsvp", status(503));
  std::mt19937_64 engine(39);
  std::vector<HttpManager::Backoff> waits;  // touched on the core thread only
  std::vector<int32_t> bounds;
  open([&] {
    // Called when a failure is to be retried, with the failed request still saved.
    double r = std::generate_canonical<double, 53>(engine);
    bounds.push_back(saved_bound());
    waits.push_back(HttpManager::backoff(bounds.back(), r));
    if (bounds.size() == 2) server.script("/rsvp", status(200));
    return r;
  });
  manager->start();
  add("E1", server.url("/rsvp"));

  ASSERT_TRUE(wait_until([&] { return requests_for("/rsvp") == 3 && saved().empty(); }));
  settle();
  EXPECT_EQ(bounds, (std::vector<int32_t>{1, 2}));
  ASSERT_EQ(waits.size(), 2u);
  EXPECT_LT(waits[0].wait_ms, 1000);
  EXPECT_EQ(waits[0].next_bound, 2);
  EXPECT_LT(waits[1].wait_ms, 2000);
  EXPECT_EQ(waits[1].next_bound, 4);
  EXPECT_EQ(dir.stored(HttpManager::kSavedUrlsKey), R"({"requests":{}})");
}

TEST_F(HttpManagerTest, AFailureBelowHttpIsRetried) {
  std::atomic<int> retries{0};
  open([&] {
    ++retries;
    return 0.0;
  });
  manager->start();
  add("E1", "https://localhost:1/rsvp");  // nothing listens: the hook answers 0
  ASSERT_TRUE(wait_until([&] { return retries >= 2; }));
  manager.reset();
  EXPECT_GE(fetched_urls().size(), 2u);
}

TEST_F(HttpManagerTest, NotFoundIsNotRetriedAndIsIssuedAgainAfterReopening) {
  server.script("/rsvp", status(404));
  std::atomic<int> retries{0};
  open([&] {
    ++retries;
    return 0.0;
  });
  manager->start();
  add("E1", server.url("/rsvp"));
  ASSERT_TRUE(server.wait_for_requests(1));
  settle();
  EXPECT_EQ(retries, 0);
  Json::object before = saved();
  ASSERT_EQ(before.size(), 1u);

  manager.reset();
  dir.reopen();
  open();
  manager->start();
  ASSERT_TRUE(server.wait_for_requests(2));
  settle();
  Json::object after = saved();
  ASSERT_EQ(after.size(), 1u);
  EXPECT_NE(after.begin()->first, before.begin()->first);  // re-issued under a new id
  EXPECT_EQ(after.begin()->second["url"], before.begin()->second["url"]);
  EXPECT_EQ(retries, 0);
}

TEST_F(HttpManagerTest, ALaterAnswerForTheSameEmailSupersedesTheEarlierRetry) {
  server.script("/first", status(503));
  server.script("/second", status(503));
  open();
  manager->start();
  run_on(thread, [&] {
    manager->add_request("E1", server.url("/first"), 1);
    manager->add_request("E1", server.url("/second"), 1);
  });
  auto saved_urls = [&] {
    std::vector<std::string> urls;
    for (const auto& [id, request] : saved()) urls.push_back(request["url"].string_value());
    return urls;
  };
  // The earlier request's retry fires, issues nothing and removes it; the later one keeps going.
  ASSERT_TRUE(wait_until([&] {
    return requests_for("/second") >= 3 && saved_urls() == std::vector<std::string>{server.url("/second")};
  }));
  manager.reset();
  EXPECT_EQ(requests_for("/first"), 1u);
}

// An answer that failed for good stays saved for the next start only while it is the e-mail's
// latest: issued again after a newer answer went through, it would undo that one.
TEST_F(HttpManagerTest, AnEarlierAnswerThatFailedForGoodIsNotIssuedAgainAfterALaterOne) {
  server.script("/parked", status(404));
  https_test_server::Reply held = status(404);
  held.body = "gone";
  held.hold_after = 0;
  server.script("/held", held);
  open();
  manager->start();
  add("E1", server.url("/parked"));  // fails before the later answer
  ASSERT_TRUE(server.wait_for_requests(1));
  settle();
  add("E2", server.url("/held"));  // fails after the later answer
  ASSERT_TRUE(server.wait_for_hold());
  add("E1", server.url("/later-1"));
  add("E2", server.url("/later-2"));
  server.release();
  ASSERT_TRUE(wait_until([&] { return saved().empty(); }));

  manager.reset();
  dir.reopen();
  open();
  manager->start();
  settle();
  EXPECT_EQ(requests_for("/parked"), 1u);
  EXPECT_EQ(requests_for("/held"), 1u);
}

TEST_F(HttpManagerTest, RequestsAreSavedWithSixMembersAndHeldUntilStart) {
  open();
  EXPECT_EQ(dir.stored(HttpManager::kSavedUrlsKey), "null");  // an empty store reads as empty

  add("E1", "file:///etc/passwd");
  add("E1", "ftp://localhost/rsvp");
  EXPECT_EQ(dir.stored(HttpManager::kSavedUrlsKey), "null");

  add("E1", server.url("/rsvp"));
  Json::object requests = saved();
  ASSERT_EQ(requests.size(), 1u);
  const auto& [id, request] = *requests.begin();
  EXPECT_EQ(request.object_items().size(), 6u);
  EXPECT_EQ(request, (Json::object{{"email_id", "E1"},
                                   {"id", id},
                                   {"max_delay_time", 1},
                                   {"method", "GET"},
                                   {"num_errored_tries", 0},
                                   {"url", server.url("/rsvp")}}));
  EXPECT_EQ(id.size(), 36u);
  EXPECT_EQ(id.find_first_of("ABCDEF"), std::string::npos);
  EXPECT_EQ(manager->get_saved_request(id)->url, server.url("/rsvp"));

  // Nothing reaches the hook before start(); a restored request neither.
  settle();
  EXPECT_TRUE(fetched_urls().empty());
  manager.reset();
  open();
  settle();
  EXPECT_TRUE(fetched_urls().empty());
  manager->start();
  ASSERT_TRUE(server.wait_for_requests(1));
  settle();
  EXPECT_EQ(fetched_urls(), std::vector<std::string>{server.url("/rsvp")});
  EXPECT_TRUE(saved().empty());

  manager->clear_saved_requests();
  EXPECT_EQ(dir.stored(HttpManager::kSavedUrlsKey), R"({"requests":null})");
}

TEST_F(HttpManagerTest, OutcomesAfterTheManagerIsGoneTouchNothing) {
  https_test_server::Reply held = status(503);
  held.body = "busy";
  held.hold_after = 0;
  server.script("/held", held);
  server.script("/retry", status(503));
  std::atomic<int> retries{0};
  open([&] {
    ++retries;
    return 0.99;  // a retry timer pending when the manager goes
  });
  manager->start();
  add("E1", server.url("/retry"));
  add("E2", server.url("/held"));
  ASSERT_TRUE(server.wait_for_hold());
  ASSERT_TRUE(wait_until([&] { return retries >= 1; }));
  manager.reset();
  server.release();
  settle();
  EXPECT_EQ(requests_for("/retry"), 1u);
}

}  // namespace
}  // namespace libkestrun
