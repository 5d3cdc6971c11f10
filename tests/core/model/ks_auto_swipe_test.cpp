// Auto-swipe rules: their documents, their items, their texts and their order, and what items do
// with them (attaching, documents naming a rule, new mail, purging), over a real database.
#include "core/model/ks_auto_swipe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "localization/localization.h"
#include "mail_fixture.h"
#include "snooze_fixture.h"

namespace {

using libkestrun::AutoSwipeField;
using libkestrun::AutoSwipeRuleState;
using libkestrun::DeferralType;
using libkestrun::ItemState;
using libkestrun::SnoozeType;

class AutoSwipeTest : public kestrun_test::MailTest {
 protected:
  // A rule of user "U" with that id, pending in the writing context.
  std::shared_ptr<KSAutoSwipe> newRule(const std::string& id,
                                       const std::function<void(KSAutoSwipe&)>& set = {}) {
    auto rule = std::static_pointer_cast<KSAutoSwipe>(data_.createObject("KSAUTOSWIPE", id));
    rule->setAutoSwipeID(id);
    rule->setUserID("U");
    rule->setField(AutoSwipeField::Sender);
    rule->setValue("a@x.example");
    rule->setItemState(ItemState::Archive);
    rule->setState(AutoSwipeRuleState::Active);
    if (set) set(*rule);
    return rule;
  }

  std::shared_ptr<KSAutoSwipe> applyRule(const std::string& text) {
    json_t* document = doc(text);
    auto rule = std::static_pointer_cast<KSAutoSwipe>(
        KestrunContext::applyServerDocument(document, "auto_swipe", "_id", &data_));
    json_decref(document);
    return rule;
  }

  std::shared_ptr<KSItem> applyItem(const std::string& text) {
    json_t* document = doc(text);
    auto item = std::static_pointer_cast<KSItem>(
        KestrunContext::applyServerDocument(document, "item", "_id", &data_));
    json_decref(document);
    return item;
  }

  static std::vector<std::string> itemIDs(KSAutoSwipe& rule) {
    std::vector<std::string> out;
    auto items = rule.items();
    for (const auto& item : *items) out.push_back(item->itemID());
    return out;
  }

  kestrun_test::SnoozeFixture snooze_;
};

TEST_F(AutoSwipeTest, IdentifiersAndMadeDocuments) {
  EXPECT_EQ(KSAutoSwipe::makeAutoSwipeID("U", AutoSwipeField::Sender, "V"), "U||31||V");

  struct Case {
    SnoozeType snooze;
    int64_t remindAt;
    const char* listName;
    const char* action;
  } cases[] = {
      {SnoozeType::None, 0, "", "{'state':1}"},
      {SnoozeType::None, -5, "", "{'state':1}"},
      {SnoozeType::None, 7000, "", "{'deferral_data':{'remind_at':7000},'deferral_type':2,'state':1}"},
      {SnoozeType::Tomorrow, 0, "", "{'deferral_data':{'snooze_type':4},'deferral_type':4,'state':1}"},
      {SnoozeType::Tomorrow, 7000, "",
       "{'deferral_data':{'remind_at':7000,'snooze_type':4},'deferral_type':4,'state':1}"},
      {SnoozeType::None, 0, "Work", "{'list_name':'Work','state':1}"},
  };
  for (const Case& c : cases) {
    std::string expected = std::string("{'_id':'U||31||a@x','action':") + c.action +
                           ",'pattern':{'aux':'Ann','key':31,'value':'a@x'},'state':21,'user_id':'U'}";
    std::replace(expected.begin(), expected.end(), '\'', '"');
    EXPECT_EQ(dump(KSAutoSwipe::makeDocument("U", AutoSwipeField::Sender, "a@x", "Ann", ItemState::Later,
                                             c.snooze, c.remindAt, c.listName)),
              expected)
        << c.action;
  }
}

TEST_F(AutoSwipeTest, DocumentsAreReadKeyByKeyAndWrittenWhole) {
  auto rule = applyRule(
      "{'_id':'R1','count':4,'last_action':900,'state':21,'user_id':'U',"
      "'pattern':{'key':32,'value':'b@x.example','aux':'Bob'},"
      "'action':{'state':1,'deferral_data':{'snooze_type':5},'deferral_type':4,'list_name':'L'}}");
  ASSERT_NE(rule, nullptr);
  commit();
  auto stored = KSAutoSwipe::fetch("R1", &reader_);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->count(), 4);
  EXPECT_EQ(stored->lastActionAt(), 900);
  EXPECT_EQ(stored->state(), AutoSwipeRuleState::Active);
  EXPECT_EQ(stored->userID(), "U");
  EXPECT_EQ(stored->field(), AutoSwipeField::Recipient);
  EXPECT_EQ(stored->value(), "b@x.example");
  EXPECT_EQ(stored->auxiliaryInfo(), "Bob");
  EXPECT_EQ(stored->itemState(), ItemState::Later);
  EXPECT_EQ(stored->deferralData(), "{\"snooze_type\":5}");
  EXPECT_EQ(stored->deferralType(), DeferralType::BySnooze);
  EXPECT_EQ(stored->listName(), "L");
  // COUNT and LASTACTIONAT are the server's: never written back.
  EXPECT_EQ(
      dump(stored->toJson()),
      "{\"_id\":\"R1\",\"action\":{\"deferral_data\":{\"snooze_type\":5},\"deferral_type\":4,\"list_name\":"
      "\"L\",\"state\":1},\"pattern\":{\"aux\":\"Bob\",\"key\":32,\"value\":\"b@x.example\"},\"state\":21,"
      "\"user_id\":\"U\"}");
  EXPECT_EQ(dump(stored->changesToJson({"count"})), dump(stored->toJson()));

  // Values of another JSON type, and missing nested objects, leave the columns as they are.
  applyRule(
      "{'_id':'R1','count':'9','state':'22','user_id':5,'pattern':3,'action':{'state':'3','list_name':1}}");
  auto same = KSAutoSwipe::fetch("R1", &data_);
  EXPECT_EQ(same->count(), 4);
  EXPECT_EQ(same->state(), AutoSwipeRuleState::Active);
  EXPECT_EQ(same->userID(), "U");
  EXPECT_EQ(same->field(), AutoSwipeField::Recipient);
  EXPECT_EQ(same->itemState(), ItemState::Later);
  EXPECT_EQ(same->listName(), "L");

  // No deferral type 1 and no empty list name in the document.
  auto plain = newRule("R2");
  EXPECT_EQ(dump(plain->toJson()),
            "{\"_id\":\"R2\",\"action\":{\"state\":3},\"pattern\":{\"aux\":\"\",\"key\":31,\"value\":\"a@x."
            "example\"},\"state\":21,\"user_id\":\"U\"}");
}

TEST_F(AutoSwipeTest, NewRulesHaveTheDefaultsAndReportTheirFirstChange) {
  auto rule = std::static_pointer_cast<KSAutoSwipe>(data_.createObject("KSAUTOSWIPE", "R1"));
  EXPECT_EQ(rule->count(), 0);
  EXPECT_EQ(rule->deferralType(), DeferralType::NotDeferred);
  EXPECT_EQ(rule->field(), AutoSwipeField{0});
  EXPECT_EQ(rule->itemState(), ItemState::None);
  EXPECT_EQ(rule->state(), AutoSwipeRuleState::None);
  EXPECT_EQ(rule->changedColumnCount(), 0u);
  rule->setAutoSwipeID("R1");
  commit();
  auto stored = KSAutoSwipe::fetch("R1", &data_);
  ASSERT_EQ(stored, rule);
  rule->setCount(0);  // equal: nothing changes
  EXPECT_EQ(rule->changedColumnCount(), 0u);
  rule->setCount(2);
  rule->setListName("L");
  EXPECT_TRUE(rule->isUpdated());
  EXPECT_EQ(commit()["KSAUTOSWIPE"][libkestrun::ConsumerChangeType::Update],
            (std::unordered_set<std::string>{"R1"}));
  EXPECT_EQ(KSAutoSwipe::fetch("R1", &reader_)->count(), 2);
}

TEST_F(AutoSwipeTest, AddingAndRemovingItemsKeepsTheCount) {
  auto rule = newRule("R1", [](KSAutoSwipe& r) { r.setLastActionAt(500); });
  auto older = newItem("I1", [](KSItem& i) { i.setModifiedAt(300); });
  auto newer = newItem("I2", [](KSItem& i) { i.setModifiedAt(800); });

  rule->addItem(older);
  EXPECT_EQ(rule->count(), 1);
  EXPECT_EQ(rule->lastActionAt(), 500);  // an older item counts but does not move the time
  rule->addItem(newer);
  EXPECT_EQ(rule->count(), 2);
  EXPECT_EQ(rule->lastActionAt(), 800);
  rule->addItem(older);  // held already: moved to the end, not counted again
  EXPECT_EQ(rule->count(), 2);
  EXPECT_EQ(itemIDs(*rule), (std::vector<std::string>{"I2", "I1"}));
  EXPECT_TRUE(rule->hasItem(older));
  EXPECT_EQ(older->autoSwipeID(), "R1");
  EXPECT_EQ(older->autoSwipe(), rule);

  newer->setModifiedAt(900);
  rule->recordAction(newer);
  EXPECT_EQ(rule->count(), 3);
  EXPECT_EQ(rule->lastActionAt(), 900);

  rule->setCount(0);
  rule->removeItem(newer);
  EXPECT_EQ(rule->count(), 0);  // never below 0
  EXPECT_EQ(newer->autoSwipeID(), "");
  EXPECT_EQ(newer->autoSwipe(), nullptr);
  EXPECT_FALSE(rule->hasItem(newer));
  rule->recordAction(newer);  // not held: nothing
  EXPECT_EQ(rule->count(), 0);
  rule->addItem(nullptr);
  rule->removeItem(nullptr);
  EXPECT_EQ(rule->count(), 0);

  // The stored relation is the items' MAUTOSWIPEID.
  commit();
  auto stored = KSAutoSwipe::fetch("R1", &reader_);
  EXPECT_EQ(itemIDs(*stored), (std::vector<std::string>{"I1"}));
  EXPECT_EQ(reader_.fetchItem("I2")->autoSwipeID(), "");
}

TEST_F(AutoSwipeTest, ARuleWithoutAnIdCountsButHoldsNothing) {
  auto rule = std::make_shared<KSAutoSwipe>(&data_);
  auto item = newItem("I1");
  rule->addItem(item);
  EXPECT_EQ(rule->count(), 1);
  EXPECT_EQ(item->autoSwipe(), rule);
  EXPECT_FALSE(rule->hasItem(item));
  EXPECT_TRUE(rule->items()->empty());
  rule->removeItem(item);
  EXPECT_EQ(rule->count(), 1);
  EXPECT_EQ(item->autoSwipe(), nullptr);
}

TEST_F(AutoSwipeTest, AnItemTakesItsRuleStateFromTheRuleOfItsOwnUserOnly) {
  struct Case {
    const char* user;
    AutoSwipeRuleState ruleState;
    AutoSwipeRuleState itemState;
  } cases[] = {
      {"U", AutoSwipeRuleState::Suggested, AutoSwipeRuleState::Suggested},
      {"U", AutoSwipeRuleState::Ignored, AutoSwipeRuleState::Ignored},
      {"V", AutoSwipeRuleState::Active, AutoSwipeRuleState::SwipedByOtherUser},
      {"V", AutoSwipeRuleState::Ignored, AutoSwipeRuleState::None},
      {"V", AutoSwipeRuleState::Suggested, AutoSwipeRuleState::None},
  };
  int n = 0;
  for (const Case& c : cases) {
    auto rule = newRule("R" + std::to_string(n), [&](KSAutoSwipe& r) {
      r.setUserID(c.user);
      r.setState(c.ruleState);
      r.setField(AutoSwipeField::Conversation);
      r.setItemState(ItemState::Trash);
    });
    auto item = newItem("I" + std::to_string(n++));
    item->setAutoSwipe(rule);
    EXPECT_EQ(item->autoSwipeState(), c.itemState) << c.user << static_cast<int>(c.ruleState);
    EXPECT_EQ(item->autoSwipeField(), AutoSwipeField::Conversation);
    EXPECT_EQ(item->autoSwipeItemState(), ItemState::Trash);
    // Detaching only forgets the rule's id.
    item->setAutoSwipe(nullptr);
    EXPECT_EQ(item->autoSwipeID(), "");
    EXPECT_EQ(item->autoSwipeState(), c.itemState);
    EXPECT_EQ(item->autoSwipeItemState(), ItemState::Trash);
  }
}

TEST_F(AutoSwipeTest, AnItemDocumentNamingARuleMovesTheItemToIt) {
  const std::string base = "{'_id':'I1','acct_id':'A','state':3,'modified_at':700";
  auto item = applyItem(base +
                        ",'auto_swipe':{'_id':'R1','user_id':'U','state':21,'count':2,"
                        "'pattern':{'key':31,'value':'a@x.example'},'action':{'state':3}}}");
  ASSERT_NE(item, nullptr);
  auto first = KSAutoSwipe::fetch("R1", &data_);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(item->autoSwipe(), first);
  EXPECT_EQ(item->autoSwipeState(), AutoSwipeRuleState::Active);
  EXPECT_EQ(first->count(), 3);
  EXPECT_EQ(first->lastActionAt(), 700);
  commit();

  // The full document carries the rule.
  json_t* full = item->toJson();
  EXPECT_EQ(dump(json_incref(json_object_get(full, "auto_swipe"))), dump(first->toJson()));
  json_decref(full);
  json_t* changes = item->changesToJson({"autoSwipeData"});
  EXPECT_NE(json_object_get(changes, "auto_swipe"), nullptr);
  json_decref(changes);

  applyItem(base +
            ",'saved_at':5,'auto_swipe':{'_id':'R2','user_id':'V','state':21,'count':0,"
            "'pattern':{'key':30,'value':'I1'},'action':{'state':4}}}");
  auto second = KSAutoSwipe::fetch("R2", &data_);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(first->count(), 2);
  EXPECT_EQ(second->count(), 1);
  EXPECT_EQ(item->autoSwipeID(), "R2");
  EXPECT_EQ(item->autoSwipeState(), AutoSwipeRuleState::SwipedByOtherUser);
  commit();
  EXPECT_EQ(itemIDs(*KSAutoSwipe::fetch("R1", &reader_)), std::vector<std::string>{});
  EXPECT_EQ(itemIDs(*KSAutoSwipe::fetch("R2", &reader_)), std::vector<std::string>{"I1"});

  // An item without a rule writes none.
  auto other = newItem("I9");
  json_t* none = other->changesToJson({"autoSwipeData"});
  EXPECT_EQ(json_object_get(none, "auto_swipe"), nullptr);
  json_decref(none);
}

TEST_F(AutoSwipeTest, NewMailOfAnActivelySwipedItemIsAnAction) {
  auto rule = newRule("R1");
  auto item = newItem("I1", [](KSItem& i) { i.setModifiedAt(1000); });
  rule->addItem(item);
  ASSERT_EQ(item->autoSwipeState(), AutoSwipeRuleState::Active);
  ASSERT_EQ(rule->count(), 1);
  item->addEmail(newEmail("E1", "I1"));
  EXPECT_EQ(rule->count(), 2);

  // A suggested rule does not count new mail.
  auto suggested = newRule("R2", [](KSAutoSwipe& r) { r.setState(AutoSwipeRuleState::Suggested); });
  auto other = newItem("I2");
  suggested->addItem(other);
  other->addEmail(newEmail("E2", "I2"));
  EXPECT_EQ(suggested->count(), 1);
}

TEST_F(AutoSwipeTest, PurgingAnItemTakesItOutOfItsRule) {
  auto rule = newRule("R1");
  auto item = newItem("I1");
  rule->addItem(item);
  commit();
  KSItem::purge(item, &data_, true);
  EXPECT_EQ(rule->count(), 0);
  EXPECT_FALSE(rule->hasItem(item));
  commit();
  EXPECT_FALSE(reader_.itemExists("I1"));
  EXPECT_EQ(KSAutoSwipe::fetch("R1", &reader_)->count(), 0);
}

TEST_F(AutoSwipeTest, OrphansAreTheRulesNoStoredItemNames) {
  auto kept = newRule("R1");
  newRule("R2");
  kept->addItem(newItem("I1"));
  newItem("I2");  // an item without a rule names none
  commit();
  auto orphans = KSAutoSwipe::orphans(&reader_);
  EXPECT_EQ(kestrun_test::ids(orphans), std::vector<std::string>{"R2"});
  EXPECT_EQ(KSAutoSwipe::fetch("R9", &reader_), nullptr);
}

TEST_F(AutoSwipeTest, ItemsReadAgainOnceTheyWereLetGo) {
  {
    auto rule = newRule("R1");
    rule->addItem(newItem("I1"));
    rule->addItem(newItem("I2"));
    commit();
  }
  data_.reset();  // the cache lets every object go
  auto rule = KSAutoSwipe::fetch("R1", &data_);
  ASSERT_NE(rule, nullptr);
  EXPECT_EQ(itemIDs(*rule).size(), 2u);
  data_.reset();
  // The rule outlives its items; they are read again.
  EXPECT_EQ(itemIDs(*rule).size(), 2u);
}

TEST_F(AutoSwipeTest, Identifiers) {
  struct Case {
    AutoSwipeField field;
    const char* aux;
    const char* value;
    const char* withAddress;
    const char* shortForm;
  } cases[] = {
      {AutoSwipeField::Sender, "N", "A", "N <A>", "N"},
      {AutoSwipeField::Recipient, "N", "A", "N <A>", "N"},
      {AutoSwipeField::Sender, "", "A", "A", "A"},
      {AutoSwipeField::Conversation, "Subject", "I1", "Subject", "Subject"},
      {AutoSwipeField{0}, "N", "A", "", ""},
  };
  for (const Case& c : cases) {
    auto rule = newRule("R", [&](KSAutoSwipe& r) {
      r.setField(c.field);
      r.setAuxiliaryInfo(c.aux);
      r.setValue(c.value);
    });
    EXPECT_EQ(rule->identifierString(true), c.withAddress);
    EXPECT_EQ(rule->identifierString(false), c.shortForm);
  }
}

TEST_F(AutoSwipeTest, DestinationsToolTipsAndBanners) {
  auto rule = newRule("R1", [](KSAutoSwipe& r) {
    r.setAuxiliaryInfo("Ann");
    r.setItemState(ItemState::Trash);
  });
  EXPECT_EQ(rule->canonicalDescription(), "Trash");
  EXPECT_EQ(rule->formattedToolTipString(), "Always swipe messages from\nAnn <a@x.example>\nto Trash?");

  rule->setField(AutoSwipeField::Conversation);
  rule->setItemState(ItemState::Later);
  rule->setDeferralData("{\"snooze_type\":4}");
  EXPECT_EQ(rule->canonicalDescription(), "Tomorrow");
  EXPECT_EQ(rule->formattedToolTipString(), "Always snooze messages in this conversation to Tomorrow?");

  rule->setDeferralData("{\"remind_at\":0}");
  EXPECT_EQ(rule->canonicalDescription(), LOCALIZED_TIMESTAMP(HVX_DATE_STRING_DATE_TIME, 0));
  for (const char* unusable : {"", "not json", "{}", "{\"snooze_type\":\"4\"}"}) {
    rule->setDeferralData(unusable);
    EXPECT_EQ(rule->canonicalDescription(), "") << unusable;
  }
  rule->setField(AutoSwipeField{0});
  rule->setItemState(ItemState::Archive);
  EXPECT_EQ(rule->formattedToolTipString(), "Always swipe messages to Archive?");
  rule->setItemState(ItemState::Spam);
  EXPECT_EQ(rule->canonicalDescription(), "Spam");
  rule->setItemState(ItemState::Inbox);
  EXPECT_EQ(rule->canonicalDescription(), "");

  struct Case {
    AutoSwipeRuleState state;
    ItemState destination;
    const char* banner;
  } cases[] = {
      {AutoSwipeRuleState::SwipedByOtherUser, ItemState::Archive, "Auto-swiped by another user"},
      {AutoSwipeRuleState::Suggested, ItemState::Archive, "Always swipe to Archive?"},
      {AutoSwipeRuleState::Suggested, ItemState::Trash, "Always swipe to Trash?"},
      {AutoSwipeRuleState::Suggested, ItemState::Spam, "Always mark as spam?"},
      {AutoSwipeRuleState::Suggested, ItemState::Later, "Always snooze to Tomorrow?"},
      {AutoSwipeRuleState::Suggested, ItemState::List, "Always swipe into Work?"},
      {AutoSwipeRuleState::Active, ItemState::Archive, "Automatically archived"},
      {AutoSwipeRuleState::Active, ItemState::Trash, "Automatically trashed"},
      {AutoSwipeRuleState::Active, ItemState::Later, "Auto-snoozed to Tomorrow"},
      {AutoSwipeRuleState::Active, ItemState::List, "Auto-swiped into Work"},
      {AutoSwipeRuleState::Active, ItemState::Spam, "Automatically sent to spam"},
      {AutoSwipeRuleState::Active, ItemState::Inbox, "Automatically swiped"},
      {AutoSwipeRuleState::Ignored, ItemState::Archive, "Automatically swiped"},
      {AutoSwipeRuleState::None, ItemState::Trash, "Automatically swiped"},
  };
  rule->setDeferralData("{\"snooze_type\":4}");
  rule->setListName("Work");
  for (const Case& c : cases) {
    rule->setState(c.state);
    rule->setItemState(c.destination);
    EXPECT_EQ(rule->bannerText(), c.banner);
  }
}

TEST_F(AutoSwipeTest, TheLatestActionComesFirst) {
  auto rule = [this](const std::string& id, int64_t last, int count) -> std::shared_ptr<KestrunObject> {
    return newRule(id, [&](KSAutoSwipe& r) {
      r.setLastActionAt(last);
      r.setCount(count);
    });
  };
  std::vector<std::shared_ptr<KestrunObject>> rules = {rule("A", 300, 9), rule("B", 500, 1),
                                                       rule("C", 300, 9), rule("D", 300, 10)};
  std::sort(rules.begin(), rules.end(), KSAutoSwipe::Ordering());
  std::vector<std::string> order;
  for (const auto& r : rules) order.push_back(r->id());
  EXPECT_EQ(order, (std::vector<std::string>{"B", "D", "C", "A"}));
  // Strict: a rule is never before itself.
  EXPECT_FALSE(KSAutoSwipe::Ordering()(rules[0], rules[0]));
}

}  // namespace
