#include "core/model/memory_context.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "model_fixtures.h"

namespace {

using libkestrun::ChangeSet;
using libkestrun::ConsumerChangeType;
using libkestrun::TableChangeSet;

class MemoryContextTest : public ::testing::Test {
 protected:
  void SetUp() override { context_.clearStore(); }
  void TearDown() override {
    context_.clearStore();
    libkestrun::query_updater_set_instance(nullptr);
  }

  static libkestrun::internal::Item itemRow(const std::string& id, int64_t threadTimestamp = 0) {
    libkestrun::internal::Item row;
    row.set_ITEMID(id);
    row.set_THREADTIMESTAMP(threadTimestamp);
    return row;
  }
  static libkestrun::internal::Email emailRow(const std::string& id, const std::string& parent,
                                              const std::string& subject = "") {
    libkestrun::internal::Email row;
    row.set_EMAILID(id);
    row.set_PARENTITEMID(parent);
    row.set_SUBJECT(subject);
    return row;
  }

  std::shared_ptr<kestrun_test::QueryRecorder> recorder_ = kestrun_test::QueryRecorder::install();
  MemoryContext context_;
};

TEST_F(MemoryContextTest, CommitOfOneChangedItemRecordsItUnderUpdate) {
  context_.insertItem(itemRow("I1"));
  ChangeSet first;
  context_.commit(first);
  EXPECT_EQ(first, (ChangeSet{{"KSITEM", TableChangeSet{{ConsumerChangeType::Insert, {"I1"}},
                                                        {ConsumerChangeType::Update, {}},
                                                        {ConsumerChangeType::Delete, {}}}}}));

  context_.fetchItem("I1")->setSubject("Lunch");
  ChangeSet second;
  context_.commit(second);
  const ChangeSet expected{{"KSITEM", TableChangeSet{{ConsumerChangeType::Insert, {}},
                                                     {ConsumerChangeType::Update, {"I1"}},
                                                     {ConsumerChangeType::Delete, {}}}}};
  EXPECT_EQ(second, expected);
  ASSERT_EQ(recorder_->calls.size(), 2u);
  EXPECT_EQ(recorder_->calls[1].changes, expected);
  EXPECT_FALSE(recorder_->calls[1].force);
  EXPECT_EQ(context_.fetchItem("I1")->changedColumnCount(), 0u);
}

TEST_F(MemoryContextTest, CreatedThenDeletedRecordsNothingAndCallsNoHook) {
  auto item = context_.createObject("KSITEM", "I1");
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->id(), "I1");
  context_.deleteObject(item);
  ChangeSet changes;
  context_.commit(changes);
  EXPECT_TRUE(changes.empty());
  EXPECT_TRUE(recorder_->calls.empty());
}

TEST_F(MemoryContextTest, DocumentsWithoutAUsableIdOrTypeChangeNothing) {
  struct Case {
    const char* document;
    const char* type;
  };
  const Case cases[] = {
      {R"({"_id": 7, "acct_id": "A"})", "item"},
      {R"({"_id": "", "acct_id": "A"})", "item"},
      {R"({"acct_id": "A"})", "item"},
      {R"({"_id": "C1", "acct_id": "A"})", "calendar"},
      {R"({"_id": "R1", "acct_id": "A"})", "auto_swipe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document + std::string(" ") + c.type);
    json_t* document = json_loads(c.document, 0, nullptr);
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(KestrunContext::applyServerDocument(document, c.type, "_id", &context_), nullptr);
    json_decref(document);
  }
  EXPECT_EQ(KestrunContext::applyServerDocument(nullptr, "item", "_id", &context_), nullptr);
  EXPECT_FALSE(context_.itemExists(""));
  EXPECT_TRUE(MemoryContext::allItems()->empty());
  ChangeSet changes;
  context_.commit(changes);
  EXPECT_TRUE(changes.empty());
  EXPECT_TRUE(recorder_->calls.empty());
}

TEST_F(MemoryContextTest, DocumentCreatesAnObjectCarryingItsId) {
  json_t* document = json_loads(R"({"_id": "I1", "acct_id": "A", "sync_data": {"s": 1}})", 0, nullptr);
  auto object = KestrunContext::applyServerDocument(document, "item", "_id", &context_);
  json_decref(document);
  ASSERT_NE(object, nullptr);
  auto item = context_.fetchItem("I1");
  EXPECT_EQ(item, object);
  EXPECT_EQ(item->accountID(), "A");
  // Search results take the keys only: an item's finishing steps belong to the stored inbox.
  EXPECT_EQ(item->syncData(), "");
  EXPECT_FALSE(item->loadedOnce());
  EXPECT_TRUE(item->isInserted());
}

TEST_F(MemoryContextTest, InstancesShareTheStore) {
  MemoryContext other;
  auto created = context_.createObject("KSITEM", "I1");
  EXPECT_TRUE(other.itemExists("I1"));
  EXPECT_EQ(other.fetchItem("I1"), created);
  EXPECT_EQ(other.fetchItem(""), nullptr);
  // Each keeps its own pending set.
  ChangeSet changes;
  other.commit(changes);
  EXPECT_TRUE(changes.empty());
}

TEST_F(MemoryContextTest, EmailRowNeverReplacesAnEmailItemRowReplacesTheItem) {
  context_.insertEmail(emailRow("E1", "I1", "first"));
  context_.insertEmail(emailRow("E1", "I1", "second"));
  EXPECT_EQ(context_.fetchEmail("E1")->get_SUBJECT(), "first");

  context_.insertItem(itemRow("I1", 5));
  auto before = context_.fetchItem("I1");
  context_.insertItem(itemRow("I1", 9));
  auto after = context_.fetchItem("I1");
  EXPECT_NE(after, before);
  EXPECT_EQ(after->threadTimestamp(), 9);
  EXPECT_TRUE(after->isInserted());
  EXPECT_EQ(after->changedColumnCount(), 0u);
}

TEST_F(MemoryContextTest, ItemAndEmailWithOneIdCoexist) {
  context_.insertItem(itemRow("X"));
  context_.insertEmail(emailRow("X", "X"));
  ASSERT_NE(context_.fetchItem("X"), nullptr);
  ASSERT_NE(context_.fetchEmail("X"), nullptr);
  EXPECT_EQ(context_.fetchItem("X")->tableName(), "KSITEM");
  EXPECT_EQ(context_.fetchEmail("X")->tableName(), "KSEMAIL");
  EXPECT_TRUE(context_.itemExists("X"));
  EXPECT_TRUE(context_.emailExists("X"));
  EXPECT_FALSE(context_.listExists("X"));
  EXPECT_FALSE(context_.emailExists("Y"));

  // A created e-mail replaces only the stored e-mail.
  context_.createObject("KSEMAIL", "X");
  EXPECT_EQ(context_.fetchItem("X")->tableName(), "KSITEM");
}

TEST_F(MemoryContextTest, EmailsForItemAreTheItemsOwnEmails) {
  EXPECT_NE(context_.emailsForItem("I1"), nullptr);
  EXPECT_TRUE(context_.emailsForItem("I1")->empty());
  context_.insertEmail(emailRow("E1", "I1"));
  context_.insertEmail(emailRow("E2", "I2"));
  context_.insertEmail(emailRow("E3", "I1"));
  context_.insertItem(itemRow("E4"));
  auto emails = context_.emailsForItem("I1");
  std::vector<std::string> ids;
  for (const auto& email : *emails) ids.push_back(email->id());
  std::sort(ids.begin(), ids.end());
  EXPECT_EQ(ids, (std::vector<std::string>{"E1", "E3"}));
}

TEST_F(MemoryContextTest, AllItemsNewestFirst) {
  EXPECT_TRUE(MemoryContext::allItems()->empty());
  context_.insertItem(itemRow("old", 10));
  context_.insertItem(itemRow("new", 30));
  context_.insertItem(itemRow("mid", 20));
  context_.insertEmail(emailRow("mail", "old"));
  auto items = MemoryContext::allItems();
  std::vector<std::string> ids;
  for (const auto& item : *items) ids.push_back(item->id());
  EXPECT_EQ(ids, (std::vector<std::string>{"new", "mid", "old"}));
}

TEST_F(MemoryContextTest, ClearStoreEmptiesStoreAndPendingSet) {
  context_.insertItem(itemRow("I1"));
  context_.insertEmail(emailRow("E1", "I1"));
  context_.clearStore();
  EXPECT_EQ(context_.fetchItem("I1"), nullptr);
  EXPECT_EQ(context_.fetchEmail("E1"), nullptr);
  EXPECT_FALSE(context_.itemExists("I1"));
  ChangeSet changes;
  context_.commit(changes);
  EXPECT_TRUE(recorder_->calls.empty());
}

TEST_F(MemoryContextTest, DeletedObjectIsRecordedAndStaysStored) {
  context_.insertItem(itemRow("I1"));
  ChangeSet first;
  context_.commit(first);
  context_.deleteObject(context_.fetchItem("I1"));
  ChangeSet second;
  context_.commit(second);
  EXPECT_EQ(second.at("KSITEM").at(ConsumerChangeType::Delete), (std::unordered_set<std::string>{"I1"}));
  EXPECT_TRUE(context_.itemExists("I1"));
}

TEST_F(MemoryContextTest, UnsupportedOperationsAnswerEmpty) {
  EXPECT_EQ(context_.countItemsWithDrafts(), 0);
  EXPECT_EQ(context_.itemsWithDraftsSinceQuery(0), nullptr);
  EXPECT_FALSE(context_.fetchDraft("D1").has_value());
  EXPECT_EQ(context_.createObject("KSAUTOSWIPE", "R1"), nullptr);
  EXPECT_EQ(context_.createObject("Draft", "D1"), nullptr);
  EXPECT_NE(context_.toContactsForEmail("E1"), nullptr);
}

}  // namespace
