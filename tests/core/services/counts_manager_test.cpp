// Server-side counts: status documents, local state changes, totals exact and rounded, list
// counts, auto-swipe totals, the stored form and a restart.
#include "core/services/counts_manager.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "services_fixtures.h"

namespace {

using jsonette::Json;
using kestrun_test::Posted;
using libkestrun::CountsManager;
using libkestrun::ItemState;

const Posted kUpdated{"com.kestrun.kscounts.counts.updated", nullptr};

class CountsManagerTest : public ::testing::Test {
 protected:
  std::unique_ptr<CountsManager> open() {
    return std::make_unique<CountsManager>(posts_.center(), dir_.store());
  }
  void restart() {
    manager_.reset();
    dir_.reopen();
    manager_ = open();
  }

  kestrun_test::StoreDir dir_;
  kestrun_test::PostRecorder posts_;
  std::unique_ptr<CountsManager> manager_ = open();
};

TEST(CountsRounding, TwoSignificantDigitsHalvesAwayFromZero) {
  const std::pair<int, int> cases[] = {
      {0, 0},       {99, 99},     {100, 100},     {101, 100},     {105, 110}, {123, 120}, {995, 1000},
      {1234, 1200}, {1250, 1300}, {-1234, -1200}, {-1250, -1300}, {7, 7},     {15, 15}};
  for (auto [value, rounded] : cases)
    EXPECT_EQ(CountsManager::roundToSignificantDigits(value, 2), rounded) << value;

  // Past a million the rounded count must not fall below the power of ten it starts from.
  const std::pair<int, int> large[] = {
      {1000001, 1000000}, {1049999, 1000000}, {-1000001, -1000000}, {2147483647, 2100000000}};
  for (auto [value, rounded] : large)
    EXPECT_EQ(CountsManager::roundToSignificantDigits(value, 2), rounded) << value;
}

TEST_F(CountsManagerTest, AStatusDocumentSetsTheCountsItCarries) {
  manager_->setDeletedCount("A", 4, true);
  manager_->updateListCounts("A", Json::array{Json::object{{"name", "Old"}, {"count", 1}}});
  posts_.take();

  manager_->updateCounts(Json::object{{"active", Json::object{{"count", 12}, {"exact", true}}},
                                      {"completed", Json::object{{"count", 3400}}},
                                      {"sent", Json::object{{"exact", true}}}},
                         "A");
  EXPECT_EQ(manager_->activeCountForAccount("A"), 12);
  EXPECT_TRUE(manager_->activeIsExactForAccount("A"));
  EXPECT_EQ(manager_->totalCompletedCount(), 3400);
  EXPECT_FALSE(manager_->completedIsExact());
  EXPECT_EQ(manager_->totalSignificantCompletedCount(), 3400);
  EXPECT_EQ(manager_->totalDeletedCount(), 4);           // absent: unchanged
  EXPECT_EQ(manager_->totalSentCount(), 0);              // no "count": unchanged
  EXPECT_EQ(manager_->totalListCountForList("Old"), 0);  // the list maps are replaced whole
  EXPECT_EQ(posts_.take(), (std::vector<Posted>{kUpdated, kUpdated}));

  // Malformed documents change nothing.
  manager_->updateCounts(Json::array{}, "A");
  manager_->updateCounts(Json::object{{"active", Json::object{{"count", 1}}}}, "");
  EXPECT_EQ(manager_->activeCountForAccount("A"), 12);
}

TEST_F(CountsManagerTest, ListCountsKeepWellFormedEntriesOnly) {
  manager_->updateCounts(
      Json::object{{"lists", Json::array{Json::object{{"name", "Work"}, {"count", 7}, {"exact", true}},
                                         Json::object{{"name", "Home"}, {"count", "7"}},
                                         Json::object{{"count", 2}}, "Travel"}}},
      "A");
  manager_->updateListCounts("B", Json::array{Json::object{{"name", "Work"}, {"count", 1250}}});
  EXPECT_EQ(manager_->totalListCountForList("Work"), 1257);
  EXPECT_EQ(manager_->totalSignificantListCountForList("Work"), 1300);
  EXPECT_EQ(manager_->totalListCountForList("Home"), 0);
  EXPECT_TRUE(manager_->listIsExactForAccount("A", "Work"));
  EXPECT_FALSE(manager_->listIsExactForAccount("B", "Work"));
  EXPECT_FALSE(manager_->listIsExactForList("Work"));
  EXPECT_TRUE(manager_->listIsExactForList("Nowhere"));
  EXPECT_FALSE(manager_->listIsExactForAccount("A", "Nowhere"));
  EXPECT_EQ(dir_.stored("kscounts.lists.counts.defaults.key"), R"({"A":{"Work":7},"B":{"Work":1250}})");
  EXPECT_EQ(dir_.stored("kscounts.lists.exact.defaults.key"), R"({"A":{"Work":true},"B":{"Work":false}})");
}

TEST_F(CountsManagerTest, StateChangesMoveOneCountBetweenBuckets) {
  manager_->setActiveCount("A", 0, true);
  manager_->setCompletedCount("A", 5, true);
  posts_.take();
  struct Case {
    ItemState from, to;
    int active, completed, deleted;
    bool posts;
  };
  const Case cases[] = {
      {ItemState::Inbox, ItemState::Archive, 0, 6, 0, true},  // active 0 stays 0
      {ItemState::Archive, ItemState::Archive, 0, 6, 0, false},
      {ItemState::Later, ItemState::List, 0, 6, 0, true},  // no bucket either side, still posts
      {ItemState::Archive, ItemState::Trash, 0, 5, 1, true},
      {ItemState::Trash, ItemState::Inbox, 1, 5, 0, true},
  };
  for (const Case& c : cases) {
    manager_->updateCountsForStateChange(c.from, c.to, "A");
    EXPECT_EQ(manager_->totalActiveCount(), c.active);
    EXPECT_EQ(manager_->totalCompletedCount(), c.completed);
    EXPECT_EQ(manager_->totalDeletedCount(), c.deleted);
    EXPECT_EQ(posts_.take().size(), c.posts ? 1u : 0u);
  }
  EXPECT_TRUE(manager_->activeIsExactForAccount("A"));  // flags are not touched
}

TEST_F(CountsManagerTest, TotalsOfAnInexactAndAnExactAccount) {
  manager_->setActiveCount("A", 1234, false);
  manager_->setActiveCount("B", 15, true);
  EXPECT_EQ(manager_->totalActiveCount(), 1249);
  EXPECT_EQ(manager_->totalSignificantActiveCount(), 1200);
  EXPECT_EQ(manager_->accumulateActiveCountForAllAccounts(), 1215);
  EXPECT_EQ(manager_->totalSignificantActiveCountForAccount("A"), 1200);
  EXPECT_FALSE(manager_->activeIsExact());

  // With every count 0 the total is exact whatever the flags say.
  manager_->setActiveCount("A", 0, false);
  manager_->setActiveCount("B", 0, false);
  EXPECT_TRUE(manager_->activeIsExact());
}

TEST_F(CountsManagerTest, OnlyAnExactActiveCountIsReplacedByTheLocalOne) {
  manager_->setActiveCount("A", 10, true);
  manager_->setActiveCount("B", 10, false);
  posts_.take();
  manager_->updateActiveCountIfExact("A", 40);
  manager_->updateActiveCountIfExact("B", 40);
  manager_->updateActiveCountIfExact("C", 40);
  EXPECT_EQ(manager_->activeCountForAccount("A"), 40);
  EXPECT_EQ(manager_->activeCountForAccount("B"), 10);
  EXPECT_EQ(manager_->activeCountForAccount("C"), 0);
  EXPECT_EQ(posts_.take(), std::vector<Posted>{kUpdated});
}

TEST_F(CountsManagerTest, ArchiveAllResetsAndAccountRemovalForgets) {
  manager_->setActiveCount("A", 30, false);
  manager_->setActiveCount("B", 20, false);
  manager_->setSentCount("B", 9, true);
  manager_->updateListCounts("B", Json::array{Json::object{{"name", "Work"}, {"count", 2}}});

  manager_->resetActiveCountForAccount("A");
  EXPECT_EQ(manager_->activeCountForAccount("A"), 0);
  EXPECT_TRUE(manager_->activeIsExactForAccount("A"));

  manager_->removeCountsForAccount("B");
  EXPECT_EQ(manager_->totalActiveCount(), 0);
  EXPECT_EQ(manager_->totalSentCount(), 0);
  EXPECT_EQ(manager_->totalListCountForList("Work"), 0);
  EXPECT_EQ(dir_.stored("kscounts.active.defaults.key"), R"({"A":0})");

  manager_->clearActiveCounts();
  EXPECT_EQ(dir_.stored("kscounts.active.defaults.key"), "{}");
  EXPECT_EQ(dir_.stored("kscounts.active.exact.defaults.key"), "{}");
  EXPECT_EQ(posts_.take().size(), 6u);  // three setters (list counts post nothing), three changes
}

TEST_F(CountsManagerTest, AutoSwipeTotalsByItemState) {
  manager_->processAutoSwipeCounts(
      Json::object{{"1", 4}, {"3", 10}, {"4", 2}, {"5", 1}, {"9", 7}, {"2", "x"}, {"4x", 3}});
  EXPECT_EQ(manager_->deferAutoSwipeCount(), 4);
  EXPECT_EQ(manager_->archiveAutoSwipeCount(), 10);
  EXPECT_EQ(manager_->deleteAutoSwipeCount(), 3);  // "4x" reads as 4 and comes later
  EXPECT_EQ(manager_->listAutoSwipeCount(), 1);
  EXPECT_EQ(manager_->totalAutoSwipeCount(), 18);
  EXPECT_EQ(posts_.take(), std::vector<Posted>{});

  manager_->processAutoSwipeCounts(Json::object{{"1", 4}, {"3", 10}, {"4", 2}, {"5", 1}, {"9", 7}});
  EXPECT_EQ(manager_->totalAutoSwipeCount(), 17);
}

TEST_F(CountsManagerTest, EverythingSurvivesARestartAndClearAllEmptiesIt) {
  manager_->setActiveCount("A", 1234, false);
  manager_->setActiveCount("B", 15, true);
  manager_->setCompletedCount("A", 3, true);
  manager_->setDeletedCount("A", 2, false);
  manager_->setSentCount("A", 8, true);
  manager_->updateListCounts("A", Json::array{Json::object{{"name", "Work"}, {"count", 7}, {"exact", true}}});
  manager_->processAutoSwipeCounts(Json::object{{"1", 4}, {"3", 10}});
  restart();
  EXPECT_EQ(manager_->totalActiveCount(), 1249);
  EXPECT_FALSE(manager_->activeIsExact());  // the all-exact flag is computed again
  EXPECT_EQ(manager_->accumulateActiveCountForAllAccounts(), 1215);
  EXPECT_TRUE(manager_->completedIsExact());
  EXPECT_FALSE(manager_->deletedIsExact());
  EXPECT_EQ(manager_->totalSentCount(), 8);
  EXPECT_TRUE(manager_->listIsExactForAccount("A", "Work"));
  EXPECT_EQ(manager_->totalAutoSwipeCount(), 14);

  manager_->clearAll();
  restart();
  EXPECT_EQ(manager_->totalActiveCount(), 0);
  EXPECT_EQ(manager_->totalListCountForList("Work"), 0);
  EXPECT_EQ(manager_->totalAutoSwipeCount(), 0);
  EXPECT_EQ(dir_.stored("kscounts.lists.counts.defaults.key"), "{}");
  EXPECT_EQ(dir_.stored("kscounts.archive.auto.swipe.defaults.key"), "0");
}

}  // namespace
