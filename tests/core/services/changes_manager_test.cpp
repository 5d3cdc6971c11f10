// Change tokens per account on a LevelDB store: partial updates, all 64 bits, removal, clearing.
#include "core/services/changes_manager.h"

#include <gtest/gtest.h>

#include <memory>

#include "services_fixtures.h"

namespace {

using libkestrun::ChangesManager;
using libkestrun::Tokens;

class ChangesManagerTest : public ::testing::Test {
 protected:
  void restart() {
    manager_.reset();
    dir_.reopen();
    manager_ = std::make_unique<ChangesManager>(dir_.store());
  }

  kestrun_test::StoreDir dir_;
  std::unique_ptr<ChangesManager> manager_ = std::make_unique<ChangesManager>(dir_.store());
};

TEST_F(ChangesManagerTest, AbsentTokensKeepTheStoredOnes) {
  EXPECT_EQ(manager_->getTokens("A"), (Tokens{0, 0, 0}));
  manager_->setTokens("A", 3, 9, std::nullopt);
  manager_->setTokens("A", 17, std::nullopt, 4);
  EXPECT_EQ(manager_->getTokens("A"), (Tokens{17, 9, 4}));
  restart();
  EXPECT_EQ(manager_->getTokens("A"), (Tokens{17, 9, 4}));
  EXPECT_EQ(dir_.stored("kestrun.changes.manager.items.tokens"), R"({"A":17})");
}

TEST_F(ChangesManagerTest, TokensKeepAllTheirBitsThroughTheStore) {
  const uint64_t above_double = (uint64_t{1} << 53) + 1;
  const uint64_t largest_integer = uint64_t{INT64_MAX};
  manager_->setTokens("A", above_double, largest_integer, 0);
  restart();
  EXPECT_EQ(manager_->getTokens("A"), (Tokens{above_double, largest_integer, 0}));
  EXPECT_EQ(dir_.stored("kestrun.changes.manager.items.tokens"), R"({"A":9007199254740993})");
}

TEST_F(ChangesManagerTest, RemovingAnAccountLeavesTheOthersAndClearStoresEmptyMaps) {
  manager_->setTokens("A", 1, 2, 3);
  manager_->setTokens("B", 4, 5, 6);
  manager_->removeTokensForAccount("A");
  EXPECT_EQ(manager_->getTokens("A"), (Tokens{0, 0, 0}));
  EXPECT_EQ(manager_->getTokens("B"), (Tokens{4, 5, 6}));

  manager_->clear();
  restart();
  EXPECT_EQ(manager_->getTokens("B"), (Tokens{0, 0, 0}));
  for (const char* key : {"kestrun.changes.manager.items.tokens", "kestrun.changes.manager.emails.tokens",
                          "kestrun.changes.manager.lists.tokens"})
    EXPECT_EQ(dir_.stored(key), "{}") << key;
}

}  // namespace
