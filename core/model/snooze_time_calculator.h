// Turns a snooze choice into a reminder time, a label and, for a reminder time, the section of the
// deferred list. The rules follow the user's working hours (work day start and end, weekend day
// start, hours for "later today", months for "someday", the work-week and weekend start days),
// read from the preference manager on every call, so a change of preferences applies to the next
// snooze. Calendar arithmetic is done in the process's local time zone.
//
// The calculator holds no state of its own beyond the preference manager, which it does not own
// and which must outlive it; any thread may call it.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "core/store/model_enums.h"

namespace libkestrun {

class PrefManager;

class SnoozeTimeCalculator {
 public:
  // The device kind the servers call "macos"; every other kind is a mobile device.
  static constexpr int32_t kDesktopDeviceType = 5;

  explicit SnoozeTimeCalculator(PrefManager* prefs) : prefs_(prefs) {}

  // The reminder time of a snooze choice asked at `nowMs`, in milliseconds; 0 for a choice
  // without a time (None, Desktop, Mobile and unused values).
  int64_t remindTimeForSnoozeType(SnoozeType type, int64_t nowMs) const;
  // The same in whole seconds since 1970.
  int64_t remindTimeSecondsForSnoozeType(SnoozeType type, int64_t nowMs) const;
  // The localized label of a snooze choice as it reads now ("This Evening" turns into "Tomorrow
  // Eve" after the work day ends, "This Weekend" into "Next Weekend" inside the weekend).
  std::string nameForSnoozeType(SnoozeType type) const;
  // The label as it reads at `nowMs`.
  std::string nameForSnoozeType(SnoozeType type, int64_t nowMs) const;
  // The section of a reminder at `remindAtMs` seen at `nowMs` (0: the current time), by local
  // calendar days: the same day, the next, the rest of the week or weekend, whole weeks up to 28
  // days, then months and years.
  DeferralBucket deferralBucketForRemindTime(int64_t remindAtMs, int64_t nowMs) const;

  static SnoozeType defaultSnoozeType() { return SnoozeType::InAMonth; }
  // A work week cannot start on the day the weekend starts.
  static bool isValidWorkWeekStart(int workWeekStartDay, int weekendStartDay) {
    return workWeekStartDay != weekendStartDay;
  }
  // Desktop for the desktop kind (kDesktopDeviceType), Mobile for any other.
  static SnoozeType snoozeTypeForDevice(int32_t deviceType);

  // Registers the process-wide calculator that the free functions below use (empty clears it).
  static void setGlobalInstance(std::shared_ptr<SnoozeTimeCalculator> calculator);

 private:
  // True when `weekday` (0 Sunday) is the weekend start day or the weekend end day.
  bool isWeekendDay(int weekday) const;
  // The local calendar time `local` at the hour and minute of `at`, or 0 when it has none.
  static int64_t atTimeOfDay(std::tm local, const std::tm& at);
  // The calendar day `days` after `local`'s, at the hour and minute of `at`.
  static int64_t daysLaterAt(std::tm local, int days, const std::tm& at);
  // The same calendar time `months` later, at the weekend start time when `local` is a weekend
  // day, else at the work day start time.
  int64_t monthsLater(std::tm local, int months) const;

  PrefManager* const prefs_;
};

// Forwarders to the registered calculator. Without one: no reminder time, the bucket
// NoReminder and an empty label.
int64_t snoozeRemindTime(SnoozeType type, int64_t nowMs);
DeferralBucket deferralBucketForRemindTime(int64_t remindAtMs, int64_t nowMs);
std::string nameForSnoozeType(SnoozeType type);
SnoozeType defaultSnoozeType();
bool isValidWorkWeekStart(int workWeekStartDay, int weekendStartDay);

}  // namespace libkestrun
