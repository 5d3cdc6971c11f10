// Undo with the real data writer: triage steps recorded by the writer's tasks on a keyed
// temporary database, the question they lead to, and the opposite step run back through the
// writer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/data/data_writer.h"
#include "core/data/writer_fixture.h"
#include "core/foundation/utility.h"
#include "core/services/undo_manager.h"
#include "localization/localization.h"

namespace {

using libkestrun::ItemState;
using libkestrun::SnoozeType;

class UndoWithWriterTest : public kestrun_test::WriterTest {
 protected:
  UndoWithWriterTest() { Localization::instance().set_current_locale("en"); }
  ~UndoWithWriterTest() override { Localization::instance().set_current_locale(""); }

  // Undoes the last step and waits until the opposite step has run: a synchronous task queued
  // after it at the same priority runs after it.
  void undo() {
    undo_->performUndoAction();
    inStore([](DBContext&) {});
  }
};

TEST_F(UndoWithWriterTest, NothingRecordedAsksNothing) {
  EXPECT_EQ(undo_->alertMessageForCurrentState(), "");
  storeItem("I");
  undo();
  EXPECT_EQ(item("I").get_STATE(), ItemState::Inbox);
  EXPECT_TRUE(objects_->calls().empty());
}

TEST_F(UndoWithWriterTest, ArchivingOneInboxItemIsUndoneToTheInbox) {
  storeItem("I");
  perform([](Completion done) { KestrunDataWriter::completeItem("I", done); });
  EXPECT_EQ(undo_->alertMessageForCurrentState(),
            "Are you sure you want to undo that, and move 1 item from Archive back to Inbox?");
  undo();
  EXPECT_EQ(item("I").get_STATE(), ItemState::Inbox);
  // The opposite step is a triage step of its own.
  EXPECT_EQ(undo_->alertMessageForCurrentState(),
            "Are you sure you want to undo that, and move 1 item from Inbox back to Archive?");
}

TEST_F(UndoWithWriterTest, ThreeItemsTrashedFromTheArchiveGoBackTogether) {
  for (const char* id : {"A1", "A2", "A3"})
    storeItem(id, [](KSItem& item) { item.setState(ItemState::Archive); });
  perform([](Completion done) { KestrunDataWriter::deleteItems({"A1", "A2", "A3"}, done); });
  EXPECT_EQ(undo_->alertMessageForCurrentState(),
            "Are you sure you want to undo that, and move 3 items from Trash back to Archive?");
  offline_->clear();
  undo();
  for (const char* id : {"A1", "A2", "A3"}) EXPECT_EQ(item(id).get_STATE(), ItemState::Archive) << id;
  ASSERT_EQ(offline_->calls().size(), 1u);  // one batch
}

TEST_F(UndoWithWriterTest, DeferralsAndSpamAreRestored) {
  const int64_t until = libkestrun::Utility::now_ms() + 5LL * 24 * 60 * 60 * 1000;
  storeItem("T");
  perform(
      [&](Completion done) { KestrunDataWriter::deferItemUntilDate("T", until, SnoozeType::None, done); });
  perform([](Completion done) { KestrunDataWriter::completeItem("T", done); });
  undo();
  EXPECT_EQ(item("T").get_STATE(), ItemState::Later);
  EXPECT_EQ(item("T").get_REMINDAT(), until);

  storeItem("D");
  perform(
      [](Completion done) { KestrunDataWriter::deferItemWithSnoozeType("D", SnoozeType::Desktop, done); });
  perform([](Completion done) { KestrunDataWriter::activateItem("D", done); });
  undo();
  EXPECT_EQ(item("D").get_STATE(), ItemState::Later);
  EXPECT_EQ(item("D").get_SNOOZETYPE(), SnoozeType::Desktop);

  storeItem("S", [](KSItem& item) { item.setState(ItemState::Spam); });
  perform([](Completion done) { KestrunDataWriter::deleteItem("S", done); });
  undo();
  EXPECT_EQ(item("S").get_STATE(), ItemState::Spam);
}

}  // namespace
