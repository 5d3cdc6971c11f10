// The cloud search client over the real data center, offline manager and performance logger; the
// search state and the server client are recording stand-ins.
#include "core/sync/cloud_search_server_client.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/foundation/defaults.h"
#include "core/foundation/memory_store.h"
#include "core/foundation/task_manager.h"
#include "core/model/ks_item.h"
#include "core/services/offline_manager.h"
#include "support/fake_account_manager.h"
#include "support/fake_search_data_manager.h"
#include "sync_client_fixture.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using libkestrun::OfflineManager;
using libkestrun::internal::CloudSearchServerClient;

// The ledger of the performance logger: the metric of every record written.
struct Ledger {
  static void write(libledger_context* context, const char* record) {
    std::string error;
    reinterpret_cast<Ledger*>(context)->metrics.push_back(
        Json::parse(record, error)["data"]["metric"].string_value());
  }
  std::vector<std::string> metrics;
  libledger_callbacks callbacks{&Ledger::write, {}};
};

class CloudSearchClientTest : public kestrun_test::SyncClientTest {
 protected:
  CloudSearchClientTest() {
    search_->current_search_id = std::string("S1");
    // Objects of an account are stored only while the account is authenticated.
    fetchAccounts_->account_authenticated = true;
    libkestrun::account_manager_set_instance(fetchAccounts_);
    libkestrun::search_data_manager_set_instance(search_);
    libkestrun::offline_manager_set_instance(offline_);
    perf_->setLedgerContext(reinterpret_cast<libledger_context*>(&ledger_), &ledger_.callbacks);
  }
  ~CloudSearchClientTest() override {
    drain();
    libkestrun::search_data_manager_set_instance(nullptr);
    libkestrun::offline_manager_set_instance(nullptr);
    libkestrun::account_manager_set_instance(nullptr);
  }

  // Hands one message (JSON text) to the query dispatch and waits for what it queued.
  void answer(const std::string& text) {
    json_t* message = kestrun_test::jansson(text);
    run([&] { client_.handleSearchQueryResponse(message); });
    json_decref(message);
    drain();
  }

  std::vector<std::string> searchCalls() {
    std::vector<std::string> methods;
    for (const Call& call : search_->calls())
      if (call.method != "getCurrentSearchId") methods.push_back(call.method);
    return methods;
  }

  std::shared_ptr<kestrun_test::FakeAccountManager> fetchAccounts_ =
      std::make_shared<kestrun_test::FakeAccountManager>();
  Ledger ledger_;
  std::shared_ptr<libkestrun::PerfLogger> perf_ = std::make_shared<libkestrun::PerfLogger>("macos", "1.0");
  std::shared_ptr<kestrun_test::FakeSearchDataManager> search_ =
      std::make_shared<kestrun_test::FakeSearchDataManager>();
  std::shared_ptr<libkestrun::TaskManager> tasks_ = std::make_shared<libkestrun::LoggingTaskManager>();
  std::shared_ptr<OfflineManager> offline_ = std::make_shared<OfflineManager>(
      OfflineManager::kConnectionWifi,
      std::make_shared<libkestrun::Defaults>(std::make_shared<libkestrun::MemoryStore>()), tasks_, nullptr);
  CloudSearchServerClient client_{perf_};
};

TEST_F(CloudSearchClientTest, RequestsCarryTheirParams) {
  const struct {
    int32_t connection;
    std::function<void(CloudSearchServerClient&)> call;
    const char* method;  // nullptr: nothing is sent
    Json params;
  } cases[] = {
      {OfflineManager::kConnectionWifi, [](auto& c) { c.sendSearchPrime("A1"); }, "SEARCH_PRIME",
       Json::object{{"account_id", "A1"}}},
      {OfflineManager::kConnectionWifi, [](auto& c) { c.sendSearchPrime(""); }, nullptr, nullptr},
      {OfflineManager::kConnectionWifi, [](auto& c) { c.sendSearchQuery("A1", "", "S1", "lunch", 2); },
       "SEARCH_QUERY",
       Json::object{{"account_id", "A1"},
                    {"search_id", "S1"},
                    {"query", "lunch"},
                    {"client_metadata", Json::object{{"num_accounts", 2}, {"network_state", 1}}}}},
      {OfflineManager::kConnectionCellular,
       [](auto& c) { c.sendSearchQuery("A1", "INBOX", "S2", "lunch", 1); }, "SEARCH_QUERY",
       Json::object{{"account_id", "A1"},
                    {"search_id", "S2"},
                    {"query", "lunch"},
                    {"folder", "INBOX"},
                    {"client_metadata", Json::object{{"num_accounts", 1}, {"network_state", 2}}}}},
      {OfflineManager::kConnectionNone, [](auto& c) { c.sendSearchQuery("A1", "", "S3", "x", 1); },
       "SEARCH_QUERY",
       Json::object{{"account_id", "A1"},
                    {"search_id", "S3"},
                    {"query", "x"},
                    {"client_metadata", Json::object{{"num_accounts", 1}, {"network_state", 0}}}}},
      {OfflineManager::kConnectionWifi, [](auto& c) { c.sendSearchQuery("A1", "", "S1", "", 1); }, nullptr,
       nullptr},
      {OfflineManager::kConnectionWifi, [](auto& c) { c.sendSearchQuery("", "", "S1", "x", 1); }, nullptr,
       nullptr},
      {OfflineManager::kConnectionWifi, [](auto& c) { c.sendSearchQuery("A1", "", "", "x", 1); }, nullptr,
       nullptr},
      {OfflineManager::kConnectionWifi, [](auto& c) { c.sendSearchFetch("A1", "S1", "T1", "-"); },
       "SEARCH_FETCH", Json::object{{"account_id", "A1"}, {"search_id", "S1"}, {"thr_id", "T1"}}},
      {OfflineManager::kConnectionWifi, [](auto& c) { c.sendSearchFetch("A1", "S1", "T1", "{no json"); },
       "SEARCH_FETCH", Json::object{{"account_id", "A1"}, {"search_id", "S1"}, {"thr_id", "T1"}}},
      {OfflineManager::kConnectionWifi, [](auto& c) { c.sendSearchFetch("A1", "S1", "T1", "3"); },
       "SEARCH_FETCH",
       Json::object{{"account_id", "A1"}, {"search_id", "S1"}, {"thr_id", "T1"}, {"sync_data", 3}}},
      {OfflineManager::kConnectionWifi,
       [](auto& c) { c.sendSearchFetch("A1", "S1", "T1", R"({"h": "x1"})"); }, "SEARCH_FETCH",
       Json::object{{"account_id", "A1"},
                    {"search_id", "S1"},
                    {"thr_id", "T1"},
                    {"sync_data", Json::object{{"h", "x1"}}}}},
      {OfflineManager::kConnectionWifi, [](auto& c) { c.sendSearchFetch("A1", "S1", "", "3"); }, nullptr,
       nullptr},
  };
  for (const auto& c : cases) {
    server_->clear();
    offline_->setConnectionType(c.connection);
    run([&] { c.call(client_); });
    std::vector<Call> calls = server_->calls();
    if (c.method == nullptr) {
      EXPECT_TRUE(calls.empty()) << calls.front().args.dump();
      continue;
    }
    ASSERT_EQ(calls.size(), 1u) << c.method;
    EXPECT_EQ(calls[0].args[0], c.method);
    EXPECT_EQ(calls[0].args[1], c.params);
    EXPECT_EQ(calls[0].args[2].string_value().size(), 36u);
    EXPECT_EQ(calls[0].args[3], true);
  }
}

// Streamed results reach the store of search results and leave the timing open; the final answer
// stops the first query's timing, also when a second query went out under the same search id.
TEST_F(CloudSearchClientTest, TheFinalAnswerStopsTheFirstTiming) {
  run([&] {
    client_.sendSearchQuery("A", "", "S1", "lunch", 1);
    client_.sendSearchQuery("A", "", "S1", "lunch", 1);
  });
  answer(
      "{'type': 'SEARCH_QUERY', 'method': 'SEARCH_RESULT_EMAIL', 'params': {'search_id': 'S1', "
      "'account_id': 'A', 'emails': [{'_id': 'E1', 'p_id': 'I1', 'subject': 'Lunch', 'created_at': 5}]}}");
  answer(
      "{'type': 'SEARCH_QUERY', 'method': 'SEARCH_RESULT_ITEM', 'params': {'search_id': 'S1', "
      "'account_id': 'A', 'threads': [{'_id': 'I1', 'state': 2, 'subject': 'Lunch'}]}}");
  EXPECT_TRUE(ledger_.metrics.empty());
  bool found = false;
  run([&] { found = KestrunContext::objectExists("E1", "KSEMAIL", KestrunDataCenter::getMemoryContext()); });
  EXPECT_TRUE(found);
  answer("{'type': 'SEARCH_QUERY', 'id': 'q', 'result': {'search_id': 'S1', 'account_id': 'A'}}");
  EXPECT_EQ(ledger_.metrics, std::vector<std::string>{"search-query-time"});
  EXPECT_EQ(searchCalls(), std::vector<std::string>{"processQueryFinished"});
  answer("{'type': 'SEARCH_QUERY', 'id': 'q', 'result': {'search_id': 'S1', 'account_id': 'A'}}");
  EXPECT_EQ(ledger_.metrics.size(), 1u) << "the second query's timing is never recorded";
}

// "error": null beside a result is a finished search; any other "error" fails it, also beside a
// result, and stops its timing.
TEST_F(CloudSearchClientTest, OnlyANonNullErrorFailsTheSearch) {
  const struct {
    const char* message;
    const char* handled;  // nullptr: ignored
    bool timed;
  } cases[] = {
      {"{'result': {'search_id': 'S1'}, 'error': null}", "processQueryFinished", true},
      {"{'result': {'search_id': 'S1'}, 'error': {'code': 'S2', 'search_id': 'S1'}}", "processQueryError",
       true},
      {"{'error': {'code': 'S2', 'search_id': 'S1'}}", "processQueryError", true},
      {"{'error': 'broken'}", nullptr, false},
      {"{'error': null}", nullptr, false},
      {"{'method': 'SEARCH_RESULT_EMAIL', 'params': 'no object'}", nullptr, false},
      {"{'method': 'SEARCH_RESULT_EMAIL', 'params': 'no object', 'result': {'search_id': 'S1'}}",
       "processQueryFinished", true},
      {"{'method': 'SEARCH_OTHER', 'params': {'search_id': 'S1'}}", nullptr, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    search_->clear();
    ledger_.metrics.clear();
    run([&] { client_.sendSearchQuery("A", "", "S1", "lunch", 1); });
    answer(std::string("{'type': 'SEARCH_QUERY', ") + (c.message + 1));
    EXPECT_EQ(searchCalls(), c.handled ? std::vector<std::string>{c.handled} : std::vector<std::string>{});
    EXPECT_EQ(ledger_.metrics.size(), c.timed ? 1u : 0u);
  }
}

TEST_F(CloudSearchClientTest, AFetchedThreadIsStoredAndReported) {
  const struct {
    const char* result;
    const char* error;
    std::vector<Call> calls;
  } cases[] = {
      {"{'search_id': 'S1', 'thread': {'_id': 'T1', 'acct_id': 'A', 'state': 3}, 'emails': [{'_id': 'E7', "
       "'acct_id': 'A', 'p_id': 'T1', 'created_at': 5}]}",
       nullptr,
       {{"processFetchFinished", Json::array{"T1"}}}},
      {"{'search_id': 'S1', 'thread': {'acct_id': 'A'}}", "{'search_id': 'S1'}", {}},
      {"{'search_id': 'S1', 'thread': 'T2'}", nullptr, {}},
      {nullptr,
       "{'code': 'O2', 'search_id': 'S1'}",
       {{"processFetchError", Json::array{Json::object{{"code", "O2"}, {"search_id", "S1"}}}}}},
  };
  for (const auto& c : cases) {
    search_->clear();
    json_t* result = c.result ? kestrun_test::jansson(c.result) : nullptr;
    json_t* error = c.error ? kestrun_test::jansson(c.error) : nullptr;
    run([&] { client_.handleSearchFetchResponse(result, error); });
    json_decref(result);
    json_decref(error);
    drain();
    std::vector<Call> calls;
    for (const Call& call : search_->calls())
      if (call.method != "getCurrentSearchId") calls.push_back(call);
    EXPECT_EQ(calls, c.calls) << (c.result ? c.result : c.error);
  }
  bool stored = false;
  inDatabase([&](DBContext& context) { stored = context.itemExists("T1") && context.emailExists("E7"); });
  EXPECT_TRUE(stored);
}

}  // namespace
