#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "core/data/data_writer.h"
#include "list_writer_fixture.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using kestrun_test::callsOf;
using libkestrun::ItemState;

class ListManagementTest : public kestrun_test::ListWriterTest {
 protected:
  // Travel with account lists of A and B, key 3, and an item of each account filed in it.
  void storeTravel() {
    ordering_->setOrderKey("Travel", 3);
    storeList("Travel", {"A", "B"});
    storeItem("I1");
    storeItem("I2", [](KSItem& item) { item.setAccountID("B"); });
    fileItem("I1", "Travel");
    fileItem("I2", "Travel");
    travelA_ = accountList("list_Travel", "A")->get_LISTID();
    travelB_ = accountList("list_Travel", "B")->get_LISTID();
  }

  std::string travelA_;
  std::string travelB_;
};

TEST_F(ListManagementTest, CreateListMakesTheListAndTheMissingAccountLists) {
  ordering_->setOrderKey("Older", 4);
  EXPECT_EQ(perform([](Completion done) { KestrunDataWriter::createList("Receipts", done); }),
            (Ids{"list_Receipts"}));
  EXPECT_EQ(list("list_Receipts")->get_ORDERKEY(), 5);
  EXPECT_EQ(callsOf(objects_->calls(), "saveList").size(), 2u);
  EXPECT_EQ(accountList("list_Receipts", "B")->get_NAME(), "Receipts");

  // An existing list: only the account list that is missing.
  storeList("Travel", {"A"});
  EXPECT_EQ(perform([](Completion done) { KestrunDataWriter::createList("Travel", done); }),
            (Ids{"list_Travel"}));
  const auto saves = callsOf(objects_->calls(), "saveList");
  ASSERT_EQ(saves.size(), 1u);
  EXPECT_EQ(saves[0].args[0]["acct_id"], Json("B"));
  EXPECT_TRUE(accountList("list_Travel", "B"));
}

TEST_F(ListManagementTest, EmptyArgumentsQueueNothing) {
  std::atomic<int> called{0};
  KestrunDataWriter::createList("", [&](Ids&) { ++called; });
  KestrunDataWriter::renameList("list_Travel", "", [&](Ids&) { ++called; });
  KestrunDataWriter::reorderList({}, [&](Ids&) { ++called; });
  // Tasks run in call order: once this one completed, any earlier one would have.
  perform([](Completion done) { KestrunDataWriter::deleteList("list_None", done); });
  EXPECT_EQ(called, 0);
  EXPECT_TRUE(objects_->calls().empty());
}

TEST_F(ListManagementTest, RenameToANewNameMovesEverythingToTheNewList) {
  storeTravel();
  EXPECT_EQ(perform([](Completion done) { KestrunDataWriter::renameList("list_Travel", "Trips", done); }),
            (Ids{"list_Trips"}));
  EXPECT_FALSE(list("list_Travel"));
  const auto trips = list("list_Trips");
  ASSERT_TRUE(trips);
  EXPECT_EQ(trips->get_NAME(), "Trips");
  EXPECT_EQ(trips->get_LISTCOUNT(), 2);
  EXPECT_EQ(trips->get_ORDERKEY(), 3);
  EXPECT_EQ(ordering_->getOrderKey("Trips"), 3);
  EXPECT_EQ(accountList("list_Trips", "A")->get_LISTID(), travelA_);
  EXPECT_EQ(accountList("list_Trips", "A")->get_NAME(), "Trips");
  EXPECT_EQ(accountList("list_Trips", "B")->get_LISTID(), travelB_);
  EXPECT_EQ(item("I1").get_MLISTID(), "list_Trips");
  EXPECT_EQ(item("I1").get_MACCOUNTLISTID(), travelA_);
  EXPECT_EQ(item("I2").get_MLISTID(), "list_Trips");
  EXPECT_EQ(
      callsOf(objects_->calls(), "updateList"),
      (std::vector<Call>{
          {"updateList", Json::array{Json(travelA_), Json("Travel"), Json("Trips"), Json("A"), Json(true)}},
          {"updateList",
           Json::array{Json(travelB_), Json("Travel"), Json("Trips"), Json("B"), Json(true)}}}));
  EXPECT_TRUE(callsOf(objects_->calls(), "saveList").empty());

  // The same name again: nothing at all.
  objects_->clear();
  EXPECT_TRUE(
      perform([](Completion done) { KestrunDataWriter::renameList("list_Trips", "Trips", done); }).empty());
  EXPECT_TRUE(objects_->calls().empty());
}

TEST_F(ListManagementTest, RenameIntoAnExistingListMergesThem) {
  storeTravel();
  ordering_->setOrderKey("Trips", 8);
  storeList("Trips", {"A"});
  storeItem("I3");
  fileItem("I3", "Trips");

  perform([](Completion done) { KestrunDataWriter::renameList("list_Travel", "Trips", done); });
  EXPECT_FALSE(list("list_Travel"));
  const auto trips = list("list_Trips");
  EXPECT_EQ(trips->get_LISTCOUNT(), 3);
  EXPECT_EQ(trips->get_ORDERKEY(), 8);
  EXPECT_EQ(ordering_->getOrderKey("Trips"), 3);
  EXPECT_EQ(item("I1").get_MLISTID(), "list_Trips");
  EXPECT_EQ(callsOf(objects_->calls(), "updateList").size(), 2u);
  // Trips now holds three account lists, two of them for A.
  size_t count = 0;
  inStore([&](DBContext& context) {
    count = KSList::fetchWithID("list_Trips", &context)->accountLists()->size();
  });
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(accountList("list_Trips", "B")->get_LISTID(), travelB_);
}

TEST_F(ListManagementTest, RenameOfAListWithoutAccountListsLeavesItEmpty) {
  inStore([](DBContext& context) { KSList::findOrCreate("Loose", &context); });
  storeItem("I1");
  fileItem("I1", "Loose", false);
  perform([](Completion done) { KestrunDataWriter::renameList("list_Loose", "Tight", done); });
  ASSERT_TRUE(list("list_Loose"));
  EXPECT_EQ(list("list_Loose")->get_LISTCOUNT(), 0);
  EXPECT_EQ(list("list_Tight")->get_LISTCOUNT(), 1);
  EXPECT_EQ(item("I1").get_MLISTID(), "list_Tight");
  EXPECT_TRUE(objects_->calls().empty());
}

TEST_F(ListManagementTest, ReorderGivesKeysWithoutGaps) {
  storeList("X");
  storeList("Y");
  storeList("Z");
  ordering_->setOrderKey("Z", 9);
  inStore([](DBContext& context) { KSList::fetchWithName("Z", &context)->setOrderKey(9); });
  perform([](Completion done) {
    KestrunDataWriter::reorderList({"list_missing", "list_Y", "list_X"}, done);
  });
  EXPECT_EQ(list("list_Y")->get_ORDERKEY(), 0);
  EXPECT_EQ(list("list_X")->get_ORDERKEY(), 1);
  EXPECT_EQ(list("list_Z")->get_ORDERKEY(), 9);
  EXPECT_EQ(ordering_->getOrderKey("Y"), 0);
  EXPECT_EQ(ordering_->getOrderKey("X"), 1);
}

TEST_F(ListManagementTest, DeleteListArchivesItsItemsAndRemovesEverything) {
  storeTravel();
  storeItem("I3", [](KSItem& item) { item.setDeferRead(true); });
  fileItem("I3", "Travel");
  // Filed while its e-mails are still on their way: the list's folder does not show it.
  storeItem("I4", [](KSItem& item) {
    item.setThreadHasEmails(false);
    item.setDeferRead(true);
  });
  fileItem("I4", "Travel");
  // An earlier step of an item outside the list.
  storeItem("P");
  perform([](Completion done) { KestrunDataWriter::completeItem("P", done); });
  objects_->clear();
  offline_->clear();

  perform([](Completion done) { KestrunDataWriter::deleteList("list_Travel", done); });
  for (const char* id : {"I1", "I2", "I3", "I4"}) {
    EXPECT_EQ(item(id).get_STATE(), ItemState::Archive) << id;
    EXPECT_EQ(item(id).get_MLISTID(), "") << id;
  }
  ASSERT_EQ(offline_->calls().size(), 1u);
  Ids sent;
  for (const auto& id : offline_->calls()[0].args[0].array_items()) sent.push_back(id.string_value());
  std::sort(sent.begin(), sent.end());
  sent.erase(std::unique(sent.begin(), sent.end()), sent.end());
  EXPECT_EQ(sent, (Ids{"I1", "I2", "I3", "I4"}));
  EXPECT_EQ(callsOf(objects_->calls(), "deleteList"),
            (std::vector<Call>{
                {"deleteList", Json::array{Json(travelA_), Json("Travel"), Json("A"), Json(true)}},
                {"deleteList", Json::array{Json(travelB_), Json("Travel"), Json("B"), Json(true)}}}));
  EXPECT_FALSE(list("list_Travel"));
  bool accountListsGone = false;
  inStore([&](DBContext& context) {
    accountListsGone =
        !KSAccountList::fetchWithID(travelA_, &context) && !KSAccountList::fetchWithID(travelB_, &context);
  });
  EXPECT_TRUE(accountListsGone);
  EXPECT_EQ(ordering_->getOrderKey("Travel"), 4);  // a new key: the old entry is gone
  // The items have no list to go back to, and the earlier step is over: nothing to undo.
  EXPECT_FALSE(undo_->hasActionToUndo());
  EXPECT_EQ(item("P").get_STATE(), ItemState::Archive);
}

TEST_F(ListManagementTest, DeletingAnEmptyListSendsNoItemRequests) {
  storeList("Empty", {"A"});
  perform([](Completion done) { KestrunDataWriter::deleteList("list_Empty", done); });
  EXPECT_TRUE(offline_->calls().empty());
  EXPECT_TRUE(callsOf(objects_->calls(), "updateItem").empty());
  EXPECT_EQ(callsOf(objects_->calls(), "deleteList").size(), 1u);
  EXPECT_FALSE(list("list_Empty"));
}

}  // namespace
