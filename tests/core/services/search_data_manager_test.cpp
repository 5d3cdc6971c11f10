#include "core/services/search_data_manager.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/data/consumer_center.h"
#include "core/foundation/semaphore.h"
#include "core/model/db_context.h"
#include "core/model/ks_item.h"
#include "core/model/memory_context.h"
#include "core/model/query_updater.h"
#include "core/sync/server_client.h"
#include "support/call_log.h"
#include "support/fake_account_manager.h"
#include "support/fake_server_client.h"
#include "support/on_loop.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace libkestrun {
namespace {

using jsonette::Json;
using kestrun_test::Call;
using kestrun_test::run_on;
using kestrun_test::wait_until;

// Stands in for the data center's search tasks, which land with the data center: it records the
// calls and fills the real in-memory store of search results, as the local search would.
class LocalResults : public SearchResultStore, public kestrun_test::CallLog {
 public:
  void clearStore() override {
    record("clearStore");
    memory.clearStore();
  }
  void loadLocalSearchResults(const std::string& searchID, const std::string& text,
                              const std::string& accountID) override {
    record("loadLocalSearchResults", {searchID, text, accountID});
    add("L1", 100);
    add("L2", 200);
  }
  void processLocalFullSearch(const std::string& searchID, const std::string& text,
                              const std::string& accountID) override {
    record("processLocalFullSearch", {searchID, text, accountID});
    search_data_manager_finish_search(searchID);
  }
  void updateSearchFetchedItem(const std::string& itemID) override {
    record("updateSearchFetchedItem", {itemID});
  }

  // An item arriving in the in-memory store (a cloud result), committed. Core thread.
  void add(const std::string& id, int64_t modifiedAt) {
    internal::Item row;
    row.set_ITEMID(id);
    row.set_MODIFIEDAT(modifiedAt);
    memory.insertItem(row);
    ChangeSet changes;
    memory.commit(changes);
  }

  MemoryContext memory;
};

// Records the live query's rows and changes.
class Rows : public DataQueryObserver<std::shared_ptr<KestrunObject>> {
 public:
  void set_results(const std::string&, const std::vector<std::shared_ptr<KestrunObject>>& rows) override {
    std::string line = "results";
    for (const auto& row : rows) line += " " + row->id();
    lines.push_back(line);
  }
  void begin_changes(const std::string&) override {}
  void item_changed(const std::string&, std::shared_ptr<KestrunObject> row, ConsumerChangeType type, int,
                    int to) override {
    lines.push_back(row->id() + " " + std::to_string(static_cast<int>(type)) + " " + std::to_string(to));
  }
  void end_changes(const std::string&) override {}
  std::vector<std::string> lines;
};

// What reached the caller's callbacks, in order, each with its document (null for none).
struct Reports {
  SearchDataManager::ResultCallback callback(const std::string& name) {
    return [this, name](json_t* document) {
      lines.push_back(name + " " + kestrun_test::document(document).dump());
    };
  }
  std::vector<std::string> lines;
};

// The manager on a real core thread, over the consumer center's in-memory store, the recording
// server client and account manager.
class SearchDataManagerTest : public ::testing::Test {
 protected:
  SearchDataManagerTest() {
    DBContext::check_schema_version(dir.file("kestrun.db"), false, std::nullopt, [] {});
    KestrunConsumerCenter::initialize(&thread, dir.file("kestrun.db"), std::nullopt);
    server->connected = true;
    internal::server_client_set_instance(server);
    accounts.primary_account_ids = {"A1", "A2", "A3"};
    open(std::chrono::milliseconds(40000));
  }
  ~SearchDataManagerTest() override {
    run_on(thread, [&] {
      KestrunConsumerCenter::endQuery("S1");
      KestrunConsumerCenter::endQuery("S2");
      manager.reset();
      results->memory.clearStore();
    });
    search_data_manager_set_instance(nullptr);
    internal::server_client_set_instance(nullptr);
    query_updater_set_instance(nullptr);
  }

  void open(std::chrono::milliseconds searchTimeout,
            std::chrono::milliseconds fetchTimeout = std::chrono::milliseconds(30000)) {
    run_on(thread, [&] {
      manager = std::make_shared<SearchDataManager>(&thread, &accounts, results, searchTimeout, fetchTimeout);
    });
    search_data_manager_set_instance(manager);
  }

  void quick(const std::string& id, const std::string& text, const std::string& account = "") {
    run_on(thread, [&] {
      manager->quickLocalSearch(id, text, account, rows, reports.callback("finished"),
                                reports.callback("error"));
    });
  }
  void full(const std::string& id) {
    run_on(thread, [&] { manager->performFullSearch(id, "INBOX"); });
  }
  // A reply as the data center hands it on.
  void finished(const Json& reply) {
    run_on(thread, [&] {
      json_t* document = patch::jansson_from_json(reply);
      search_data_manager_process_query_finished(document);
      json_decref(document);
    });
  }
  std::optional<std::string> current() {
    return run_on(thread, [&] { return search_data_manager_get_current_search_id(); });
  }
  std::vector<Call> queries() {
    std::vector<Call> sent;
    for (const Call& call : server->calls())
      if (call.method != "is_connected") sent.push_back(call);
    return sent;
  }
  // Returns once a timer of `delay` started now has fired: every timer due before it has run.
  void wait_past(std::chrono::milliseconds delay) {
    patch::semaphore fired;
    brelt::TimerHandle probe;
    run_on(thread, [&] { probe = thread.defer(delay, [&] { fired.notify(); }); });
    fired.wait();
    run_on(thread, [&] { probe = brelt::TimerHandle(); });
  }

  brelt::UvThread thread{true};
  kestrun_test::TempDir dir;
  std::shared_ptr<kestrun_test::FakeServerClient> server = std::make_shared<kestrun_test::FakeServerClient>();
  kestrun_test::FakeAccountManager accounts;
  std::shared_ptr<LocalResults> results = std::make_shared<LocalResults>();
  std::shared_ptr<Rows> rows = std::make_shared<Rows>();
  Reports reports;
  std::shared_ptr<SearchDataManager> manager;
};

TEST_F(SearchDataManagerTest, AQuickSearchShowsTheLocalMatchesAndLaterResults) {
  quick("S1", "lunch", "A2");
  EXPECT_EQ(results->calls(),
            (std::vector<Call>{{"clearStore", Json::array{}},
                               {"loadLocalSearchResults", Json::array{"S1", "lunch", "A2"}}}));
  EXPECT_EQ(rows->lines, std::vector<std::string>{"results L2 L1"});
  run_on(thread, [&] { results->add("C1", 300); });  // a cloud result
  EXPECT_EQ(rows->lines, (std::vector<std::string>{"results L2 L1", "results C1 L2 L1", "C1 1 0"}));
  EXPECT_EQ(current(), "S1");
  EXPECT_TRUE(reports.lines.empty());
}

TEST_F(SearchDataManagerTest, AnEmptyTextFinishesAtOnceAndRegistersNothing) {
  quick("S1", "lunch");
  quick("S2", "");
  EXPECT_EQ(reports.lines, std::vector<std::string>{"finished null"});
  EXPECT_EQ(rows->lines.size(), 1u);  // only the first search's rows
  EXPECT_EQ(current(), std::nullopt);
  // Without callbacks nothing is called.
  run_on(thread, [&] { manager->quickLocalSearch("S2", "", "", rows, nullptr, nullptr); });
}

TEST_F(SearchDataManagerTest, ShortTextsAndOfflineSearchesRunLocally) {
  struct Case {
    const char* text;
    bool connected;
    bool cloud;
  };
  const std::vector<Case> cases = {{"ab", true, false}, {"abc", true, true}, {"abc", false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + (c.connected ? " connected" : " offline"));
    server->connected = c.connected;
    server->clear();
    results->clear();
    reports.lines.clear();
    quick("S1", c.text);
    full("S1");
    if (c.cloud) {
      EXPECT_EQ(queries().size(), 3u);
      EXPECT_TRUE(reports.lines.empty());
      EXPECT_EQ(current(), "S1");
    } else {
      EXPECT_TRUE(queries().empty());
      EXPECT_EQ(results->calls().back(), (Call{"processLocalFullSearch", Json::array{"S1", c.text, ""}}));
      EXPECT_EQ(reports.lines, std::vector<std::string>{"finished null"});
      EXPECT_EQ(current(), std::nullopt);
    }
  }
}

TEST_F(SearchDataManagerTest, ACloudSearchFinishesWithTheLastAccountsReply) {
  quick("S1", "lunch");
  full("S2");  // not the current search
  EXPECT_TRUE(queries().empty());
  full("S1");
  EXPECT_EQ(queries(), (std::vector<Call>{{"search_query", Json::array{"A1", "INBOX", "S1", "lunch", 3}},
                                          {"search_query", Json::array{"A2", "INBOX", "S1", "lunch", 3}},
                                          {"search_query", Json::array{"A3", "INBOX", "S1", "lunch", 3}}}));
  finished(Json::object{{"search_id", "S1"}, {"account_id", "A2"}});
  finished(Json::object{{"search_id", "S9"}, {"account_id", "A1"}});  // another search
  finished(Json::object{{"search_id", "S1"}});                        // no account
  finished(Json::object{{"search_id", "S1"}, {"account_id", 3}});
  finished(Json::object{{"search_id", "S1"}, {"account_id", "A1"}});
  EXPECT_TRUE(reports.lines.empty());
  EXPECT_EQ(current(), "S1");
  finished(Json::object{{"search_id", "S1"}, {"account_id", "A3"}, {"n", 7}});
  EXPECT_EQ(reports.lines,
            std::vector<std::string>{R"(finished {"account_id":"A3","n":7,"search_id":"S1"})"});
  EXPECT_EQ(current(), std::nullopt);
}

TEST_F(SearchDataManagerTest, ASearchLimitedToOneAccountAsksOnlyIt) {
  quick("S1", "lunch", "A2");
  full("S1");
  EXPECT_EQ(queries(), (std::vector<Call>{{"search_query", Json::array{"A2", "INBOX", "S1", "lunch", 1}}}));
  finished(Json::object{{"search_id", "S1"}, {"account_id", "A2"}});
  EXPECT_EQ(reports.lines, std::vector<std::string>{R"(finished {"account_id":"A2","search_id":"S1"})"});
}

TEST_F(SearchDataManagerTest, ErrorsEndTheCurrentSearchOnly) {
  quick("S1", "lunch");
  full("S1");
  run_on(thread, [&] {
    json_t* other = json_pack("{s:s}", "search_id", "S9");
    json_t* mine = json_pack("{s:s, s:s}", "search_id", "S1", "code", "Q1");
    search_data_manager_process_query_error(other);
    search_data_manager_process_query_error(mine);
    search_data_manager_process_query_error(mine);
    json_decref(other);
    json_decref(mine);
  });
  EXPECT_EQ(reports.lines, std::vector<std::string>{R"(error {"code":"Q1","search_id":"S1"})"});
  EXPECT_EQ(current(), std::nullopt);
}

TEST_F(SearchDataManagerTest, PrimingAsksTheAccountOrEveryPrimaryAccount) {
  run_on(thread, [&] {
    manager->primeSearch("A9");
    manager->primeSearch("");
  });
  EXPECT_EQ(queries(), (std::vector<Call>{{"prime_search", Json::array{"A9"}},
                                          {"prime_search", Json::array{"A1"}},
                                          {"prime_search", Json::array{"A2"}},
                                          {"prime_search", Json::array{"A3"}}}));
}

TEST_F(SearchDataManagerTest, FetchesReportTheirThreadOrTheirError) {
  std::vector<std::string> fetched;
  auto fetch = [&](const std::string& searchID) {
    run_on(thread, [&] {
      manager->performSearchFetch(
          "A1", searchID, "T1", "-", [&](const std::string& thread) { fetched.push_back(thread); },
          reports.callback("fetch-error"));
    });
  };
  server->connected = false;
  fetch("S1");
  EXPECT_EQ(reports.lines, std::vector<std::string>{"fetch-error null"});
  EXPECT_EQ(current(), "S1");  // the state stays
  EXPECT_TRUE(queries().empty());

  server->connected = true;
  fetch("S2");
  EXPECT_EQ(queries(), (std::vector<Call>{{"search_fetch", Json::array{"A1", "S2", "T1", "-"}}}));
  run_on(thread, [&] { search_data_manager_process_fetch_finished("T1"); });
  EXPECT_EQ(fetched, std::vector<std::string>{"T1"});
  EXPECT_EQ(current(), std::nullopt);

  run_on(thread, [&] { manager->updateFetchedItem("T1"); });
  EXPECT_EQ(results->calls().back(), (Call{"updateSearchFetchedItem", Json::array{"T1"}}));
}

TEST_F(SearchDataManagerTest, AnOfflineFetchErrorMayStartTheNextFetch) {
  server->connected = false;
  std::vector<std::string> lines;
  run_on(thread, [&] {
    manager->performSearchFetch("A1", "S1", "T1", "-", nullptr,
                                [&, name = std::string("first fetch's error, after the retry")](json_t*) {
                                  manager->performSearchFetch("A1", "S2", "T2", "-", nullptr,
                                                              [&](json_t*) { lines.push_back("second"); });
                                  lines.push_back(name);
                                });
  });
  EXPECT_EQ(lines, (std::vector<std::string>{"second", "first fetch's error, after the retry"}));
  EXPECT_EQ(current(), "S2");
}

TEST_F(SearchDataManagerTest, AnUnansweredSearchTimesOutOnceWithNull) {
  open(std::chrono::milliseconds(30), std::chrono::milliseconds(30));
  quick("S1", "lunch");
  full("S1");
  ASSERT_TRUE(wait_until([&] { return run_on(thread, [&] { return !reports.lines.empty(); }); }));
  wait_past(std::chrono::milliseconds(60));
  EXPECT_EQ(reports.lines, std::vector<std::string>{"error null"});
  EXPECT_EQ(current(), std::nullopt);

  run_on(thread, [&] {
    manager->performSearchFetch("A1", "S2", "T1", "-", nullptr, reports.callback("fetch-error"));
  });
  wait_past(std::chrono::milliseconds(60));
  EXPECT_EQ(reports.lines, (std::vector<std::string>{"error null", "fetch-error null"}));
}

TEST_F(SearchDataManagerTest, ALateTimeOutOfAnEarlierSearchLeavesTheNewerOneAlone) {
  open(std::chrono::milliseconds(30), std::chrono::milliseconds(30));
  quick("S1", "lunch");
  full("S1");  // its time-out is armed
  quick("S2", "dinner");
  wait_past(std::chrono::milliseconds(60));  // past the first search's time-out
  EXPECT_TRUE(reports.lines.empty());
  EXPECT_EQ(current(), "S2");
}

}  // namespace
}  // namespace libkestrun
