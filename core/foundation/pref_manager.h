// The user's preferences: one flat map of named JSON values (every key of the defaults table, plus
// the time-zone name and whatever the store or the server brought), written whole to the key-value
// store after every change. Local changes are announced as pref_locally_changed events on the core
// thread, in the order of the changes; the server's copy is merged by updateFromServer. Signatures
// of single accounts and the default account are kept by the account manager; this class answers
// for them and announces their changes.
#pragma once

#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "brelt/uv_thread.h"
#include "core/accounts/account_manager.h"
#include "core/foundation/event_source.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/notification_center.h"
#include "core/model/ks_email_account.h"
#include "jsonette/json.h"

namespace libkestrun {

// A JSON object of the changed keys and their new values.
struct pref_locally_changed {
  using listener = std::function<void(jsonette::Json)>;
};

class PrefManager : public lks::EventSource<pref_locally_changed> {
 public:
  using Prefs = std::map<std::string, jsonette::Json>;

  // Loads the stored preferences over the defaults; writes, announces and posts nothing.
  PrefManager(brelt::UvThread* thread, const std::shared_ptr<NotificationCenter>& center,
              const std::shared_ptr<KvStore>& store, AccountManager* accounts);
  PrefManager(const PrefManager&) = delete;
  PrefManager& operator=(const PrefManager&) = delete;
  // Events already queued for the core thread are dropped. Not on a thread the core waits for.
  ~PrefManager();

  // The defaults table, with the signature in the current locale.
  Prefs _defaults();
  // Merges `changes`, writes the whole map, then (when `notify`) queues the event. When the write
  // fails the exception leaves, the map is unchanged and nothing is announced.
  void _save(const Prefs& changes, bool notify);
  void _set(const std::string& key, const jsonette::Json& value);

  // The defaults, written; no event, no notification.
  void resetToDefaults();
  // The entries that differ from their defaults (keys without a default always).
  jsonette::Json getChangedPreferences();
  // Merges the server's copy and writes it; the account keys go to the account manager. Posts
  // "com.kestrun.any.preference.changed" when anything changed; announces no local change.
  void updateFromServer(const jsonette::Json& preferences);

  // Signatures. An account's own signature is used only when account signatures are on and more
  // than one account exists; otherwise the global one.
  std::string getEmailSignature(const std::string& accountID);
  std::string getEmailSignaturePreview(const std::string& accountID);
  std::string getEmailSignatureToInsert(const std::string& accountID);
  std::string getDefaultEmailSignature();
  std::string _defaultSignature();
  // Markup comes back unchanged; plain text is escaped, the product word linked and line feeds
  // turned into <br>.
  std::string _signatureToHtml(const std::string& signature);
  // An empty account id sets the global signature.
  void setEmailSignature(const std::string& accountID, const std::string& signature);
  std::shared_ptr<KSEmailAccount> getDefaultAccount();
  void setDefaultAccount(const std::string& accountID);

  std::tm getWeekdayStart();
  void setWeekdayStart(std::tm time);
  std::tm getWeekendStart();
  void setWeekendStart(std::tm time);
  std::tm getWorkdayEnd();
  void setWorkdayEnd(std::tm time);
  int getHoursForLaterToday();
  void setHoursForLaterToday(int hours);
  int getMonthsForSomeday();
  void setMonthsForSomeday(int months);
  // Days count as std::tm::tm_wday does, 0 Sunday to 6 Saturday.
  int getWorkWeekStartDay();
  void setWorkWeekStartDay(int day);
  int getWeekendStartDay();
  void setWeekendStartDay(int day);
  int getWeekendEndDay();
  int getNotifType();
  void setNotifType(int type);
  bool pushEnabledForNewMessages();
  void setPushEnabledForNewMessages(bool enabled);
  bool getReminderPush();
  void setReminderPush(bool enabled);
  int getBadgeType();
  void setBadgeType(int type);
  bool getPush();
  void setPush(bool enabled);
  bool hasAccountSpecificSignatures();
  void setHasAccountSpecificSignatures(bool enabled);
  bool stateChangeWillReadItem();
  void setStateChangeWillReadItem(bool enabled);
  bool moveActionShouldUnstarItem();
  void setMoveActionShouldUnstarItem(bool enabled);
  bool shouldShowHelpMeGetToZero();
  void setShouldShowHelpMeGetToZero(bool enabled);
  bool allowSwipeFromEdgeToShowDrawer();
  void setAllowSwipeFromEdgeToShowDrawer(bool enabled);
  bool autoSwipeEnabled();
  void setAutoSwipeEnabled(bool enabled);
  int getBrowser();
  void setBrowser(int browser);
  // Milliseconds east of UTC.
  int64_t getTimeZoneOffset();
  // Stores the current local offset when it differs from the stored one.
  void updateTimeZoneOffset();
  std::string getTimeZoneName();
  void setTimeZoneName(const std::string& name);
  std::string getLocale();
  void setLocale(const std::string& locale);
  bool userHasSeenTutorial();
  void setUserHasSeenTutorial(bool seen);
  bool userHasSeenLargeBadgePrompt();
  void setUserHasSeenLargeBadgePrompt(bool seen);
  bool userHasConfirmedBatchSwipe();
  void setUserHasConfirmedBatchSwipe(bool confirmed);
  bool userHasSeenZeroInboxSharePrompt();
  void setUserHasSeenZeroInboxSharePrompt(bool seen);

 private:
  // The value under `key`, or null; never enters the key.
  jsonette::Json read(const std::string& key);
  std::tm read_time(const std::string& hour_key, const std::string& minute_key);
  void save_time(const std::string& hour_key, const std::string& minute_key, const std::tm& time);
  // Writes `prefs` whole; the caller holds the mutex.
  void _persist(const Prefs& prefs);
  // Queues `fire` on the core thread, unless the manager is gone by the time it runs.
  void queue_event(std::function<void()> fire);
  void fire_changed(const Prefs& changes) { _notify<pref_locally_changed>(changes); }

  brelt::UvThread* thread_;
  std::shared_ptr<NotificationCenter> center_;
  JsonKvStore store_;
  AccountManager* accounts_;
  std::mutex mutex_;
  Prefs prefs_;
  // Read and cleared on the core thread only.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The process-wide instance (see process_instance.h): each forwarder below calls the method of
// the same name on it, or answers the neutral value while none is set.
void pref_manager_set_instance(std::shared_ptr<PrefManager> manager);

std::tm pref_manager_get_weekday_start();
std::tm pref_manager_get_weekend_start();
std::tm pref_manager_get_workday_end();
void pref_manager_set_weekday_start(std::tm time);
void pref_manager_set_weekend_start(std::tm time);
void pref_manager_set_workday_end(std::tm time);
int pref_manager_get_hours_for_later_today();
int pref_manager_get_months_for_someday();
void pref_manager_set_hours_for_later_today(int hours);
void pref_manager_set_months_for_someday(int months);
int pref_manager_get_work_week_start_day();
int pref_manager_get_weekend_start_day();
int pref_manager_get_weekend_end_day();
void pref_manager_set_work_week_start_day(int day);
void pref_manager_set_weekend_start_day(int day);
int pref_manager_get_notif_type();
void pref_manager_set_notif_type(int type);
bool pref_manager_push_enabled_for_new_messages();
void pref_manager_set_push_enabled_for_new_messages(bool enabled);
bool pref_manager_get_reminder_push();
void pref_manager_set_reminder_push(bool enabled);
int pref_manager_get_badge_type();
void pref_manager_set_badge_type(int type);
bool pref_manager_get_push();
void pref_manager_set_push(bool enabled);
bool pref_manager_has_account_specific_signatures();
void pref_manager_set_has_account_specific_signatures(bool enabled);
std::string pref_manager_get_email_signature(const std::string& accountID);
std::string pref_manager_get_email_signature_preview(const std::string& accountID);
std::string pref_manager_get_email_signature_to_insert(const std::string& accountID);
void pref_manager_set_email_signature(const std::string& accountID, const std::string& signature);
bool pref_manager_state_change_will_read_item();
void pref_manager_set_state_change_will_read_item(bool enabled);
bool pref_manager_move_action_should_unstar_item();
void pref_manager_set_move_action_should_unstar_item(bool enabled);
bool pref_manager_should_show_help_me_get_to_zero();
void pref_manager_set_should_show_help_me_get_to_zero(bool enabled);
bool pref_manager_allow_swipe_from_edge_to_show_drawer();
void pref_manager_set_allow_swipe_from_edge_to_show_drawer(bool enabled);

}  // namespace libkestrun
