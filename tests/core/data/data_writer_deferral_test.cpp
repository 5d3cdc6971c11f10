#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/data/data_writer.h"
#include "core/foundation/utility.h"
#include "core/model/snooze_time_calculator.h"
#include "writer_fixture.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using kestrun_test::WriterTest;
using libkestrun::DeferralBucket;
using libkestrun::DeferralType;
using libkestrun::ItemState;
using libkestrun::SnoozeType;

constexpr int64_t kDay = 24LL * 60 * 60 * 1000;

TEST_F(WriterTest, ADesktopSnoozeKeepsTheRemindTime) {
  storeItem("I", [](KSItem& item) { item.setRemindAt(777); });
  perform(
      [](Completion done) { KestrunDataWriter::deferItemWithSnoozeType("I", SnoozeType::Desktop, done); });
  const auto row = item("I");
  EXPECT_EQ(row.get_STATE(), ItemState::Later);
  EXPECT_EQ(row.get_SNOOZETYPE(), SnoozeType::Desktop);
  EXPECT_EQ(row.get_DEFERRALTYPE(), DeferralType::BySnooze);
  EXPECT_EQ(row.get_REMINDAT(), 777);
  EXPECT_EQ(row.get_DEFERRALBUCKET(), DeferralBucket::Desktop);
  const auto calls = objects_->calls();
  ASSERT_FALSE(calls.empty());
  const Json& doc = calls.back().args[0];
  EXPECT_EQ(doc["state"], Json(1));
  EXPECT_EQ(doc["deferral_type"], Json(4));
  EXPECT_TRUE(doc["deferral_data"].is_object());
  EXPECT_TRUE(doc["modified_at"].is_number());
  EXPECT_TRUE(calls.back().args[1]["meta"].is_object());
  EXPECT_EQ(undo_->step().action, ItemState::Later);
  EXPECT_EQ(undo_->step().previousState, ItemState::Inbox);
}

TEST_F(WriterTest, AnExplicitTimeOrTheCalculatorsTime) {
  const int64_t until = libkestrun::Utility::now_ms() + 3 * kDay;
  storeItem("T");
  perform(
      [&](Completion done) { KestrunDataWriter::deferItemUntilDate("T", until, SnoozeType::None, done); });
  EXPECT_EQ(item("T").get_REMINDAT(), until);
  EXPECT_EQ(item("T").get_DEFERRALTYPE(), DeferralType::UntilTime);
  EXPECT_EQ(item("T").get_SNOOZETYPE(), SnoozeType::None);

  storeItem("Z");
  const int64_t start = libkestrun::Utility::now_ms();
  perform([](Completion done) { KestrunDataWriter::deferItemUntilDate("Z", 0, SnoozeType::InAMonth, done); });
  const int64_t end = libkestrun::Utility::now_ms();
  const int64_t remindAt = item("Z").get_REMINDAT();
  EXPECT_GE(remindAt, libkestrun::snoozeRemindTime(SnoozeType::InAMonth, start));
  EXPECT_LE(remindAt, libkestrun::snoozeRemindTime(SnoozeType::InAMonth, end));
  EXPECT_GT(remindAt, end);
  EXPECT_EQ(item("Z").get_DEFERRALTYPE(), DeferralType::BySnooze);
}

TEST_F(WriterTest, ABatchSharesOneRemindTimeAndSendsOneArray) {
  for (const char* id : {"B1", "B2", "B3"}) storeItem(id, [](KSItem& item) { item.setDeferRead(true); });
  perform([](Completion done) {
    KestrunDataWriter::deferItemsWithSnoozeType({"B1", "B2", "B3"}, SnoozeType::LaterToday, done);
  });
  const int64_t remindAt = item("B1").get_REMINDAT();
  EXPECT_GT(remindAt, 0);
  EXPECT_EQ(item("B2").get_REMINDAT(), remindAt);
  EXPECT_EQ(item("B3").get_REMINDAT(), remindAt);
  EXPECT_EQ(undo_->step().itemIds.size(), 3u);
  ASSERT_EQ(offline_->calls().size(), 1u);
  EXPECT_EQ(offline_->calls()[0].args[0].array_items().size(), 3u);
}

TEST_F(WriterTest, ReDeferringMovesNoCount) {
  counts_->setActiveCount("A", 10, true);
  storeItem("R");
  perform(
      [](Completion done) { KestrunDataWriter::deferItemWithSnoozeType("R", SnoozeType::Tomorrow, done); });
  EXPECT_EQ(counts_->totalActiveCount(), 9);
  const auto first = item("R");
  ASSERT_EQ(first.get_PREVIOUSSTATE(), ItemState::Inbox);

  objects_->clear();
  const int64_t later = libkestrun::Utility::now_ms() + 400 * kDay;
  perform(
      [&](Completion done) { KestrunDataWriter::deferItemUntilDate("R", later, SnoozeType::None, done); });
  const auto second = item("R");
  EXPECT_EQ(second.get_STATE(), ItemState::Later);
  EXPECT_EQ(second.get_REMINDAT(), later);
  EXPECT_NE(second.get_DEFERRALBUCKET(), first.get_DEFERRALBUCKET());
  EXPECT_EQ(undo_->step().itemIds, (std::vector<std::string>{"R"}));
  EXPECT_EQ(undo_->step().previousState, ItemState::Later);
  EXPECT_EQ(undo_->step().remindAt, first.get_REMINDAT());
  ASSERT_FALSE(objects_->calls().empty());
  EXPECT_EQ(objects_->calls().back().args[0]["deferral_type"], Json(2));
  EXPECT_EQ(counts_->totalActiveCount(), 9);  // the item was deferred before and after
}

TEST_F(WriterTest, TriggersReturnOnlyItemsDeferredToTheirDevice) {
  counts_->setActiveCount("A", 10, true);
  storeItem("D", [](KSItem& item) { item.setThreadRead(true); });
  perform(
      [](Completion done) { KestrunDataWriter::deferItemWithSnoozeType("D", SnoozeType::Desktop, done); });
  objects_->clear();

  perform(
      [](Completion done) { KestrunDataWriter::triggerDeviceDeferredItem("D", SnoozeType::Mobile, done); });
  EXPECT_EQ(item("D").get_STATE(), ItemState::Later);
  EXPECT_TRUE(objects_->calls().empty());

  undo_->lock();
  undo_->clear();
  undo_->unlock();
  perform(
      [](Completion done) { KestrunDataWriter::triggerDeviceDeferredItem("D", SnoozeType::Desktop, done); });
  const auto row = item("D");
  EXPECT_EQ(row.get_STATE(), ItemState::Inbox);
  EXPECT_FALSE(row.get_DEFERREAD());
  const auto calls = objects_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args[0]["state"], Json(2));
  EXPECT_EQ(calls[0].args[0]["defer_read"], Json(false));
  EXPECT_EQ(calls[0].args[1]["meta"]["engaged"], Json(false));  // although read
  EXPECT_EQ(calls[0].args[2], Json(true));
  EXPECT_EQ(counts_->totalActiveCount(), 10);
  EXPECT_FALSE(undo_->hasActionToUndo());
}

TEST_F(WriterTest, TriggeringEveryAccountSendsOneArray) {
  storeItem("A1");
  storeItem("B1", [](KSItem& item) { item.setAccountID("B"); });
  storeItem("M1");
  perform([](Completion done) {
    KestrunDataWriter::deferItemsWithSnoozeType({"A1", "B1"}, SnoozeType::Desktop, done);
  });
  perform(
      [](Completion done) { KestrunDataWriter::deferItemWithSnoozeType("M1", SnoozeType::Mobile, done); });
  objects_->clear();
  offline_->clear();

  perform([](Completion done) {
    KestrunDataWriter::triggerAllDeviceDeferredItems(SnoozeType::Desktop, "", done);
  });
  EXPECT_EQ(item("A1").get_STATE(), ItemState::Inbox);
  EXPECT_EQ(item("B1").get_STATE(), ItemState::Inbox);
  EXPECT_EQ(item("M1").get_STATE(), ItemState::Later);
  ASSERT_EQ(offline_->calls().size(), 1u);
  std::vector<std::string> sent;
  for (const auto& id : offline_->calls()[0].args[0].array_items()) sent.push_back(id.string_value());
  std::sort(sent.begin(), sent.end());
  EXPECT_EQ(sent, (std::vector<std::string>{"A1", "B1"}));
  for (const auto& call : objects_->calls()) EXPECT_EQ(call.args[2], Json(false));

  offline_->clear();
  perform([](Completion done) {
    KestrunDataWriter::triggerAllDeviceDeferredItems(SnoozeType::Desktop, "A", done);
  });
  EXPECT_TRUE(offline_->calls().empty());  // nothing left to trigger
}

TEST_F(WriterTest, DeferReadIsSentOnce) {
  storeItem("F");
  perform([](Completion done) { KestrunDataWriter::deferReadItem("F", done); });
  perform([](Completion done) { KestrunDataWriter::deferReadItem("F", done); });
  EXPECT_TRUE(item("F").get_DEFERREAD());
  const auto calls = objects_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].args[0]["defer_read"], Json(true));
  EXPECT_TRUE(calls[0].args[1].is_null());
  EXPECT_FALSE(undo_->hasActionToUndo());
}

}  // namespace
