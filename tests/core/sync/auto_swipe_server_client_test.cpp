// The auto-swipe client over the real data center, counts manager and user manager; the
// recording server client shows what would be sent.
#include "core/sync/auto_swipe_server_client_impl.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/foundation/memory_store.h"
#include "core/services/counts_manager.h"
#include "sync_client_fixture.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using libkestrun::internal::AutoSwipeServerClientImpl;

constexpr long long kNoMore = AutoSwipeServerClientImpl::kNoMoreRules;

class AutoSwipeClientTest : public kestrun_test::SyncClientTest {
 protected:
  // The id of the last request sent.
  std::string lastRequestID() {
    std::vector<Call> calls = server_->calls();
    EXPECT_FALSE(calls.empty());
    return calls.empty() ? "" : calls.back().args[2].string_value();
  }

  // Asks for a page with a callback, hands `reply` in as its result and returns the value the
  // callback received (nothing when it was not called once everything queued has run).
  std::optional<long long> page(const char* reply) {
    std::optional<long long> seen;
    patch::semaphore called;
    run([&] {
      client_.sendAutoSwipeRulesGet("U1", kNoMore, 10, [&](long long value) {
        seen = value;
        called.notify();
      });
    });
    json_t* result = reply == nullptr ? nullptr : kestrun_test::jansson(reply);
    run([&] { client_.handleAutoSwipeGetResponse(lastRequestID(), result); });
    json_decref(result);
    drain();
    return seen;
  }

  bool ruleStored(const std::string& id) {
    bool found = false;
    inDatabase([&](DBContext& context) { found = context.autoSwipeExists(id); });
    return found;
  }

  std::vector<int> totals() {
    return {counts_.deferAutoSwipeCount(), counts_.archiveAutoSwipeCount(), counts_.deleteAutoSwipeCount(),
            counts_.listAutoSwipeCount()};
  }

  libkestrun::CountsManager counts_{center_, std::make_shared<libkestrun::MemoryStore>()};
  AutoSwipeServerClientImpl client_{server_.get(), &counts_, users_.get()};
};

TEST_F(AutoSwipeClientTest, RequestsGoOutOnlyForTheCurrentUser) {
  const Json rule = Json::object{{"_id", "R1"}, {"sender", "ola@example.biz"}};
  run([&] {
    client_.sendAutoSwipeDecision(10, 4, "U1", rule);
    client_.sendAutoSwipeDecision(10, 4, "U2", rule);
    client_.sendAutoSwipeRulesGet("U1", kNoMore, 25, nullptr);
    client_.sendAutoSwipeRulesGet("U1", 1700000000123, 1, nullptr);
    client_.sendAutoSwipeRulesGet("u1", kNoMore, 25, [](long long) { ADD_FAILURE() << "another user"; });
  });
  std::vector<Call> calls = server_->calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].method, "send");
  EXPECT_EQ(calls[0].args[0], "AUTO_SWIPE_DECISION");
  EXPECT_EQ(calls[0].args[1],
            (Json::object{{"user_id", "U1"}, {"count", 4}, {"action", 10}, {"auto_swipe", rule}}));
  EXPECT_EQ(calls[0].args[3], true);
  EXPECT_EQ(calls[1].args[0], "AUTO_SWIPE_RULES_GET");
  EXPECT_EQ(calls[1].args[1],
            (Json::object{{"user_id", "U1"}, {"limit", 25}, {"before", 9223372036854775808.0}}));
  EXPECT_FALSE(calls[1].args[1]["before"].is_integer()) << "before travels as a floating-point number";
  EXPECT_EQ(calls[2].args[1]["before"], Json(1700000000123.0));
  for (const Call& call : calls) {
    const std::string id = call.args[2].string_value();
    EXPECT_EQ(id.size(), 36u);
    EXPECT_EQ(id.find_first_of("ABCDEF"), std::string::npos) << "request ids are lower case: " << id;
  }
  EXPECT_NE(calls[1].args[2], calls[2].args[2]);
}

TEST_F(AutoSwipeClientTest, RepliesStoreRulesAndCountsAndEndThePage) {
  const struct {
    const char* reply;
    const char* rule;
    long long value;
    bool stored;
    std::vector<int> totals;  // defer, archive, delete, list
  } cases[] = {
      {"{'user_id': 'U1', 'user': {'1': 2, '3': 4, '4': 5, '5': 6, '9': 7},"
       " 'rules': [{'_id': 'R1', 'user_id': 'U1', 'sender': 'a@b.c', 'state': 3, 'last_action': 900},"
       " {'_id': 'R1b', 'user_id': 'U1', 'sender': 'd@e.f', 'state': 4, 'last_action': 300}]}",
       "R1",
       300,
       true,
       {2, 4, 5, 6}},
      {"{'user_id': 'U1', 'rules': []}", "", kNoMore, false, {0, 0, 0, 0}},
      // The counts are taken, but "rules" that is not an array ends the page.
      {"{'user_id': 'U1', 'user': {'3': 8}, 'rules': {'_id': 'R3', 'last_action': 900}}",
       "R3",
       kNoMore,
       false,
       {0, 8, 0, 0}},
      {"{'user_id': 'U2', 'user': {'3': 8}, 'rules': [{'_id': 'R4', 'last_action': 900}]}",
       "R4",
       kNoMore,
       false,
       {0, 0, 0, 0}},
      {"{'user_id': '', 'rules': [{'_id': 'R5', 'last_action': 900}]}", "R5", kNoMore, false, {0, 0, 0, 0}},
      {"{'user': {'3': 8}, 'rules': [{'_id': 'R6', 'last_action': 900}]}",
       "R6",
       kNoMore,
       false,
       {0, 0, 0, 0}},
      {"[{'_id': 'R7', 'last_action': 900}]", "R7", kNoMore, false, {0, 0, 0, 0}},
      {nullptr, "", kNoMore, false, {0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply ? c.reply : "no result");
    counts_.clearAll();
    EXPECT_EQ(page(c.reply), std::optional<long long>(c.value));
    if (*c.rule) {
      EXPECT_EQ(ruleStored(c.rule), c.stored);
    }
    EXPECT_EQ(totals(), c.totals);
  }
}

TEST_F(AutoSwipeClientTest, APageWithoutCallbackStoresAndCallsNothing) {
  json_t* result = kestrun_test::jansson(
      "{'user_id': 'U1', 'user': {'5': 3}, 'rules': [{'_id': 'R7', 'user_id': 'U1', 'last_action': 50}]}");
  run([&] {
    client_.sendAutoSwipeRulesGet("U1", kNoMore, 10, nullptr);
    client_.handleAutoSwipeGetResponse(lastRequestID(), result);
  });
  json_decref(result);
  drain();
  EXPECT_TRUE(ruleStored("R7"));
  EXPECT_EQ(counts_.listAutoSwipeCount(), 3);
}

// A callback may ask for the next page at once, and a request ends once: a second reply, an
// unknown id or an empty id call nothing.
TEST_F(AutoSwipeClientTest, ACallbackRunsOnceAndMayAskForTheNextPage) {
  std::vector<long long> seen;
  run([&] {
    client_.sendAutoSwipeRulesGet("U1", kNoMore, 10, [&](long long value) {
      seen.push_back(value);
      client_.sendAutoSwipeRulesGet("U1", value, 10, [&](long long next) { seen.push_back(next); });
    });
  });
  const std::string first = lastRequestID();
  run([&] {
    client_.finishAutoSwipeRulesGet(first, 40);
    client_.finishAutoSwipeRulesGet(first, 41);
    client_.finishAutoSwipeRulesGet("", 42);
    client_.finishAutoSwipeRulesGet("not-a-request", 43);
  });
  EXPECT_EQ(seen, std::vector<long long>{40});
  EXPECT_EQ(server_->calls().back().args[1]["before"], Json(40.0));
  run([&] { client_.finishAutoSwipeRulesGet(lastRequestID(), 7); });
  EXPECT_EQ(seen, (std::vector<long long>{40, 7}));
}

// The rules of a page are stored by a data task that may complete after the client is gone (the
// server client goes while the task still waits): its completion then calls nothing.
TEST_F(AutoSwipeClientTest, APageStoredAfterTheClientIsGoneCallsNothing) {
  json_t* result = kestrun_test::jansson(
      "{'user_id': 'U1', 'rules': [{'_id': 'R8', 'user_id': 'U1', 'last_action': 60}]}");
  bool called = false;
  run([&] {
    auto gone = std::make_unique<AutoSwipeServerClientImpl>(server_.get(), &counts_, users_.get());
    gone->sendAutoSwipeRulesGet("U1", kNoMore, 10, [&](long long) { called = true; });
    gone->handleAutoSwipeGetResponse(lastRequestID(), result);
  });
  json_decref(result);
  drain();
  EXPECT_TRUE(ruleStored("R8")) << "the page is still stored";
  EXPECT_FALSE(called);
}

}  // namespace
