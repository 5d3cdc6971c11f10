// The search state over the data center's search operations, as the application wires them: local
// and cloud results reach the data center's in-memory store and the search's live query.
#include "core/services/data_center_search_results.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/data/server_data_fixture.h"

namespace {

using libkestrun::ConsumerChangeType;
using libkestrun::SearchDataManager;

// Records the live query's rows and inserts. Core thread.
class Rows : public libkestrun::DataQueryObserver<std::shared_ptr<KestrunObject>> {
 public:
  void set_results(const std::string&, const std::vector<std::shared_ptr<KestrunObject>>& rows) override {
    std::string line = "results";
    for (const auto& row : rows) line += " " + row->id();
    lines.push_back(line);
  }
  void begin_changes(const std::string&) override {}
  void item_changed(const std::string&, std::shared_ptr<KestrunObject> row, ConsumerChangeType type, int,
                    int) override {
    if (type == ConsumerChangeType::Insert) lines.push_back("insert " + row->id());
  }
  void end_changes(const std::string&) override {}
  std::vector<std::string> lines;
};

class DataCenterSearchResultsTest : public kestrun_test::ServerDataTest {
 protected:
  DataCenterSearchResultsTest() {
    server_->connected = false;
    kestrun_test::run_on(thread_, [&] {
      manager_ = std::make_shared<SearchDataManager>(&thread_, accounts_.get(),
                                                     std::make_shared<libkestrun::DataCenterSearchResults>());
    });
    libkestrun::search_data_manager_set_instance(manager_);
  }
  ~DataCenterSearchResultsTest() override {
    kestrun_test::run_on(thread_, [&] {
      KestrunConsumerCenter::endQuery("S1");
      manager_.reset();
    });
  }

  static std::shared_ptr<KSItem> memoryItem(const std::string& id) {
    return MemoryContext::fetchObject<KSItem>("KSITEM", id);
  }

  std::shared_ptr<SearchDataManager> manager_;
  std::shared_ptr<Rows> rows_ = std::make_shared<Rows>();
  std::vector<std::string> reports_;  // core thread until drained
};

TEST_F(DataCenterSearchResultsTest, SearchResultsReachTheMemoryStoreAndTheLiveQuery) {
  store("item", {"{'_id': 'I1', 'acct_id': 'A', 'state': 2, 'subject': 'Budget'}",
                 "{'_id': 'I2', 'acct_id': 'A', 'state': 2, 'subject': 'Other'}"});
  store("email", {"{'_id': 'E1', 'acct_id': 'A', 'p_id': 'I1'}"});
  // What an earlier search left in the store.
  kestrun_test::run_on(thread_, [] { KestrunDataCenter::loadLocalSearchResults("S0", "Other", ""); });
  ASSERT_TRUE(memoryItem("I2"));

  kestrun_test::run_on(thread_, [&] {
    manager_->quickLocalSearch(
        "S1", "Budget", "", rows_,
        [&](json_t* result) { reports_.push_back(result ? "finished" : "finished null"); },
        [&](json_t*) { reports_.push_back("error"); });
  });
  drain();
  EXPECT_FALSE(memoryItem("I2"));
  ASSERT_TRUE(memoryItem("I1"));
  EXPECT_EQ(memoryItem("I1")->searchID(), "S1");
  EXPECT_TRUE(MemoryContext::fetchObject<KSEmail>("KSEMAIL", "E1"));

  // A cloud result of this search passes the gate of the real search state; one of the earlier
  // search does not.
  for (const char* search : {"S0", "S1"}) {
    json_t* result = kestrun_test::doc(std::string("{'search_id': '") + search + "', 'account_id': 'A', " +
                                       "'emails': [{'_id': 'E9', 'p_id': 'I9'}]}");
    kestrun_test::run_on(thread_, [&] { KestrunDataCenter::processQueryEmailResults(result, false); });
    json_decref(result);
    drain();
  }
  ASSERT_TRUE(memoryItem("I9"));
  EXPECT_EQ(memoryItem("I9")->searchID(), "S1");

  // Offline, the full search runs locally and ends the search once its copies are committed.
  kestrun_test::run_on(thread_, [&] { manager_->performFullSearch("S1", "INBOX"); });
  drain();
  ASSERT_FALSE(rows_->lines.empty());
  EXPECT_EQ(rows_->lines.front(), "results I1");
  EXPECT_NE(std::find(rows_->lines.begin(), rows_->lines.end(), "insert I9"), rows_->lines.end());
  EXPECT_EQ(reports_, (std::vector<std::string>{"finished null"}));
  EXPECT_FALSE(manager_->getCurrentSearchId());

  // A fetched conversation is read again into the store.
  store("item", {"{'_id': 'I3', 'acct_id': 'A', 'state': 2, 'subject': 'Fetched'}"});
  kestrun_test::run_on(thread_, [&] { manager_->updateFetchedItem("I3"); });
  drain();
  ASSERT_TRUE(memoryItem("I3"));
  EXPECT_EQ(memoryItem("I3")->subject(), "Fetched");
}

}  // namespace
