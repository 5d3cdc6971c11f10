// The item's server document: reading it, acknowledging the server's save, finishing it, and the
// documents the item writes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/accounts/account_manager.h"
#include "core/foundation/utility.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/memory_context.h"
#include "core/services/attachment_manager.h"
#include "core/services/counts_manager.h"
#include "core/services/offline_manager.h"
#include "json_text.h"
#include "model_fixtures.h"
#include "snooze_fixture.h"
#include "support/fake_account_manager.h"
#include "support/fake_attachment_manager.h"
#include "support/fake_counts_manager.h"
#include "support/fake_offline_manager.h"

namespace {

using kestrun_test::dump;
using kestrun_test::JsonDoc;

using jsonette::Json;
using kestrun_test::Call;
using libkestrun::DeferralBucket;
using libkestrun::DeferralType;
using libkestrun::ItemState;
using libkestrun::SnoozeType;

constexpr int64_t kDayMs = 86400000;

class ItemDocumentTest : public ::testing::Test {
 protected:
  ItemDocumentTest() {
    accounts_->account_authenticated = true;
    libkestrun::account_manager_set_instance(accounts_);
    libkestrun::offline_manager_set_instance(offline_);
    libkestrun::counts_manager_set_instance(counts_);
    libkestrun::attachment_manager_set_instance(attachments_);
  }
  ~ItemDocumentTest() override {
    libkestrun::attachment_manager_set_instance(nullptr);
    libkestrun::counts_manager_set_instance(nullptr);
    libkestrun::offline_manager_set_instance(nullptr);
    libkestrun::account_manager_set_instance(nullptr);
    libkestrun::query_updater_set_instance(nullptr);
    MemoryContext().clearStore();
  }

  // A committed item "I1" of account "A" in the context, shaped by `setup`; the fakes' records
  // start empty.
  static std::shared_ptr<KSItem> storedItem(KestrunContext& context,
                                            const std::function<void(KSItem&)>& setup) {
    auto item = std::static_pointer_cast<KSItem>(context.createObject("KSITEM", "I1"));
    item->setItemID("I1");
    item->setAccountID("A");
    if (setup) setup(*item);
    return item;
  }
  void commit(kestrun_test::CachingContext& context) {
    libkestrun::ChangeSet changes;
    context.commit(changes);
    context.log.clear();
    offline_->clear();
    counts_->clear();
    attachments_->CallLog::clear();  // the record, not the files
  }
  static std::shared_ptr<KSItem> apply(const std::string& text, KestrunContext& context) {
    JsonDoc document(text);
    return std::static_pointer_cast<KSItem>(
        KestrunContext::applyServerDocument(document.value, "item", "_id", &context));
  }

  kestrun_test::SnoozeFixture snooze_;
  std::shared_ptr<kestrun_test::FakeAccountManager> accounts_ =
      std::make_shared<kestrun_test::FakeAccountManager>();
  std::shared_ptr<kestrun_test::FakeOfflineManager> offline_ =
      std::make_shared<kestrun_test::FakeOfflineManager>();
  std::shared_ptr<kestrun_test::FakeCountsManager> counts_ =
      std::make_shared<kestrun_test::FakeCountsManager>();
  std::shared_ptr<kestrun_test::FakeAttachmentManager> attachments_ =
      std::make_shared<kestrun_test::FakeAttachmentManager>();
};

TEST_F(ItemDocumentTest, KeysAreReadOnlyWithTheirJsonType) {
  // The memory context applies the keys alone, so each case shows one key's reading.
  struct Case {
    const char* document;
    std::function<bool(const KSItem&)> holds;
  };
  const Case cases[] = {
      {R"({"subject": "S", "created_at": 5, "modified_at": 6, "type": 3, "list_id": "L"})",
       [](const KSItem& i) {
         return i.subject() == "S" && i.createdAt() == 5 && i.modifiedAt() == 6 &&
                i.type() == libkestrun::ItemType{3} && i.listID() == "L";
       }},
      {R"({"state": 3})", [](const KSItem& i) { return i.state() == ItemState::Archive; }},
      {R"({"state": "3"})", [](const KSItem& i) { return i.state() == ItemState::None; }},
      {R"({"state": 3.0})", [](const KSItem& i) { return i.state() == ItemState::None; }},
      {R"({"loadedOnce": true})", [](const KSItem& i) { return i.loadedOnce(); }},
      {R"({"loadedOnce": 1})", [](const KSItem& i) { return !i.loadedOnce(); }},
      {R"({"defer_read": false})", [](const KSItem& i) { return !i.deferRead(); }},
      {R"({"defer_read": 0})", [](const KSItem& i) { return i.deferRead(); }},
      {R"({"deferral_type": 4, "master_rev": 7, "saved_at": 9})",
       [](const KSItem& i) {
         return i.deferralType() == DeferralType::BySnooze && i.masterRev() == 7 && i.savedAt() == 9;
       }},
      {R"({"subject": null, "acct_id": 3})",
       [](const KSItem& i) { return i.subject() == "Loading..." && i.accountID().empty(); }},
      // Only the finishing steps read these, and the memory context runs none.
      {R"({"state": 1, "deferral_data": {"remind_at": 5}, "sync_data": {"a": 1}})",
       [](const KSItem& i) { return i.remindAt() == 0 && i.syncData().empty(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    MemoryContext memory;
    memory.clearStore();
    auto item = std::make_shared<KSItem>(&memory);
    JsonDoc document(c.document);
    KestrunContext::applyDocumentFields(item, document.value);
    EXPECT_TRUE(c.holds(*item));
  }
}

TEST_F(ItemDocumentTest, DocumentsInThePersistentContext) {
  const int64_t remind = libkestrun::Utility::now_ms() + 40 * kDayMs;
  const std::string r = std::to_string(remind);
  auto deferred = [remind](DeferralType type, SnoozeType snooze) {
    return [=](KSItem& i) {
      i.setState(ItemState::Later);
      i.setDeferralType(type);
      i.setSnoozeType(snooze);
      i.setRemindAt(remind);
      i.setDeferralBucket(DeferralBucket::InAYear);
    };
  };
  struct Case {
    const char* name;
    std::function<void(KSItem&)> setup;
    std::string document;
    bool applied;
    std::function<bool(const KSItem&)> holds;
  };
  const Case cases[] = {
      {"an equal saved_at is ignored", [](KSItem& i) { i.setSavedAt(5); },
       R"({"_id": "I1", "acct_id": "A", "saved_at": 5, "subject": "New"})", false,
       [](const KSItem& i) { return i.subject() == "Loading..."; }},
      {"no saved_at on a confirmed item is ignored", [](KSItem& i) { i.setSavedAt(5); },
       R"({"_id": "I1", "acct_id": "A", "subject": "New"})", false,
       [](const KSItem& i) { return i.subject() == "Loading..."; }},
      {"no saved_at on an unconfirmed item applies", nullptr,
       R"({"_id": "I1", "acct_id": "A", "subject": "New"})", true,
       [](const KSItem& i) { return i.subject() == "New" && i.loadedOnce(); }},
      {"deferral data of an item the document moves out of later",
       deferred(DeferralType::UntilTime, SnoozeType::None),
       R"({"_id": "I1", "acct_id": "A", "state": 2, "deferral_data": {"remind_at": 7, "snooze_type": 11}})",
       true,
       [remind](const KSItem& i) { return i.remindAt() == remind && i.snoozeType() == SnoozeType::None; }},
      {"deferral data without remind_at clears the reminder",
       deferred(DeferralType::UntilTime, SnoozeType::None),
       R"({"_id": "I1", "acct_id": "A", "deferral_data": {}})", true,
       [](const KSItem& i) { return i.remindAt() == 0 && i.deferralBucket() == DeferralBucket::NoReminder; }},
      {"a device snooze with the same reminder", deferred(DeferralType::BySnooze, SnoozeType::InAMonth),
       R"({"_id": "I1", "acct_id": "A", "deferral_data": {"remind_at": )" + r + R"(, "snooze_type": 11}})",
       true, [](const KSItem& i) { return i.deferralBucket() == DeferralBucket::Desktop; }},
      {"the same deferral leaves the bucket", deferred(DeferralType::BySnooze, SnoozeType::InAMonth),
       R"({"_id": "I1", "acct_id": "A", "deferral_data": {"remind_at": )" + r + R"(}})", true,
       [](const KSItem& i) { return i.deferralBucket() == DeferralBucket::InAYear; }},
      {"a new reminder", deferred(DeferralType::UntilTime, SnoozeType::None),
       R"({"_id": "I1", "acct_id": "A", "deferral_data": {"remind_at": 1000}})", true,
       [](const KSItem& i) {
         return i.remindAt() == 1000 && i.deferralBucket() == DeferralBucket::NoReminder;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    kestrun_test::CachingContext context;
    auto item = storedItem(context, c.setup);
    commit(context);
    EXPECT_EQ(apply(c.document, context) != nullptr, c.applied);
    EXPECT_TRUE(c.holds(*item));
  }
}

TEST_F(ItemDocumentTest, Acknowledgement) {
  struct Case {
    const char* document;
    bool dropped;
  };
  const Case cases[] = {
      {R"({"_id": "I1", "saved_at": 5, "state": 2})", true},
      {R"({"_id": "I1", "state": 2})", false},
      {R"({"_id": "I1", "saved_at": 5})", false},
      {R"({"_id": 1, "saved_at": 5, "state": 2})", false},
      // A hidden item is confirmed by a new revision only.
      {R"({"_id": "I1", "saved_at": 5, "state": 8, "master_rev": 7})", false},
      {R"({"_id": "I1", "saved_at": 5, "state": 8, "master_rev": 0})", false},
      {R"({"_id": "I1", "saved_at": 5, "state": 8})", false},
      {R"({"_id": "I1", "saved_at": 5, "state": 8, "master_rev": 8})", true},
      // A version older than the local change leaves the change queued.
      {R"({"_id": "I1", "saved_at": 5, "state": 2, "modified_at": 99})", false},
      {R"({"_id": "I1", "saved_at": 5, "state": 2, "modified_at": 100})", true},
      {R"({"_id": "I1", "saved_at": 5, "state": 2, "modified_at": 101})", true},
      {R"({"_id": "I1", "saved_at": 5, "state": 2, "modified_at": "99"})", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.document);
    kestrun_test::CachingContext context;
    auto item = storedItem(context, [](KSItem& i) {
      i.setModifiedAt(100);
      i.setMasterRev(7);
    });
    commit(context);
    JsonDoc document(c.document);
    item->acknowledgeServerSave(document.value);
    const std::vector<Call> dropped = {{"removeRequest", Json::array{"I1"}}};
    EXPECT_EQ(offline_->calls(), c.dropped ? dropped : std::vector<Call>{});
  }
  // The memory context never acknowledges.
  offline_->clear();
  MemoryContext memory;
  auto copy = std::make_shared<KSItem>(&memory);
  JsonDoc document(R"({"_id": "I1", "saved_at": 5, "state": 2})");
  copy->acknowledgeServerSave(document.value);
  EXPECT_TRUE(offline_->calls().empty());
}

TEST_F(ItemDocumentTest, ALateDocumentKeepsTheLocalChangeQueued) {
  // The user archived the item at 200; another device's change of 150 arrives afterwards.
  kestrun_test::CachingContext context;
  auto item = storedItem(context, [](KSItem& i) {
    i.setState(ItemState::Archive);
    i.setModifiedAt(200);
    i.setSavedAt(10);
  });
  commit(context);
  ASSERT_EQ(
      apply(R"({"_id": "I1", "acct_id": "A", "saved_at": 11, "state": 4, "modified_at": 150})", context),
      item);
  EXPECT_TRUE(offline_->calls().empty());
  ASSERT_EQ(
      apply(R"({"_id": "I1", "acct_id": "A", "saved_at": 12, "state": 3, "modified_at": 200})", context),
      item);
  EXPECT_EQ(offline_->calls(), (std::vector<Call>{{"removeRequest", Json::array{"I1"}}}));
}

TEST_F(ItemDocumentTest, CountsFollowNewItemsAndStateChanges) {
  kestrun_test::CachingContext context;
  apply(R"({"_id": "I2", "acct_id": "A", "state": 2})", context);
  EXPECT_EQ(counts_->calls(), (std::vector<Call>{{"updateCountsForStateChange", Json::array{0, 2, "A"}}}));
  commit(context);

  auto item = storedItem(context, [](KSItem& i) { i.setState(ItemState::Inbox); });
  commit(context);
  apply(R"({"_id": "I1", "acct_id": "A", "state": 2, "subject": "S"})", context);
  EXPECT_TRUE(counts_->calls().empty());
  apply(R"({"_id": "I1", "acct_id": "A", "state": 3})", context);
  EXPECT_EQ(counts_->calls(), (std::vector<Call>{{"updateCountsForStateChange", Json::array{2, 3, "A"}}}));

  // The memory context moves no counts.
  counts_->clear();
  MemoryContext memory;
  apply(R"({"_id": "I3", "acct_id": "A", "state": 2})", memory);
  EXPECT_TRUE(counts_->calls().empty());
}

TEST_F(ItemDocumentTest, ADocumentDeletedForGoodPurgesTheItemAndItsEmails) {
  kestrun_test::CachingContext context;
  auto item = storedItem(context, [](KSItem& i) { i.setState(ItemState::Trash); });
  libkestrun::internal::Email row;
  row.set_EMAILID("E1");
  row.set_ACCOUNTID("A");
  row.set_PARENTITEMID("I1");
  context.insertEmail(row);
  commit(context);

  EXPECT_EQ(apply(R"({"_id": "I1", "acct_id": "A", "state": 6})", context), item);
  EXPECT_TRUE(item->isDeleted());
  EXPECT_EQ(attachments_->calls(),
            (std::vector<Call>{{"removeAttachmentsForEmail", Json::array{"E1", "A"}}}));
  libkestrun::ChangeSet changes;
  context.commit(changes);
  EXPECT_EQ(context.log, (std::vector<std::string>{"removeItem:I1"}));
  EXPECT_EQ(context.cached("KSITEM", "I1"), nullptr);
}

// The first document of an item folds the e-mails and drafts already stored for it into its
// thread; later documents only apply their keys.
TEST_F(ItemDocumentTest, TheFirstDocumentFoldsInStoredEmailsAndDrafts) {
  // The stored e-mails of an item, found by their parent item as the database finds them.
  struct Context : kestrun_test::CachingContext {
    std::shared_ptr<std::vector<std::shared_ptr<KSEmail>>> emailsWithParentItem(
        const std::string& id) override {
      return emailsForItem(id);
    }
  } context;
  auto item = storedItem(context, [](KSItem& i) { i.setState(ItemState::Inbox); });
  libkestrun::internal::Email row;
  row.set_EMAILID("E1");
  row.set_ACCOUNTID("A");
  row.set_PARENTITEMID("I1");
  context.insertEmail(row);
  libkestrun::internal::Draft draft;
  draft.set_draft_id("D1");
  draft.set_item_id(std::string("I1"));
  context.draftsByItem["I1"] = {draft};
  commit(context);
  const int count = item->threadCount();

  const char* document = R"({"_id": "I1", "acct_id": "A", "state": 2, "saved_at": 1})";
  ASSERT_EQ(apply(document, context), item);
  EXPECT_TRUE(item->loadedOnce());
  EXPECT_TRUE(item->threadHasEmails());
  EXPECT_EQ(item->threadCount(), count + 2);  // the e-mail and the draft
  ASSERT_NE(item->drafts(), nullptr);
  EXPECT_EQ(item->drafts()->size(), 1u);

  ASSERT_EQ(apply(R"({"_id": "I1", "acct_id": "A", "state": 2, "saved_at": 2})", context), item);
  EXPECT_EQ(item->threadCount(), count + 2);  // the e-mail and the draft
  EXPECT_EQ(item->drafts()->size(), 1u);
}

TEST_F(ItemDocumentTest, APurgedItemStaysDeleted) {
  // Only the loaded-once flag is left to set on an item that is already deleted for good: setting
  // it would turn the deletion back into an update.
  kestrun_test::CachingContext context;
  auto item = storedItem(context, [](KSItem& i) { i.setState(ItemState::Deleted); });
  commit(context);
  ASSERT_EQ(apply(R"({"_id": "I1", "acct_id": "A", "state": 6})", context), item);
  EXPECT_TRUE(item->isDeleted());
  libkestrun::ChangeSet changes;
  context.commit(changes);
  EXPECT_EQ(context.log, (std::vector<std::string>{"removeItem:I1"}));
}

TEST_F(ItemDocumentTest, FullDocument) {
  MemoryContext memory;
  const std::pair<std::function<void(KSItem&)>, const char*> cases[] = {
      {[](KSItem& i) { i.setState(ItemState::Later); },
       R"({"_id":"I1","acct_id":"A","created_at":0,"deferral_type":1,"deferral_data":{},"modified_at":0,)"
       R"("prev_state":0,"state":1,"subject":"Loading...","type":1})"},
      {[](KSItem& i) {
         i.setState(ItemState::Later);
         i.setDeferralType(DeferralType::BySnooze);
         i.setSnoozeType(SnoozeType::Tomorrow);
         i.setRemindAt(5000);
         i.setMasterRev(7);
         i.setListID("L");
         i.setCreatedAt(1);
         i.setModifiedAt(2);
         i.setSyncData(R"({"s":1})");
       },
       R"({"_id":"I1","acct_id":"A","sync_data":{"s":1},"created_at":1,"deferral_type":4,)"
       R"("deferral_data":{"remind_at":5000,"snooze_type":4},"list_id":"L","master_rev":7,"modified_at":2,)"
       R"("prev_state":0,"state":1,"subject":"Loading...","type":1})"},
      {[](KSItem& i) {
         i.setState(ItemState::Later);
         i.setState(ItemState::Inbox);
         i.setRemindAt(5000);
       },
       R"({"_id":"I1","acct_id":"A","created_at":0,"deferral_type":1,"modified_at":0,"prev_state":1,"state":2,)"
       R"("subject":"Loading...","type":1})"},
  };
  for (const auto& [setup, expected] : cases) {
    SCOPED_TRACE(expected);
    auto item = storedItem(memory, setup);
    EXPECT_EQ(dump(item->toJson()), expected);
    memory.clearStore();
  }
}

TEST_F(ItemDocumentTest, ChangeDocument) {
  MemoryContext memory;
  auto item = storedItem(memory, [](KSItem& i) {
    i.setState(ItemState::Inbox);
    i.setSubject("S");
  });
  EXPECT_EQ(dump(item->changesToJson({})), R"({"_id":"I1","acct_id":"A","prev_state":0,"subject":"S"})");
  item->setMasterRev(7);
  EXPECT_EQ(dump(item->changesToJson({"subject", "unknown", "autoSwipeData", "listID"})),
            R"({"_id":"I1","acct_id":"A","master_rev":7,"prev_state":0,"subject":"S"})");

  struct Case {
    const char* name;
    const char* key;
    const char* value;
  };
  item->setDeferRead(false);
  item->setRemindAt(9);
  item->setModifiedAt(3);
  item->setCreatedAt(2);
  item->setListID("L");
  const Case cases[] = {
      {"state", "state", "2"},
      {"deferRead", "defer_read", "false"},
      {"deferralData", "deferral_data", R"({"remind_at":9})"},
      {"modifiedAt", "modified_at", "3"},
      {"createdAt", "created_at", "2"},
      {"deferralType", "deferral_type", "1"},
      {"type", "type", "1"},
      {"listID", "list_id", R"("L")"},
      {"masterRev", "master_rev", "7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JsonDoc document(dump(item->changesToJson({c.name})));
    EXPECT_EQ(json_object_size(document.value), 6u - (std::string(c.key) == "master_rev" ? 1 : 0));
    char* value = json_dumps(json_object_get(document.value, c.key), JSON_COMPACT | JSON_ENCODE_ANY);
    EXPECT_STREQ(value, c.value);
    std::free(value);
  }
  memory.clearStore();
}

TEST_F(ItemDocumentTest, MadeDocument) {
  EXPECT_EQ(KSItem::makeDocument("I9", "Hello", ""), nullptr);
  const int64_t before = libkestrun::Utility::now_ms();
  JsonDoc document(dump(KSItem::makeDocument("I9", "Hello", "A")));
  const int64_t after = libkestrun::Utility::now_ms();
  const int64_t created = json_integer_value(json_object_get(document.value, "created_at"));
  EXPECT_GE(created, before);
  EXPECT_LE(created, after);
  EXPECT_EQ(json_integer_value(json_object_get(document.value, "modified_at")), created);
  json_object_del(document.value, "created_at");
  json_object_del(document.value, "modified_at");
  EXPECT_EQ(dump(json_incref(document.value)),
            R"({"_id":"I9","subject":"Hello","acct_id":"A","state":3,"type":1,"loadedOnce":true})");
}

}  // namespace
