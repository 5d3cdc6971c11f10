// The background writer's purges, contacts and reclassification, on the data center.
#include "core/data/background_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/foundation/utility.h"
#include "core/model/ks_account_list.h"
#include "core/model/ks_auto_swipe.h"
#include "core/model/ks_contact.h"
#include "core/model/ks_list.h"
#include "core/model/snooze_time_calculator.h"
#include "core/services/attachment_manager.h"
#include "support/fake_attachment_manager.h"
#include "support/fake_user_manager.h"
#include "writer_fixture.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using libkestrun::DeferralBucket;
using libkestrun::DeferralType;
using libkestrun::ItemState;
using libkestrun::SnoozeType;

class BackgroundWriterTest : public kestrun_test::WriterTest {
 protected:
  BackgroundWriterTest() {
    users_->device_id = "D";
    users_->user_id = "U";
    libkestrun::user_manager_set_instance(users_);
    libkestrun::attachment_manager_set_instance(attachments_);
  }
  ~BackgroundWriterTest() override {
    libkestrun::attachment_manager_set_instance(nullptr);
    libkestrun::user_manager_set_instance(nullptr);
  }

  // An inbox item of the account with one e-mail ("<id>-e").
  void storeMail(const std::string& id, const std::string& accountID,
                 const std::function<void(KSItem&)>& set = {}) {
    storeItem(id, [&](KSItem& item) {
      item.setAccountID(accountID);
      if (set) set(item);
    });
    storeEmail(id + "-e", id, [&](KSEmail& email) { email.set_ACCOUNTID(accountID); });
  }

  // The user list of that name with an account list for each account.
  void storeList(const std::string& name, const std::vector<std::string>& accountIDs) {
    inStore([&](DBContext& context) {
      auto list = KSList::findOrCreate(name, &context);
      ASSERT_TRUE(list);
      for (const auto& accountID : accountIDs)
        ASSERT_TRUE(KSList::accountListForAccount(list, accountID, &context));
    });
  }

  void storeRule(const std::string& id, const std::string& userID,
                 const std::vector<std::string>& itemIDs = {}) {
    inStore([&](DBContext& context) {
      auto rule = std::static_pointer_cast<KSAutoSwipe>(context.createObject("KSAUTOSWIPE", id));
      rule->setAutoSwipeID(id);
      rule->setUserID(userID);
      for (const auto& itemID : itemIDs) rule->addItem(context.fetchItem(itemID));
    });
  }

  // A column of a table's rows, in ascending order.
  std::vector<std::string> rows(const std::string& table, const std::string& column) {
    std::vector<std::string> ids;
    inStore([&](DBContext& context) {
      CppSQLite3Query query =
          context.database().execQuery(("SELECT " + column + " FROM " + table + " ORDER BY 1;").c_str());
      for (; !query.eof(); query.nextRow()) ids.push_back(query.getStringField(0));
    });
    return ids;
  }
  std::vector<std::string> listNames() { return rows("KSLIST", "NAME"); }

  std::shared_ptr<kestrun_test::FakeUserManager> users_ = std::make_shared<kestrun_test::FakeUserManager>();
  std::shared_ptr<kestrun_test::FakeAttachmentManager> attachments_ =
      std::make_shared<kestrun_test::FakeAttachmentManager>();
};

TEST_F(BackgroundWriterTest, PurgingOneAccountKeepsTheOthers) {
  storeMail("A1", "A");
  storeMail("B1", "B");
  storeList("Shared", {"A", "B"});
  storeList("Solo", {"A"});
  attachments_->CallLog::clear();  // the record, not the files
  resources_->clear();

  const auto ids =
      perform([](Completion done) { KestrunDataBackgroundWriter::purgeAllDataForAccount("A", done); });
  EXPECT_TRUE(ids.empty());
  EXPECT_EQ(rows("KSITEM", "ITEMID"), std::vector<std::string>{"B1"});
  EXPECT_EQ(rows("KSEMAIL", "EMAILID"), std::vector<std::string>{"B1-e"});
  // A shared list stays while another account's list of it remains.
  EXPECT_EQ(listNames(), std::vector<std::string>{"Shared"});
  EXPECT_EQ(rows("KSACCOUNTLIST", "ACCOUNTID"), std::vector<std::string>{"B"});
  // Only this account's files go.
  EXPECT_EQ(attachments_->calls(),
            (std::vector<Call>{{"removeAttachmentsForAccount", Json::array{"A"}},
                               {"removeAttachmentsForEmail", Json::array{"A1-e", "A"}}}));
  EXPECT_EQ(resources_->calls(), (std::vector<Call>{{"removeQueuedUploadsForAccount", Json::array{"A"}}}));

  perform([](Completion done) { KestrunDataBackgroundWriter::purgeAllDataForAccounts({"B"}, done); });
  EXPECT_TRUE(rows("KSITEM", "ITEMID").empty());
  EXPECT_TRUE(listNames().empty());
  EXPECT_TRUE(rows("KSACCOUNTLIST", "ACCOUNTID").empty());
}

TEST_F(BackgroundWriterTest, AUserIdTakesThatUsersDraftsAndRules) {
  for (const std::string user : {"U", "V"}) {
    inStore([&](DBContext& context) {
      libkestrun::internal::Draft draft;
      draft.set_draft_id("draft-" + user);
      draft.set_user_id(user);
      ASSERT_TRUE(context.updateOrInsertDraft(draft));
    });
    storeRule("rule-" + user, user);
  }
  storeMail("A1", "A");

  perform([](Completion done) {
    KestrunDataBackgroundWriter::purgeAllDataForAccounts({}, std::string("U"), false, done);
  });
  EXPECT_EQ(rows("Draft", "draft_id"), std::vector<std::string>{"draft-V"});
  EXPECT_EQ(rows("KSAUTOSWIPE", "AUTOSWIPEID"), std::vector<std::string>{"rule-V"});
  EXPECT_EQ(rows("KSITEM", "ITEMID"), std::vector<std::string>{"A1"});
}

TEST_F(BackgroundWriterTest, TheStalePurgeTakesOnlyDeadAndSearchOnlyItemsAndUnnamedRules) {
  storeMail("search", "A", [](KSItem& i) { i.setMasterRev(KSItem::searchOnlyMasterRev()); });
  storeMail("deleted", "A", [](KSItem& i) { i.setState(ItemState::Deleted); });
  storeMail("hidden", "A", [](KSItem& i) { i.setState(ItemState::ServerHidden); });
  const std::vector<std::string> kept = {"inbox", "later", "archive", "trash", "list", "spam", "none"};
  const ItemState states[] = {ItemState::Inbox, ItemState::Later, ItemState::Archive, ItemState::Trash,
                              ItemState::List,  ItemState::Spam,  ItemState::None};
  for (size_t i = 0; i < kept.size(); ++i) {
    storeMail(kept[i], "A", [&](KSItem& item) {
      item.setState(states[i]);
      item.setMasterRev(200);
    });
  }
  storeRule("named", "U", {"inbox"});
  storeRule("unnamed", "U");
  storeRule("lastItemPurged", "U", {"search"});

  perform([](Completion done) { KestrunDataBackgroundWriter::purgeStaleData(done); });
  auto expected = kept;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(rows("KSITEM", "ITEMID"), expected);
  EXPECT_EQ(rows("KSEMAIL", "EMAILID").size(), kept.size());
  // The purged item's row still named its rule while the rules were looked at.
  EXPECT_EQ(rows("KSAUTOSWIPE", "AUTOSWIPEID"), (std::vector<std::string>{"lastItemPurged", "named"}));

  perform([](Completion done) { KestrunDataBackgroundWriter::purgeStaleData(done); });
  EXPECT_EQ(rows("KSAUTOSWIPE", "AUTOSWIPEID"), std::vector<std::string>{"named"});
}

TEST_F(BackgroundWriterTest, ReclassifyingMovesDeferredItemsToTheirSectionOfNow) {
  const int64_t remindAt = libkestrun::Utility::now_ms() + 90 * 60 * 1000;
  // Deferred earlier, when the reminder was further away; and the two device sections.
  storeItem("timed", [&](KSItem& i) {
    i.setState(ItemState::Later);
    i.setDeferralType(DeferralType::UntilTime);
    i.setRemindAt(remindAt);
    i.setDeferralBucket(DeferralBucket::InAYear);
  });
  storeItem("desktop", [](KSItem& i) {
    i.setState(ItemState::Later);
    i.setDeferralType(DeferralType::BySnooze);
    i.setSnoozeType(SnoozeType::Desktop);
    i.setDeferralBucket(DeferralBucket::NoReminder);
  });
  storeItem("mobile", [](KSItem& i) {
    i.setState(ItemState::Later);
    i.setDeferralType(DeferralType::BySnooze);
    i.setSnoozeType(SnoozeType::Mobile);
    i.setDeferralBucket(DeferralBucket::NoReminder);
  });
  // Not deferred, and known only from a search: left alone.
  storeItem("inbox", [](KSItem& i) { i.setDeferralBucket(DeferralBucket::InAYear); });
  storeItem("search", [](KSItem& i) {
    i.setState(ItemState::Later);
    i.setMasterRev(KSItem::searchOnlyMasterRev());
    i.setDeferralType(DeferralType::BySnooze);
    i.setSnoozeType(SnoozeType::Desktop);
  });

  const DeferralBucket before =
      libkestrun::deferralBucketForRemindTime(remindAt, libkestrun::Utility::now_ms());
  perform([](Completion done) { KestrunDataBackgroundWriter::classifyAllTimeDeferredItems(done); });
  const DeferralBucket after =
      libkestrun::deferralBucketForRemindTime(remindAt, libkestrun::Utility::now_ms());
  const DeferralBucket timed = item("timed").get_DEFERRALBUCKET();
  // The same section unless the day turned while the task ran.
  EXPECT_TRUE(timed == before || timed == after) << static_cast<int>(timed);
  EXPECT_NE(timed, DeferralBucket::InAYear);
  EXPECT_EQ(item("desktop").get_DEFERRALBUCKET(), DeferralBucket::Desktop);
  EXPECT_EQ(item("mobile").get_DEFERRALBUCKET(), DeferralBucket::Mobile);
  EXPECT_EQ(item("inbox").get_DEFERRALBUCKET(), DeferralBucket::InAYear);
  EXPECT_EQ(item("search").get_DEFERRALBUCKET(), DeferralBucket::NoReminder);
}

TEST_F(BackgroundWriterTest, ContactsFromAList) {
  json_t* list = json_loads(
      R"([{"address":"ann@x.example","name":"Ann"},{"address":"not valid","name":"N"},{"address":"cy@x.example"},
          5,"text",null])",
      0, nullptr);
  ASSERT_NE(list, nullptr);
  perform([&](Completion done) { KestrunDataBackgroundWriter::createContactsFromList(list, done); });
  json_decref(list);
  EXPECT_EQ(rows("KSCONTACT", "CONTACTID"),
            (std::vector<std::string>{"ann@x.example/Ann", "cy@x.example/cy@x.example"}));

  // A null list queues nothing: a later task finds the completion never called.
  bool called = false;
  KestrunDataBackgroundWriter::createContactsFromList(nullptr,
                                                      [&](std::vector<std::string>&) { called = true; });
  perform([](Completion done) { KestrunDataBackgroundWriter::purgeAllDataForAccounts({}, done); });
  EXPECT_FALSE(called);
}

}  // namespace
