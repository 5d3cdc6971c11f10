// Preferences, snooze settings and the badge. Each call runs on the caller's thread: the preference
// manager holds its own mutex and queues its change events for the core thread, the snooze
// calculator reads the preferences, and the badge manager reads the counts under their mutex.
#include "core/api/api.h"

namespace libkestrun {

std::tm Api::get_weekday_start_time_components() { return managers_.pref_manager->getWeekdayStart(); }
void Api::set_weekday_start_time_components(std::tm time) { managers_.pref_manager->setWeekdayStart(time); }
std::tm Api::get_weekend_start_time_components() { return managers_.pref_manager->getWeekendStart(); }
void Api::set_weekend_start_time_components(std::tm time) { managers_.pref_manager->setWeekendStart(time); }
std::tm Api::get_workday_end_time_components() { return managers_.pref_manager->getWorkdayEnd(); }
void Api::set_workday_end_time_components(std::tm time) { managers_.pref_manager->setWorkdayEnd(time); }

int32_t Api::get_hours_for_later_today_snooze() { return managers_.pref_manager->getHoursForLaterToday(); }
void Api::set_hours_for_later_today_snooze(int32_t hours) {
  managers_.pref_manager->setHoursForLaterToday(hours);
}
int32_t Api::get_months_for_someday_snooze() { return managers_.pref_manager->getMonthsForSomeday(); }
void Api::set_months_for_someday_snooze(int32_t months) {
  managers_.pref_manager->setMonthsForSomeday(months);
}

int32_t Api::get_work_week_start_day() { return managers_.pref_manager->getWorkWeekStartDay(); }
void Api::set_work_week_start_day(int32_t day) { managers_.pref_manager->setWorkWeekStartDay(day); }
int32_t Api::get_weekend_start_day() { return managers_.pref_manager->getWeekendStartDay(); }
void Api::set_weekend_start_day(int32_t day) { managers_.pref_manager->setWeekendStartDay(day); }
int32_t Api::get_weekend_end_day() { return managers_.pref_manager->getWeekendEndDay(); }

bool Api::has_account_specific_signatures() { return managers_.pref_manager->hasAccountSpecificSignatures(); }
void Api::set_has_account_specific_signatures(bool enabled) {
  managers_.pref_manager->setHasAccountSpecificSignatures(enabled);
}
std::string Api::get_email_signature_for_account(const std::string& account_id) {
  return managers_.pref_manager->getEmailSignature(account_id);
}
std::string Api::get_email_signature_preview_for_account(const std::string& account_id) {
  return managers_.pref_manager->getEmailSignaturePreview(account_id);
}
std::string Api::get_email_signature_to_insert_in_email_for_account(const std::string& account_id) {
  return managers_.pref_manager->getEmailSignatureToInsert(account_id);
}
std::string Api::get_default_email_signature() { return managers_.pref_manager->getDefaultEmailSignature(); }
void Api::set_email_signature_for_account(const std::string& account_id, const std::string& signature) {
  managers_.pref_manager->setEmailSignature(account_id, signature);
}

bool Api::push_enabled_for_new_messages() { return managers_.pref_manager->pushEnabledForNewMessages(); }
void Api::set_push_enabled_for_new_messages(bool enabled) {
  managers_.pref_manager->setPushEnabledForNewMessages(enabled);
}
bool Api::push_enabled_for_snoozed_messages() { return managers_.pref_manager->getReminderPush(); }
void Api::set_push_enabled_for_snoozed_messages(bool enabled) {
  managers_.pref_manager->setReminderPush(enabled);
}
int32_t Api::get_badge_type() { return managers_.pref_manager->getBadgeType(); }
void Api::set_badge_type(int32_t type) { managers_.pref_manager->setBadgeType(type); }
bool Api::push_enabled() { return managers_.pref_manager->getPush(); }
void Api::set_push_enabled(bool enabled) { managers_.pref_manager->setPush(enabled); }

bool Api::state_change_will_read_item() { return managers_.pref_manager->stateChangeWillReadItem(); }
void Api::set_state_change_will_read_item(bool enabled) {
  managers_.pref_manager->setStateChangeWillReadItem(enabled);
}
bool Api::move_action_will_unstar_item() { return managers_.pref_manager->moveActionShouldUnstarItem(); }
void Api::set_move_action_will_unstar_item(bool enabled) {
  managers_.pref_manager->setMoveActionShouldUnstarItem(enabled);
}
bool Api::show_help_me_get_to_zero_banner() { return managers_.pref_manager->shouldShowHelpMeGetToZero(); }
void Api::set_show_help_me_get_to_zero_banner(bool enabled) {
  managers_.pref_manager->setShouldShowHelpMeGetToZero(enabled);
}
bool Api::allow_swipe_to_show_drawer() { return managers_.pref_manager->allowSwipeFromEdgeToShowDrawer(); }
void Api::set_allow_swipe_to_show_drawer(bool enabled) {
  managers_.pref_manager->setAllowSwipeFromEdgeToShowDrawer(enabled);
}

// Auto-swipe needs the rules the server keeps for a linked account, so an anonymous user never
// has it, whatever the stored switch says.
bool Api::auto_swipe_enabled() {
  return managers_.user_manager->isHarnvikLinked() && managers_.pref_manager->autoSwipeEnabled();
}
void Api::set_auto_swipe_enabled(bool enabled) { managers_.pref_manager->setAutoSwipeEnabled(enabled); }

int32_t Api::get_default_browser() { return managers_.pref_manager->getBrowser(); }
void Api::set_default_browser(int32_t browser) { managers_.pref_manager->setBrowser(browser); }

bool Api::user_has_seen_tutorial() { return managers_.pref_manager->userHasSeenTutorial(); }
void Api::set_user_has_seen_tutorial(bool seen) { managers_.pref_manager->setUserHasSeenTutorial(seen); }
bool Api::user_has_seen_large_badge_prompt() { return managers_.pref_manager->userHasSeenLargeBadgePrompt(); }
void Api::set_user_has_seen_large_badge_prompt(bool seen) {
  managers_.pref_manager->setUserHasSeenLargeBadgePrompt(seen);
}
bool Api::user_has_confirmed_batch_swipe() { return managers_.pref_manager->userHasConfirmedBatchSwipe(); }
void Api::set_user_has_confirmed_batch_swipe(bool confirmed) {
  managers_.pref_manager->setUserHasConfirmedBatchSwipe(confirmed);
}
bool Api::user_has_seen_zero_inbox_share_prompt() {
  return managers_.pref_manager->userHasSeenZeroInboxSharePrompt();
}
void Api::set_user_has_seen_zero_inbox_share_prompt(bool seen) {
  managers_.pref_manager->setUserHasSeenZeroInboxSharePrompt(seen);
}

std::string Api::name_for_snooze_type(SnoozeType type) {
  return managers_.snooze_time_calculator->nameForSnoozeType(type);
}
bool Api::is_valid_work_week_start_and_weekend_start(int32_t work_week_start_day, int32_t weekend_start_day) {
  return SnoozeTimeCalculator::isValidWorkWeekStart(work_week_start_day, weekend_start_day);
}

int32_t Api::get_badge_count() { return managers_.badge_count_manager->getBadgeCount(); }
int32_t Api::get_mac_badge_count() { return managers_.badge_count_manager->getMacBadgeCount(); }
void Api::set_launch_badge_count(int32_t count) { managers_.badge_count_manager->setLaunchBadgeCount(count); }

}  // namespace libkestrun
