#include "core/model/snooze_time_calculator.h"

#include <gtest/gtest.h>

#include <string>

#include "snooze_fixture.h"
#include "support/pinned_zone.h"

namespace {

using kestrun_test::PinnedZone;
using kestrun_test::Wall;
using kestrun_test::wall_ms;
using kestrun_test::wall_seconds;
using libkestrun::SnoozeTimeCalculator;
using libkestrun::SnoozeType;

constexpr char kUtc[] = "UTC";
constexpr char kNewYork[] = "America/New_York";

class SnoozeTimeCalculatorTest : public ::testing::Test {
 protected:
  kestrun_test::SnoozeFixture snooze_;
  SnoozeTimeCalculator& calculator() { return *snooze_.calculator; }
};

// 2023-01-02 is a Monday, 2023-01-04 a Wednesday, 2023-01-07 a Saturday.
TEST_F(SnoozeTimeCalculatorTest, RemindTimesFollowTheDefaultWorkingHours) {
  struct Case {
    const char* name;
    const char* zone;
    SnoozeType type;
    Wall now;
    Wall expected;
  };
  const Case cases[] = {
      {"later today adds the hours",
       kUtc,
       SnoozeType::LaterToday,
       {2023, 1, 4, 23, 0, 0},
       {2023, 1, 5, 2, 0, 0}},
      {"this evening in the end minute",
       kUtc,
       SnoozeType::ThisEvening,
       {2023, 1, 4, 18, 0, 30},
       {2023, 1, 4, 18, 0, 30}},
      {"this evening after the end",
       kUtc,
       SnoozeType::ThisEvening,
       {2023, 1, 4, 18, 1, 15},
       {2023, 1, 5, 18, 0, 15}},
      {"tomorrow before 03:00 is today",
       kUtc,
       SnoozeType::Tomorrow,
       {2023, 1, 4, 2, 30, 0},
       {2023, 1, 4, 8, 0, 0}},
      {"tomorrow before 03:00 on a weekend day",
       kUtc,
       SnoozeType::Tomorrow,
       {2023, 1, 7, 2, 30, 0},
       {2023, 1, 7, 10, 0, 0}},
      {"tomorrow from 03:00", kUtc, SnoozeType::Tomorrow, {2023, 1, 4, 3, 0, 0}, {2023, 1, 5, 8, 0, 0}},
      {"tomorrow is a Saturday", kUtc, SnoozeType::Tomorrow, {2023, 1, 6, 12, 0, 0}, {2023, 1, 7, 10, 0, 0}},
      {"this weekend on a Wednesday",
       kUtc,
       SnoozeType::ThisWeekend,
       {2023, 1, 4, 12, 0, 0},
       {2023, 1, 7, 10, 0, 0}},
      {"this weekend on a Saturday",
       kUtc,
       SnoozeType::ThisWeekend,
       {2023, 1, 7, 12, 0, 0},
       {2023, 1, 14, 10, 0, 0}},
      {"this weekend on a Sunday",
       kUtc,
       SnoozeType::ThisWeekend,
       {2023, 1, 8, 12, 0, 0},
       {2023, 1, 14, 10, 0, 0}},
      {"next week on a Monday", kUtc, SnoozeType::NextWeek, {2023, 1, 2, 12, 0, 0}, {2023, 1, 9, 8, 0, 0}},
      {"next week on a Wednesday", kUtc, SnoozeType::NextWeek, {2023, 1, 4, 12, 0, 0}, {2023, 1, 9, 8, 0, 0}},
      {"a month from 31 January", kUtc, SnoozeType::InAMonth, {2023, 1, 31, 12, 0, 0}, {2023, 3, 3, 8, 0, 0}},
      {"a month asked on a Saturday",
       kUtc,
       SnoozeType::InAMonth,
       {2023, 1, 7, 12, 0, 0},
       {2023, 2, 7, 10, 0, 0}},
      {"a month from December", kUtc, SnoozeType::InAMonth, {2023, 12, 6, 12, 0, 0}, {2024, 1, 6, 8, 0, 0}},
      {"someday", kUtc, SnoozeType::Someday, {2023, 1, 4, 12, 0, 0}, {2023, 4, 4, 8, 0, 0}},
      // The wall-clock time holds across the change to daylight-saving time (12 March 2023).
      {"a month across the clock change",
       kNewYork,
       SnoozeType::InAMonth,
       {2023, 3, 1, 12, 0, 0},
       {2023, 4, 1, 8, 0, 0}},
      {"next week across the clock change",
       kNewYork,
       SnoozeType::NextWeek,
       {2023, 3, 8, 12, 0, 0},
       {2023, 3, 13, 8, 0, 0}},
      {"this evening on the day of the change",
       kNewYork,
       SnoozeType::ThisEvening,
       {2023, 3, 12, 1, 30, 0},
       {2023, 3, 12, 18, 0, 0}},
      // Near midnight a day of 23 or 25 hours must not skip or repeat a calendar day.
      {"tomorrow late on the eve of the spring change",
       kNewYork,
       SnoozeType::Tomorrow,
       {2023, 3, 11, 23, 30, 0},
       {2023, 3, 12, 10, 0, 0}},
      {"this weekend late on the Saturday before the change",
       kNewYork,
       SnoozeType::ThisWeekend,
       {2023, 3, 11, 23, 30, 0},
       {2023, 3, 18, 10, 0, 0}},
      {"this evening late on the eve of the spring change",
       kNewYork,
       SnoozeType::ThisEvening,
       {2023, 3, 11, 23, 30, 0},
       {2023, 3, 12, 18, 0, 0}},
      {"next week early on the day of the autumn change",
       kNewYork,
       SnoozeType::NextWeek,
       {2023, 11, 5, 0, 30, 0},
       {2023, 11, 6, 8, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PinnedZone zone(c.zone);
    EXPECT_EQ(calculator().remindTimeSecondsForSnoozeType(c.type, wall_ms(c.now) + 999),
              wall_seconds(c.expected));
    EXPECT_EQ(calculator().remindTimeForSnoozeType(c.type, wall_ms(c.now)), wall_ms(c.expected));
  }
}

TEST_F(SnoozeTimeCalculatorTest, ChoicesWithoutATimeGiveZero) {
  PinnedZone zone(kUtc);
  for (int type : {0, 1, 9, 10, 11, 12, 13}) {
    SCOPED_TRACE(type);
    EXPECT_EQ(calculator().remindTimeForSnoozeType(SnoozeType{type}, wall_ms({2023, 1, 4, 12, 0, 0})), 0);
  }
}

TEST_F(SnoozeTimeCalculatorTest, PreferencesAreReadOnEveryCall) {
  PinnedZone zone(kUtc);
  const int64_t now = wall_ms({2023, 1, 4, 12, 0, 0});
  snooze_.prefs->setHoursForLaterToday(5);
  EXPECT_EQ(calculator().remindTimeForSnoozeType(SnoozeType::LaterToday, now),
            wall_ms({2023, 1, 4, 17, 0, 0}));
  std::tm start = {};
  start.tm_hour = 7;
  start.tm_min = 45;
  snooze_.prefs->setWeekdayStart(start);
  EXPECT_EQ(calculator().remindTimeForSnoozeType(SnoozeType::Tomorrow, now), wall_ms({2023, 1, 5, 7, 45, 0}));
  // A weekend from Friday to Saturday: the work week starts on Sunday.
  snooze_.prefs->setWeekendStartDay(5);
  snooze_.prefs->setWorkWeekStartDay(0);
  EXPECT_EQ(calculator().remindTimeForSnoozeType(SnoozeType::ThisWeekend, now),
            wall_ms({2023, 1, 6, 10, 0, 0}));
  EXPECT_EQ(calculator().remindTimeForSnoozeType(SnoozeType::NextWeek, now), wall_ms({2023, 1, 8, 7, 45, 0}));
}

TEST_F(SnoozeTimeCalculatorTest, Labels) {
  PinnedZone zone(kUtc);
  struct Case {
    SnoozeType type;
    Wall now;
    const char* label;
  };
  const Case cases[] = {
      {SnoozeType::LaterToday, {2023, 1, 4, 12, 0, 0}, "Later Today"},
      {SnoozeType::ThisEvening, {2023, 1, 4, 18, 0, 59}, "This Evening"},
      {SnoozeType::ThisEvening, {2023, 1, 4, 18, 1, 0}, "Tomorrow Eve"},
      {SnoozeType::Tomorrow, {2023, 1, 4, 12, 0, 0}, "Tomorrow"},
      {SnoozeType::ThisWeekend, {2023, 1, 4, 12, 0, 0}, "This Weekend"},
      {SnoozeType::ThisWeekend, {2023, 1, 7, 12, 0, 0}, "Next Weekend"},
      {SnoozeType::ThisWeekend, {2023, 1, 8, 12, 0, 0}, "This Weekend"},
      {SnoozeType::NextWeek, {2023, 1, 4, 12, 0, 0}, "Next Week"},
      {SnoozeType::InAMonth, {2023, 1, 4, 12, 0, 0}, "In a Month"},
      {SnoozeType::Someday, {2023, 1, 4, 12, 0, 0}, "Someday"},
      {SnoozeType::Desktop, {2023, 1, 4, 12, 0, 0}, "Desktop"},
      {SnoozeType::Mobile, {2023, 1, 4, 12, 0, 0}, "Mobile"},
      {SnoozeType::None, {2023, 1, 4, 12, 0, 0}, "None"},
      {SnoozeType{9}, {2023, 1, 4, 12, 0, 0}, "None"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(calculator().nameForSnoozeType(c.type, wall_ms(c.now)), c.label);
  }
  // A weekend that starts and ends on one day is always "this" weekend.
  snooze_.prefs->setWeekendStartDay(6);
  snooze_.prefs->setWorkWeekStartDay(6);
  EXPECT_EQ(calculator().nameForSnoozeType(SnoozeType::ThisWeekend, wall_ms({2023, 1, 7, 12, 0, 0})),
            "This Weekend");
}

TEST_F(SnoozeTimeCalculatorTest, WorkWeekStartAndDeviceRules) {
  EXPECT_TRUE(SnoozeTimeCalculator::isValidWorkWeekStart(1, 6));
  EXPECT_FALSE(SnoozeTimeCalculator::isValidWorkWeekStart(6, 6));
  EXPECT_FALSE(libkestrun::isValidWorkWeekStart(0, 0));
  for (int device = -1; device <= 7; ++device) {
    SCOPED_TRACE(device);
    EXPECT_EQ(SnoozeTimeCalculator::snoozeTypeForDevice(device),
              device == 5 ? SnoozeType::Desktop : SnoozeType::Mobile);
  }
  EXPECT_EQ(libkestrun::defaultSnoozeType(), SnoozeType::InAMonth);
}

TEST_F(SnoozeTimeCalculatorTest, ForwardersUseTheRegisteredCalculator) {
  PinnedZone zone(kUtc);
  const int64_t now = wall_ms({2023, 1, 4, 12, 0, 0});
  EXPECT_EQ(libkestrun::snoozeRemindTime(SnoozeType::NextWeek, now), wall_ms({2023, 1, 9, 8, 0, 0}));
  EXPECT_EQ(libkestrun::deferralBucketForRemindTime(now + 3600000, now),
            libkestrun::DeferralBucket::LaterToday);
  EXPECT_EQ(libkestrun::nameForSnoozeType(SnoozeType::Someday), "Someday");

  SnoozeTimeCalculator::setGlobalInstance(nullptr);
  EXPECT_EQ(libkestrun::snoozeRemindTime(SnoozeType::NextWeek, now), 0);
  EXPECT_EQ(libkestrun::deferralBucketForRemindTime(now + 3600000, now),
            libkestrun::DeferralBucket::NoReminder);
  EXPECT_EQ(libkestrun::nameForSnoozeType(SnoozeType::Someday), "");
}

}  // namespace
