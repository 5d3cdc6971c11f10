// The section of the deferred list an item falls in, and the texts shown for a deferred item.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/foundation/utility.h"
#include "core/model/ks_item.h"
#include "core/model/memory_context.h"
#include "localization/localization.h"
#include "model_fixtures.h"
#include "snooze_fixture.h"
#include "support/pinned_zone.h"

namespace {

using kestrun_test::PinnedZone;
using kestrun_test::Wall;
using kestrun_test::wall_ms;
using libkestrun::DeferralBucket;
using libkestrun::DeferralType;
using libkestrun::ItemState;
using libkestrun::SnoozeType;

constexpr int64_t kDayMs = 86400000;

class DeferralTest : public ::testing::Test {
 protected:
  ~DeferralTest() override { libkestrun::query_updater_set_instance(nullptr); }

  std::shared_ptr<KSItem> item(DeferralType deferral, SnoozeType snooze, int64_t remindAt) {
    auto item = std::static_pointer_cast<KSItem>(context_.createObject("KSITEM", "I1"));
    item->setItemID("I1");
    item->setDeferralType(deferral);
    item->setSnoozeType(snooze);
    item->setRemindAt(remindAt);
    return item;
  }

  kestrun_test::SnoozeFixture snooze_;
  kestrun_test::CachingContext context_;
};

// 2023-01-04 is a Wednesday; weekend days are Saturday and Sunday by default.
TEST_F(DeferralTest, BucketsFollowLocalCalendarDays) {
  const char* kUtc = "UTC";
  const char* kNewYork = "America/New_York";
  struct Case {
    const char* name;
    const char* zone;
    Wall now;
    Wall remind;       // year 0: the unset reminder
    int64_t shift_ms;  // added to the reminder
    int bucket;
  };
  const Wall wed = {2023, 1, 4, 12, 0, 0};
  const Case cases[] = {
      {"no reminder", kUtc, wed, {0, 0, 0, 0, 0, 0}, 0, 22},
      {"a second in the past", kUtc, wed, wed, -1000, 22},
      {"later the same day", kUtc, wed, {2023, 1, 4, 23, 59, 0}, 0, 2},
      {"the next day", kUtc, wed, {2023, 1, 5, 9, 0, 0}, 0, 3},
      {"the next day in the first minutes", kUtc, {2023, 1, 4, 23, 59, 0}, {2023, 1, 5, 0, 1, 0}, 0, 3},
      {"Friday", kUtc, wed, {2023, 1, 6, 9, 0, 0}, 0, 4},
      {"the weekend start day", kUtc, wed, {2023, 1, 7, 9, 0, 0}, 0, 5},
      {"the weekend end day", kUtc, wed, {2023, 1, 8, 9, 0, 0}, 0, 5},
      {"a lower weekday", kUtc, wed, {2023, 1, 9, 9, 0, 0}, 0, 6},
      {"7 days on a weekday", kUtc, wed, {2023, 1, 11, 9, 0, 0}, 0, 4},
      {"8 days", kUtc, wed, {2023, 1, 12, 9, 0, 0}, 0, 6},
      {"14 days", kUtc, wed, {2023, 1, 18, 9, 0, 0}, 0, 7},
      {"21 days", kUtc, wed, {2023, 1, 25, 9, 0, 0}, 0, 8},
      {"28 days into the next month", kUtc, wed, {2023, 2, 1, 9, 0, 0}, 0, 9},
      {"30 days in one month", kUtc, {2023, 1, 1, 12, 0, 0}, {2023, 1, 31, 9, 0, 0}, 0, 9},
      {"the next month", kUtc, wed, {2023, 2, 10, 9, 0, 0}, 0, 9},
      {"two months on", kUtc, wed, {2023, 3, 10, 9, 0, 0}, 0, 10},
      {"next month's first day", kUtc, {2023, 1, 31, 12, 0, 0}, {2023, 2, 1, 9, 0, 0}, 0, 3},
      {"Tuesday 31 January to Thursday", kUtc, {2023, 1, 31, 12, 0, 0}, {2023, 2, 2, 9, 0, 0}, 0, 4},
      {"31 December to 1 January", kUtc, {2022, 12, 31, 12, 0, 0}, {2023, 1, 1, 10, 0, 0}, 0, 3},
      {"28 February to 1 March", kUtc, {2023, 2, 28, 12, 0, 0}, {2023, 3, 1, 8, 0, 0}, 0, 3},
      {"20 December to 10 January", kUtc, {2022, 12, 20, 12, 0, 0}, {2023, 1, 10, 8, 0, 0}, 0, 8},
      {"ten months on", kUtc, wed, {2023, 11, 10, 9, 0, 0}, 0, 18},
      {"365 days", kUtc, wed, wed, 365 * kDayMs, 20},
      {"730 days", kUtc, wed, wed, 730 * kDayMs, 21},
      {"forty years", kUtc, wed, wed, 40 * 366 * kDayMs, 21},
      // Local days, not days of UTC: 20:00 and 23:00 in New York are the next day in UTC.
      {"the same local day", kNewYork, {2023, 1, 4, 18, 0, 0}, {2023, 1, 4, 23, 0, 0}, 0, 2},
      {"the next local day across the clock change",
       kNewYork,
       {2023, 3, 11, 23, 30, 0},
       {2023, 3, 12, 23, 50, 0},
       0,
       3},
      {"a day that is 23 hours long", kNewYork, {2023, 3, 12, 0, 30, 0}, {2023, 3, 13, 0, 10, 0}, 0, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PinnedZone zone(c.zone);
    const int64_t remind = c.remind.year == 0 ? 0 : wall_ms(c.remind) + c.shift_ms;
    EXPECT_EQ(snooze_.calculator->deferralBucketForRemindTime(remind, wall_ms(c.now)),
              DeferralBucket{c.bucket});
  }
}

TEST_F(DeferralTest, BucketWithoutANowIsSeenFromTheCurrentTime) {
  const int64_t now = libkestrun::Utility::now_ms();
  EXPECT_EQ(snooze_.calculator->deferralBucketForRemindTime(now - 60000, 0), DeferralBucket::NoReminder);
  EXPECT_EQ(snooze_.calculator->deferralBucketForRemindTime(now + 400 * kDayMs, 0), DeferralBucket::InAYear);
}

TEST_F(DeferralTest, ItemBucketByDeferralKind) {
  PinnedZone zone("UTC");
  const int64_t now = wall_ms({2023, 1, 4, 12, 0, 0});
  const int64_t tomorrow = wall_ms({2023, 1, 5, 9, 0, 0});
  struct Case {
    DeferralType deferral;
    SnoozeType snooze;
    int64_t remind;
    int bucket;
  };
  const Case cases[] = {
      {DeferralType::NotDeferred, SnoozeType::None, tomorrow, 22},
      {DeferralType::UntilTime, SnoozeType::None, tomorrow, 3},
      {DeferralType::UntilTime, SnoozeType::None, 0, 22},
      {DeferralType::BySnooze, SnoozeType::Desktop, tomorrow, 0},
      {DeferralType::BySnooze, SnoozeType::Mobile, tomorrow, 1},
      {DeferralType::BySnooze, SnoozeType::InAMonth, tomorrow, 3},
      {DeferralType{3}, SnoozeType::InAMonth, tomorrow, 22},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bucket);
    auto deferred = item(c.deferral, c.snooze, c.remind);
    deferred->setDeferralBucket(DeferralBucket::InAYear);
    deferred->updateDeferralBucket(now);
    EXPECT_EQ(deferred->deferralBucket(), DeferralBucket{c.bucket});
  }
}

TEST_F(DeferralTest, AnUnchangedBucketIsNotStored) {
  auto deferred = item(DeferralType::BySnooze, SnoozeType::Desktop, 0);
  deferred->setDeferralBucket(DeferralBucket::Desktop);
  libkestrun::ChangeSet changes;
  context_.commit(changes);
  deferred->updateDeferralBucket(0);
  EXPECT_EQ(deferred->changedColumnCount(), 0u);
}

TEST_F(DeferralTest, SectionTitles) {
  const std::pair<int, const char*> cases[] = {
      {0, "Desktop"},         {1, "Mobile"},
      {2, "Later Today"},     {3, "Tomorrow"},
      {4, "Later This Week"}, {5, "This Weekend"},
      {6, "Next Week"},       {9, "In One Month"},
      {14, "In Six Months"},  {19, "In Eleven Months"},
      {20, "In a Year"},      {21, "In Two or More Years"},
      {22, "Never"},          {30, "Never"},
      {-1, "Never"},
  };
  for (const auto& [bucket, title] : cases) {
    SCOPED_TRACE(bucket);
    EXPECT_EQ(KSItem::titleForDeferralSection(DeferralBucket{bucket}), title);
  }
}

TEST_F(DeferralTest, DeferralTexts) {
  PinnedZone zone("UTC");
  const int64_t nine = wall_ms({2023, 1, 5, 9, 0, 0});
  const int64_t evening = wall_ms({2023, 1, 4, 21, 30, 0});
  const std::string nineText = LOCALIZED_TIMESTAMP(HVX_DATE_STRING_TIME, nine);
  const std::string eveningText = LOCALIZED_TIMESTAMP(HVX_DATE_STRING_TIME, evening);
  ASSERT_EQ(nineText, "9:00 AM");
  struct Case {
    const char* name;
    ItemState state;
    SnoozeType snooze;
    int64_t remind;
    int bucket;
    std::string text;
  };
  const Case cases[] = {
      {"desktop", ItemState::Later, SnoozeType::Desktop, nine, 0, "Deferred to Desktop"},
      {"mobile", ItemState::Later, SnoozeType::Mobile, nine, 1, "Deferred to Mobile"},
      {"tomorrow", ItemState::Later, SnoozeType::Tomorrow, nine, 3, "Deferred until 9:00 AM tomorrow"},
      {"later today", ItemState::Later, SnoozeType::None, evening, 2, "Deferred until " + eveningText},
      {"no reminder", ItemState::Later, SnoozeType::None, 0, 22, "No reminder scheduled"},
      {"filed without a list", ItemState::List, SnoozeType::None, nine, 3, "Unknown"},
      {"in the inbox", ItemState::Inbox, SnoozeType::None, nine, 3, "No reminder scheduled"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto deferred = item(DeferralType::BySnooze, c.snooze, c.remind);
    deferred->setState(c.state);
    deferred->setDeferralBucket(DeferralBucket{c.bucket});
    EXPECT_EQ(deferred->deferralSubtext(), c.text);
  }
}

TEST_F(DeferralTest, DatesFarAheadCarryTheirYear) {
  // Seen from the real clock: a reminder this year is written without its year, one two years
  // on with it.
  const int64_t now = libkestrun::Utility::now_ms();
  auto deferred = item(DeferralType::UntilTime, SnoozeType::None, now);
  deferred->setDeferralBucket(DeferralBucket::InOneMonth);
  EXPECT_EQ(deferred->remindTimeText(), LOCALIZED_TIMESTAMP(HVX_DATE_STRING_MONTH_DAY, now));
  deferred->setRemindAt(now + 2 * 366 * kDayMs);
  EXPECT_EQ(deferred->remindTimeText(),
            LOCALIZED_TIMESTAMP(HVX_DATE_STRING_DATE_YEAR, now + 2 * 366 * kDayMs));
  EXPECT_EQ(deferred->deferralUntilText(), "Deferred until " + deferred->remindTimeText());
}

}  // namespace
