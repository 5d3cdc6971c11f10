#include "core/foundation/pref_manager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/foundation/leveldb_store.h"
#include "core/foundation/memory_store.h"
#include "support/fake_account_manager.h"
#include "support/temp_dir.h"

namespace libkestrun {
namespace {

using jsonette::Json;
const std::string kStoreKey = "kestrun.preferences.all_keys";
const std::string kChanged = "com.kestrun.any.preference.changed";

// Counts the writes that reach the store and fails them on demand.
class CountingStore final : public KvStore {
 public:
  explicit CountingStore(std::shared_ptr<KvStore> inner) : inner_(std::move(inner)) {}
  std::optional<Bytes> get(const std::string& key) override { return inner_->get(key); }
  void set(const std::string& key, const Bytes& value) override {
    if (fail) throw std::runtime_error("disk full");
    ++writes;
    inner_->set(key, value);
  }
  void erase(const std::string& key) override { inner_->erase(key); }
  void for_each_key(const KeyFn& fn) override { inner_->for_each_key(fn); }
  int writes = 0;
  bool fail = false;

 private:
  std::shared_ptr<KvStore> inner_;
};

// The account manager as the preferences see it, kept in memory.
class Accounts final : public kestrun_test::FakeAccountManager {
 public:
  std::shared_ptr<std::vector<std::string>> allAccountIDs() override {
    auto ids = std::make_shared<std::vector<std::string>>();
    for (const auto& [id, account] : accounts) ids->push_back(id);
    return ids;
  }
  std::shared_ptr<KSEmailAccount> emailAccountWithID(const std::string& id) override {
    auto it = accounts.find(id);
    return it == accounts.end() ? nullptr : std::make_shared<KSEmailAccount>(it->second);
  }
  std::shared_ptr<KSEmailAccount> getDefaultAccount() override { return emailAccountWithID(default_id); }
  void setDefaultAccount(const std::string& id) override {
    ++default_calls;
    if (accounts.count(id)) default_id = id;
  }
  void setEmailSignature(const std::string& id, const std::string& signature) override {
    if (accounts.count(id)) accounts[id].emailSignature = signature;
  }
  std::map<std::string, std::string> allEmailSignatures() override {
    std::map<std::string, std::string> out;
    for (const auto& [id, account] : accounts) out[id] = account.emailSignature;
    return out;
  }
  void setEmailSignatures(const std::map<std::string, std::string>& signatures) override {
    for (const auto& [id, signature] : signatures) setEmailSignature(id, signature);
  }
  void add(const std::string& id, const std::string& signature = "") {
    KSEmailAccount& account = accounts[id];
    account.accountID = id;
    account.emailSignature = signature;
  }

  std::map<std::string, KSEmailAccount> accounts;
  std::string default_id;
  int default_calls = 0;
};

class PrefManagerTest : public ::testing::Test {
 protected:
  PrefManagerTest() {
    center_->listen(kChanged, this, [this](const std::string&, const Json&) { ++notifications_; });
  }
  ~PrefManagerTest() override { prefs_.reset(); }

  PrefManager& prefs() {
    if (!prefs_) {
      prefs_ = std::make_shared<PrefManager>(&thread_, center_, store_, &accounts_);
      prefs_->listen<pref_locally_changed>([this](Json changes) {
        EXPECT_TRUE(thread_.is_current_thread());
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(changes);
      });
    }
    return *prefs_;
  }
  void restart() { prefs_.reset(); }

  // Every event and notification queued so far has been delivered when it returns.
  std::vector<Json> events() {
    thread_.post_sync([] {});
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(events_, {});
  }
  Json stored() {
    auto bytes = base_->get(kStoreKey);
    if (!bytes) return Json("<absent>");
    std::string err;
    return Json::parse(std::string(bytes->begin(), bytes->end()), err);
  }
  void store_text(const std::string& text) {
    base_->set(kStoreKey, KvStore::Bytes(text.begin(), text.end()));
  }

  brelt::UvThread thread_{true};
  std::shared_ptr<NotificationCenter> center_ = std::make_shared<NotificationCenter>(thread_);
  std::shared_ptr<KvStore> base_ = std::make_shared<MemoryStore>();
  std::shared_ptr<CountingStore> store_ = std::make_shared<CountingStore>(base_);
  Accounts accounts_;
  std::shared_ptr<PrefManager> prefs_;
  std::mutex mutex_;
  std::vector<Json> events_;
  int notifications_ = 0;
};

TEST_F(PrefManagerTest, AnEmptyStoreGivesTheDefaultsAndWritesNothing) {
  PrefManager& p = prefs();
  EXPECT_EQ(p.getChangedPreferences(), Json(Json::object{}));
  EXPECT_EQ(p.getWeekdayStart().tm_hour, 8);
  EXPECT_EQ(p.getWeekendStart().tm_hour, 10);
  EXPECT_EQ(p.getWorkdayEnd().tm_hour, 18);
  EXPECT_EQ(p.getWorkdayEnd().tm_min, 0);
  EXPECT_EQ(p.getHoursForLaterToday(), 3);
  EXPECT_EQ(p.getMonthsForSomeday(), 3);
  EXPECT_EQ(p.getWorkWeekStartDay(), 1);
  EXPECT_EQ(p.getWeekendStartDay(), 6);
  EXPECT_EQ(p.getWeekendEndDay(), 0);
  EXPECT_EQ(p.getBadgeType(), 1);
  EXPECT_EQ(p.getNotifType(), 2);
  EXPECT_TRUE(p.pushEnabledForNewMessages());
  EXPECT_FALSE(p.getPush());
  EXPECT_TRUE(p.getReminderPush());
  EXPECT_FALSE(p.hasAccountSpecificSignatures());
  EXPECT_TRUE(p.stateChangeWillReadItem());
  EXPECT_TRUE(p.moveActionShouldUnstarItem());
  EXPECT_TRUE(p.shouldShowHelpMeGetToZero());
  EXPECT_TRUE(p.allowSwipeFromEdgeToShowDrawer());
  EXPECT_TRUE(p.autoSwipeEnabled());
  EXPECT_EQ(p.getBrowser(), 1);
  EXPECT_EQ(p.getTimeZoneOffset(), 0);
  EXPECT_EQ(p.getLocale(), "en");
  EXPECT_EQ(p.getTimeZoneName(), "");
  EXPECT_FALSE(p.userHasSeenTutorial());
  EXPECT_FALSE(p.userHasSeenLargeBadgePrompt());
  EXPECT_FALSE(p.userHasConfirmedBatchSwipe());
  EXPECT_FALSE(p.userHasSeenZeroInboxSharePrompt());
  EXPECT_EQ(p.getEmailSignature(""), p.getDefaultEmailSignature());
  EXPECT_EQ(p._defaults().size(), 28u);
  EXPECT_EQ(store_->writes, 0);
  EXPECT_TRUE(events().empty());
  // Reading the time-zone name did not enter it.
  EXPECT_EQ(p.getChangedPreferences(), Json(Json::object{}));
}

TEST_F(PrefManagerTest, EachSetterWritesOnceAndAnnouncesOneChange) {
  std::tm time{};
  time.tm_hour = 7;
  time.tm_min = 30;
  struct Case {
    std::function<void(PrefManager&)> set;
    Json::object change;
  };
  const Case cases[] = {
      {[&](PrefManager& p) { p.setWeekdayStart(time); },
       {{"weekday_start_hour", 7}, {"weekday_start_minute", 30}}},
      {[&](PrefManager& p) { p.setWeekendStart(time); },
       {{"weekend_start_hour", 7}, {"weekend_start_minute", 30}}},
      {[&](PrefManager& p) { p.setWorkdayEnd(time); }, {{"workday_end_hour", 7}, {"workday_end_minute", 30}}},
      {[](PrefManager& p) { p.setHoursForLaterToday(25); }, {{"hours_for_later_today", 25}}},
      {[](PrefManager& p) { p.setMonthsForSomeday(4); }, {{"months_for_someday", 4}}},
      {[](PrefManager& p) { p.setWorkWeekStartDay(9); }, {{"work_week_start_day", 9}}},
      {[](PrefManager& p) { p.setWeekendStartDay(5); }, {{"weekend_start_day", 5}}},
      {[](PrefManager& p) { p.setNotifType(3); }, {{"notif_type", 3}}},
      {[](PrefManager& p) { p.setPushEnabledForNewMessages(false); }, {{"notif_type", 1}}},
      {[](PrefManager& p) { p.setReminderPush(false); }, {{"reminder_push", false}}},
      {[](PrefManager& p) { p.setBadgeType(1); }, {{"badge_type", 1}}},  // equal to the held value
      {[](PrefManager& p) { p.setPush(true); }, {{"push", true}}},
      {[](PrefManager& p) { p.setHasAccountSpecificSignatures(true); },
       {{"has_account_specific_signatures", true}}},
      {[](PrefManager& p) { p.setEmailSignature("", "Bye"); }, {{"global_email_signature", "Bye"}}},
      {[](PrefManager& p) { p.setStateChangeWillReadItem(false); }, {{"state_change_action", 2}}},
      {[](PrefManager& p) { p.setMoveActionShouldUnstarItem(false); },
       {{"move_action_should_unstar_item", false}}},
      {[](PrefManager& p) { p.setShouldShowHelpMeGetToZero(false); },
       {{"should_show_help_me_get_to_zero", false}}},
      {[](PrefManager& p) { p.setAllowSwipeFromEdgeToShowDrawer(false); },
       {{"allow_swipe_from_edge_to_show_drawer", false}}},
      {[](PrefManager& p) { p.setAutoSwipeEnabled(false); }, {{"auto_swipe_enabled", false}}},
      {[](PrefManager& p) { p.setBrowser(2); }, {{"browser", 2}}},
      {[](PrefManager& p) { p.setTimeZoneName("Europe/Paris"); }, {{"tzn", "Europe/Paris"}}},
      {[](PrefManager& p) { p.setLocale("fr"); }, {{"locale", "fr"}}},
      {[](PrefManager& p) { p.setUserHasSeenTutorial(true); }, {{"user_has_seen_tutorial", true}}},
      {[](PrefManager& p) { p.setUserHasSeenLargeBadgePrompt(true); },
       {{"user_has_seen_large_badge_prompt", true}}},
      {[](PrefManager& p) { p.setUserHasConfirmedBatchSwipe(true); },
       {{"user_has_confirmed_batch_swipe", true}}},
      {[](PrefManager& p) { p.setUserHasSeenZeroInboxSharePrompt(true); },
       {{"user_has_seen_zero_inbox_share_prompt", true}}},
  };
  PrefManager& p = prefs();
  for (const auto& c : cases) {
    const std::string name = c.change.begin()->first;
    int writes = store_->writes;
    c.set(p);
    EXPECT_EQ(store_->writes, writes + 1) << name;
    EXPECT_EQ(events(), std::vector<Json>{Json(c.change)}) << name;
    for (const auto& [key, value] : c.change) EXPECT_EQ(stored()[key], value) << key;
  }
  EXPECT_FALSE(p.pushEnabledForNewMessages());
  EXPECT_FALSE(p.stateChangeWillReadItem());
  EXPECT_EQ(p.getWorkWeekStartDay(), 9);
  EXPECT_EQ(p.getWeekdayStart().tm_min, 30);
  EXPECT_EQ(notifications_, 0);  // the controller posts it after sending a local change

  // Set-if-different setters leave an equal value alone.
  int writes = store_->writes;
  p.setLocale("fr");
  p.setTimeZoneName("Europe/Paris");
  EXPECT_EQ(store_->writes, writes);
  EXPECT_TRUE(events().empty());
}

TEST_F(PrefManagerTest, StoredValuesReplaceDefaultsAndUnknownKeysAreKept) {
  store_text("{\"badge_type\": 2, \"extra\": \"x\", \"notif_type\": \"wrong type\", \"browser\": 1e300}");
  PrefManager& p = prefs();
  EXPECT_EQ(p.getBadgeType(), 2);
  EXPECT_EQ(p.getNotifType(), 0);  // the neutral value of another type
  EXPECT_EQ(p.getBrowser(), std::numeric_limits<int>::max());
  Json changed = p.getChangedPreferences();
  EXPECT_EQ(changed["badge_type"], Json(2));
  EXPECT_EQ(changed["extra"], Json("x"));
  p.setPush(true);
  EXPECT_EQ(stored()["extra"], Json("x"));

  p.resetToDefaults();
  EXPECT_EQ(p.getChangedPreferences(), Json(Json::object{}));
  EXPECT_TRUE(stored()["extra"].is_null());
  EXPECT_EQ(stored()["badge_type"], Json(1));
  EXPECT_EQ(events().size(), 1u);  // the setPush only
  EXPECT_EQ(notifications_, 0);

  for (const char* bad : {"not json", "[1, 2]", "\"text\""}) {
    restart();
    store_text(bad);
    EXPECT_EQ(prefs().getChangedPreferences(), Json(Json::object{})) << bad;
  }
}

TEST_F(PrefManagerTest, AFailedSaveLeavesThePreferencesUnchanged) {
  PrefManager& p = prefs();
  store_->fail = true;
  EXPECT_THROW(p.setBadgeType(2), std::runtime_error);
  EXPECT_THROW(p.resetToDefaults(), std::runtime_error);
  EXPECT_THROW(p.updateFromServer(Json(Json::object{{"badge_type", 3}})), std::runtime_error);
  EXPECT_EQ(p.getBadgeType(), 1);
  EXPECT_EQ(p.getChangedPreferences(), Json(Json::object{}));
  EXPECT_TRUE(events().empty());
  EXPECT_EQ(notifications_, 0);
}

TEST_F(PrefManagerTest, SettingAnEmptyTimeZoneNameEntersNothing) {
  PrefManager& p = prefs();
  p.setTimeZoneName("");
  EXPECT_EQ(store_->writes, 0);
  EXPECT_EQ(p.getChangedPreferences(), Json(Json::object{}));
}

TEST_F(PrefManagerTest, ChangesFromTwoThreadsAreAnnouncedInTheOrderTheyWereMade) {
  PrefManager& p = prefs();
  auto writer = [&](int base) {
    for (int i = 0; i < 200; ++i) p.setBadgeType(base + i);
  };
  std::thread a(writer, 1000), b(writer, 2000);
  a.join();
  b.join();
  std::vector<Json> seen = events();
  ASSERT_EQ(seen.size(), 400u);
  // The last announced value is the one that stands, and each thread's values arrive in order.
  EXPECT_EQ(seen.back()["badge_type"].int_value(), p.getBadgeType());
  EXPECT_EQ(stored()["badge_type"].int_value(), p.getBadgeType());
  int last_a = 0, last_b = 0;
  for (const auto& event : seen) {
    int value = event["badge_type"].int_value();
    int& last = value < 2000 ? last_a : last_b;
    EXPECT_GT(value, last);
    last = value;
  }
}

TEST_F(PrefManagerTest, TheServerCopyIsMergedPersistedAndPostedOnce) {
  kestrun_test::TempDir dir;
  base_ = std::make_shared<LeveldbStore>(dir.file("db"));
  store_ = std::make_shared<CountingStore>(base_);
  accounts_.add("acc1", "old");
  accounts_.add("acc2");
  accounts_.default_id = "acc1";

  PrefManager& p = prefs();
  p.updateFromServer(Json(Json::object{{"badge_type", 2}, {"server_only", true}}));
  thread_.post_sync([] {});
  EXPECT_EQ(notifications_, 1);
  EXPECT_EQ(p.getBadgeType(), 2);
  EXPECT_EQ(stored()["server_only"], Json(true));
  EXPECT_TRUE(events().empty());  // not a local change

  p.updateFromServer(Json(Json::object{{"badge_type", 2}}));            // nothing new
  p.updateFromServer(Json(Json::object{{"default_account", "acc1"}}));  // the current default
  p.updateFromServer(Json("not an object"));
  p.updateFromServer(Json(Json::object{{"default_account", 5}, {"account_specific_signatures", "no"}}));
  thread_.post_sync([] {});
  EXPECT_EQ(notifications_, 1);
  EXPECT_EQ(accounts_.default_calls, 1);  // called although nothing differed

  p.updateFromServer(Json(Json::object{{"default_account", "acc2"},
                                       {"account_specific_signatures", Json::object{{"acc1", "new"}}}}));
  thread_.post_sync([] {});
  EXPECT_EQ(notifications_, 2);
  EXPECT_EQ(accounts_.default_id, "acc2");
  EXPECT_EQ(accounts_.accounts["acc1"].emailSignature, "new");
  EXPECT_EQ(p.getChangedPreferences()["default_account"], Json());  // never enters the map

  restart();  // release the database so that it can be opened again
  base_.reset();
  store_.reset();
  {
    auto reopened = std::make_shared<LeveldbStore>(dir.file("db"));
    PrefManager again(&thread_, center_, reopened, &accounts_);
    EXPECT_EQ(again.getBadgeType(), 2);
    EXPECT_EQ(again.getChangedPreferences()["server_only"], Json(true));
  }
}

TEST_F(PrefManagerTest, SignaturesBecomeHtml) {
  const std::string link = "<a href=\"https://www.kestrun.com/download\">Kestrun</a>";
  struct Case {
    std::string signature, html;
  };
  const Case cases[] = {
      {"Best,\nAnn", "Best,<br>Ann"},
      {"sent by kestrun and Kestrun", "sent by " + link + " and " + link},
      {"Tom & Jerry, 1 < 2 > 0", "Tom &amp; Jerry, 1 &lt; 2 &gt; 0"},
      {"Ann <ann@example.com>", "Ann <ann@example.com>"},  // parsed as an element: markup
      {"\"quoted\" it's", "&quot;quoted&quot; it&apos;s"},
      {"<b>bold</b> kestrun", "<b>bold</b> kestrun"},  // markup is left alone
      {"trailing\n", "trailing\n"},                    // its plain form is trimmed, so it counts as markup
      {"", ""},
  };
  PrefManager& p = prefs();
  for (const auto& c : cases) EXPECT_EQ(p._signatureToHtml(c.signature), c.html) << c.signature;

  p.setEmailSignature("", "");
  EXPECT_EQ(p.getEmailSignatureToInsert("any"), "<div class=\"kestrun_signature\"><br></div>");
  p.setEmailSignature("", "Ann\nkestrun fan");
  EXPECT_EQ(p.getEmailSignaturePreview(""), "Ann Kestrun fan");
  EXPECT_EQ(p.getDefaultEmailSignature(), "\u2014<br>Sent from " + link);
}

TEST_F(PrefManagerTest, AccountSignaturesApplyWithMoreThanOneAccount) {
  accounts_.add("a", "From A");
  PrefManager& p = prefs();
  p.setEmailSignature("", "Global");
  p.setHasAccountSpecificSignatures(true);
  EXPECT_FALSE(p.hasAccountSpecificSignatures());  // one account only
  EXPECT_EQ(p.getEmailSignature("a"), "Global");

  accounts_.add("b");
  EXPECT_TRUE(p.hasAccountSpecificSignatures());
  EXPECT_EQ(p.getEmailSignature("a"), "From A");
  EXPECT_EQ(p.getEmailSignature("b"), "Global");  // no signature of its own
  EXPECT_EQ(p.getEmailSignature(""), "Global");
  events();

  int writes = store_->writes;
  p.setEmailSignature("b", "From B");
  p.setDefaultAccount("b");
  EXPECT_EQ(accounts_.accounts["b"].emailSignature, "From B");
  EXPECT_EQ(accounts_.default_id, "b");
  EXPECT_EQ(p.getDefaultAccount()->accountID, "b");
  EXPECT_EQ(store_->writes, writes);
  EXPECT_EQ(
      events(),
      (std::vector<Json>{
          Json(Json::object{{"account_specific_signatures", Json::object{{"a", "From A"}, {"b", "From B"}}}}),
          Json(Json::object{{"default_account", "b"}}),
      }));
}

TEST_F(PrefManagerTest, TheWeekendEndsTheDayBeforeTheWorkWeekStarts) {
  struct Case {
    int work_week_start, weekend_start, weekend_end;
  };
  PrefManager& p = prefs();
  for (const Case& c : {Case{1, 6, 0}, Case{0, 6, 6}, Case{3, 3, 3}, Case{2, 6, 1}}) {
    p.setWorkWeekStartDay(c.work_week_start);
    p.setWeekendStartDay(c.weekend_start);
    EXPECT_EQ(p.getWeekendEndDay(), c.weekend_end) << c.work_week_start << "," << c.weekend_start;
  }
}

TEST_F(PrefManagerTest, TheTimeZoneOffsetFollowsTheLocalZone) {
  const char* saved = std::getenv("TZ");
  std::string previous = saved ? saved : "";
  PrefManager& p = prefs();
  struct Case {
    const char* zone;
    int64_t offset_ms;
  };
  for (const Case& c : {Case{"UTC-2", 7200000}, Case{"UTC+5", -18000000}}) {
    setenv("TZ", c.zone, 1);
    tzset();
    p.updateTimeZoneOffset();
    EXPECT_EQ(p.getTimeZoneOffset(), c.offset_ms) << c.zone;
    EXPECT_EQ(stored()["tz"].number_value(), static_cast<double>(c.offset_ms));
    int writes = store_->writes;
    p.updateTimeZoneOffset();
    EXPECT_EQ(store_->writes, writes);
  }
  EXPECT_EQ(events().size(), 2u);
  if (saved) {
    setenv("TZ", previous.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

TEST_F(PrefManagerTest, ForwardersReachTheProcessWideInstance) {
  EXPECT_EQ(pref_manager_get_badge_type(), 0);  // no instance yet: the neutral answer
  prefs();
  pref_manager_set_instance(prefs_);
  pref_manager_set_badge_type(4);
  EXPECT_EQ(pref_manager_get_badge_type(), 4);
  pref_manager_set_state_change_will_read_item(false);
  EXPECT_FALSE(pref_manager_state_change_will_read_item());
  EXPECT_EQ(pref_manager_get_weekend_end_day(), 0);
  EXPECT_EQ(pref_manager_get_email_signature_to_insert(""),
            "<div class=\"kestrun_signature\"><br>" + prefs().getEmailSignature("") + "</div>");
  pref_manager_set_instance(nullptr);
}

}  // namespace
}  // namespace libkestrun
