// Search results into the memory context and fetched conversations into the database, against a
// recording search state whose current search is "S1".
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/model/model_fixtures.h"
#include "server_data_fixture.h"

namespace {

using kestrun_test::Call;
using kestrun_test::Completion;
using kestrun_test::doc;
using kestrun_test::Results;
using libkestrun::ConsumerChangeType;

class SearchResultsTest : public kestrun_test::ServerDataTest {
 protected:
  SearchResultsTest() { search_->current_search_id = std::string("S1"); }

  // Hands the result document (JSON text) to `process` on the core thread and waits for its task.
  template <class Process>
  void deliver(const std::string& text, Process process) {
    json_t* result = doc(text);
    kestrun_test::run_on(thread_, [&] { process(result); });
    json_decref(result);  // a queued task holds its own reference
    drain();
  }
  void emailResult(const std::string& text, bool update) {
    deliver(text, [update](json_t* result) { KestrunDataCenter::processQueryEmailResults(result, update); });
  }
  void itemResult(const std::string& text) { deliver(text, KestrunDataCenter::processQueryItemResults); }

  static std::shared_ptr<KSEmail> memoryEmail(const std::string& id) {
    return MemoryContext::fetchObject<KSEmail>("KSEMAIL", id);
  }
  static std::shared_ptr<KSItem> memoryItem(const std::string& id) {
    return MemoryContext::fetchObject<KSItem>("KSITEM", id);
  }
};

TEST_F(SearchResultsTest, ResultsOfAnotherSearchQueueNothing) {
  for (const char* id : {"'search_id': 'S0', ", "'search_id': 1, ", ""}) {
    const std::string ids = id;
    emailResult("{" + ids + "'account_id': 'A', 'emails': [{'_id': 'E1', 'p_id': 'I1'}]}", false);
    deliver("{" + ids + "'account_id': 'A'}", KestrunDataCenter::processQueryFinished);
    deliver("{" + ids + "'code': 'X'}", KestrunDataCenter::processQueryError);
    deliver("{" + ids + "'code': 'X'}", KestrunDataCenter::processFetchError);
    bool completed = false;  // written on the core thread only
    deliver("{" + ids + "'thread': {'_id': 'I1', 'acct_id': 'A', 'state': 2}}", [&](json_t* result) {
      KestrunDataCenter::processFetchResults(result, nullptr, [&](Results&) { completed = true; });
    });
    EXPECT_FALSE(completed) << ids;
  }
  search_->current_search_id.reset();
  emailResult("{'search_id': 'S1', 'account_id': 'A', 'emails': [{'_id': 'E1', 'p_id': 'I1'}]}", false);
  EXPECT_FALSE(memoryEmail("E1"));
  EXPECT_FALSE(storedItem("I1"));
  for (const Call& call : search_->calls()) EXPECT_EQ(call.method, "getCurrentSearchId");
}

TEST_F(SearchResultsTest, EmailResultsApplyNewEmailsOnceAndUpdateOnlyThePreview) {
  emailResult(
      "{'search_id': 'S1', 'account_id': 'A', 'emails': [{'_id': 'E1', 'p_id': 'I1', 'preview': 'one', "
      "'subject': 'First'}, {'_id': 'E1', 'p_id': 'I1', 'preview': 'again'}, 'x', {'preview': 'no id'}]}",
      false);
  auto email = memoryEmail("E1");
  ASSERT_TRUE(email);
  EXPECT_EQ(email->get_PREVIEW(), "one");
  EXPECT_EQ(email->accountID(), "A");
  auto item = memoryItem("I1");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->searchID(), "S1");
  EXPECT_EQ(item->state(), libkestrun::ItemState::None);

  emailResult(
      "{'search_id': 'S1', 'account_id': 'A', 'emails': [{'_id': 'E1', 'preview': 'two', 'subject': "
      "'Changed'}, "
      "{'_id': 'E9', 'p_id': 'I9', 'preview': 'unknown'}]}",
      true);
  EXPECT_EQ(email->get_PREVIEW(), "two");
  EXPECT_EQ(email->get_SUBJECT(), "First");
  EXPECT_FALSE(memoryEmail("E9"));
  EXPECT_FALSE(memoryItem("I9"));
}

TEST_F(SearchResultsTest, ItemResultsFillOnlyTheItemsEmailResultsMade) {
  emailResult("{'search_id': 'S1', 'account_id': 'A', 'emails': [{'_id': 'E1', 'p_id': 'I1'}]}", false);
  itemResult(
      "{'search_id': 'S1', 'account_id': 'A', 'threads': [{'_id': 'I2', 'subject': 'Unknown'}, "
      "{'_id': 'I1', 'subject': 'Found', 'state': 3, 'sync_data': {'k': 1}}]}");
  EXPECT_FALSE(memoryItem("I2"));
  auto item = memoryItem("I1");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->subject(), "Found");
  EXPECT_EQ(item->accountID(), "A");
  EXPECT_EQ(item->state(), libkestrun::ItemState::Archive);
  EXPECT_EQ(item->masterRev(), KSItem::searchOnlyMasterRev());
  EXPECT_EQ(item->syncData(), R"({"k":1})");
  EXPECT_TRUE(item->loadedOnce());
  EXPECT_EQ(item->searchID(), "S1");

  // Once it has a state, later results leave it as it is.
  itemResult(
      "{'search_id': 'S1', 'account_id': 'A', 'threads': [{'_id': 'I1', 'subject': 'Later', 'state': 2}]}");
  EXPECT_EQ(item->subject(), "Found");
  EXPECT_EQ(item->state(), libkestrun::ItemState::Archive);
}

// The end of a query reaches the search state only after the result tasks queued before it have
// committed (each commit is one pass of the live queries).
TEST_F(SearchResultsTest, QueryEndsAfterTheResultsQueuedBeforeIt) {
  struct Search : kestrun_test::FakeSearchDataManager {
    void processQueryFinished(json_t*) override { passesAtFinish = recorder->calls.size(); }
    void processQueryError(json_t*) override { passesAtError = recorder->calls.size(); }
    std::shared_ptr<kestrun_test::QueryRecorder> recorder;
    size_t passesAtFinish = 0;
    size_t passesAtError = 0;
  };
  auto search = std::make_shared<Search>();
  search->current_search_id = std::string("S1");
  search->recorder = kestrun_test::QueryRecorder::install();
  libkestrun::search_data_manager_set_instance(search);
  json_t* emails = doc("{'search_id': 'S1', 'account_id': 'A', 'emails': [{'_id': 'E1', 'p_id': 'I1'}]}");
  json_t* threads = doc("{'search_id': 'S1', 'account_id': 'A', 'threads': [{'_id': 'I1', 'state': 2}]}");
  json_t* finished = doc("{'search_id': 'S1', 'account_id': 'A'}");
  kestrun_test::run_on(thread_, [&] {
    KestrunDataCenter::processQueryEmailResults(emails, false);
    KestrunDataCenter::processQueryItemResults(threads);
    KestrunDataCenter::processQueryFinished(finished);
    KestrunDataCenter::processQueryError(finished);
  });
  for (json_t* value : {emails, threads, finished}) json_decref(value);
  drain();
  EXPECT_EQ(search->passesAtFinish, 2u);
  EXPECT_EQ(search->passesAtError, 2u);
}

TEST_F(SearchResultsTest, FetchStoresNewConversationsSearchOnlyAndKeepsOrdinaryOnes) {
  store("item", {"{'_id': 'I5', 'acct_id': 'A', 'state': 2, 'subject': 'Ordinary'}"});
  const auto fetch = [&](const std::string& thread) {
    bool completed = false;
    deliver("{'search_id': 'S1', 'thread': " + thread +
                ", 'emails': [{'_id': 'E7', 'acct_id': 'A', 'p_id': 'I6', " + "'created_at': 7}, 'x']}",
            [&](json_t* result) {
              KestrunDataCenter::processFetchResults(result, nullptr, [&](Results&) { completed = true; });
            });
    EXPECT_TRUE(completed);
  };
  fetch("{'_id': 'I5', 'acct_id': 'A', 'state': 2, 'subject': 'Fetched again'}");
  auto ordinary = storedItem("I5");
  ASSERT_TRUE(ordinary);
  EXPECT_EQ(ordinary->subject(), "Fetched again");
  EXPECT_NE(ordinary->masterRev(), KSItem::searchOnlyMasterRev());

  // A fetch counts its new e-mails for the next document's completion; here the fetch, at normal
  // priority, runs before a document handed in just before it.
  Results counts;
  patch::semaphore done;
  json_t* result =
      doc("{'search_id': 'S1', 'thread': {'_id': 'I6', 'acct_id': 'A', 'state': 2}, 'emails': [{'_id': 'E8', "
          "'acct_id': 'A', 'p_id': 'I6', 'created_at': 7}]}");
  json_t* notAnObject = doc("[]");
  kestrun_test::run_on(thread_, [&] {
    KestrunDataCenter::processDocument(notAnObject, "email", nullptr, [&](Results& results) {
      counts = results;
      done.notify();
    });
    KestrunDataCenter::processFetchResults(result, nullptr, nullptr);
  });
  done.wait();
  json_decref(result);
  json_decref(notAnObject);
  EXPECT_EQ(counts, (Results{"1", "1"}));
  auto fetched = storedItem("I6");
  ASSERT_TRUE(fetched);
  EXPECT_EQ(fetched->masterRev(), KSItem::searchOnlyMasterRev());
  EXPECT_TRUE(emailStored("E8"));

  // Fetched again, with the server's revision: it stays search-only, or it would show in the
  // folders and outlive the purge of search-only conversations.
  fetch("{'_id': 'I6', 'acct_id': 'A', 'state': 2, 'master_rev': 7}");
  fetched = storedItem("I6");
  ASSERT_TRUE(fetched);
  EXPECT_EQ(fetched->masterRev(), KSItem::searchOnlyMasterRev());
}

TEST_F(SearchResultsTest, FetchedItemIsRefreshedAsAnUpdate) {
  store("item", {"{'_id': 'I6', 'acct_id': 'A', 'state': 2}"});
  auto recorder = kestrun_test::QueryRecorder::install();
  kestrun_test::run_on(thread_, [] {
    KestrunDataCenter::updateSearchFetchedItem("I6");
    KestrunDataCenter::updateSearchFetchedItem("missing");
  });
  drain();
  ASSERT_EQ(recorder->calls.size(), 1u);
  auto& items = recorder->calls[0].changes["KSITEM"];
  EXPECT_EQ(items[ConsumerChangeType::Update], (std::unordered_set<std::string>{"I6"}));
  EXPECT_TRUE(items[ConsumerChangeType::Insert].empty());
  EXPECT_FALSE(memoryItem("missing"));
}

TEST_F(SearchResultsTest, LocalSearchesCopyWhatTheyFind) {
  std::vector<std::string> items, emails;
  for (int i = 0; i < 30; ++i) {
    const std::string n = std::to_string(i);
    items.push_back("{'_id': 'I" + n + "', 'acct_id': 'A', 'state': 2, 'subject': 'Budget " + n +
                    "', 'modified_at': " + std::to_string(1000 + i) + "}");
    emails.push_back("{'_id': 'E" + n + "', 'acct_id': 'A', 'p_id': 'I" + n + "'}");
  }
  store("item", items);
  store("email", emails);

  // Empty texts, and a full search without an id, do nothing.
  kestrun_test::run_on(thread_, [] {
    KestrunDataCenter::loadLocalSearchResults("S1", "", "");
    KestrunDataCenter::processLocalFullSearch("S1", "", "");
    KestrunDataCenter::processLocalFullSearch("", "Budget", "");
  });
  drain();
  EXPECT_TRUE(MemoryContext::allItems()->empty());
  EXPECT_TRUE(search_->calls().empty());

  // The quick search: the 15 newest, with their e-mails, at once.
  kestrun_test::run_on(thread_, [] { KestrunDataCenter::loadLocalSearchResults("S1", "Budget", "A"); });
  EXPECT_EQ(MemoryContext::allItems()->size(), 15u);
  EXPECT_TRUE(memoryItem("I29"));
  EXPECT_FALSE(memoryItem("I14"));
  EXPECT_EQ(memoryItem("I15")->searchID(), "S1");
  EXPECT_TRUE(memoryEmail("E15"));

  // The full search: 25 without e-mails, and the search ends once they are committed.
  kestrun_test::run_on(thread_, [] { KestrunDataCenter::getMemoryContext()->clearStore(); });
  kestrun_test::run_on(thread_, [] { KestrunDataCenter::processLocalFullSearch("S2", "Budget", ""); });
  drain();
  EXPECT_EQ(MemoryContext::allItems()->size(), 25u);
  EXPECT_FALSE(memoryEmail("E29"));
  EXPECT_EQ(memoryItem("I5")->searchID(), "S2");
  EXPECT_EQ(search_->calls(), (std::vector<Call>{{"finishSearch", jsonette::Json::array{"S2"}}}));
}

}  // namespace
