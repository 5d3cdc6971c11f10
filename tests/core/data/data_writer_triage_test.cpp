#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/data/data_writer.h"
#include "core/foundation/utility.h"
#include "core/sync/user_item_commands.h"
#include "support/fake_user_manager.h"
#include "writer_fixture.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using kestrun_test::WriterTest;
using libkestrun::ItemState;

// The calls of one method, in order.
std::vector<Call> callsOf(const std::vector<Call>& calls, const std::string& method) {
  std::vector<Call> found;
  for (const auto& call : calls) {
    if (call.method == method) found.push_back(call);
  }
  return found;
}

class TriageTest : public WriterTest {
 protected:
  // An item whose conversation has two unread e-mails from Ann to Bob.
  void storeUnreadItem(const std::string& id) {
    storeItem(id, [](KSItem& item) {
      item.setThreadSenders(R"({"ann@x.example":{"name":"Ann","is_original_participant":true}})");
      item.setThreadReceivers(
          R"({"bob@x.example":{"name":"Bob","is_original_participant":true},"cy@x.example":{"name":"Cy"}})");
    });
    storeEmail(id + "-1", id, [](KSEmail& email) { email.set_READ(false); });
    storeEmail(id + "-2", id, [](KSEmail& email) { email.set_READ(false); });
  }
  void storeStarredItem(const std::string& id, ItemState state) {
    storeItem(id, [state](KSItem& item) { item.setState(state); });
    storeEmail(id + "-1", id, [](KSEmail& email) { email.set_STARRED(true); });
  }
};

TEST_F(TriageTest, ArchivingAnUnreadInboxItemReadsItsEmailsThenDefersReadThenUpdates) {
  prefs_->setStateChangeWillReadItem(true);
  storeUnreadItem("I");
  perform([](Completion done) { KestrunDataWriter::completeItem("I", done); });

  const std::vector<Call> calls = objects_->calls();
  ASSERT_EQ(calls.size(), 4u);
  std::vector<std::string> readIds;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(calls[i].method, "updateEmail");
    EXPECT_EQ(calls[i].args[0]["read"], Json(1));
    EXPECT_EQ(calls[i].args[1], Json(true));
    readIds.push_back(calls[i].args[0]["_id"].string_value());
  }
  std::sort(readIds.begin(), readIds.end());
  EXPECT_EQ(readIds, (std::vector<std::string>{"I-1", "I-2"}));

  EXPECT_EQ(calls[2].method, "updateItem");
  EXPECT_EQ(calls[2].args[0]["defer_read"], Json(true));
  EXPECT_TRUE(calls[2].args[1].is_null());  // no meta object

  EXPECT_EQ(calls[3].method, "updateItem");
  EXPECT_EQ(calls[3].args[0]["state"], Json(3));
  EXPECT_TRUE(calls[3].args[0]["modified_at"].is_number());
  EXPECT_EQ(calls[3].args[0]["prev_state"], Json(2));
  EXPECT_EQ(calls[3].args[1], parse(R"({"meta":{"engaged":false,"original_email_participants":{
                              "to":[{"name":"Bob","address":"bob@x.example"}],
                              "from":{"name":"Ann","address":"ann@x.example"}}}})"));
  EXPECT_EQ(calls[3].args[2], Json(true));

  const auto row = item("I");
  EXPECT_EQ(row.get_STATE(), ItemState::Archive);
  EXPECT_EQ(row.get_PREVIOUSSTATE(), ItemState::Inbox);
  EXPECT_TRUE(row.get_THREADREAD());
  EXPECT_TRUE(row.get_DEFERREAD());
  EXPECT_TRUE(email("I-1").get_READ());
}

TEST_F(TriageTest, EngagedIsTheReadStateUnlessOverridden) {
  storeItem("R");
  storeEmail("R-1", "R");  // read
  perform([](Completion done) { KestrunDataWriter::completeItem("R", done); });
  perform([](Completion done) { KestrunDataWriter::deleteItem("R", done, true); });
  perform([](Completion done) { KestrunDataWriter::activateItem("R", done); });
  std::vector<Json> engaged;
  for (const auto& call : callsOf(objects_->calls(), "updateItem")) {
    if (!call.args[1].is_null()) engaged.push_back(call.args[1]["meta"]["engaged"]);
  }
  EXPECT_EQ(engaged, (std::vector<Json>{Json(true), Json(false), Json(true)}));
  // The conversation without participants still reports them, with an empty "to" and no "from".
  const Call last = callsOf(objects_->calls(), "updateItem").back();
  EXPECT_EQ(last.args[1]["meta"]["original_email_participants"], parse(R"({"to":[]})"));
}

TEST_F(TriageTest, UnstarOnMoveFollowsItsPreferenceAndActivationHasNoSideEffects) {
  prefs_->setStateChangeWillReadItem(true);
  prefs_->setMoveActionShouldUnstarItem(false);
  storeStarredItem("KEPT", ItemState::Inbox);
  perform([](Completion done) { KestrunDataWriter::completeItem("KEPT", done); });
  EXPECT_TRUE(callsOf(objects_->calls(), "updateEmail").empty());
  EXPECT_TRUE(item("KEPT").get_THREADSTARRED());

  prefs_->setMoveActionShouldUnstarItem(true);
  objects_->clear();
  storeStarredItem("S", ItemState::Inbox);
  perform([](Completion done) { KestrunDataWriter::deleteItem("S", done); });
  const auto starred = callsOf(objects_->calls(), "updateEmail");
  ASSERT_EQ(starred.size(), 1u);
  EXPECT_EQ(starred[0].args[0]["starred"], Json(0));
  EXPECT_EQ(objects_->calls().front().method, "updateEmail");  // before the item's updates
  EXPECT_FALSE(item("S").get_THREADSTARRED());
  EXPECT_FALSE(email("S-1").get_STARRED());

  // Back to the inbox: no read, no unstar, no defer-read; only the state update.
  objects_->clear();
  storeStarredItem("U", ItemState::Archive);
  storeEmail("U-2", "U", [](KSEmail& email) { email.set_READ(false); });
  perform([](Completion done) { KestrunDataWriter::activateItem("U", done); });
  const auto calls = objects_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args[0]["state"], Json(2));
  EXPECT_FALSE(item("U").get_DEFERREAD());
  EXPECT_FALSE(email("U-2").get_READ());
  EXPECT_TRUE(email("U-1").get_STARRED());
}

TEST_F(TriageTest, ABatchChangesOnlyWhatItMustAndSendsOneArray) {
  storeItem("X", [](KSItem& item) { item.setDeferRead(true); });
  storeItem("Y", [](KSItem& item) { item.setState(ItemState::Archive); });
  perform([](Completion done) { KestrunDataWriter::completeItems({"X", "ghost", "Y"}, done); });

  EXPECT_EQ(item("X").get_STATE(), ItemState::Archive);
  EXPECT_EQ(undo_->step().itemIds, (std::vector<std::string>{"X"}));
  EXPECT_EQ(undo_->step().previousState, ItemState::Inbox);
  const auto updates = callsOf(objects_->calls(), "updateItem");
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].args[0]["_id"], Json("X"));
  EXPECT_EQ(updates[0].args[2], Json(false));  // queued, not written
  EXPECT_EQ(offline_->calls(),
            (std::vector<Call>{{"sendRequestsForIds", Json::array{Json(Json::array{Json("X")})}}}));
}

TEST_F(TriageTest, ABatchCollectsTheSideEffectsToo) {
  prefs_->setStateChangeWillReadItem(true);
  storeItem("Z");  // DEFERREAD false
  storeEmail("Z-1", "Z", [](KSEmail& email) { email.set_READ(false); });
  perform([](Completion done) { KestrunDataWriter::deleteItems({"Z"}, done); });
  // The e-mail's read update, the item's defer-read update and its state update, in order.
  EXPECT_EQ(offline_->calls(),
            (std::vector<Call>{
                {"sendRequestsForIds", Json::array{Json(Json::array{Json("Z-1"), Json("Z"), Json("Z")})}}}));
  for (const auto& call : objects_->calls()) EXPECT_EQ(call.args.array_items().back(), Json(false));
}

TEST_F(TriageTest, ArchivingAnArchivedItemSendsNothingAndEmptiesTheUndoStep) {
  storeItem("A1");
  storeItem("A2", [](KSItem& item) { item.setState(ItemState::Archive); });
  perform([](Completion done) { KestrunDataWriter::completeItem("A1", done); });
  ASSERT_TRUE(undo_->hasActionToUndo());
  objects_->clear();

  perform([](Completion done) { KestrunDataWriter::completeItem("A2", done); });
  EXPECT_FALSE(undo_->hasActionToUndo());
  EXPECT_EQ(undo_->step(), libkestrun::UndoManager::Step());
  EXPECT_TRUE(objects_->calls().empty());
  EXPECT_TRUE(offline_->calls().empty());

  // An unknown id also leaves the step empty and completes.
  perform([](Completion done) { KestrunDataWriter::spamifyItem("ghost", done); });
  EXPECT_TRUE(objects_->calls().empty());
}

TEST_F(TriageTest, CountsFollowTheStateBeforeTheChange) {
  counts_->setActiveCount("A", 10, true);
  counts_->setCompletedCount("A", 20, true);
  counts_->setDeletedCount("A", 30, true);
  storeItem("C");
  perform([](Completion done) { KestrunDataWriter::completeItem("C", done); });
  EXPECT_EQ(counts_->totalActiveCount(), 9);
  EXPECT_EQ(counts_->totalCompletedCount(), 21);
  perform([](Completion done) { KestrunDataWriter::deleteItem("C", done); });
  EXPECT_EQ(counts_->totalCompletedCount(), 20);
  EXPECT_EQ(counts_->totalDeletedCount(), 31);
  perform([](Completion done) { KestrunDataWriter::spamifyItem("C", done); });
  EXPECT_EQ(counts_->totalDeletedCount(), 30);
  perform([](Completion done) { KestrunDataWriter::activateItem("C", done); });
  EXPECT_EQ(counts_->totalActiveCount(), 10);
  EXPECT_EQ(item("C").get_STATE(), ItemState::Inbox);
}

TEST_F(TriageTest, ASearchOnlyItemBecomesAStoredOneWhenTriaged) {
  storeItem("Q", [](KSItem& item) { item.setMasterRev(KSItem::kSearchOnlyMasterRev); });
  perform([](Completion done) { KestrunDataWriter::completeItem("Q", done); });
  EXPECT_EQ(item("Q").get_MASTERREV(), 200);
}

// A client whose item updates fail, as a failure of the store or of encoding inside a task would.
class FailingObjectClient : public kestrun_test::FakeKestrunObjectServerClient {
 public:
  void updateItem(json_t*, json_t*, bool) override { throw std::runtime_error("update failed"); }
};

TEST_F(TriageTest, AFailedTaskReleasesTheUndoLockAndLeavesTheStore) {
  storeItem("F");
  libkestrun::internal::kestrun_object_server_client_set_instance(std::make_shared<FailingObjectClient>());
  perform([](Completion done) { KestrunDataWriter::completeItem("F", done); });
  // The question takes the undo mutex on this thread; it would wait for ever had the failed task
  // kept it.
  undo_->alertMessageForCurrentState();
  EXPECT_EQ(item("F").get_STATE(), ItemState::Inbox);
}

// --- Erasing for good ---

class EraseTest : public TriageTest {
 protected:
  EraseTest() {
    users_->device_id = "DEV";
    libkestrun::user_manager_set_instance(users_);
  }
  ~EraseTest() override { libkestrun::user_manager_set_instance(nullptr); }

  void storeDraft(const std::string& draftID, const std::string& itemID) {
    inStore([&](DBContext& context) {
      libkestrun::internal::Draft draft;
      draft.set_draft_id(draftID);
      draft.set_user_id("U");
      draft.set_item_id(itemID);
      draft.set_modified_at(100);
      draft.set_version(libkestrun::internal::VectorClock({{"D", 1}}));
      draft.set_from(libkestrun::internal::EmailName("Me", "me@home.example"));
      context.insertDraft(draft);
      context.updateItemForDraft(draft);
    });
  }
  std::optional<libkestrun::internal::Draft> storedDraft(const std::string& draftID) {
    std::optional<libkestrun::internal::Draft> stored;
    inStore([&](DBContext& context) { stored = context.fetchDraft(draftID); });
    return stored;
  }
  bool draftStored(const std::string& draftID) { return storedDraft(draftID).has_value(); }

  std::shared_ptr<kestrun_test::FakeUserManager> users_ = std::make_shared<kestrun_test::FakeUserManager>();
};

TEST_F(EraseTest, OnlyTrashAndSpamAreErased) {
  counts_->setDeletedCount("A", 5, true);
  storeItem("IN");
  perform([](Completion done) { KestrunDataWriter::fullDeleteItem("IN", done); });
  EXPECT_EQ(item("IN").get_STATE(), ItemState::Inbox);
  EXPECT_TRUE(objects_->calls().empty());

  storeItem("SP", [](KSItem& item) { item.setState(ItemState::Spam); });
  storeDraft("D1", "SP");
  storeDraft("D2", "SP");
  ASSERT_EQ(item("SP").get_DRAFTIDS().size(), 2u);
  perform([](Completion done) { KestrunDataWriter::fullDeleteItem("SP", done); });
  EXPECT_EQ(item("SP").get_STATE(), ItemState::Deleted);
  EXPECT_TRUE(item("SP").get_DRAFTIDS().empty());
  EXPECT_FALSE(draftStored("D1"));
  EXPECT_FALSE(draftStored("D2"));
  std::vector<std::string> removed;
  for (const auto& call : server_->calls()) {
    EXPECT_EQ(call.method, "send_command");
    EXPECT_EQ(call.args[0], Json("USER_ITEM_REMOVE"));
    removed.push_back(call.args[1]["_id"].string_value());
  }
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(removed, (std::vector<std::string>{"D1", "D2"}));
  EXPECT_EQ(counts_->totalDeletedCount(), 5);  // spam has no count
  EXPECT_FALSE(undo_->hasActionToUndo());

  storeItem("TR", [](KSItem& item) { item.setState(ItemState::Trash); });
  perform([](Completion done) { KestrunDataWriter::fullDeleteItem("TR", done); });
  EXPECT_EQ(item("TR").get_STATE(), ItemState::Deleted);
  EXPECT_EQ(counts_->totalDeletedCount(), 4);
  const auto update = callsOf(objects_->calls(), "updateItem").back();
  EXPECT_EQ(update.args[0]["state"], Json(6));
  EXPECT_EQ(update.args[2], Json(true));
}

TEST_F(EraseTest, AnErasedDraftIsRemovedWithANewerVersionThanItsLastSave) {
  storeItem("TR", [](KSItem& item) { item.setState(ItemState::Trash); });
  storeDraft("D1", "TR");
  const std::optional<libkestrun::internal::Draft> stored = storedDraft("D1");
  ASSERT_TRUE(stored);
  perform([](Completion done) { KestrunDataWriter::fullDeleteItem("TR", done); });

  ASSERT_EQ(server_->commands().size(), 1u);
  const libkestrun::ServerCommand& removal = *server_->commands()[0];
  EXPECT_EQ(removal.method(), "USER_ITEM_REMOVE");
  EXPECT_EQ(removal.params()["version"], parse(R"({"D":1,"DEV":1})"));
  // The save of the draft as stored, still waiting to go out, is replaced by the removal.
  EXPECT_TRUE(removal.supersedes("USER_ITEM_SAVE", libkestrun::UserItemSave(*stored).params()));
  EXPECT_FALSE(draftStored("D1"));
}

TEST_F(EraseTest, EmptyingTheTrashPurgesEveryAccountWithInboxItems) {
  accounts_->primary_account_ids = {"A", "B", "C"};
  storeItem("A-old", [](KSItem& item) { item.setModifiedAt(500); });
  storeItem("A-new", [](KSItem& item) { item.setModifiedAt(900); });
  storeItem("B-zero", [](KSItem& item) {
    item.setAccountID("B");
    item.setModifiedAt(0);
  });
  storeItem("C-trash", [](KSItem& item) {
    item.setAccountID("C");
    item.setState(ItemState::Trash);
    item.setModifiedAt(700);
  });
  perform([](Completion done) { KestrunDataWriter::fullDeleteAllTrash({}, done); });
  EXPECT_EQ(objects_->calls(), (std::vector<Call>{{"purgeAllTrash", Json::array{Json("A"), Json(500)}}}));
  EXPECT_EQ(item("C-trash").get_STATE(), ItemState::Trash);
  EXPECT_TRUE(offline_->calls().empty());

  objects_->clear();
  perform([](Completion done) { KestrunDataWriter::fullDeleteAllTrash({"C-trash"}, done); });
  EXPECT_EQ(item("C-trash").get_STATE(), ItemState::Deleted);
  EXPECT_EQ(offline_->calls(),
            (std::vector<Call>{{"sendRequestsForIds", Json::array{Json(Json::array{Json("C-trash")})}}}));
  EXPECT_EQ(callsOf(objects_->calls(), "purgeAllTrash").size(), 1u);
}

// --- Re-ordering ---

TEST_F(TriageTest, MovingBetweenItemsTakesTheMiddleTime) {
  constexpr int64_t kNow = -1;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
  constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
  struct Case {
    int64_t after;     // 0: no after item
    int64_t before;    // 0: no before item
    int64_t expected;  // kNow: the current time
  };
  const Case cases[] = {
      {2000, 1000, 1500},
      {1001, 1000, 1000},
      {5000, 0, 4990},
      {0, 1000, kNow},
      // Times of server documents at the ends of the range.
      {kMax, -2, kMax / 2 - 1},
      {kMin + 5, 0, kMin},
  };
  counts_->setActiveCount("A", 10, true);
  int n = 0;
  for (const Case& c : cases) {
    const std::string id = "M" + std::to_string(n++);
    storeItem(id, [](KSItem& item) { item.setModifiedAt(3); });
    if (c.after != 0) storeItem(id + "-after", [&](KSItem& item) { item.setModifiedAt(c.after); });
    if (c.before != 0) storeItem(id + "-before", [&](KSItem& item) { item.setModifiedAt(c.before); });
    objects_->clear();
    const int64_t start = libkestrun::Utility::now_ms();
    perform([&](Completion done) {
      KestrunDataWriter::moveItemBetweenItems(id, id + "-after", id + "-before", done);
    });
    const int64_t end = libkestrun::Utility::now_ms();
    const int64_t modifiedAt = item(id).get_MODIFIEDAT();
    if (c.expected != kNow) {
      EXPECT_EQ(modifiedAt, c.expected) << id;
    } else {
      EXPECT_GE(modifiedAt, start);
      EXPECT_LE(modifiedAt, end);
    }
    const auto calls = objects_->calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].args[0]["modified_at"], Json(static_cast<long long>(modifiedAt)));
    EXPECT_TRUE(calls[0].args[1].is_null());
  }
  EXPECT_EQ(undo_->step(), libkestrun::UndoManager::Step());
  EXPECT_EQ(counts_->totalActiveCount(), 10);

  storeItem("ARCH", [](KSItem& item) {
    item.setState(ItemState::Archive);
    item.setModifiedAt(3);
  });
  objects_->clear();
  perform([](Completion done) {
    KestrunDataWriter::moveItemBetweenItems("ARCH", "M0-after", "M0-before", done);
  });
  EXPECT_EQ(item("ARCH").get_MODIFIEDAT(), 3);
  EXPECT_TRUE(objects_->calls().empty());
}

}  // namespace
