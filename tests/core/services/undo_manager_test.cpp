// The undo record as the data writer fills it, the question in English and in a translation, the
// lock the writer holds, and the notification of an undo.
#include "core/services/undo_manager.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>

#include "core/model/ks_item.h"
#include "core/model/memory_context.h"
#include "localization/localization.h"
#include "services_fixtures.h"

namespace {

using kestrun_test::Posted;
using libkestrun::ItemState;
using libkestrun::SnoozeType;
using libkestrun::UndoManager;

class UndoManagerTest : public ::testing::Test {
 protected:
  UndoManagerTest() { Localization::instance().set_current_locale("en"); }
  ~UndoManagerTest() override { Localization::instance().set_current_locale(""); }

  std::shared_ptr<KSItem> item(const std::string& id, ItemState state, const std::string& listID = "",
                               int64_t remindAt = 0, SnoozeType snooze = SnoozeType::None) {
    libkestrun::internal::Item row;
    row.set_ITEMID(id);
    row.set_STATE(state);
    row.set_MLISTID(listID);
    row.set_REMINDAT(remindAt);
    row.set_SNOOZETYPE(snooze);
    return std::make_shared<KSItem>(&context_, row);
  }

  // One triage step as the data writer records it.
  void triage(std::initializer_list<std::shared_ptr<KSItem>> items, ItemState action) {
    undo_.lock();
    undo_.clear();
    for (const auto& i : items) undo_.recordAction(i, action);
    undo_.unlock();
  }

  MemoryContext context_;
  kestrun_test::PostRecorder posts_;
  kestrun_test::RecordingUndoManager undo_{posts_.center()};
};

TEST_F(UndoManagerTest, NothingRecordedNothingToUndo) {
  EXPECT_FALSE(undo_.hasActionToUndo());
  EXPECT_EQ(undo_.alertMessageForCurrentState(), "");
  undo_.performUndoAction();
  EXPECT_EQ(posts_.take(), std::vector<Posted>{});
  EXPECT_TRUE(undo_.started.empty());

  // Ids without an action are not a step either.
  triage({item("I1", ItemState::Inbox)}, ItemState::None);
  EXPECT_FALSE(undo_.hasActionToUndo());
  EXPECT_EQ(undo_.alertMessageForCurrentState(), "");
}

TEST_F(UndoManagerTest, TheQuestionNamesTheCountAndBothFolders) {
  triage({item("I1", ItemState::Inbox)}, ItemState::Archive);
  EXPECT_EQ(undo_.alertMessageForCurrentState(),
            "Are you sure you want to undo that, and move 1 item from Archive back to Inbox?");
  triage({item("I1", ItemState::Archive), item("I2", ItemState::Archive), item("I3", ItemState::Archive)},
         ItemState::Trash);
  EXPECT_EQ(undo_.alertMessageForCurrentState(),
            "Are you sure you want to undo that, and move 3 items from Trash back to Archive?");
  triage({item("I1", ItemState::Deleted)}, ItemState::Spam);
  EXPECT_EQ(undo_.alertMessageForCurrentState(),
            "Are you sure you want to undo that, and move 1 item from Spam back to Unknown?");

  // A translation reorders nothing here but names its arguments by position.
  Localization::instance().set_current_locale("de");
  EXPECT_EQ(undo_.alertMessageForCurrentState(),
            "Möchten Sie diesen Vorgang wirklich rückgängig machen und 1 Element aus Spam zurück in Unknown "
            "verschieben?");
  triage({item("I1", ItemState::Inbox), item("I2", ItemState::Inbox)}, ItemState::Archive);
  EXPECT_EQ(
      undo_.alertMessageForCurrentState(),
      "Möchten Sie diesen Vorgang wirklich rückgängig machen und 2 Elemente aus Archiv zurück in Posteingang "
      "verschieben?");
}

TEST_F(UndoManagerTest, FolderNames) {
  const std::pair<ItemState, const char*> cases[] = {
      {ItemState::Later, "Later"},     {ItemState::Inbox, "Inbox"}, {ItemState::Archive, "Archive"},
      {ItemState::Trash, "Trash"},     {ItemState::List, "Lists"},  {ItemState::Spam, "Spam"},
      {ItemState::Deleted, "Unknown"}, {ItemState::None, "Unknown"}};
  for (auto [state, name] : cases) EXPECT_EQ(undo_.folderName(state), name) << static_cast<int>(state);
}

TEST_F(UndoManagerTest, TheRecordDescribesTheLastItemAndAClearForgetsIt) {
  triage({item("I1", ItemState::List, "list_Work"),
          item("I2", ItemState::Later, "", 5000, SnoozeType::Tomorrow)},
         ItemState::List);
  UndoManager::Step expected;
  expected.itemIds = {"I1", "I2"};
  expected.previousState = ItemState::Later;
  expected.action = ItemState::List;
  expected.listId = "list_Work";  // kept from the last item that had one
  expected.remindAt = 5000;
  expected.snoozeType = SnoozeType::Tomorrow;
  EXPECT_EQ(undo_.step(), expected);

  triage({}, ItemState::Archive);
  EXPECT_EQ(undo_.step(), UndoManager::Step());
}

TEST_F(UndoManagerTest, AnUndoPostsItsNotificationAndLeavesTheRecord) {
  triage({item("I1", ItemState::Inbox)}, ItemState::Archive);
  undo_.performUndoAction();
  EXPECT_EQ(posts_.take(), (std::vector<Posted>{{"com.kestrun.undo.was.committed", nullptr}}));
  EXPECT_TRUE(undo_.hasActionToUndo());
  ASSERT_EQ(undo_.started.size(), 1u);
  EXPECT_EQ(undo_.started[0], undo_.step());
}

TEST_F(UndoManagerTest, ReadersWaitWhileTheWriterHoldsTheLock) {
  undo_.lock();
  undo_.clear();
  undo_.recordAction(item("I1", ItemState::Inbox), ItemState::Archive);
  std::future<std::string> question =
      std::async(std::launch::async, [&] { return undo_.alertMessageForCurrentState(); });
  undo_.recordAction(item("I2", ItemState::Inbox), ItemState::Archive);
  undo_.unlock();
  // Whenever the reader ran, it saw the whole step: the lock keeps it from seeing one item.
  EXPECT_EQ(question.get(),
            "Are you sure you want to undo that, and move 2 items from Archive back to Inbox?");
}

}  // namespace
