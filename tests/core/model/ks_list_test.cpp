#include "core/model/ks_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/model/ks_account_list.h"
#include "core/model/ks_item.h"
#include "list_fixture.h"

namespace {

using kestrun_test::Call;
using libkestrun::ItemState;
using libkestrun::ListNameStatus;

class KSListTest : public kestrun_test::ListTest {
 protected:
  // A list of that name with an account list for account "A", committed.
  std::shared_ptr<KSList> storedList(const std::string& name) {
    auto created = KSList::findOrCreate(name, &data_);
    KSList::accountListForAccount(created, "A", &data_);
    commit();
    server_->clear();
    return created;
  }

  // An inbox item filed into the list under its account list for "A".
  std::shared_ptr<KSItem> filed(const std::string& id, const std::shared_ptr<KSList>& into) {
    auto filedItem = newItem(id);
    filedItem->setState(ItemState::List);
    into->addItem(filedItem, KSList::accountListForAccount(into, "A", &data_));
    return filedItem;
  }
};

TEST_F(KSListTest, NormalizeNameDropsControlsAndRunsOfBlanks) {
  const struct {
    const char* given;
    const char* cleaned;
  } cases[] = {
      {"a  b", "ab"},   {"a b", "a b"}, {" a ", " a "}, {"a\tb\nc\rd", "abcd"},       {"a   b  c d", "abc d"},
      {"a \t b", "ab"}, {"\t\t", ""},   {"  ", ""},     {"Reçus  2024", "Reçus2024"},
  };
  for (const auto& c : cases) EXPECT_EQ(KSList::normalizeName(c.given), c.cleaned) << c.given;
}

TEST_F(KSListTest, ValidateNameGivesTheStatusOfTheCleanedName) {
  auto travel = storedList("Travel");
  const struct {
    const char* name;
    std::string changing;
    ListNameStatus status;
  } cases[] = {
      {"LaTeR", "", ListNameStatus::Reserved},
      {"la  ter", "", ListNameStatus::Reserved},  // the run of blanks goes whole
      {"a^b", "", ListNameStatus::InvalidCharacter},
      {"\t\t", "", ListNameStatus::Empty},
      {"", "", ListNameStatus::Empty},
      {"Travel", "", ListNameStatus::InUse},
      {"Travel", "list_Receipts", ListNameStatus::InUse},
      {"Travel", "list_Travel", ListNameStatus::Valid},
      {"Tra\tvel", "", ListNameStatus::InUse},
      {"travel", "", ListNameStatus::Valid},
      {"Receipts", "", ListNameStatus::Valid},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(KSList::validateName(c.name, c.changing, &data_), c.status);
  }
}

TEST_F(KSListTest, FindOrCreateMakesOneListPerNameWithTheOrderingKey) {
  ordering_->getOrderKey("Older");  // 0
  ordering_->setOrderKey("Receipts", 6);
  auto created = KSList::findOrCreate("Travel", &data_);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->listID(), "list_Travel");
  EXPECT_EQ(created->name(), "Travel");
  EXPECT_EQ(created->orderKey(), 7);
  EXPECT_EQ(created->listCount(), 0);
  EXPECT_EQ(KSList::findOrCreate("Travel", &data_), created);
  EXPECT_EQ(KSList::findOrCreate("Receipts", &data_)->orderKey(), 6);

  commit();
  auto read = reader_.fetchList("list_Travel");
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->name(), "Travel");
  EXPECT_EQ(read->orderKey(), 7);
  EXPECT_EQ(KSList::findOrCreate("Travel", &data_), created);
  EXPECT_EQ(KSList::fetchWithName("Nothing", &data_), nullptr);
}

TEST_F(KSListTest, AccountListForAccountCreatesOnceAndAnnouncesIt) {
  auto travel = KSList::findOrCreate("Travel", &data_);
  EXPECT_EQ(KSList::accountListForAccount(travel, "", &data_), nullptr);
  EXPECT_EQ(KSList::accountListForAccount(nullptr, "A", &data_), nullptr);
  auto forA = KSList::accountListForAccount(travel, "A", &data_);
  ASSERT_NE(forA, nullptr);
  EXPECT_EQ(forA->name(), "Travel");
  EXPECT_EQ(forA->accountID(), "A");
  EXPECT_EQ(forA->parentList(), travel);
  EXPECT_TRUE(forA->loadedOnce());
  EXPECT_GT(forA->createdAt(), 0);
  EXPECT_EQ(KSList::accountListForAccount(travel, "A", &data_), forA);
  auto forB = KSList::accountListForAccount(travel, "B", &data_);
  ASSERT_NE(forB, nullptr);
  EXPECT_NE(forB->listID(), forA->listID());

  const auto calls = server_->calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].method, "saveList");
  EXPECT_EQ(calls[0].args[0]["_id"].string_value(), forA->listID());
  EXPECT_EQ(calls[0].args[0]["name"].string_value(), "Travel");
  EXPECT_EQ(calls[0].args[0]["acct_id"].string_value(), "A");
  EXPECT_TRUE(calls[0].args[1].bool_value());

  commit();
  reload();
  auto read = list("Travel");
  ASSERT_NE(read->accountLists(), nullptr);
  EXPECT_EQ(read->accountLists()->size(), 2u);
  EXPECT_EQ(KSList::accountListForAccount(read, "B", &data_)->listID(), forB->listID());
}

TEST_F(KSListTest, FilingCountsTheItemInOneListOnly) {
  auto travel = storedList("Travel");
  auto trips = storedList("Trips");
  auto first = filed("I1", travel);
  EXPECT_EQ(travel->listCount(), 1);
  EXPECT_EQ(first->row().get_MLISTID(), "list_Travel");
  EXPECT_EQ(first->accountList(), KSList::accountListForAccount(travel, "A", &data_));

  // Again into the same list: unchanged, and the item once among the list's items.
  travel->addItem(first, first->accountList());
  EXPECT_EQ(travel->listCount(), 1);
  EXPECT_EQ(travel->items()->size(), 1u);

  // Into another list: out of the first one.
  trips->addItem(first, KSList::accountListForAccount(trips, "A", &data_));
  EXPECT_EQ(travel->listCount(), 0);
  EXPECT_EQ(trips->listCount(), 1);
  EXPECT_TRUE(travel->items()->empty());
  EXPECT_EQ(first->list(), trips);

  // Unfiling an item that is not among the items clears it but counts nothing.
  auto stray = newItem("I2");
  stray->setList(trips);
  travel->removeItem(stray);
  EXPECT_EQ(travel->listCount(), 0);
  EXPECT_EQ(trips->listCount(), 1);
  EXPECT_EQ(stray->row().get_MLISTID(), "");
  travel->removeItem(nullptr);
  travel->addItem(nullptr, nullptr);

  commit();
  reload();
  EXPECT_EQ(list("Travel")->listCount(), 0);
  EXPECT_EQ(list("Trips")->listCount(), 1);
  EXPECT_EQ(item("I1")->list()->listID(), "list_Trips");
  ASSERT_EQ(list("Trips")->items()->size(), 1u);
  EXPECT_EQ(list("Trips")->items()->front()->itemID(), "I1");
}

TEST_F(KSListTest, CountNeverGoesBelowZero) {
  auto travel = storedList("Travel");
  auto first = filed("I1", travel);
  travel->setListCount(0);
  travel->removeItem(first);
  EXPECT_EQ(travel->listCount(), 0);
  travel->setListCount(-3);
  EXPECT_EQ(travel->listCount(), 0);
}

TEST_F(KSListTest, LeavingStateFiveUnfilesTheItem) {
  auto travel = storedList("Travel");
  auto first = filed("I1", travel);
  first->setListID("AL-server");
  auto second = filed("I2", travel);
  commit();
  EXPECT_EQ(travel->listCount(), 2);

  first->setState(ItemState::List);
  EXPECT_EQ(first->row().get_MLISTID(), "list_Travel");
  first->setState(ItemState::Inbox);
  EXPECT_EQ(first->row().get_MLISTID(), "");
  EXPECT_EQ(first->row().get_MACCOUNTLISTID(), "");
  EXPECT_EQ(first->listID(), "AL-server");
  EXPECT_EQ(travel->listCount(), 1);

  commit();
  reload();
  EXPECT_EQ(list("Travel")->listCount(), 1);
  EXPECT_EQ(item("I1")->list(), nullptr);
  EXPECT_EQ(item("I2")->list()->listID(), "list_Travel");
}

TEST_F(KSListTest, DetachingTheLastAccountListDeletesTheList) {
  auto travel = KSList::findOrCreate("Travel", &data_);
  auto forA = KSList::accountListForAccount(travel, "A", &data_);
  auto forB = KSList::accountListForAccount(travel, "B", &data_);
  auto first = filed("I1", travel);
  commit();
  reload();

  travel = list("Travel");
  KSList::deleteList(KSAccountList::fetchWithID(forA->listID(), &data_), travel, &data_);
  EXPECT_EQ(travel->accountLists()->size(), 1u);
  EXPECT_EQ(travel->listCount(), 1);
  commit();
  EXPECT_NE(reader_.fetchList("list_Travel"), nullptr);
  EXPECT_EQ(reader_.fetchAccountList(forA->listID())->row().get_MPARENTLISTID(), "");

  KSList::deleteList(KSAccountList::fetchWithID(forB->listID(), &data_), travel, &data_);
  EXPECT_EQ(item("I1")->row().get_MLISTID(), "");
  commit();
  reload();
  EXPECT_EQ(list("Travel"), nullptr);
  EXPECT_EQ(item("I1")->list(), nullptr);
  KSList::deleteList(nullptr, travel, &data_);
}

TEST_F(KSListTest, OrderKeyAscOrdersByKeyThenName) {
  auto make = [&](const std::string& name, int key) {
    auto created = KSList::findOrCreate(name, &data_);
    created->setOrderKey(key);
    return std::static_pointer_cast<KestrunObject>(created);
  };
  auto b2 = make("b", 2);
  auto a2 = make("a", 2);
  auto c1 = make("c", 1);
  auto ab2 = make("ab", 2);
  auto negative = make("z", -1);
  EXPECT_TRUE(KSList::OrderKeyAsc(c1, a2));
  EXPECT_TRUE(KSList::OrderKeyAsc(a2, b2));
  EXPECT_TRUE(KSList::OrderKeyAsc(a2, ab2));
  EXPECT_FALSE(KSList::OrderKeyAsc(a2, a2));
  EXPECT_TRUE(KSList::OrderKeyAsc(negative, c1));
  commit();
  EXPECT_EQ(kestrun_test::ids(reader_.listsQuery()),
            (std::vector<std::string>{"list_z", "list_c", "list_a", "list_ab", "list_b"}));
  EXPECT_EQ(kestrun_test::ids(reader_.lists()),
            (std::vector<std::string>{"list_z", "list_c", "list_a", "list_ab", "list_b"}));
}

TEST_F(KSListTest, AFiledItemShowsItsListAndPurgingUnfilesIt) {
  auto travel = storedList("Travel");
  auto first = filed("I1", travel);
  EXPECT_EQ(first->deferralSubtext(), "Travel");
  KSItem::purge(first, &data_, true);
  EXPECT_EQ(travel->listCount(), 0);
  EXPECT_TRUE(travel->items()->empty());
}

TEST_F(KSListTest, AListIsNeverSentItself) {
  auto travel = KSList::findOrCreate("Travel", &data_);
  EXPECT_EQ(kestrun_test::dump(travel->toJson()), "{}");
  EXPECT_EQ(kestrun_test::dump(travel->changesToJson({"name"})), "{}");
  EXPECT_EQ(kestrun_test::dump(KSList::deviceListDocument("A b")), R"({"_id":"list_A b","name":"A b"})");
}

}  // namespace
