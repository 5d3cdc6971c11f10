#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/data/data_writer.h"
#include "core/model/ks_auto_swipe.h"
#include "list_writer_fixture.h"
#include "support/fake_auto_swipe_server_client.h"
#include "support/fake_user_manager.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using kestrun_test::callsOf;
using libkestrun::ArchiveAllType;
using libkestrun::ItemState;

class ListsTest : public kestrun_test::ListWriterTest {};

TEST_F(ListsTest, FilingMovesTheItemBetweenListsAndNamesTheList) {
  counts_->setActiveCount("A", 10, true);
  storeList("Travel");
  storeList("Trips");
  storeItem("I");
  storeEmail("I-1", "I");
  const std::string travelA = accountList("list_Travel", "A")->get_LISTID();
  const std::string tripsA = accountList("list_Trips", "A")->get_LISTID();

  perform([](Completion done) { KestrunDataWriter::associateItemWithList("I", "list_Travel", done); });
  auto row = item("I");
  EXPECT_EQ(row.get_STATE(), ItemState::List);
  EXPECT_EQ(row.get_LISTID(), travelA);
  EXPECT_EQ(row.get_MLISTID(), "list_Travel");
  EXPECT_EQ(row.get_MACCOUNTLISTID(), travelA);
  EXPECT_EQ(list("list_Travel")->get_LISTCOUNT(), 1);
  EXPECT_EQ(counts_->activeCountForAccount("A"), 9);
  EXPECT_EQ(undo_->step().action, ItemState::List);
  EXPECT_EQ(undo_->step().previousState, ItemState::Inbox);
  auto updates = callsOf(objects_->calls(), "updateItem");
  ASSERT_FALSE(updates.empty());
  EXPECT_EQ(updates.back().args[0]["list_id"], Json(travelA));
  EXPECT_EQ(updates.back().args[0]["state"], Json(5));
  EXPECT_TRUE(updates.back().args[0]["modified_at"].is_number());
  EXPECT_EQ(updates.back().args[1]["meta"]["list_name"], Json("Travel"));
  EXPECT_EQ(updates.back().args[1]["meta"]["engaged"], Json(true));
  EXPECT_EQ(updates.back().args[2], Json(true));

  // Into the same list: nothing, and the undo step is empty.
  objects_->clear();
  perform([](Completion done) { KestrunDataWriter::associateItemWithList("I", "list_Travel", done); });
  EXPECT_TRUE(objects_->calls().empty());
  EXPECT_FALSE(undo_->hasActionToUndo());

  // Into another list: out of the first; the state count stays where it is.
  perform([](Completion done) { KestrunDataWriter::associateItemWithList("I", "list_Trips", done); });
  row = item("I");
  EXPECT_EQ(row.get_MLISTID(), "list_Trips");
  EXPECT_EQ(row.get_LISTID(), tripsA);
  EXPECT_EQ(list("list_Travel")->get_LISTCOUNT(), 0);
  EXPECT_EQ(list("list_Trips")->get_LISTCOUNT(), 1);
  EXPECT_EQ(counts_->activeCountForAccount("A"), 9);
  EXPECT_EQ(undo_->step().listId, "list_Travel");
  updates = callsOf(objects_->calls(), "updateItem");
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].args[1]["meta"]["list_name"], Json("Trips"));

  // Out of the list: the meta names no list any more.
  objects_->clear();
  perform([](Completion done) { KestrunDataWriter::completeItem("I", done); });
  updates = callsOf(objects_->calls(), "updateItem");
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_TRUE(updates[0].args[1]["meta"]["list_name"].is_null());
  EXPECT_TRUE(updates[0].args[1]["meta"]["engaged"].is_bool());
  EXPECT_EQ(list("list_Trips")->get_LISTCOUNT(), 0);

  // Unknown list or item: nothing.
  objects_->clear();
  perform([](Completion done) { KestrunDataWriter::associateItemWithList("I", "list_None", done); });
  perform([](Completion done) { KestrunDataWriter::associateItemWithList("ghost", "list_Trips", done); });
  EXPECT_TRUE(objects_->calls().empty());
}

TEST_F(ListsTest, UndoFilesAnArchivedItemBackIntoItsList) {
  storeList("Travel");
  storeItem("I");
  storeEmail("I-1", "I");
  perform([](Completion done) { KestrunDataWriter::associateItemWithList("I", "list_Travel", done); });
  perform([](Completion done) { KestrunDataWriter::completeItem("I", done); });
  ASSERT_EQ(list("list_Travel")->get_LISTCOUNT(), 0);

  undo_->performUndoAction();
  inStore([](DBContext&) {});  // queued behind the opposite step
  EXPECT_EQ(item("I").get_STATE(), ItemState::List);
  EXPECT_EQ(item("I").get_MLISTID(), "list_Travel");
  EXPECT_EQ(list("list_Travel")->get_LISTCOUNT(), 1);
}

TEST_F(ListsTest, AcceptingAListRuleFilesItsItems) {
  auto users = std::make_shared<kestrun_test::FakeUserManager>();
  users->user_id = "U";
  libkestrun::user_manager_set_instance(users);
  auto decisions = std::make_shared<kestrun_test::FakeAutoSwipeServerClient>();
  libkestrun::internal::auto_swipe_server_client_set_instance(decisions);
  storeList("Travel");
  for (const std::string rule : {"TO_LIST", "TO_NOWHERE"}) {
    storeItem(rule + "-a");
    storeItem(rule + "-b");
    inStore([&](DBContext& context) {
      auto swipe = std::static_pointer_cast<KSAutoSwipe>(context.createObject("KSAUTOSWIPE", rule));
      swipe->setAutoSwipeID(rule);
      swipe->setUserID("U");
      swipe->setField(libkestrun::AutoSwipeField::Sender);
      swipe->setValue("ann@x.example");
      swipe->setItemState(ItemState::List);
      swipe->setListName(rule == "TO_LIST" ? "Travel" : "Gone");
      swipe->setState(libkestrun::AutoSwipeRuleState::Suggested);
      for (const std::string suffix : {"-a", "-b"}) swipe->addItem(context.fetchItem(rule + suffix));
    });
  }
  offline_->clear();

  perform([](Completion done) { KestrunDataWriter::activateAutoSwipeForItem("TO_LIST-a", done); });
  perform([](Completion done) { KestrunDataWriter::activateAutoSwipeForItem("TO_NOWHERE-a", done); });
  for (const std::string id : {"TO_LIST-a", "TO_LIST-b"}) {
    EXPECT_EQ(item(id).get_STATE(), ItemState::List) << id;
    EXPECT_EQ(item(id).get_MLISTID(), "list_Travel") << id;
  }
  EXPECT_EQ(list("list_Travel")->get_LISTCOUNT(), 2);
  // A list that no longer exists: the items stay, the rule is still accepted for both.
  EXPECT_EQ(item("TO_NOWHERE-b").get_STATE(), ItemState::Inbox);
  const auto sent = decisions->calls();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].args[0], Json(10));
  EXPECT_EQ(sent[0].args[1], Json(2));
  EXPECT_EQ(sent[1].args[1], Json(2));
  libkestrun::internal::auto_swipe_server_client_set_instance(nullptr);
  libkestrun::user_manager_set_instance(nullptr);
}

TEST_F(ListsTest, FilingAnItemOfAnotherAccountCreatesItsAccountList) {
  storeList("Travel");
  storeItem("J", [](KSItem& item) { item.setAccountID("B"); });
  perform([](Completion done) { KestrunDataWriter::associateItemWithList("J", "list_Travel", done, true); });
  const auto calls = objects_->calls();
  ASSERT_GE(calls.size(), 2u);
  EXPECT_EQ(calls[0].method, "saveList");
  EXPECT_EQ(calls[0].args[0]["acct_id"], Json("B"));
  EXPECT_EQ(calls[0].args[0]["name"], Json("Travel"));
  const auto forB = accountList("list_Travel", "B");
  ASSERT_TRUE(forB);
  EXPECT_EQ(forB->get_MPARENTLISTID(), "list_Travel");
  EXPECT_EQ(item("J").get_LISTID(), forB->get_LISTID());
  EXPECT_EQ(calls.back().args[1]["meta"]["engaged"], Json(false));
}

TEST_F(ListsTest, BatchFilingQueuesAndAnUnknownListKeepsTheUndoStep) {
  storeList("Travel");
  storeItem("X");
  storeItem("Y", [](KSItem& item) { item.setDeferRead(true); });
  storeItem("Z", [](KSItem& item) { item.setDeferRead(true); });
  perform([](Completion done) { KestrunDataWriter::completeItem("Z", done); });
  const auto step = undo_->step();
  objects_->clear();

  perform([](Completion done) { KestrunDataWriter::associateItemsWithList({"X", "Y"}, "list_None", done); });
  EXPECT_EQ(undo_->step(), step);
  EXPECT_TRUE(objects_->calls().empty());
  EXPECT_TRUE(offline_->calls().empty());

  perform([](Completion done) {
    KestrunDataWriter::associateItemsWithList({"X", "ghost", "Y"}, "list_Travel", done);
  });
  EXPECT_EQ(item("X").get_STATE(), ItemState::List);
  EXPECT_EQ(item("Y").get_STATE(), ItemState::List);
  EXPECT_EQ(list("list_Travel")->get_LISTCOUNT(), 2);
  EXPECT_EQ(undo_->step().itemIds, (std::vector<std::string>{"X", "Y"}));
  for (const auto& call : callsOf(objects_->calls(), "updateItem")) EXPECT_EQ(call.args[2], Json(false));
  // X also sends its defer-read update; Y's was set already.
  EXPECT_EQ(offline_->calls(),
            (std::vector<Call>{
                {"sendRequestsForIds", Json::array{Json(Json::array{Json("X"), Json("X"), Json("Y")})}}}));
}

TEST_F(ListsTest, ArchiveAllSelectsByTypeAndAsksEachAccount) {
  // R read, U unread, S read and starred, T unread and starred; B1 of account B.
  storeItem("R", [](KSItem& item) { item.setModifiedAt(50); });
  storeItem("U", [](KSItem& item) {
    item.setModifiedAt(40);
    item.setThreadRead(false);
  });
  storeItem("S", [](KSItem& item) {
    item.setModifiedAt(60);
    item.setThreadStarred(true);
  });
  storeItem("T", [](KSItem& item) {
    item.setModifiedAt(70);
    item.setThreadRead(false);
    item.setThreadStarred(true);
  });
  storeItem("B1", [](KSItem& item) {
    item.setAccountID("B");
    item.setModifiedAt(30);
    item.setThreadStarred(true);
  });
  counts_->setActiveCount("A", 4, true);

  perform([](Completion done) { KestrunDataWriter::archiveAll(ArchiveAllType::Unstarred, done); });
  EXPECT_EQ(item("R").get_STATE(), ItemState::Archive);
  EXPECT_EQ(item("U").get_STATE(), ItemState::Archive);
  EXPECT_EQ(item("S").get_STATE(), ItemState::Inbox);
  EXPECT_EQ(callsOf(objects_->calls(), "archiveAll"),
            (std::vector<Call>{{"archiveAll", Json::array{Json("A"), Json(40), Json(3)}},
                               {"archiveAll", Json::array{Json("B"), Json(30), Json(3)}}}));
  EXPECT_EQ(sync_->calls(), (std::vector<Call>{{"archiveAllStarted", Json::array{Json("A")}},
                                               {"archiveAllStarted", Json::array{Json("B")}}}));
  EXPECT_EQ(undo_->step().itemIds.size(), 2u);
  ASSERT_EQ(offline_->calls().size(), 1u);
  EXPECT_EQ(counts_->activeCountForAccount("A"), 2);

  perform([](Completion done) { KestrunDataWriter::archiveAll(ArchiveAllType::Read, done); });
  EXPECT_EQ(item("S").get_STATE(), ItemState::Archive);
  EXPECT_EQ(item("T").get_STATE(), ItemState::Inbox);
  EXPECT_EQ(item("B1").get_STATE(), ItemState::Archive);

  perform([](Completion done) { KestrunDataWriter::archiveAll(ArchiveAllType::AllInbox, done); });
  EXPECT_EQ(item("T").get_STATE(), ItemState::Archive);
  EXPECT_EQ(undo_->step().itemIds, (std::vector<std::string>{"T"}));
  EXPECT_EQ(counts_->activeCountForAccount("A"), 0);
  EXPECT_FALSE(counts_->activeIsExactForAccount("A"));
}

TEST_F(ListsTest, ArchiveAllForAnAccountWithoutInboxItems) {
  storeItem("B1", [](KSItem& item) {
    item.setAccountID("B");
    item.setModifiedAt(30);
  });
  counts_->setActiveCount("A", 5, false);
  perform(
      [](Completion done) { KestrunDataWriter::archiveAllForAccount(ArchiveAllType::AllInbox, "A", done); });
  EXPECT_TRUE(callsOf(objects_->calls(), "archiveAll").empty());
  EXPECT_EQ(sync_->calls(),
            (std::vector<Call>{
                {"postStatus", Json::array{Json(libkestrun::kSyncArchiveAllOngoing), Json(0), Json(0)}}}));
  EXPECT_EQ(counts_->activeCountForAccount("A"), 0);
  EXPECT_TRUE(counts_->activeIsExactForAccount("A"));
  EXPECT_EQ(item("B1").get_STATE(), ItemState::Inbox);
  // The undo lock was let go: this thread can take it.
  EXPECT_FALSE(undo_->hasActionToUndo());

  sync_->clear();
  perform([](Completion done) { KestrunDataWriter::archiveAllForAccount(ArchiveAllType::Read, "B", done); });
  EXPECT_EQ(item("B1").get_STATE(), ItemState::Archive);
  EXPECT_EQ(callsOf(objects_->calls(), "archiveAll").size(), 1u);
  EXPECT_EQ(sync_->calls().front(), (Call{"archiveAllStarted", Json::array{Json("B")}}));
}

TEST_F(ListsTest, ReadAndStarGoByTheNewestEmail) {
  storeItem("I", [](KSItem& item) { item.setDeferRead(true); });
  storeEmail("I-old", "I", [](KSEmail& email) {
    email.set_READ(false);
    email.set_CREATEDAT(1000);
  });
  storeEmail("I-new", "I", [](KSEmail& email) {
    email.set_READ(false);
    email.set_CREATEDAT(3000);
  });
  storeEmail("I-mid", "I", [](KSEmail& email) {
    email.set_READ(false);
    email.set_CREATEDAT(2000);
  });

  perform([](Completion done) { KestrunDataWriter::readItem("I", done); });
  ASSERT_EQ(offline_->calls().size(), 1u);
  EXPECT_EQ(offline_->calls()[0].args[0].array_items().size(), 3u);
  EXPECT_TRUE(item("I").get_THREADREAD());
  objects_->clear();
  offline_->clear();
  perform([](Completion done) { KestrunDataWriter::readItem("I", done); });
  EXPECT_TRUE(objects_->calls().empty());
  EXPECT_TRUE(offline_->calls().empty());

  EXPECT_EQ(perform([](Completion done) { KestrunDataWriter::unreadItem("I", done); }), (Ids{"I-new"}));
  EXPECT_FALSE(email("I-new").get_READ());
  EXPECT_TRUE(email("I-mid").get_READ());
  ASSERT_EQ(objects_->calls().size(), 1u);
  EXPECT_EQ(objects_->calls()[0].args[0]["read"], Json(0));
  EXPECT_EQ(objects_->calls()[0].args[1], Json(true));
  EXPECT_TRUE(perform([](Completion done) { KestrunDataWriter::unreadItem("I", done); }).empty());

  objects_->clear();
  perform([](Completion done) { KestrunDataWriter::starItem("I", done); });
  EXPECT_TRUE(email("I-new").get_STARRED());
  EXPECT_FALSE(email("I-old").get_STARRED());
  EXPECT_TRUE(item("I").get_THREADSTARRED());
  ASSERT_EQ(objects_->calls().size(), 1u);
  EXPECT_EQ(objects_->calls()[0].args[1], Json(true));

  // Unstarring takes every starred e-mail, in one message.
  storeEmail("I-4", "I", [](KSEmail& email) { email.set_STARRED(true); });
  offline_->clear();
  perform([](Completion done) { KestrunDataWriter::unstarItem("I", done); });
  EXPECT_FALSE(email("I-new").get_STARRED());
  EXPECT_FALSE(email("I-4").get_STARRED());
  EXPECT_FALSE(item("I").get_THREADSTARRED());
  ASSERT_EQ(offline_->calls().size(), 1u);
  EXPECT_EQ(offline_->calls()[0].args[0].array_items().size(), 2u);
  EXPECT_FALSE(undo_->hasActionToUndo());

  // Without e-mails, or without an item: nothing.
  storeItem("E");
  objects_->clear();
  perform([](Completion done) { KestrunDataWriter::starItem("E", done); });
  perform([](Completion done) { KestrunDataWriter::unreadItem("E", done); });
  perform([](Completion done) { KestrunDataWriter::unstarItem("ghost", done); });
  EXPECT_TRUE(objects_->calls().empty());
}

}  // namespace
