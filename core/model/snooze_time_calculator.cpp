#include "core/model/snooze_time_calculator.h"

#include <chrono>

#include "core/foundation/pref_manager.h"
#include "core/foundation/process_instance.h"
#include "core/foundation/utility.h"
#include "core/locales/texts.h"
#include "localization/localization.h"

namespace libkestrun {

namespace {

ProcessInstance<SnoozeTimeCalculator> instance;

constexpr int64_t kLastSecondBeforeAYear = 31535999;
constexpr int64_t kLastSecondBeforeTwoYears = 63071999;

std::tm localTime(int64_t seconds) {
  return Utility::local_time(std::chrono::system_clock::time_point(std::chrono::seconds(seconds)));
}

// Days since 1970-01-01 of a proleptic Gregorian date (month 1 to 12), so that two local dates
// compare by calendar days whatever lies between them (month ends, leap days, clock changes).
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

int64_t localDay(const std::tm& local) {
  return daysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday);
}

// The weekday `target` lies after `weekday`, 1 to 7 days ahead (a week ahead on the day itself).
int daysUntilWeekday(int target, int weekday) {
  const int days = ((target - weekday) % 7 + 7) % 7;
  return days == 0 ? 7 : days;
}

// Not past the end of the work day: before its hour, or in its hour up to its minute.
bool notPast(const std::tm& local, const std::tm& end) {
  return local.tm_hour < end.tm_hour || (local.tm_hour == end.tm_hour && local.tm_min <= end.tm_min);
}

}  // namespace

int64_t SnoozeTimeCalculator::atTimeOfDay(std::tm local, const std::tm& at) {
  local.tm_hour = at.tm_hour;
  local.tm_min = at.tm_min;
  // The chosen wall-clock time, whichever side of a daylight-saving change the day lies on.
  local.tm_isdst = -1;
  const time_t seconds = mktime(&local);
  return seconds == static_cast<time_t>(-1) ? 0 : static_cast<int64_t>(seconds);
}

int64_t SnoozeTimeCalculator::daysLaterAt(std::tm local, int days, const std::tm& at) {
  // Counted on the calendar, not as 86,400 seconds: near midnight a day of 23 or 25 hours would
  // otherwise skip the target day or land on the day before it. mktime carries the day over.
  local.tm_mday += days;
  return atTimeOfDay(local, at);
}

bool SnoozeTimeCalculator::isWeekendDay(int weekday) const {
  return weekday == prefs_->getWeekendStartDay() || weekday == prefs_->getWeekendEndDay();
}

int64_t SnoozeTimeCalculator::monthsLater(std::tm local, int months) const {
  const std::tm at = isWeekendDay(local.tm_wday) ? prefs_->getWeekendStart() : prefs_->getWeekdayStart();
  // mktime carries a month past December into the next year and a day past the month's end
  // into the next month (31 January plus a month is early March).
  local.tm_mon += months;
  return atTimeOfDay(local, at);
}

int64_t SnoozeTimeCalculator::remindTimeForSnoozeType(SnoozeType type, int64_t nowMs) const {
  return remindTimeSecondsForSnoozeType(type, nowMs) * 1000;
}

int64_t SnoozeTimeCalculator::remindTimeSecondsForSnoozeType(SnoozeType type, int64_t nowMs) const {
  const int64_t now = nowMs / 1000;
  const std::tm today = localTime(now);
  switch (type) {
    case SnoozeType::LaterToday:
      return now + 3600LL * prefs_->getHoursForLaterToday();
    case SnoozeType::ThisEvening: {
      const std::tm end = prefs_->getWorkdayEnd();
      return notPast(today, end) ? atTimeOfDay(today, end) : daysLaterAt(today, 1, end);
    }
    case SnoozeType::Tomorrow: {
      // Before 03:00 the night still belongs to the previous day, so "tomorrow" is today.
      const int days = today.tm_hour >= 3 ? 1 : 0;
      const bool weekend = isWeekendDay((today.tm_wday + days) % 7);
      return daysLaterAt(today, days, weekend ? prefs_->getWeekendStart() : prefs_->getWeekdayStart());
    }
    case SnoozeType::ThisWeekend:
      return daysLaterAt(today, daysUntilWeekday(prefs_->getWeekendStartDay(), today.tm_wday),
                         prefs_->getWeekendStart());
    case SnoozeType::NextWeek:
      return daysLaterAt(today, daysUntilWeekday(prefs_->getWorkWeekStartDay(), today.tm_wday),
                         prefs_->getWeekdayStart());
    case SnoozeType::InAMonth:
      return monthsLater(today, 1);
    case SnoozeType::Someday:
      return monthsLater(today, prefs_->getMonthsForSomeday());
    default:
      return 0;
  }
}

std::string SnoozeTimeCalculator::nameForSnoozeType(SnoozeType type) const {
  return nameForSnoozeType(type, Utility::now_ms());
}

std::string SnoozeTimeCalculator::nameForSnoozeType(SnoozeType type, int64_t nowMs) const {
  switch (type) {
    case SnoozeType::LaterToday:
      return LOCALIZED_STRING(text::kLaterToday, "Indicating that a message will be visible later today");
    case SnoozeType::ThisEvening:
      if (notPast(localTime(nowMs / 1000), prefs_->getWorkdayEnd())) {
        return LOCALIZED_STRING(text::kThisEvening, "Indicating that a message will be visible this evening");
      }
      return LOCALIZED_STRING(text::kTomorrowEve,
                              "Indicating that a message will be visible tomorrow evening");
    case SnoozeType::Tomorrow:
      return LOCALIZED_STRING(text::kTomorrow, "Indicating that a message will be visible tomorrow");
    case SnoozeType::ThisWeekend: {
      // Inside the weekend but before its last day, the coming weekend is the next one.
      const int start = prefs_->getWeekendStartDay();
      const int end = prefs_->getWeekendEndDay();
      const int weekday = localTime(nowMs / 1000).tm_wday;
      const bool inside =
          start <= end ? (start <= weekday && weekday < end) : (weekday >= start || weekday < end);
      if (inside) {
        return LOCALIZED_STRING(text::kNextWeekend, "Indicating that a message will be visible next weekend");
      }
      return LOCALIZED_STRING(text::kThisWeekend, "Indicating that a message will be visible this weekend");
    }
    case SnoozeType::NextWeek:
      return LOCALIZED_STRING(text::kNextWeek, "Indicating that a message will be visible next week");
    case SnoozeType::InAMonth:
      return LOCALIZED_STRING(text::kInAMonth, "Indicating that a message will be visible in a month");
    case SnoozeType::Someday:
      return LOCALIZED_STRING(text::kSomeday, "Indicating that a message will be visible someday");
    case SnoozeType::Desktop:
      return LOCALIZED_STRING(text::kDesktop,
                              "Indicating that a message will be visible from a desktop client");
    case SnoozeType::Mobile:
      return LOCALIZED_STRING(text::kMobile,
                              "Indicating that a message will be visible from a mobile client");
    default:
      return LOCALIZED_STRING(text::kNone, "Indicating that there is no reminder scheduled for a message");
  }
}

DeferralBucket SnoozeTimeCalculator::deferralBucketForRemindTime(int64_t remindAtMs, int64_t nowMs) const {
  if (nowMs == 0) nowMs = Utility::now_ms();
  const int64_t remind = remindAtMs / 1000;
  const int64_t now = nowMs / 1000;
  if (remind == 0) return DeferralBucket::NoReminder;
  const int64_t diff = remind - now;
  if (diff < 0) return DeferralBucket::NoReminder;

  const std::tm today = localTime(now);
  const std::tm day = localTime(remind);
  const int64_t days = localDay(day) - localDay(today);
  if (days == 0) return DeferralBucket::LaterToday;
  if (days == 1) return DeferralBucket::Tomorrow;
  if (days <= 7) {
    if (isWeekendDay(day.tm_wday)) return DeferralBucket::ThisWeekend;
    if (day.tm_wday < today.tm_wday) return DeferralBucket::NextWeek;
    return DeferralBucket::LaterThisWeek;
  }
  const bool laterMonth = day.tm_year > today.tm_year || day.tm_mon > today.tm_mon;
  if (days <= 28 || !laterMonth) return static_cast<DeferralBucket>(days / 7 + 5);
  if (diff > kLastSecondBeforeTwoYears) return DeferralBucket::InTwoOrMoreYears;
  if (diff > kLastSecondBeforeAYear) return DeferralBucket::InAYear;
  return static_cast<DeferralBucket>(8 + 12 * (day.tm_year - today.tm_year) + (day.tm_mon - today.tm_mon));
}

SnoozeType SnoozeTimeCalculator::snoozeTypeForDevice(int32_t deviceType) {
  return deviceType == kDesktopDeviceType ? SnoozeType::Desktop : SnoozeType::Mobile;
}

void SnoozeTimeCalculator::setGlobalInstance(std::shared_ptr<SnoozeTimeCalculator> calculator) {
  instance.set(std::move(calculator));
}

int64_t snoozeRemindTime(SnoozeType type, int64_t nowMs) {
  return instance.call(&SnoozeTimeCalculator::remindTimeForSnoozeType, type, nowMs);
}

DeferralBucket deferralBucketForRemindTime(int64_t remindAtMs, int64_t nowMs) {
  std::shared_ptr<SnoozeTimeCalculator> calculator = instance.get();
  if (!calculator) return DeferralBucket::NoReminder;
  return calculator->deferralBucketForRemindTime(remindAtMs, nowMs);
}

std::string nameForSnoozeType(SnoozeType type) {
  return instance.call(static_cast<std::string (SnoozeTimeCalculator::*)(SnoozeType) const>(
                           &SnoozeTimeCalculator::nameForSnoozeType),
                       type);
}

SnoozeType defaultSnoozeType() { return SnoozeTimeCalculator::defaultSnoozeType(); }

bool isValidWorkWeekStart(int workWeekStartDay, int weekendStartDay) {
  return SnoozeTimeCalculator::isValidWorkWeekStart(workWeekStartDay, weekendStartDay);
}

}  // namespace libkestrun
