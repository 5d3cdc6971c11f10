// List order keys on a LevelDB store: handing out, setting, renaming, removing, clearing and
// loading what the store holds.
#include "core/services/list_ordering_manager.h"

#include <gtest/gtest.h>

#include <memory>

#include "core/foundation/json_kv_store.h"
#include "services_fixtures.h"

namespace {

using libkestrun::ListOrderingManager;

const char* const kKey = "list.ordering.manager.mapping.key";

class ListOrderingManagerTest : public ::testing::Test {
 protected:
  void restart() {
    manager_.reset();
    dir_.reopen();
    manager_ = std::make_unique<ListOrderingManager>(dir_.store());
  }

  kestrun_test::StoreDir dir_;
  std::unique_ptr<ListOrderingManager> manager_ = std::make_unique<ListOrderingManager>(dir_.store());
};

TEST_F(ListOrderingManagerTest, NewNamesGetTheNextKeyAndKnownNamesKeepTheirs) {
  EXPECT_EQ(manager_->getOrderKey("Work"), 0);
  EXPECT_EQ(manager_->getOrderKey("Next"), 1);
  dir_.store()->erase(kKey);  // a known name is answered without a write
  EXPECT_EQ(manager_->getOrderKey("Work"), 0);
  EXPECT_EQ(dir_.stored(kKey), "absent");

  manager_->setOrderKey("Home", 10);
  EXPECT_EQ(manager_->getOrderKey("Later"), 11);
  EXPECT_EQ(dir_.stored(kKey), R"({"Home":10,"Later":11,"Next":1,"Work":0})");
  restart();
  EXPECT_EQ(manager_->getOrderKey("Home"), 10);
  EXPECT_EQ(manager_->getOrderKey("Else"), 12);
}

TEST_F(ListOrderingManagerTest, RenameMovesTheKeyAndRemoveForgetsIt) {
  manager_->setOrderKey("Work", 3);
  manager_->renameList("Work", "Job");
  EXPECT_EQ(dir_.stored(kKey), R"({"Job":3})");
  dir_.store()->erase(kKey);
  manager_->renameList("Nothing", "Else");  // no key: nothing changes, nothing is written
  EXPECT_EQ(dir_.stored(kKey), "absent");

  manager_->removeList("Job");
  EXPECT_EQ(dir_.stored(kKey), "{}");
  EXPECT_EQ(manager_->getOrderKey("Job"), 4);  // keys only grow
}

TEST_F(ListOrderingManagerTest, ClearKeepsTheLargestKeyUntilARestart) {
  for (const char* name : {"a", "b", "c", "d", "e", "f"}) manager_->getOrderKey(name);
  manager_->clear();
  EXPECT_EQ(dir_.stored(kKey), "absent");
  EXPECT_EQ(manager_->getOrderKey("Work"), 6);
  manager_->clear();
  restart();
  EXPECT_EQ(manager_->getOrderKey("Work"), 0);
}

TEST_F(ListOrderingManagerTest, LoadingSkipsMembersThatAreNotNumbers) {
  libkestrun::JsonKvStore(dir_.store()).set_json(kKey, jsonette::Json::object{{"A", 3}, {"B", "x"}});
  restart();
  EXPECT_EQ(manager_->getOrderKey("A"), 3);
  EXPECT_EQ(manager_->getOrderKey("New"), 4);
  EXPECT_EQ(dir_.stored(kKey), R"({"A":3,"New":4})");
}

}  // namespace
