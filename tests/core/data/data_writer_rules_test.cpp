// The data writer's contacts and auto-swipe rules, on the data center with recording server clients.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/data/data_writer.h"
#include "core/foundation/utility.h"
#include "core/model/ks_auto_swipe.h"
#include "core/model/ks_contact.h"
#include "support/fake_auto_swipe_server_client.h"
#include "support/fake_user_manager.h"
#include "writer_fixture.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using libkestrun::AutoSwipeField;
using libkestrun::AutoSwipeRuleState;
using libkestrun::DeferralType;
using libkestrun::ItemState;
using libkestrun::SnoozeType;

constexpr int64_t kDay = 24LL * 60 * 60 * 1000;

class RulesTest : public kestrun_test::WriterTest {
 protected:
  RulesTest() {
    users_->user_id = "U";
    libkestrun::user_manager_set_instance(users_);
    libkestrun::internal::auto_swipe_server_client_set_instance(decisions_);
  }
  ~RulesTest() override {
    libkestrun::internal::auto_swipe_server_client_set_instance(nullptr);
    libkestrun::user_manager_set_instance(nullptr);
  }

  // Stores an archive rule of user "U" for a sender; `set` changes it further.
  void storeRule(const std::string& id, const std::function<void(KSAutoSwipe&)>& set = {}) {
    inStore([&](DBContext& context) {
      auto rule = std::static_pointer_cast<KSAutoSwipe>(context.createObject("KSAUTOSWIPE", id));
      rule->setAutoSwipeID(id);
      rule->setUserID("U");
      rule->setField(AutoSwipeField::Sender);
      rule->setValue("ann@x.example");
      rule->setItemState(ItemState::Archive);
      rule->setState(AutoSwipeRuleState::Suggested);
      if (set) set(*rule);
    });
  }

  // Stores inbox items that the rule holds.
  void storeItemsOfRule(const std::string& ruleID, const std::vector<std::string>& itemIDs) {
    for (const auto& id : itemIDs) storeItem(id);
    inStore([&](DBContext& context) {
      auto rule = context.fetchAutoSwipe(ruleID);
      ASSERT_TRUE(rule);
      for (const auto& id : itemIDs) rule->addItem(context.fetchItem(id));
    });
    objects_->clear();
    offline_->clear();
  }

  // A copy of the stored rule's row; an empty row when there is none.
  libkestrun::internal::AutoSwipe rule(const std::string& id) {
    libkestrun::internal::AutoSwipe row;
    inStore([&](DBContext& context) {
      if (auto found = KSAutoSwipe::fetch(id, &context)) row = found->row();
    });
    return row;
  }

  std::vector<std::string> ruleIDs() {
    std::vector<std::string> ids;
    inStore([&](DBContext& context) {
      CppSQLite3Query query = context.database().execQuery("SELECT AUTOSWIPEID FROM KSAUTOSWIPE;");
      for (; !query.eof(); query.nextRow()) ids.push_back(query.getStringField(0));
    });
    return ids;
  }

  // The item updates sent, as (item id, document) in order.
  std::vector<Call> itemUpdates() {
    std::vector<Call> found;
    for (const auto& call : objects_->calls()) {
      if (call.method == "updateItem") found.push_back(call);
    }
    return found;
  }

  std::shared_ptr<kestrun_test::FakeUserManager> users_ = std::make_shared<kestrun_test::FakeUserManager>();
  std::shared_ptr<kestrun_test::FakeAutoSwipeServerClient> decisions_ =
      std::make_shared<kestrun_test::FakeAutoSwipeServerClient>();
};

TEST_F(RulesTest, CreatingARuleTwiceUpdatesOneRuleAndMovesTheItemToIt) {
  storeRule("OLD");
  storeItemsOfRule("OLD", {"I1", "I2"});
  const std::string id = KSAutoSwipe::makeAutoSwipeID("U", AutoSwipeField::Sender, "ann@x.example");

  const auto ids = perform([](Completion done) {
    KestrunDataWriter::createAutoSwipe("I1", AutoSwipeField::Sender, "ann@x.example", "Ann",
                                       ItemState::Archive, SnoozeType::None, 0, "", done);
  });
  EXPECT_TRUE(ids.empty());  // the activation's ids
  EXPECT_EQ(rule("OLD").get_COUNT(), 1);
  EXPECT_EQ(rule(id).get_STATE(), AutoSwipeRuleState::Active);
  EXPECT_EQ(rule(id).get_COUNT(), 1);
  EXPECT_EQ(item("I1").get_MAUTOSWIPEID(), id);
  EXPECT_EQ(item("I1").get_STATE(), ItemState::Archive);
  EXPECT_EQ(item("I1").get_AUTOSWIPESTATE(), AutoSwipeRuleState::Active);
  EXPECT_EQ(item("I2").get_STATE(), ItemState::Inbox);

  // The item's move is written at once and names the new rule; the rule itself goes with the decision.
  const auto updates = itemUpdates();
  ASSERT_FALSE(updates.empty());
  EXPECT_EQ(updates[0].args[0]["_id"], Json("I1"));
  EXPECT_EQ(updates[0].args[0]["auto_swipe"]["_id"], Json(id));
  EXPECT_TRUE(updates[0].args[1].is_null());
  EXPECT_EQ(updates[0].args[2], Json(true));
  auto decisions = decisions_->calls();
  ASSERT_EQ(decisions.size(), 1u);
  EXPECT_EQ(decisions[0].args[0], Json(10));
  EXPECT_EQ(decisions[0].args[1], Json(1));
  EXPECT_EQ(decisions[0].args[2], Json("U"));
  EXPECT_EQ(decisions[0].args[3]["action"]["state"], Json(3));

  perform([](Completion done) {
    KestrunDataWriter::createAutoSwipe("I2", AutoSwipeField::Sender, "ann@x.example", "Ann", ItemState::Trash,
                                       SnoozeType::None, 0, "", done);
  });
  EXPECT_EQ(ruleIDs(), (std::vector<std::string>{"OLD", id}));
  EXPECT_EQ(rule("OLD").get_COUNT(), 0);
  EXPECT_EQ(rule(id).get_ITEMSTATE(), ItemState::Trash);
  EXPECT_EQ(rule(id).get_COUNT(), 2);
  // Accepting the changed rule moves each of its items to the new destination.
  EXPECT_EQ(item("I1").get_STATE(), ItemState::Trash);
  EXPECT_EQ(item("I2").get_STATE(), ItemState::Trash);
  decisions = decisions_->calls();
  ASSERT_EQ(decisions.size(), 2u);
  EXPECT_EQ(decisions[1].args[1], Json(2));
}

TEST_F(RulesTest, WithoutACurrentUserNoRuleIsMade) {
  users_->user_id = "";
  storeItem("I1");
  perform([](Completion done) {
    KestrunDataWriter::createAutoSwipe("I1", AutoSwipeField::Sender, "ann@x.example", "", ItemState::Archive,
                                       SnoozeType::None, 0, "", done);
  });
  EXPECT_TRUE(ruleIDs().empty());
  EXPECT_TRUE(decisions_->calls().empty());
  EXPECT_EQ(item("I1").get_STATE(), ItemState::Inbox);
}

TEST_F(RulesTest, AcceptingADeferringRuleDefersEveryItem) {
  const int64_t until = libkestrun::Utility::now_ms() + 3 * kDay;
  struct Case {
    DeferralType type;
    std::string data;
    SnoozeType snooze;
  } cases[] = {
      {DeferralType::UntilTime, "{\"remind_at\":" + std::to_string(until) + "}", SnoozeType::None},
      {DeferralType::BySnooze, "{\"snooze_type\":5}", SnoozeType::ThisWeekend},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string ruleID = "R" + std::to_string(n);
    const std::vector<std::string> itemIDs = {ruleID + "-a", ruleID + "-b"};
    ++n;
    storeRule(ruleID, [&](KSAutoSwipe& r) {
      r.setItemState(ItemState::Later);
      r.setDeferralType(c.type);
      r.setDeferralData(c.data);
    });
    storeItemsOfRule(ruleID, itemIDs);
    perform([&](Completion done) { KestrunDataWriter::activateAutoSwipeForItem(itemIDs[0], done); });
    for (const auto& id : itemIDs) {
      const auto row = item(id);
      EXPECT_EQ(row.get_STATE(), ItemState::Later) << c.data;
      EXPECT_EQ(row.get_SNOOZETYPE(), c.snooze) << c.data;
      EXPECT_EQ(row.get_AUTOSWIPESTATE(), AutoSwipeRuleState::Active);
      if (c.type == DeferralType::UntilTime) {
        EXPECT_EQ(row.get_REMINDAT(), until);
      }
    }
    // The batch's requests leave together.
    const auto sent = offline_->calls();
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().method, "sendRequestsForIds");
    EXPECT_EQ(rule(ruleID).get_STATE(), AutoSwipeRuleState::Active);
  }
}

TEST_F(RulesTest, AcceptingMovesNothingWhenThereIsNowhereToGo) {
  // A defer rule without deferral data, and a spam rule: the items only become active.
  storeRule("D", [](KSAutoSwipe& r) { r.setItemState(ItemState::Later); });
  storeRule("S", [](KSAutoSwipe& r) { r.setItemState(ItemState::Spam); });
  storeItemsOfRule("D", {"D1", "D2", "D3"});
  storeItemsOfRule("S", {"S1", "S2"});
  perform([](Completion done) { KestrunDataWriter::activateAutoSwipeForItem("D1", done); });
  perform([](Completion done) { KestrunDataWriter::activateAutoSwipeForItem("S2", done); });
  for (const std::string id : {"D1", "D2", "D3", "S1", "S2"}) {
    EXPECT_EQ(item(id).get_STATE(), ItemState::Inbox) << id;
    EXPECT_EQ(item(id).get_AUTOSWIPESTATE(), AutoSwipeRuleState::Active) << id;
  }
  const auto decisions = decisions_->calls();
  ASSERT_EQ(decisions.size(), 2u);
  EXPECT_EQ(decisions[0].args[0], Json(10));
  EXPECT_EQ(decisions[0].args[1], Json(3));
  EXPECT_EQ(decisions[1].args[1], Json(2));
  EXPECT_TRUE(itemUpdates().empty());
}

TEST_F(RulesTest, IgnoringARuleLetsAllItsItemsGo) {
  storeRule("R", [](KSAutoSwipe& r) { r.setCount(7); });
  storeItemsOfRule("R", {"I1", "I2", "I3"});
  perform([](Completion done) { KestrunDataWriter::ignoreAutoSwipeForItem("I2", done); });

  const auto decisions = decisions_->calls();
  ASSERT_EQ(decisions.size(), 1u);
  EXPECT_EQ(decisions[0].args[0], Json(12));
  EXPECT_EQ(decisions[0].args[1], Json(0));
  EXPECT_EQ(decisions[0].args[3]["state"], Json(20));  // the rule as it was
  const auto updates = itemUpdates();
  ASSERT_EQ(updates.size(), 3u);
  for (const auto& update : updates) {
    EXPECT_EQ(update.args[0]["auto_swipe"]["state"], Json(22));
    EXPECT_EQ(update.args[2], Json(true));
  }
  for (const std::string id : {"I1", "I2", "I3"}) {
    EXPECT_EQ(item(id).get_MAUTOSWIPEID(), "") << id;
    EXPECT_EQ(item(id).get_AUTOSWIPESTATE(), AutoSwipeRuleState::Ignored) << id;
    EXPECT_EQ(item(id).get_STATE(), ItemState::Inbox) << id;
  }
  EXPECT_EQ(rule("R").get_STATE(), AutoSwipeRuleState::Ignored);
  EXPECT_EQ(rule("R").get_COUNT(), 7);

  // Switching a rule off is decision 11.
  storeRule("Q", [](KSAutoSwipe& r) { r.setState(AutoSwipeRuleState::Active); });
  perform([](Completion done) { KestrunDataWriter::disableAutoSwipe("Q", done); });
  EXPECT_EQ(decisions_->calls().back().args[0], Json(11));
  EXPECT_EQ(rule("Q").get_STATE(), AutoSwipeRuleState::Ignored);
}

TEST_F(RulesTest, AnotherUsersRuleIsLeftAlone) {
  storeRule("V", [](KSAutoSwipe& r) {
    r.setUserID("other");
    r.setState(AutoSwipeRuleState::Active);
  });
  storeItemsOfRule("V", {"I1"});
  perform([](Completion done) { KestrunDataWriter::disableAutoSwipe("V", done); });
  perform([](Completion done) { KestrunDataWriter::ignoreAutoSwipeForItem("I1", done); });
  perform([](Completion done) { KestrunDataWriter::activateAutoSwipeForItem("I1", done); });
  perform([](Completion done) { KestrunDataWriter::disableAutoSwipe("none", done); });
  perform([](Completion done) { KestrunDataWriter::ignoreAutoSwipeForItem("none", done); });
  EXPECT_TRUE(decisions_->calls().empty());
  EXPECT_TRUE(objects_->calls().empty());
  EXPECT_EQ(rule("V").get_STATE(), AutoSwipeRuleState::Active);
  EXPECT_EQ(item("I1").get_MAUTOSWIPEID(), "V");
  EXPECT_EQ(item("I1").get_AUTOSWIPESTATE(), AutoSwipeRuleState::SwipedByOtherUser);
  EXPECT_EQ(item("I1").get_STATE(), ItemState::Inbox);
}

TEST_F(RulesTest, TriagingASuggestedItemByHandTurnsTheRuleDown) {
  storeRule("R");
  storeItemsOfRule("R", {"I1", "I2"});
  perform([](Completion done) { KestrunDataWriter::deleteItem("I1", done); });

  const auto decisions = decisions_->calls();
  ASSERT_EQ(decisions.size(), 1u);
  EXPECT_EQ(decisions[0].args[0], Json(12));
  const auto updates = itemUpdates();
  ASSERT_GE(updates.size(), 3u);
  // The rule's items first, then the item's own triage.
  EXPECT_EQ(updates[0].args[0]["auto_swipe"]["state"], Json(22));
  EXPECT_EQ(updates[1].args[0]["auto_swipe"]["state"], Json(22));
  EXPECT_EQ(updates.back().args[0]["_id"], Json("I1"));
  EXPECT_EQ(updates.back().args[0]["state"], Json(4));
  EXPECT_EQ(item("I1").get_STATE(), ItemState::Trash);
  EXPECT_EQ(item("I2").get_AUTOSWIPESTATE(), AutoSwipeRuleState::Ignored);
  EXPECT_EQ(rule("R").get_STATE(), AutoSwipeRuleState::Ignored);
}

TEST_F(RulesTest, ABatchSendsTheTurnedDownRulesItemUpdatesWithItsOwn) {
  storeRule("R");
  storeItemsOfRule("R", {"I1", "I2"});
  perform([](Completion done) { KestrunDataWriter::deleteItems({"I1"}, done); });
  // The rule's items' updates, then the item's defer-read and state updates, in one message.
  const auto sent = offline_->calls();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent.back(), (Call{"sendRequestsForIds", Json::array{Json::array{"I1", "I2", "I1", "I1"}}}));
  EXPECT_EQ(item("I2").get_AUTOSWIPESTATE(), AutoSwipeRuleState::Ignored);
}

TEST_F(RulesTest, Contacts) {
  EXPECT_EQ(perform([](Completion done) { KestrunDataWriter::addContact("ann@x.example", "Ann", done); }),
            std::vector<std::string>{"ann@x.example/Ann"});
  EXPECT_EQ(perform([](Completion done) { KestrunDataWriter::addContact("ann@x.example", "Annie", done); }),
            std::vector<std::string>{"ann@x.example/Annie"});
  EXPECT_EQ(perform([](Completion done) { KestrunDataWriter::addContact("ann@x.example", "", done); }),
            std::vector<std::string>{"ann@x.example/ann@x.example"});
  EXPECT_TRUE(
      perform([](Completion done) { KestrunDataWriter::addContact("not an address", "N", done); }).empty());

  perform([](Completion done) { KestrunDataWriter::updateContactAsPriority("ann@x.example", true, done); });
  int priority = 0;
  inStore([&](DBContext& context) {
    auto contacts = KSContact::contactsForEmailAddress("ann@x.example", &context);
    ASSERT_TRUE(contacts);
    EXPECT_EQ(contacts->size(), 3u);
    for (const auto& contact : *contacts) priority += contact->isPriorityAccess();
  });
  EXPECT_EQ(priority, 3);
  EXPECT_TRUE(objects_->calls().empty());  // local only
}

}  // namespace
