#include "core/model/ks_item.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/model/ks_email.h"
#include "core/model/memory_context.h"
#include "model_fixtures.h"

namespace {

using libkestrun::ItemState;
using Draft = libkestrun::internal::Draft;

class KSItemTest : public ::testing::Test {
 protected:
  void TearDown() override {
    memory_.clearStore();
    libkestrun::query_updater_set_instance(nullptr);
  }

  // A committed (clean) item of the caching context.
  std::shared_ptr<KSItem> cleanItem(const std::string& id) {
    auto item = std::static_pointer_cast<KSItem>(context_.createObject("KSITEM", id));
    item->setItemID(id);
    libkestrun::ChangeSet changes;
    context_.commit(changes);
    context_.log.clear();
    return item;
  }

  static Draft draft(const std::string& id, int64_t modifiedAt) {
    Draft d;
    d.set_draft_id(id);
    d.set_modified_at(modifiedAt);
    return d;
  }

  kestrun_test::CachingContext context_;
  MemoryContext memory_;
};

TEST_F(KSItemTest, NewItemHasTheDefaultsAndNoChangedColumn) {
  auto item = std::static_pointer_cast<KSItem>(context_.createObject("KSITEM", "I1"));
  EXPECT_EQ(item->state(), ItemState::None);
  EXPECT_EQ(item->previousState(), ItemState::None);
  EXPECT_EQ(item->deferralBucket(), libkestrun::DeferralBucket{22});
  EXPECT_EQ(item->deferralType(), libkestrun::DeferralType::NotDeferred);
  EXPECT_EQ(item->snoozeType(), libkestrun::SnoozeType::None);
  EXPECT_TRUE(item->deferRead());
  EXPECT_TRUE(item->threadRead());
  EXPECT_EQ(item->type(), libkestrun::ItemType::Default);
  EXPECT_EQ(item->subject(), "Loading...");
  EXPECT_EQ(item->threadPreview(), "Loading...");
  EXPECT_EQ(item->masterRev(), 0);
  EXPECT_EQ(item->savedAt(), KestrunObject::unsetTime);
  EXPECT_FALSE(item->threadHasDrafts());
  EXPECT_EQ(item->changedColumnCount(), 0u);
  EXPECT_TRUE(item->isInserted());
}

TEST_F(KSItemTest, EqualValuesRaiseNoFlag) {
  auto item = cleanItem("I1");
  const std::function<void(KSItem&)> setters[] = {
      [](KSItem& i) { i.setItemID("I1"); },
      [](KSItem& i) { i.setSubject("Loading..."); },
      [](KSItem& i) { i.setDeferRead(true); },
      [](KSItem& i) { i.setThreadRead(true); },
      [](KSItem& i) { i.setMasterRev(0); },
      [](KSItem& i) { i.setDeferralType(libkestrun::DeferralType::NotDeferred); },
      [](KSItem& i) { i.setState(ItemState::None); },
      [](KSItem& i) { i.setType(libkestrun::ItemType::Default); },
      [](KSItem& i) { i.setThreadStarredCount(0); },
      [](KSItem& i) { i.setListID(""); },
  };
  for (const auto& set : setters) set(*item);
  EXPECT_EQ(item->changedColumnCount(), 0u);
  EXPECT_EQ(context_.pendingCount(), 0u);
  EXPECT_FALSE(item->isUpdated());
}

TEST_F(KSItemTest, SetStateKeepsThePreviousState) {
  auto item = cleanItem("I1");
  item->setState(ItemState::Inbox);
  EXPECT_EQ(item->state(), ItemState::Inbox);
  EXPECT_EQ(item->previousState(), ItemState::None);
  item->setState(ItemState::Archive);
  EXPECT_EQ(item->previousState(), ItemState::Inbox);
  // The same state again changes neither column.
  item->setState(ItemState::Archive);
  EXPECT_EQ(item->state(), ItemState::Archive);
  EXPECT_EQ(item->previousState(), ItemState::Inbox);
  EXPECT_EQ(item->changedColumnCount(), 2u);
  EXPECT_EQ(item->modifiedAt(), KestrunObject::unsetTime);
}

TEST_F(KSItemTest, PromoteSearchOnlyItemMovesOnly100To200) {
  const std::pair<int64_t, int64_t> cases[] = {{100, 200}, {200, 200}, {0, 0}, {99, 99}, {300, 300}};
  for (const auto& [before, after] : cases) {
    auto item = std::make_shared<KSItem>(&context_);
    item->setMasterRev(before);
    item->promoteSearchOnlyItem();
    EXPECT_EQ(item->masterRev(), after) << before;
  }
  EXPECT_EQ(KSItem::searchOnlyMasterRev(), 100);
}

TEST_F(KSItemTest, SaveFollowsTheFlags) {
  libkestrun::ChangeSet changes;
  auto changed = cleanItem("C");
  auto removed = cleanItem("D");
  auto created = std::static_pointer_cast<KSItem>(context_.createObject("KSITEM", "N"));
  created->setItemID("N");
  changed->setThreadUnreadCount(3);
  context_.deleteObject(removed);
  context_.commit(changes);
  // Walked in the order the objects joined the pending set.
  EXPECT_EQ(context_.log, (std::vector<std::string>{"insertItem:N", "updateItem:C", "removeItem:D"}));
  EXPECT_EQ(context_.cached("KSITEM", "D"), nullptr);
  EXPECT_EQ(context_.cached("KSITEM", "C"), changed);
}

TEST_F(KSItemTest, FetchAnswersOnlyForExistingItems) {
  auto item = cleanItem("I1");
  EXPECT_EQ(KSItem::fetch("I1", &context_), item);
  EXPECT_EQ(KSItem::fetch("I2", &context_), nullptr);
  EXPECT_EQ(KSItem::fetch("", &context_), nullptr);
}

TEST_F(KSItemTest, DraftOnlyItemIncludesItsOwnDraftInOrder) {
  context_.draftsByItem["draft_item_D9"] = {draft("D2", 20), draft("D1", 30)};
  context_.storedDrafts["D9"] = draft("D9", 20);
  auto item = cleanItem("draft_item_D9");
  auto drafts = item->drafts();
  ASSERT_NE(drafts, nullptr);
  std::vector<std::string> ids;
  for (const auto& d : *drafts) ids.push_back(d.get_draft_id());
  EXPECT_EQ(ids, (std::vector<std::string>{"D2", "D9", "D1"}));
  // Read once: later drafts of the store are not seen by the kept relation.
  context_.draftsByItem["draft_item_D9"].push_back(draft("D3", 1));
  EXPECT_EQ(item->drafts()->size(), 3u);

  // An ordinary conversation does not look for a draft of its own.
  context_.storedDrafts["I1"] = draft("I1", 5);
  EXPECT_EQ(cleanItem("I1")->drafts(), nullptr);
}

TEST_F(KSItemTest, CopyToContextCopiesRowAndEmails) {
  auto original = std::static_pointer_cast<KSItem>(memory_.createObject("KSITEM", "I1"));
  original->setSubject("Plans");
  libkestrun::internal::Email row;
  row.set_EMAILID("E1");
  row.set_PARENTITEMID("I1");
  memory_.insertEmail(row);

  MemoryContext target;
  auto copy = original->copyToContext("S1", &target, true);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, original);
  EXPECT_EQ(copy->subject(), "Plans");
  EXPECT_EQ(copy->searchID(), "S1");
  EXPECT_EQ(copy->context(), &target);
  ASSERT_NE(copy->emails(), nullptr);
  ASSERT_EQ(copy->emails()->size(), 1u);
  EXPECT_EQ(copy->emails()->front()->id(), "E1");
}

}  // namespace
