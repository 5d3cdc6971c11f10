// Status notifications, the send counts of a burst and their survival across restarts, the
// archive-all set and the new-mail threshold.
#include "core/services/sync_status_manager.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "services_fixtures.h"

namespace {

using jsonette::Json;
using kestrun_test::Posted;
using libkestrun::SyncStatusManager;

class SyncStatusManagerTest : public ::testing::Test {
 protected:
  std::unique_ptr<SyncStatusManager> open() {
    return std::make_unique<SyncStatusManager>(posts_.center(), dir_.store());
  }
  void restart() {
    manager_.reset();
    dir_.reopen();
    manager_ = open();
  }

  kestrun_test::StoreDir dir_;
  kestrun_test::PostRecorder posts_;
  std::unique_ptr<SyncStatusManager> manager_ = open();
};

Posted sending(int n) { return {"com.kestrun.sync.sending.messages", Json::object{{"primaryCount", n}}}; }
Posted sent(int n) { return {"com.kestrun.sync.sent.messages", Json::object{{"primaryCount", n}}}; }

TEST_F(SyncStatusManagerTest, StatusPayloadLeavesOutNegativeCounts) {
  struct Case {
    int primary, secondary;
    Json payload;
  };
  const Case cases[] = {{-1, -1, nullptr},
                        {5, -1, Json::object{{"primaryCount", 5}}},
                        {-1, 2, Json::object{{"secondaryCount", 2}}},
                        {7, 3, Json::object{{"primaryCount", 7}, {"secondaryCount", 3}}},
                        {0, 0, Json::object{{"primaryCount", 0}, {"secondaryCount", 0}}}};
  for (const Case& c : cases) {
    manager_->postStatus("com.kestrun.sync.received.new.messages", c.primary, c.secondary);
    EXPECT_EQ(posts_.take(), (std::vector<Posted>{{"com.kestrun.sync.received.new.messages", c.payload}}))
        << c.primary << " " << c.secondary;
  }
  manager_->postGenericMessage("Hello");
  EXPECT_EQ(
      posts_.take(),
      (std::vector<Posted>{{"com.kestrun.sync.generic.message", Json::object{{"genericMessage", "Hello"}}}}));
}

TEST_F(SyncStatusManagerTest, ABurstPostsGrowingCountsThenOneSentStatusWithItsSize) {
  for (int i = 0; i < 3; ++i) manager_->startedSendingMessage();
  EXPECT_EQ(posts_.take(), (std::vector<Posted>{sending(1), sending(2), sending(3)}));

  // The counts are stored: a restart in the middle of the burst keeps it.
  manager_->finishedSendingMessage();
  restart();
  manager_->repostSendingStatus();
  EXPECT_EQ(posts_.take(), std::vector<Posted>{sending(3)});
  manager_->finishedSendingMessage();
  EXPECT_EQ(posts_.take(), std::vector<Posted>{});
  manager_->finishedSendingMessage();
  EXPECT_EQ(posts_.take(), std::vector<Posted>{sent(3)});

  // The next burst counts from 0 again; nothing is shown between bursts.
  manager_->repostSendingStatus();
  manager_->startedSendingMessage();
  manager_->finishedSendingMessage();
  EXPECT_EQ(posts_.take(), (std::vector<Posted>{sending(1), sent(1)}));
  EXPECT_EQ(dir_.stored("sync.status.manager.num.currently.sending"), "0");
  EXPECT_EQ(dir_.stored("sync.status.manager.num.displayed.sending"), "0");
}

TEST_F(SyncStatusManagerTest, ALateFinishAfterResetStaysAtZeroAndTheNextBurstStillEnds) {
  manager_->startedSendingMessage();
  manager_->reset();
  manager_->finishedSendingMessage();  // the acknowledgement of the e-mail sent before the reset
  EXPECT_EQ(dir_.stored("sync.status.manager.num.currently.sending"), "0");

  manager_->startedSendingMessage();
  manager_->finishedSendingMessage();
  EXPECT_EQ(posts_.take(), (std::vector<Posted>{sending(1), sending(1), sent(1)}));
}

TEST_F(SyncStatusManagerTest, ArchiveAllPostsWhenTheFirstStartsAndTheLastFinishes) {
  const Posted ongoing{"com.kestrun.sync.archive.all.ongoing",
                       Json::object{{"primaryCount", 0}, {"secondaryCount", 0}}};
  const Posted complete{"com.kestrun.sync.archive.all.complete",
                        Json::object{{"primaryCount", 0}, {"secondaryCount", 0}}};
  manager_->archiveAllFinished("A");  // nothing running: nothing to report
  manager_->archiveAllStarted("A");
  manager_->archiveAllStarted("A");
  manager_->archiveAllStarted("B");
  EXPECT_TRUE(manager_->isArchiveAllOngoing());
  manager_->archiveAllFinished("C");
  manager_->archiveAllFinished("A");
  EXPECT_EQ(posts_.take(), std::vector<Posted>{ongoing});
  manager_->archiveAllFinished("B");
  EXPECT_FALSE(manager_->isArchiveAllOngoing());
  EXPECT_EQ(posts_.take(), std::vector<Posted>{complete});

  // The set is not stored: a restart starts with none running.
  manager_->archiveAllStarted("A");
  restart();
  EXPECT_FALSE(manager_->isArchiveAllOngoing());
}

TEST_F(SyncStatusManagerTest, NewMailIsAtOrAfterTheThreshold) {
  EXPECT_FALSE(manager_->isNewEmailTimestamp(0));
  EXPECT_TRUE(manager_->isNewEmailTimestamp(1));  // no threshold yet
  EXPECT_EQ(manager_->updateNewEmailTimestampThreshold(1000), 1000);
  EXPECT_FALSE(manager_->isNewEmailTimestamp(999));
  EXPECT_TRUE(manager_->isNewEmailTimestamp(1000));
  EXPECT_FALSE(manager_->isNewEmailTimestamp(0));
}

}  // namespace
