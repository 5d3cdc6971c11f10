#include "core/foundation/pref_manager.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "core/foundation/ks_string.h"
#include "core/foundation/process_instance.h"
#include "core/foundation/utility.h"
#include "localization/localization.h"

namespace libkestrun {

namespace {

const std::string kStoreKey = "kestrun.preferences.all_keys";
const std::string kChangedNotification = "com.kestrun.any.preference.changed";
const std::string kProductLink = "<a href=\"https://www.kestrun.com/download\">Kestrun</a>";

// A plain-text signature as HTML: escaped, every product word linked, line feeds as <br>. The
// words are linked in one pass so that the word inside an inserted link is not linked again.
std::string plain_signature_to_html(const std::string& text) {
  const std::string escaped = KSString::escape_xml(text);
  std::string html;
  html.reserve(escaped.size());
  for (size_t i = 0; i < escaped.size();) {
    if (escaped.compare(i, 7, "kestrun") == 0 || escaped.compare(i, 7, "Kestrun") == 0) {
      html += kProductLink;
      i += 7;
    } else {
      html += escaped[i++];
    }
  }
  KSString::replace_all(html, "\n", "<br>");
  return html;
}

const std::string kWeekdayStartHour = "weekday_start_hour";
const std::string kWeekdayStartMinute = "weekday_start_minute";
const std::string kWeekendStartHour = "weekend_start_hour";
const std::string kWeekendStartMinute = "weekend_start_minute";
const std::string kWorkdayEndHour = "workday_end_hour";
const std::string kWorkdayEndMinute = "workday_end_minute";
const std::string kHoursForLaterToday = "hours_for_later_today";
const std::string kMonthsForSomeday = "months_for_someday";
const std::string kWorkWeekStartDay = "work_week_start_day";
const std::string kWeekendStartDay = "weekend_start_day";
const std::string kBadgeType = "badge_type";
const std::string kNotifType = "notif_type";
const std::string kPush = "push";
const std::string kReminderPush = "reminder_push";
const std::string kGlobalSignature = "global_email_signature";
const std::string kHasAccountSignatures = "has_account_specific_signatures";
const std::string kStateChangeAction = "state_change_action";
const std::string kMoveUnstars = "move_action_should_unstar_item";
const std::string kShowHelpMeGetToZero = "should_show_help_me_get_to_zero";
const std::string kSwipeFromEdge = "allow_swipe_from_edge_to_show_drawer";
const std::string kAutoSwipe = "auto_swipe_enabled";
const std::string kBrowser = "browser";
const std::string kTimeZoneOffset = "tz";
const std::string kLocale = "locale";
const std::string kSeenTutorial = "user_has_seen_tutorial";
const std::string kSeenLargeBadgePrompt = "user_has_seen_large_badge_prompt";
const std::string kConfirmedBatchSwipe = "user_has_confirmed_batch_swipe";
const std::string kSeenZeroInboxSharePrompt = "user_has_seen_zero_inbox_share_prompt";
const std::string kTimeZoneName = "tzn";
// Kept by the account manager; they travel with the preferences but never enter the map.
const std::string kDefaultAccount = "default_account";
const std::string kAccountSignatures = "account_specific_signatures";

// The locale of the first use in the process.
const std::string& initial_locale() {
  static const std::string locale = [] {
    std::string current = Localization::instance().get_current_locale();
    return current.empty() ? std::string("en") : current;
  }();
  return locale;
}

jsonette::Json signatures_json(const std::map<std::string, std::string>& signatures) {
  jsonette::Json::object members;
  for (const auto& [id, text] : signatures) members.emplace(id, text);
  return jsonette::Json(std::move(members));
}

// An int read of a JSON value: 0 for another type, truncated toward zero, held to int's range
// (the server may send any number).
int int_of(const jsonette::Json& value) {
  int64_t i = value.int64_value();
  return static_cast<int>(
      std::clamp<int64_t>(i, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

ProcessInstance<PrefManager> instance;

}  // namespace

PrefManager::PrefManager(brelt::UvThread* thread, const std::shared_ptr<NotificationCenter>& center,
                         const std::shared_ptr<KvStore>& store, AccountManager* accounts)
    : thread_(thread), center_(center), store_(store), accounts_(accounts), prefs_(_defaults()) {
  jsonette::Json stored = store_.get_default<jsonette::Json>(kStoreKey, jsonette::Json());
  for (const auto& [key, value] : stored.object_items()) prefs_[key] = value;
}

PrefManager::~PrefManager() {
  // Runs after every event queued so far; on the core thread it runs at once and the queued
  // events find the flag cleared.
  thread_->post_sync([alive = alive_] { *alive = false; });
}

PrefManager::Prefs PrefManager::_defaults() {
  return Prefs{
      {kWeekdayStartHour, 8},
      {kWeekdayStartMinute, 0},
      {kWeekendStartHour, 10},
      {kWeekendStartMinute, 0},
      {kWorkdayEndHour, 18},
      {kWorkdayEndMinute, 0},
      {kHoursForLaterToday, 3},
      {kMonthsForSomeday, 3},
      {kWorkWeekStartDay, 1},
      {kWeekendStartDay, 6},
      {kBadgeType, 1},
      {kNotifType, 2},
      {kPush, false},
      {kReminderPush, true},
      {kGlobalSignature, _defaultSignature()},
      {kHasAccountSignatures, false},
      {kStateChangeAction, 1},
      {kMoveUnstars, true},
      {kShowHelpMeGetToZero, true},
      {kSwipeFromEdge, true},
      {kAutoSwipe, true},
      {kBrowser, 1},
      {kTimeZoneOffset, 0.0},
      {kLocale, initial_locale()},
      {kSeenTutorial, false},
      {kSeenLargeBadgePrompt, false},
      {kConfirmedBatchSwipe, false},
      {kSeenZeroInboxSharePrompt, false},
  };
}

void PrefManager::_persist(const Prefs& prefs) { store_.set_json(kStoreKey, jsonette::Json(prefs)); }

void PrefManager::queue_event(std::function<void()> fire) {
  thread_->post([alive = alive_, fire = std::move(fire)] {
    if (*alive) fire();
  });
}

void PrefManager::_save(const Prefs& changes, bool notify) {
  std::lock_guard<std::mutex> lock(mutex_);
  Prefs merged = prefs_;
  for (const auto& [key, value] : changes) merged[key] = value;
  _persist(merged);
  prefs_ = std::move(merged);
  // Queued under the lock, so events reach the core thread in the order of the changes.
  if (notify) queue_event([this, changes] { fire_changed(changes); });
}

void PrefManager::_set(const std::string& key, const jsonette::Json& value) {
  _save(Prefs{{key, value}}, true);
}

void PrefManager::resetToDefaults() {
  std::lock_guard<std::mutex> lock(mutex_);
  Prefs defaults = _defaults();
  _persist(defaults);
  prefs_ = std::move(defaults);
}

jsonette::Json PrefManager::getChangedPreferences() {
  std::lock_guard<std::mutex> lock(mutex_);
  Prefs defaults = _defaults();
  jsonette::Json::object changed;
  for (const auto& [key, value] : prefs_) {
    auto it = defaults.find(key);
    if (it == defaults.end() || it->second != value) changed.emplace(key, value);
  }
  return jsonette::Json(std::move(changed));
}

void PrefManager::updateFromServer(const jsonette::Json& preferences) {
  jsonette::Json signatures, default_account;
  bool changed = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Prefs merged = prefs_;
    bool map_changed = false;
    for (const auto& [key, value] : preferences.object_items()) {
      if (key == kAccountSignatures) {
        signatures = value;
      } else if (key == kDefaultAccount) {
        default_account = value;
      } else {
        auto it = merged.find(key);
        if (it == merged.end() || it->second != value) map_changed = true;
        merged[key] = value;
      }
    }
    if (map_changed) {
      _persist(merged);
      prefs_ = std::move(merged);
      changed = true;
    }
  }

  if (signatures.is_object()) {
    std::map<std::string, std::string> current = accounts_->allEmailSignatures();
    std::map<std::string, std::string> incoming;
    for (const auto& [id, value] : signatures.object_items()) {
      auto it = current.find(id);
      if (it == current.end() || it->second != value.string_value()) changed = true;
      incoming[id] = value.string_value();
    }
    accounts_->setEmailSignatures(incoming);
  }

  if (default_account.is_string()) {
    std::shared_ptr<KSEmailAccount> current = accounts_->getDefaultAccount();
    if (!current || current->accountID != default_account.string_value()) changed = true;
    accounts_->setDefaultAccount(default_account.string_value());
  }

  if (changed) center_->post_notification(kChangedNotification, jsonette::Json());
}

jsonette::Json PrefManager::read(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = prefs_.find(key);
  return it == prefs_.end() ? jsonette::Json() : it->second;
}

std::tm PrefManager::read_time(const std::string& hour_key, const std::string& minute_key) {
  std::tm time{};
  time.tm_hour = int_of(read(hour_key));
  time.tm_min = int_of(read(minute_key));
  return time;
}

void PrefManager::save_time(const std::string& hour_key, const std::string& minute_key, const std::tm& time) {
  _save(Prefs{{hour_key, time.tm_hour}, {minute_key, time.tm_min}}, true);
}

bool PrefManager::hasAccountSpecificSignatures() {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = prefs_.find(kHasAccountSignatures);
  if (it == prefs_.end() || !it->second.bool_value()) return false;
  return accounts_->allAccountIDs()->size() > 1;
}

std::string PrefManager::getEmailSignature(const std::string& accountID) {
  std::string signature = read(kGlobalSignature).string_value();
  if (hasAccountSpecificSignatures() && !accountID.empty()) {
    std::shared_ptr<KSEmailAccount> account = accounts_->emailAccountWithID(accountID);
    if (account && !account->emailSignature.empty()) signature = account->emailSignature;
  }
  return _signatureToHtml(signature);
}

std::string PrefManager::getEmailSignaturePreview(const std::string& accountID) {
  return Utility::html_to_text(getEmailSignature(accountID));
}

std::string PrefManager::getEmailSignatureToInsert(const std::string& accountID) {
  return "<div class=\"kestrun_signature\"><br>" + getEmailSignature(accountID) + "</div>";
}

std::string PrefManager::getDefaultEmailSignature() { return _defaultSignature(); }

std::string PrefManager::_defaultSignature() {
  return LOCALIZED_STRING(
      "\u2014<br>Sent from " + kProductLink,
      "Default email signature in Kestrun (with a link on the word Kestrun to open a download "
      "page)");
}

std::string PrefManager::_signatureToHtml(const std::string& signature) {
  if (Utility::html_to_text(signature) != signature) return signature;
  return plain_signature_to_html(signature);
}

void PrefManager::setEmailSignature(const std::string& accountID, const std::string& signature) {
  if (accountID.empty()) {
    _set(kGlobalSignature, signature);
    return;
  }
  thread_->post_sync([&] { accounts_->setEmailSignature(accountID, signature); });
  queue_event([this] {
    fire_changed(Prefs{{kAccountSignatures, signatures_json(accounts_->allEmailSignatures())}});
  });
}

std::shared_ptr<KSEmailAccount> PrefManager::getDefaultAccount() { return accounts_->getDefaultAccount(); }

void PrefManager::setDefaultAccount(const std::string& accountID) {
  thread_->post_sync([&] { accounts_->setDefaultAccount(accountID); });
  queue_event([this, accountID] { fire_changed(Prefs{{kDefaultAccount, accountID}}); });
}

std::tm PrefManager::getWeekdayStart() { return read_time(kWeekdayStartHour, kWeekdayStartMinute); }
void PrefManager::setWeekdayStart(std::tm time) { save_time(kWeekdayStartHour, kWeekdayStartMinute, time); }
std::tm PrefManager::getWeekendStart() { return read_time(kWeekendStartHour, kWeekendStartMinute); }
void PrefManager::setWeekendStart(std::tm time) { save_time(kWeekendStartHour, kWeekendStartMinute, time); }
std::tm PrefManager::getWorkdayEnd() { return read_time(kWorkdayEndHour, kWorkdayEndMinute); }
void PrefManager::setWorkdayEnd(std::tm time) { save_time(kWorkdayEndHour, kWorkdayEndMinute, time); }

int PrefManager::getHoursForLaterToday() { return int_of(read(kHoursForLaterToday)); }
void PrefManager::setHoursForLaterToday(int hours) { _set(kHoursForLaterToday, hours); }
int PrefManager::getMonthsForSomeday() { return int_of(read(kMonthsForSomeday)); }
void PrefManager::setMonthsForSomeday(int months) { _set(kMonthsForSomeday, months); }
int PrefManager::getWorkWeekStartDay() { return int_of(read(kWorkWeekStartDay)); }
void PrefManager::setWorkWeekStartDay(int day) { _set(kWorkWeekStartDay, day); }
int PrefManager::getWeekendStartDay() { return int_of(read(kWeekendStartDay)); }
void PrefManager::setWeekendStartDay(int day) { _set(kWeekendStartDay, day); }

int PrefManager::getWeekendEndDay() {
  int work_week_start = getWorkWeekStartDay();
  int weekend_start = getWeekendStartDay();
  if (work_week_start == weekend_start) return work_week_start;
  return work_week_start != 0 ? work_week_start - 1 : 6;
}

int PrefManager::getNotifType() { return int_of(read(kNotifType)); }
void PrefManager::setNotifType(int type) { _set(kNotifType, type); }
bool PrefManager::pushEnabledForNewMessages() { return getNotifType() == 2; }
void PrefManager::setPushEnabledForNewMessages(bool enabled) { _set(kNotifType, enabled ? 2 : 1); }
bool PrefManager::getReminderPush() { return read(kReminderPush).bool_value(); }
void PrefManager::setReminderPush(bool enabled) { _set(kReminderPush, enabled); }
int PrefManager::getBadgeType() { return int_of(read(kBadgeType)); }
void PrefManager::setBadgeType(int type) { _set(kBadgeType, type); }
bool PrefManager::getPush() { return read(kPush).bool_value(); }
void PrefManager::setPush(bool enabled) { _set(kPush, enabled); }
void PrefManager::setHasAccountSpecificSignatures(bool enabled) { _set(kHasAccountSignatures, enabled); }
bool PrefManager::stateChangeWillReadItem() { return int_of(read(kStateChangeAction)) == 1; }
void PrefManager::setStateChangeWillReadItem(bool enabled) { _set(kStateChangeAction, enabled ? 1 : 2); }
bool PrefManager::moveActionShouldUnstarItem() { return read(kMoveUnstars).bool_value(); }
void PrefManager::setMoveActionShouldUnstarItem(bool enabled) { _set(kMoveUnstars, enabled); }
bool PrefManager::shouldShowHelpMeGetToZero() { return read(kShowHelpMeGetToZero).bool_value(); }
void PrefManager::setShouldShowHelpMeGetToZero(bool enabled) { _set(kShowHelpMeGetToZero, enabled); }
bool PrefManager::allowSwipeFromEdgeToShowDrawer() { return read(kSwipeFromEdge).bool_value(); }
void PrefManager::setAllowSwipeFromEdgeToShowDrawer(bool enabled) { _set(kSwipeFromEdge, enabled); }
bool PrefManager::autoSwipeEnabled() { return read(kAutoSwipe).bool_value(); }
void PrefManager::setAutoSwipeEnabled(bool enabled) { _set(kAutoSwipe, enabled); }
int PrefManager::getBrowser() { return int_of(read(kBrowser)); }
void PrefManager::setBrowser(int browser) { _set(kBrowser, browser); }

int64_t PrefManager::getTimeZoneOffset() { return read(kTimeZoneOffset).int64_value(); }

void PrefManager::updateTimeZoneOffset() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  int64_t offset = static_cast<int64_t>(local.tm_gmtoff) * 1000;
  if (offset == getTimeZoneOffset()) return;
  _set(kTimeZoneOffset, static_cast<double>(offset));
}

std::string PrefManager::getTimeZoneName() { return read(kTimeZoneName).string_value(); }

void PrefManager::setTimeZoneName(const std::string& name) {
  if (getTimeZoneName() == name) return;
  _set(kTimeZoneName, name);
}

std::string PrefManager::getLocale() { return read(kLocale).string_value(); }

void PrefManager::setLocale(const std::string& locale) {
  if (getLocale() == locale) return;
  _set(kLocale, locale);
}

bool PrefManager::userHasSeenTutorial() { return read(kSeenTutorial).bool_value(); }
void PrefManager::setUserHasSeenTutorial(bool seen) { _set(kSeenTutorial, seen); }
bool PrefManager::userHasSeenLargeBadgePrompt() { return read(kSeenLargeBadgePrompt).bool_value(); }
void PrefManager::setUserHasSeenLargeBadgePrompt(bool seen) { _set(kSeenLargeBadgePrompt, seen); }
bool PrefManager::userHasConfirmedBatchSwipe() { return read(kConfirmedBatchSwipe).bool_value(); }
void PrefManager::setUserHasConfirmedBatchSwipe(bool confirmed) { _set(kConfirmedBatchSwipe, confirmed); }
bool PrefManager::userHasSeenZeroInboxSharePrompt() { return read(kSeenZeroInboxSharePrompt).bool_value(); }
void PrefManager::setUserHasSeenZeroInboxSharePrompt(bool seen) { _set(kSeenZeroInboxSharePrompt, seen); }

void pref_manager_set_instance(std::shared_ptr<PrefManager> manager) { instance.set(std::move(manager)); }

std::tm pref_manager_get_weekday_start() { return instance.call(&PrefManager::getWeekdayStart); }
std::tm pref_manager_get_weekend_start() { return instance.call(&PrefManager::getWeekendStart); }
std::tm pref_manager_get_workday_end() { return instance.call(&PrefManager::getWorkdayEnd); }
void pref_manager_set_weekday_start(std::tm time) { instance.call(&PrefManager::setWeekdayStart, time); }
void pref_manager_set_weekend_start(std::tm time) { instance.call(&PrefManager::setWeekendStart, time); }
void pref_manager_set_workday_end(std::tm time) { instance.call(&PrefManager::setWorkdayEnd, time); }
int pref_manager_get_hours_for_later_today() { return instance.call(&PrefManager::getHoursForLaterToday); }
int pref_manager_get_months_for_someday() { return instance.call(&PrefManager::getMonthsForSomeday); }
void pref_manager_set_hours_for_later_today(int hours) {
  instance.call(&PrefManager::setHoursForLaterToday, hours);
}
void pref_manager_set_months_for_someday(int months) {
  instance.call(&PrefManager::setMonthsForSomeday, months);
}
int pref_manager_get_work_week_start_day() { return instance.call(&PrefManager::getWorkWeekStartDay); }
int pref_manager_get_weekend_start_day() { return instance.call(&PrefManager::getWeekendStartDay); }
int pref_manager_get_weekend_end_day() { return instance.call(&PrefManager::getWeekendEndDay); }
void pref_manager_set_work_week_start_day(int day) { instance.call(&PrefManager::setWorkWeekStartDay, day); }
void pref_manager_set_weekend_start_day(int day) { instance.call(&PrefManager::setWeekendStartDay, day); }
int pref_manager_get_notif_type() { return instance.call(&PrefManager::getNotifType); }
void pref_manager_set_notif_type(int type) { instance.call(&PrefManager::setNotifType, type); }
bool pref_manager_push_enabled_for_new_messages() {
  return instance.call(&PrefManager::pushEnabledForNewMessages);
}
void pref_manager_set_push_enabled_for_new_messages(bool enabled) {
  instance.call(&PrefManager::setPushEnabledForNewMessages, enabled);
}
bool pref_manager_get_reminder_push() { return instance.call(&PrefManager::getReminderPush); }
void pref_manager_set_reminder_push(bool enabled) { instance.call(&PrefManager::setReminderPush, enabled); }
int pref_manager_get_badge_type() { return instance.call(&PrefManager::getBadgeType); }
void pref_manager_set_badge_type(int type) { instance.call(&PrefManager::setBadgeType, type); }
bool pref_manager_get_push() { return instance.call(&PrefManager::getPush); }
void pref_manager_set_push(bool enabled) { instance.call(&PrefManager::setPush, enabled); }
bool pref_manager_has_account_specific_signatures() {
  return instance.call(&PrefManager::hasAccountSpecificSignatures);
}
void pref_manager_set_has_account_specific_signatures(bool enabled) {
  instance.call(&PrefManager::setHasAccountSpecificSignatures, enabled);
}
std::string pref_manager_get_email_signature(const std::string& accountID) {
  return instance.call(&PrefManager::getEmailSignature, accountID);
}
std::string pref_manager_get_email_signature_preview(const std::string& accountID) {
  return instance.call(&PrefManager::getEmailSignaturePreview, accountID);
}
std::string pref_manager_get_email_signature_to_insert(const std::string& accountID) {
  return instance.call(&PrefManager::getEmailSignatureToInsert, accountID);
}
void pref_manager_set_email_signature(const std::string& accountID, const std::string& signature) {
  instance.call(&PrefManager::setEmailSignature, accountID, signature);
}
bool pref_manager_state_change_will_read_item() {
  return instance.call(&PrefManager::stateChangeWillReadItem);
}
void pref_manager_set_state_change_will_read_item(bool enabled) {
  instance.call(&PrefManager::setStateChangeWillReadItem, enabled);
}
bool pref_manager_move_action_should_unstar_item() {
  return instance.call(&PrefManager::moveActionShouldUnstarItem);
}
void pref_manager_set_move_action_should_unstar_item(bool enabled) {
  instance.call(&PrefManager::setMoveActionShouldUnstarItem, enabled);
}
bool pref_manager_should_show_help_me_get_to_zero() {
  return instance.call(&PrefManager::shouldShowHelpMeGetToZero);
}
void pref_manager_set_should_show_help_me_get_to_zero(bool enabled) {
  instance.call(&PrefManager::setShouldShowHelpMeGetToZero, enabled);
}
bool pref_manager_allow_swipe_from_edge_to_show_drawer() {
  return instance.call(&PrefManager::allowSwipeFromEdgeToShowDrawer);
}
void pref_manager_set_allow_swipe_from_edge_to_show_drawer(bool enabled) {
  instance.call(&PrefManager::setAllowSwipeFromEdgeToShowDrawer, enabled);
}

}  // namespace libkestrun
