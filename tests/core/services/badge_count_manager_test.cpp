// The badge number from the real counts, sync status and preference managers over one LevelDB
// store, and the cached number across a restart.
#include "core/services/badge_count_manager.h"

#include <gtest/gtest.h>

#include <memory>

#include "services_fixtures.h"

namespace {

using libkestrun::BadgeCountManager;

class BadgeCountManagerTest : public ::testing::Test {
 protected:
  BadgeCountManagerTest() { open(); }
  ~BadgeCountManagerTest() override { close(); }

  void open() {
    prefs_ = std::make_unique<libkestrun::PrefManager>(&thread_, posts_.center(), dir_.store(), nullptr);
    counts_ = std::make_unique<libkestrun::CountsManager>(posts_.center(), dir_.store());
    status_ = std::make_unique<libkestrun::SyncStatusManager>(posts_.center(), dir_.store());
    badge_ = std::make_unique<BadgeCountManager>(dir_.store(), prefs_.get(), counts_.get(), status_.get());
  }
  void close() {
    badge_.reset();
    status_.reset();
    counts_.reset();
    prefs_.reset();
  }
  void restart() {
    close();
    dir_.reopen();
    open();
  }

  kestrun_test::StoreDir dir_;
  kestrun_test::PostRecorder posts_;
  brelt::UvThread thread_{true};
  std::unique_ptr<libkestrun::PrefManager> prefs_;
  std::unique_ptr<libkestrun::CountsManager> counts_;
  std::unique_ptr<libkestrun::SyncStatusManager> status_;
  std::unique_ptr<BadgeCountManager> badge_;
};

TEST_F(BadgeCountManagerTest, RoundedUnlessExactOrAnArchiveAllRuns) {
  EXPECT_EQ(badge_->getBadgeCount(), 0);  // no counts: the exact branch
  counts_->setActiveCount("A", 1234, false);
  counts_->setActiveCount("B", 15, true);
  EXPECT_EQ(badge_->getBadgeCount(), 1200);
  EXPECT_EQ(badge_->getMacBadgeCount(), 1215);
  EXPECT_EQ(badge_->getCachedBadgeCount(), 1215);

  status_->archiveAllStarted("B");
  EXPECT_EQ(badge_->getBadgeCount(), 1249);
  status_->archiveAllFinished("B");
  EXPECT_EQ(badge_->getBadgeCount(), 1200);

  counts_->setActiveCount("A", 1234, true);
  EXPECT_EQ(badge_->getBadgeCount(), 1249);
}

TEST_F(BadgeCountManagerTest, BadgesWithoutANumberAreZero) {
  counts_->setActiveCount("A", 1234, false);
  for (int type : {2, 0}) {
    prefs_->setBadgeType(type);
    EXPECT_EQ(badge_->getMacBadgeCount(), 0) << type;
    EXPECT_EQ(badge_->getCachedBadgeCount(), 0) << type;
    badge_->getMacBadgeCount();
    EXPECT_EQ(badge_->getBadgeCount(), 0) << type;
  }
}

TEST_F(BadgeCountManagerTest, TheCachedNumberSurvivesARestartTheLaunchNumberDoesNot) {
  counts_->setActiveCount("A", 15, true);
  badge_->setLaunchBadgeCount(20);
  EXPECT_EQ(badge_->getLaunchBadgeCount(), 20);
  EXPECT_EQ(badge_->getBadgeCount(), 15);
  restart();
  EXPECT_EQ(badge_->getCachedBadgeCount(), 15);
  EXPECT_EQ(badge_->getLaunchBadgeCount(), 0);
  EXPECT_EQ(dir_.stored("kestrun.cached.badge.count.defaults.key"), "15");

  badge_->setLaunchBadgeCount(20);
  badge_->reset();
  EXPECT_EQ(badge_->getCachedBadgeCount(), 0);
  EXPECT_EQ(badge_->getLaunchBadgeCount(), 0);
  restart();
  EXPECT_EQ(badge_->getCachedBadgeCount(), 0);
}

}  // namespace
