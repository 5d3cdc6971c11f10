// The auto-swipe and cloud search clients against the local sync server over TLS on 127.0.0.1,
// over its sample mailbox. Until the server client carries them, the test hands each request the
// clients sent (seen by the recording server client) to a real connection and each reply back to
// the client's handler on the core thread, as the dispatch does.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/foundation/json_conversion.h"
#include "core/foundation/memory_store.h"
#include "core/services/counts_manager.h"
#include "core/sync/auto_swipe_server_client_impl.h"
#include "support/temp_dir.h"
#include "sync_client_fixture.h"
#include "tools/sync_server/sync_client.h"
#include "tools/sync_server/sync_server.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using libkestrun::internal::AutoSwipeServerClientImpl;

class LocalServerTest : public kestrun_test::SyncClientTest {
 protected:
  LocalServerTest() {
    signal(SIGPIPE, SIG_IGN);
    sync_server::ServerOptions options;
    options.state_directory = state_.file("state");
    options.hmac_key = sync_server_test::test_key();
    sync_ = std::make_unique<sync_server::SyncServer>(options);
    sync_server_test::trust_authority(sync_->authority_pem());
    wire_ = std::make_unique<sync_server_test::SyncClient>(sync_->port());
    EXPECT_TRUE(wire_->wait_connected());
    Json state =
        wire_->request("USER_NEW_DEVICE",
                       Json::object{{"name", "test mac"}, {"type", "macos"}, {"vendor_id", "V1"}})["result"];
    wire_->authenticate(state);
    run([&] { users_->updateFromStateDoc(state); });
    user_id_ = state["user_id"].string_value();
    Json added = wire_->request(
        "ACCOUNT_CREATE", Json::object{{"credentials", Json::object{{"password", "sample-com-password"}}},
                                       {"data", "maya.lind@example.com"},
                                       {"locale", "en"},
                                       {"type", 1}})["result"];
    EXPECT_EQ(added["account_id"], "acct-example-com");
  }

  // Writes the request the client sent last and returns the server's reply.
  Json forwardLast() {
    Call sent = server_->calls().back();
    EXPECT_EQ(sent.method, "send");
    return wire_->request(sent.args[0].string_value(), sent.args[1], sent.args[2].string_value());
  }

  kestrun_test::TempDir state_;
  std::unique_ptr<sync_server::SyncServer> sync_;
  std::unique_ptr<sync_server_test::SyncClient> wire_;
  std::string user_id_;
  libkestrun::CountsManager counts_{center_, std::make_shared<libkestrun::MemoryStore>()};
  AutoSwipeServerClientImpl rules_{server_.get(), &counts_, users_.get()};
};

TEST_F(LocalServerTest, RulesArePagedDownWithTheUsersCounts) {
  // A rule in the deferral state, so that every count of the reply is there.
  run([&] {
    rules_.sendAutoSwipeDecision(1, 3, user_id_,
                                 Json::object{{"_id", "rule-defer"}, {"sender", "ola@example.biz"}});
  });
  EXPECT_TRUE(forwardLast()["error"].is_null());

  std::vector<long long> pages;
  std::vector<Json> befores;
  std::vector<std::string> ids;
  long long before = AutoSwipeServerClientImpl::kNoMoreRules;
  do {
    patch::semaphore called;
    run([&] {
      rules_.sendAutoSwipeRulesGet(user_id_, before, 3, [&](long long value) {
        pages.push_back(value);
        called.notify();
      });
    });
    befores.push_back(server_->calls().back().args[1]["before"]);
    Json reply = forwardLast();
    ASSERT_EQ(reply["type"], "AUTO_SWIPE_RULES_GET");
    for (const Json& rule : reply["result"]["rules"].array_items()) ids.push_back(rule["_id"].string_value());
    json_t* result = patch::jansson_from_json(reply["result"]);
    run([&] { rules_.handleAutoSwipeGetResponse(reply["id"].string_value(), result); });
    json_decref(result);
    called.wait();
    before = pages.back();
    ASSERT_LT(pages.size(), 10u);
  } while (before != AutoSwipeServerClientImpl::kNoMoreRules);

  // Eight sample rules and the deferral rule, three a page: three full pages, then the end.
  ASSERT_EQ(pages.size(), 4u);
  EXPECT_EQ(befores.front(), Json(9223372036854775808.0));
  for (size_t i = 1; i < befores.size(); ++i) {
    EXPECT_EQ(befores[i], Json(static_cast<double>(pages[i - 1]))) << "each page asks before the last one";
    EXPECT_LT(pages[i - 1], i == 1 ? AutoSwipeServerClientImpl::kNoMoreRules : pages[i - 2]);
  }
  EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()).size(), 9u);
  EXPECT_NE(std::find(ids.begin(), ids.end(), "rule-defer"), ids.end());
  inDatabase([&](DBContext& context) {
    for (const std::string& id : ids) EXPECT_TRUE(context.autoSwipeExists(id)) << id;
  });
  EXPECT_EQ(counts_.deferAutoSwipeCount(), 3);
  EXPECT_GT(counts_.archiveAutoSwipeCount(), 0);
  EXPECT_GT(counts_.deleteAutoSwipeCount(), 0);
  EXPECT_GT(counts_.listAutoSwipeCount(), 0);
}

}  // namespace
