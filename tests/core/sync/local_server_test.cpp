// The auto-swipe and cloud search requests through the real server client against the local sync
// server over TLS on 127.0.0.1, over its sample mailbox, with the real search state over the data
// center's stores and the sample account in the real account manager. The account's snapshot is
// left unanswered, so nothing of the mailbox is stored locally but what a search brings.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "brelt/semaphore.h"
#include "core/foundation/json_conversion.h"
#include "core/model/ks_email.h"
#include "core/model/memory_context.h"
#include "core/services/data_center_search_results.h"
#include "core/services/search_data_manager.h"
#include "core/sync/auto_swipe_server_client.h"
#include "core/sync/auto_swipe_server_client_impl.h"
#include "server_account_fixture.h"

namespace kestrun_test {
namespace {

using libkestrun::SearchDataManager;
using libkestrun::internal::AutoSwipeServerClientImpl;

// Records the live query's inserted rows. Core thread.
class Rows : public libkestrun::DataQueryObserver<std::shared_ptr<KestrunObject>> {
 public:
  void set_results(const std::string&, const std::vector<std::shared_ptr<KestrunObject>>&) override {}
  void begin_changes(const std::string&) override {}
  void item_changed(const std::string&, std::shared_ptr<KestrunObject> row,
                    libkestrun::ConsumerChangeType type, int, int) override {
    if (type == libkestrun::ConsumerChangeType::Insert) inserted.insert(row->id());
  }
  void end_changes(const std::string&) override {}
  std::set<std::string> inserted;
};

class LocalServerTest : public ServerAccountTest {
 protected:
  LocalServerTest() {
    start_server();
    register_with_account();
    server_->drop_next("ACCOUNT_SNAPSHOT", 1);
    user_id_ = state_["user_id"].string_value();
    run_on(thread_, [&] { users_->updateFromStateDoc(state_); });
    make_client();
    run_on(thread_, [&] {
      search_ = std::make_shared<SearchDataManager>(&thread_, account_manager_.get(),
                                                    std::make_shared<libkestrun::DataCenterSearchResults>());
    });
    libkestrun::search_data_manager_set_instance(search_);
    wire_ = sync_server_test::connect_as(server_->port(), state_);
  }
  ~LocalServerTest() override {
    libkestrun::search_data_manager_set_instance(nullptr);
    run_on(thread_, [&] {
      KestrunConsumerCenter::endQuery("S1");
      search_.reset();
    });
  }

  // The e-mails the server's own search finds for `text`, asked over a connection of the test's.
  std::set<std::string> server_finds(const std::string& text) {
    const std::string id = "own-" + text;
    wire_->send(Json(Json::object{
        {"method", "SEARCH_QUERY"},
        {"id", id},
        {"params",
         Json::object{{"account_id", kSampleAccount},
                      {"search_id", id},
                      {"query", text},
                      {"client_metadata", Json::object{{"num_accounts", 1}, {"network_state", 1}}}}}}));
    wire_->wait_for([&](const Json& m) { return m["id"] == Json(id); });
    std::set<std::string> found;
    for (const Json& m : wire_->messages()) {
      if (m["method"] != Json("SEARCH_RESULT_EMAIL") || m["params"]["search_id"] != Json(id)) continue;
      for (const Json& email : m["params"]["emails"].array_items()) found.insert(email["_id"].string_value());
    }
    return found;
  }

  std::string user_id_;
  std::shared_ptr<SearchDataManager> search_;
  std::unique_ptr<sync_server_test::SyncClient> wire_;
};

TEST_F(LocalServerTest, RulesArePagedDownWithTheUsersCounts) {
  connect_authenticated();
  // A rule in the deferral state, so that every count of the reply is there.
  Json decided = wire_->request(
      "AUTO_SWIPE_DECISION",
      Json::object{{"user_id", user_id_},
                   {"count", 3},
                   {"action", 1},
                   {"auto_swipe", Json::object{{"_id", "rule-defer"}, {"sender", "ola@example.biz"}}}});
  ASSERT_TRUE(decided["error"].is_null()) << decided.dump();
  std::set<std::string> expected;
  Json all =
      wire_->request("AUTO_SWIPE_RULES_GET",
                     Json::object{{"user_id", user_id_}, {"limit", 100}, {"before", 9223372036854775808.0}});
  for (const Json& rule : all["result"]["rules"].array_items()) expected.insert(rule["_id"].string_value());
  ASSERT_EQ(expected.count("rule-defer"), 1u);

  std::vector<long long> pages;
  long long before = AutoSwipeServerClientImpl::kNoMoreRules;
  do {
    brelt::Semaphore called;
    run_on(thread_, [&] {
      libkestrun::internal::auto_swipe_server_client_send_auto_swipe_rules_get(user_id_, before, 3,
                                                                               [&](long long value) {
                                                                                 pages.push_back(value);
                                                                                 called.notify();
                                                                               });
    });
    called.wait();
    ASSERT_LT(pages.size(), expected.size()) << "each page asks before the previous one";
    if (pages.size() > 1 && pages.back() != AutoSwipeServerClientImpl::kNoMoreRules) {
      EXPECT_LT(pages.back(), before);
    }
    before = pages.back();
  } while (before != AutoSwipeServerClientImpl::kNoMoreRules);

  // Three a page, then the end.
  EXPECT_EQ(pages.size(), expected.size() / 3 + 1);
  drain();
  KestrunDataCenter::performSyncDataTask([&](std::vector<std::string>&, DBContext& context) {
    for (const std::string& id : expected) EXPECT_TRUE(context.autoSwipeExists(id)) << id;
  });
  std::vector<Call> counted = managers_.counts.calls();
  ASSERT_FALSE(counted.empty());
  for (const char* key : {"1", "3", "4", "5"})
    EXPECT_TRUE(counted.back().args[0][key].is_number()) << key << counted.back().args[0].dump();
}

TEST_F(LocalServerTest, ADecisionStaysQueuedUntilTheServerAcknowledgesIt) {
  connect_authenticated();
  server_->drop_next("AUTO_SWIPE_DECISION", 1);
  run_on(thread_, [&] {
    libkestrun::internal::auto_swipe_server_client_send_auto_swipe_decision(
        10, 4, user_id_, Json::object{{"_id", "rule-archive"}, {"sender", "news@example.biz"}});
    // Frames are served in order: once this is answered, the decision has been dropped.
    client_->send("ITEM_SAVE",
                  Json::object{{"doc", Json::object{{"_id", "AFTER"}, {"acct_id", kSampleAccount}}}}, "after",
                  true);
  });
  ASSERT_TRUE(wait_until([&] { return replied("after"); }));
  run_on(thread_, [&] { client_->disconnect(); });
  std::vector<Json> queued = offline_->getQueuedRequests();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0]["method"], Json("AUTO_SWIPE_DECISION"));
  EXPECT_EQ(queued[0]["params"]["action"], Json(10));
  EXPECT_EQ(queued[0]["params"]["count"], Json(4));

  connect_authenticated();
  run_on(thread_, [&] { client_->send_json(Json(offline_->getQueuedRequests())); });
  ASSERT_TRUE(wait_until([&] { return offline_->getQueuedRequests().empty(); }));
  EXPECT_TRUE(replied(queued[0]["id"].string_value())) << "the server applied it without an error";
}

TEST_F(LocalServerTest, ACloudSearchFindsWhatTheServerFindsAndFetchesAConversation) {
  const std::set<std::string> expected = server_finds("kitchen renovation");
  ASSERT_FALSE(expected.empty());
  connect_authenticated();

  // Nothing is stored locally: every result comes from the cloud.
  auto rows = std::make_shared<Rows>();
  brelt::Semaphore finished;
  std::vector<std::string> reports;  // core thread until finished
  run_on(thread_, [&] {
    search_->quickLocalSearch(
        "S1", "kitchen renovation", "", rows,
        [&](json_t* result) {
          reports.push_back(result ? patch::compact_text(result) : "null");
          finished.notify();
        },
        [&](json_t*) {
          reports.push_back("error");
          finished.notify();
        });
    search_->performFullSearch("S1", "");
  });
  finished.wait();
  drain();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_NE(reports[0].find("\"email_count\""), std::string::npos) << reports[0];

  std::set<std::string> found;
  std::set<std::string> threads;
  run_on(thread_, [&] {
    auto emails = MemoryContext::fetchObjects<KSEmail>("KSEMAIL", [](const KSEmail&) { return true; });
    ASSERT_TRUE(emails);
    for (const auto& email : *emails) {
      found.insert(email->id());
      threads.insert(email->get_PARENTITEMID());
    }
  });
  EXPECT_EQ(found, expected);
  run_on(thread_, [&] {
    for (const std::string& thread : threads) EXPECT_EQ(rows->inserted.count(thread), 1u) << thread;
  });

  // The first conversation found is fetched and reported finished with its id.
  const std::string thread = *threads.begin();
  ASSERT_FALSE(run_on(thread_, [&] { return KestrunDataCenter::getDBContext()->itemExists(thread); }));
  brelt::Semaphore fetched;
  std::string fetched_id;
  run_on(thread_, [&] {
    search_->performSearchFetch(
        kSampleAccount, "S1", thread, "-",
        [&](const std::string& id) {
          fetched_id = id;
          fetched.notify();
        },
        [&](json_t*) { fetched.notify(); });
  });
  fetched.wait();
  EXPECT_EQ(fetched_id, thread);

  // Stored, with the e-mails the server holds for it.
  std::set<std::string> emails_of_thread;
  const Json server = server_documents();
  for (const Json& email : server["docs"]["email"].array_items())
    if (email["p_id"] == Json(thread)) emails_of_thread.insert(email["_id"].string_value());
  ASSERT_FALSE(emails_of_thread.empty());
  std::set<std::string> stored_emails;
  ASSERT_TRUE(wait_until([&] {
    stored_emails.clear();
    const std::map<std::string, SavedTimes> rows = stored();
    for (const auto& [id, saved] : rows.at("email")) stored_emails.insert(id);
    return !stored_emails.empty();
  }));
  EXPECT_TRUE(run_on(thread_, [&] { return KestrunDataCenter::getDBContext()->itemExists(thread); }));
  EXPECT_EQ(stored_emails, emails_of_thread);
}

TEST_F(LocalServerTest, ShortTextsSearchLocallyAndOfflineFetchesFailAtOnce) {
  connect_authenticated();
  std::vector<std::string> reports;  // core thread
  run_on(thread_, [&] {
    search_->quickLocalSearch(
        "S1", "ki", "", std::make_shared<Rows>(),
        [&](json_t* result) { reports.push_back(result ? "finished" : "finished null"); },
        [&](json_t*) { reports.push_back("error"); });
    search_->performFullSearch("S1", "");
  });
  ASSERT_TRUE(wait_until([&] { return run_on(thread_, [&] { return reports.size(); }) > 0; }));
  EXPECT_EQ(run_on(thread_, [&] { return reports; }), (std::vector<std::string>{"finished null"}));
  EXPECT_EQ(trace().find("SEARCH_QUERY"), std::string::npos) << "a 2-byte text never reaches the server";

  run_on(thread_, [&] { client_->disconnect(); });
  ASSERT_TRUE(wait_until([&] { return !client_->is_connected(); }));
  run_on(thread_, [&] {
    search_->performSearchFetch(
        kSampleAccount, "S2", "some-thread", "-", [&](const std::string&) { reports.push_back("fetched"); },
        [&](json_t* error) { reports.push_back(error ? "fetch error" : "fetch error null"); });
    reports.push_back("returned");
  });
  EXPECT_EQ(run_on(thread_, [&] { return reports; }),
            (std::vector<std::string>{"finished null", "fetch error null", "returned"}));
  EXPECT_EQ(run_on(thread_, [&] { return search_->getCurrentSearchId(); }), std::optional<std::string>("S2"));
}

TEST_F(LocalServerTest, AnUnansweredCloudSearchReportsErrorWithNullOnce) {
  run_on(thread_, [&] {
    search_ = std::make_shared<SearchDataManager>(
        &thread_, account_manager_.get(), std::make_shared<libkestrun::DataCenterSearchResults>(),
        std::chrono::milliseconds(50), std::chrono::milliseconds(50));
  });
  libkestrun::search_data_manager_set_instance(search_);
  connect_authenticated();
  server_->drop_next("SEARCH_QUERY", 1);
  brelt::Semaphore ended;
  std::vector<std::string> reports;  // core thread
  run_on(thread_, [&] {
    search_->quickLocalSearch(
        "S1", "kitchen", "", std::make_shared<Rows>(),
        [&](json_t*) {
          reports.push_back("finished");
          ended.notify();
        },
        [&](json_t* error) {
          reports.push_back(error ? "error" : "error null");
          ended.notify();
        });
    search_->performFullSearch("S1", "");
  });
  ended.wait();
  drain();
  EXPECT_EQ(run_on(thread_, [&] { return reports; }), (std::vector<std::string>{"error null"}));
  EXPECT_FALSE(run_on(thread_, [&] { return search_->getCurrentSearchId(); }));
}

}  // namespace
}  // namespace kestrun_test
