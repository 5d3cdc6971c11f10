// The unit of work shared by every context: the cache, the pending set, the draft wrapper and
// the change set a commit records, seen through a persistent context that keeps its own cache.
#include "core/model/kestrun_context.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/model/ks_item.h"
#include "model_fixtures.h"

namespace {

using libkestrun::ChangeSet;
using libkestrun::ConsumerChangeType;
using libkestrun::TableChangeSet;

class KestrunContextTest : public ::testing::Test {
 protected:
  ~KestrunContextTest() override { libkestrun::query_updater_set_instance(nullptr); }

  std::shared_ptr<KSItem> newItem(const std::string& id) {
    auto item = std::static_pointer_cast<KSItem>(context_.createObject("KSITEM", id));
    item->setItemID(id);
    return item;
  }

  static libkestrun::internal::Draft draft(const std::string& id) {
    libkestrun::internal::Draft d;
    d.set_draft_id(id);
    return d;
  }

  std::shared_ptr<kestrun_test::QueryRecorder> recorder_ = kestrun_test::QueryRecorder::install();
  kestrun_test::CachingContext context_;
};

TEST_F(KestrunContextTest, NewObjectWithItsIdIsQueuedOnce) {
  auto item = newItem("I1");
  item->setSubject("a second column");
  EXPECT_EQ(context_.pendingCount(), 1u);
  EXPECT_TRUE(item->isInserted());
  EXPECT_EQ(context_.cached("KSITEM", "I1"), item);
  EXPECT_EQ(context_.createObject("KSCALENDAR", "C1"), nullptr);
  EXPECT_EQ(context_.pendingCount(), 1u);
}

TEST_F(KestrunContextTest, DraftsAreRecordedByWhatTheirSaveDid) {
  context_.insertDraft(draft("D1"));  // written by the local rule
  context_.updateDraft(draft("D2"));  // refused by the server rule
  context_.deleteDraft(draft("D3"));  // never stored: removed all the same
  auto wrapped = context_.cached("Draft", "D1");
  ASSERT_NE(wrapped, nullptr);
  EXPECT_TRUE(wrapped->isInserted());
  ChangeSet changes;
  context_.commit(changes);
  EXPECT_EQ(context_.log, (std::vector<std::string>{"saveDraft:D1", "saveServerDraft:D2", "removeDraft:D3"}));
  const ChangeSet expected{{"Draft", TableChangeSet{{ConsumerChangeType::Insert, {"D1"}},
                                                    {ConsumerChangeType::Update, {"D2"}},
                                                    {ConsumerChangeType::Delete, {"D3"}}}}};
  EXPECT_EQ(changes, expected);
}

TEST_F(KestrunContextTest, ResetDropsCacheAndPendingChanges) {
  auto item = newItem("I1");
  context_.reset();
  EXPECT_EQ(context_.cached("KSITEM", "I1"), nullptr);
  EXPECT_EQ(context_.pendingCount(), 0u);
  ChangeSet changes;
  context_.commit(changes);
  EXPECT_TRUE(context_.log.empty());
  EXPECT_TRUE(recorder_->calls.empty());
  // The object itself keeps its values.
  EXPECT_EQ(item->itemID(), "I1");
}

TEST_F(KestrunContextTest, CommitRecordsEveryTableWithAllThreeKinds) {
  auto kept = newItem("K");
  auto gone = newItem("G");
  ChangeSet first;
  context_.commit(first);
  context_.deleteObject(gone);
  kept->setThreadStarred(true);
  newItem("N");
  context_.insertDraft(draft("D1"));
  ChangeSet second;
  context_.commit(second);
  const ChangeSet expected{
      {"Draft", TableChangeSet{{ConsumerChangeType::Insert, {"D1"}},
                               {ConsumerChangeType::Update, {}},
                               {ConsumerChangeType::Delete, {}}}},
      {"KSITEM", TableChangeSet{{ConsumerChangeType::Insert, {"N"}},
                                {ConsumerChangeType::Update, {"K"}},
                                {ConsumerChangeType::Delete, {"G"}}}},
  };
  EXPECT_EQ(second, expected);
  ASSERT_EQ(recorder_->calls.size(), 2u);
  EXPECT_EQ(recorder_->calls[1].changes, expected);
  EXPECT_EQ(context_.cached("KSITEM", "G"), nullptr);
  EXPECT_EQ(context_.cached("KSITEM", "K"), kept);
}

}  // namespace
