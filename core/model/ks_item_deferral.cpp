// The deferral of an item: its section of the deferred list and the texts shown for it.
#include <chrono>
#include <iterator>

#include "core/foundation/utility.h"
#include "core/locales/texts.h"
#include "core/model/ks_item.h"
#include "core/model/ks_list.h"
#include "core/model/snooze_time_calculator.h"
#include "harnvik/strings.h"
#include "localization/localization.h"

using libkestrun::DeferralBucket;
using libkestrun::DeferralType;
using libkestrun::SnoozeType;
namespace text = libkestrun::text;

namespace {

struct SectionTitle {
  const char* title;
  const char* comment;
};

// By bucket value, 0 to 22.
const SectionTitle kSectionTitles[] = {
    {text::kDesktop, "Indicating that a message was deferred to desktop"},
    {text::kMobile, "Indicating that a message was deferred to mobile"},
    {text::kLaterToday, "Indicating that a message was deferred to later today"},
    {text::kTomorrow, "Indicating that a message was deferred to tomorrow"},
    {text::kLaterThisWeek, "Indicating that a message was deferred to later this week"},
    {text::kThisWeekend, "Indicating that a message was deferred to this weekend"},
    {text::kNextWeek, "Indicating that a message was deferred to next week"},
    {text::kInTwoWeeks, "Indicating that a message was deferred two weeks"},
    {text::kInThreeWeeks, "Indicating that a message was deferred three weeks"},
    {text::kInOneMonth, "Indicating that a message was deferred one month"},
    {text::kInTwoMonths, "Indicating that a message was deferred two months"},
    {text::kInThreeMonths, "Indicating that a message was deferred three months"},
    {text::kInFourMonths, "Indicating that a message was deferred four months"},
    {text::kInFiveMonths, "Indicating that a message was deferred five months"},
    {text::kInSixMonths, "Indicating that a message was deferred six months"},
    {text::kInSevenMonths, "Indicating that a message was deferred seven months"},
    {text::kInEightMonths, "Indicating that a message was deferred eight months"},
    {text::kInNineMonths, "Indicating that a message was deferred nine months"},
    {text::kInTenMonths, "Indicating that a message was deferred ten months"},
    {text::kInElevenMonths, "Indicating that a message was deferred eleven months"},
    {text::kInAYear, "Indicating that a message was deferred a year"},
    {text::kInTwoOrMoreYears, "Indicating that a message was deferred two or more years"},
    {text::kNever, "Indicating that a message was deferred indefinitely"},
};

std::tm localTime(int64_t ms) {
  return libkestrun::Utility::local_time(
      std::chrono::system_clock::time_point(std::chrono::seconds(ms / 1000)));
}

}  // namespace

void KSItem::updateDeferralBucket(int64_t nowMs) {
  DeferralBucket bucket = DeferralBucket::NoReminder;
  if (deferralType() == DeferralType::UntilTime) {
    bucket = libkestrun::deferralBucketForRemindTime(remindAt(), nowMs);
  } else if (deferralType() == DeferralType::BySnooze) {
    // A deferral to a kind of device has no time, whatever REMINDAT still holds.
    if (snoozeType() == SnoozeType::Desktop) {
      bucket = DeferralBucket::Desktop;
    } else if (snoozeType() == SnoozeType::Mobile) {
      bucket = DeferralBucket::Mobile;
    } else {
      bucket = libkestrun::deferralBucketForRemindTime(remindAt(), nowMs);
    }
  }
  if (bucket != deferralBucket()) setDeferralBucket(bucket);
}

std::string KSItem::titleForDeferralSection(DeferralBucket section) {
  const auto value = static_cast<int32_t>(section);
  const int32_t last = static_cast<int32_t>(std::size(kSectionTitles)) - 1;
  const SectionTitle& title = kSectionTitles[value < 0 || value > last ? last : value];
  return LOCALIZED_STRING(title.title, title.comment);
}

std::string KSItem::deferralSubtext() {
  if (state() == ItemState::Later) {
    if (snoozeType() == SnoozeType::Desktop) {
      return LOCALIZED_STRING(
          text::kDeferredToDesktop,
          "Message indicating that a message was deferred and is visible from a desktop client");
    }
    if (snoozeType() == SnoozeType::Mobile) {
      return LOCALIZED_STRING(
          text::kDeferredToMobile,
          "Message indicating that a message was deferred and is visible from a mobile client");
    }
    if (remindAt() != unsetTime) return deferralUntilText();
  } else if (state() == ItemState::List) {
    if (auto filedIn = list()) return filedIn->name();
    return LOCALIZED_STRING(text::kUnknown, "Message indicating that the deferral status is unknown");
  }
  return LOCALIZED_STRING(
      text::kNoReminderScheduled,
      "Message indicating that a message was deferred indefinitely and that no reminder was scheduled");
}

std::string KSItem::deferralUntilText() const {
  const std::string format =
      deferralBucket() == DeferralBucket::Tomorrow
          ? LOCALIZED_STRING(
                text::kDeferredUntilTomorrow,
                "Message indicating that a message was deferred until some time tomorrow. The time "
                "will go in place of the %s")
          : LOCALIZED_STRING(
                text::kDeferredUntil,
                "Message indicating that a message was deferred until some time. The time will go in "
                "place of the %s");
  return harnvik::verdane::lang::str_printf(format.c_str(), remindTimeText());
}

std::string KSItem::remindTimeText() const {
  if (deferralBucket() == DeferralBucket::LaterToday || deferralBucket() == DeferralBucket::Tomorrow) {
    return LOCALIZED_TIMESTAMP(HVX_DATE_STRING_TIME, remindAt());
  }
  const std::tm remind = localTime(remindAt());
  const std::tm now = localTime(libkestrun::Utility::now_ms());
  // A date of this year, or of early next year seen late in this one, needs no year.
  const bool sameYear = remind.tm_year == now.tm_year;
  const bool earlyNextYear = remind.tm_year == now.tm_year + 1 && remind.tm_mon < now.tm_mon;
  return LOCALIZED_TIMESTAMP(
      sameYear || earlyNextYear ? HVX_DATE_STRING_MONTH_DAY : HVX_DATE_STRING_DATE_YEAR, remindAt());
}
