// Preferences, snooze settings and the badge through the facade, over the whole core in a
// temporary directory. The key-value store is the host's override, so a test can write the user
// document the way registration and linking leave it.
#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "core/accounts/user_manager_impl.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/memory_store.h"
#include "core/foundation/pref_manager.h"
#include "core/services/counts_manager.h"

namespace kestrun_test {
namespace {

using jsonette::Json;
using libkestrun::Api;

class ApiPreferencesTest : public ApiTest {
 protected:
  ApiPreferencesTest() {
    libkestrun::Overrides overrides;
    overrides.kv_store = store_;
    start(config(), overrides);
  }

  // The user document as registration (an anonymous user's id starts with "-") or linking leaves it.
  void set_user(const std::string& user_id) {
    libkestrun::JsonKvStore(store_).set_json(
        libkestrun::kUserDocKey, Json::object{{"user_id", user_id},
                                              {"device_id", "8C1D2E51-3B0A-4C8E-9F6D-2A7B5C4E1F00"},
                                              {"device_secret", "0E9A7C21-6D4B-4F3A-8E25-1B7C9D3F5A60"}});
  }

  std::shared_ptr<libkestrun::KvStore> store_ = std::make_shared<libkestrun::MemoryStore>();
};

TEST_F(ApiPreferencesTest, AutoSwipeCountsOnlyForALinkedUser) {
  api_->set_auto_swipe_enabled(true);
  EXPECT_FALSE(api_->auto_swipe_enabled()) << "no user at all";
  set_user("-3f9a0c12be47");
  EXPECT_FALSE(api_->auto_swipe_enabled()) << "anonymous user";
  set_user("U1");
  EXPECT_TRUE(api_->auto_swipe_enabled()) << "linked, the stored switch unchanged";
  api_->set_auto_swipe_enabled(false);
  EXPECT_FALSE(api_->auto_swipe_enabled());
}

TEST_F(ApiPreferencesTest, NewMessagePushReadsTrueOnlyForNotifType2) {
  api_->set_push_enabled_for_new_messages(false);
  EXPECT_EQ(libkestrun::pref_manager_get_notif_type(), 1);
  EXPECT_FALSE(api_->push_enabled_for_new_messages());
  api_->set_push_enabled_for_new_messages(true);
  EXPECT_EQ(libkestrun::pref_manager_get_notif_type(), 2);
  EXPECT_TRUE(api_->push_enabled_for_new_messages());
  for (int other : {0, 1, 3}) {
    libkestrun::pref_manager_set_notif_type(other);
    EXPECT_FALSE(api_->push_enabled_for_new_messages()) << other;
  }
}

TEST_F(ApiPreferencesTest, TimeSettersKeepOnlyHourAndMinute) {
  const struct {
    const char* name;
    void (Api::*set)(std::tm);
    std::tm (Api::*get)();
  } cases[] = {
      {"weekday start", &Api::set_weekday_start_time_components, &Api::get_weekday_start_time_components},
      {"weekend start", &Api::set_weekend_start_time_components, &Api::get_weekend_start_time_components},
      {"workday end", &Api::set_workday_end_time_components, &Api::get_workday_end_time_components},
  };
  int hour = 5;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::tm time{};
    time.tm_sec = 59;
    time.tm_hour = ++hour;
    time.tm_min = 42;
    time.tm_mday = 17;
    time.tm_mon = 11;
    time.tm_year = 126;
    time.tm_wday = 4;
    time.tm_yday = 350;
    time.tm_isdst = 1;
    (api_.get()->*c.set)(time);
    const std::tm read = (api_.get()->*c.get)();
    EXPECT_EQ(read.tm_hour, hour);
    EXPECT_EQ(read.tm_min, 42);
    EXPECT_EQ(read.tm_sec, 0);
    EXPECT_EQ(read.tm_mday, 0);
    EXPECT_EQ(read.tm_mon, 0);
    EXPECT_EQ(read.tm_year, 0);
    EXPECT_EQ(read.tm_isdst, 0);
  }
  // Each pair has its own keys.
  EXPECT_EQ(api_->get_weekday_start_time_components().tm_hour, 6);
  EXPECT_EQ(api_->get_weekend_start_time_components().tm_hour, 7);
}

// Every switch reads back what was set, and setting one leaves the others alone.
TEST_F(ApiPreferencesTest, SwitchesReadBackWhatWasSet) {
  const struct {
    const char* name;
    void (Api::*set)(bool);
    bool (Api::*get)();
  } cases[] = {
      {"snoozed push", &Api::set_push_enabled_for_snoozed_messages, &Api::push_enabled_for_snoozed_messages},
      {"push", &Api::set_push_enabled, &Api::push_enabled},
      {"state change reads", &Api::set_state_change_will_read_item, &Api::state_change_will_read_item},
      {"move unstars", &Api::set_move_action_will_unstar_item, &Api::move_action_will_unstar_item},
      {"help banner", &Api::set_show_help_me_get_to_zero_banner, &Api::show_help_me_get_to_zero_banner},
      {"drawer swipe", &Api::set_allow_swipe_to_show_drawer, &Api::allow_swipe_to_show_drawer},
      {"tutorial", &Api::set_user_has_seen_tutorial, &Api::user_has_seen_tutorial},
      {"large badge", &Api::set_user_has_seen_large_badge_prompt, &Api::user_has_seen_large_badge_prompt},
      {"batch swipe", &Api::set_user_has_confirmed_batch_swipe, &Api::user_has_confirmed_batch_swipe},
      {"share prompt", &Api::set_user_has_seen_zero_inbox_share_prompt,
       &Api::user_has_seen_zero_inbox_share_prompt},
  };
  Api& api = *api_;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<bool> before;
    for (const auto& any : cases) before.push_back((api.*any.get)());
    const bool flipped = !before[&c - cases];
    (api.*c.set)(flipped);
    for (const auto& any : cases)
      EXPECT_EQ((api.*any.get)(), &any == &c ? flipped : before[&any - cases]) << any.name;
    (api.*c.set)(!flipped);
    EXPECT_EQ((api.*c.get)(), !flipped);
  }
}

TEST_F(ApiPreferencesTest, NumbersAndDaysReadBackWhatWasSet) {
  api_->set_hours_for_later_today_snooze(4);
  api_->set_months_for_someday_snooze(9);
  api_->set_work_week_start_day(2);
  api_->set_weekend_start_day(5);
  api_->set_default_browser(3);
  EXPECT_EQ(api_->get_hours_for_later_today_snooze(), 4);
  EXPECT_EQ(api_->get_months_for_someday_snooze(), 9);
  EXPECT_EQ(api_->get_work_week_start_day(), 2);
  EXPECT_EQ(api_->get_weekend_start_day(), 5);
  EXPECT_EQ(api_->get_weekend_end_day(), 1);  // the day before the work week starts
  EXPECT_EQ(api_->get_default_browser(), 3);
}

TEST_F(ApiPreferencesTest, GlobalSignatureServesEveryAccount) {
  EXPECT_EQ(api_->get_email_signature_for_account("acct-1"), api_->get_default_email_signature());
  api_->set_email_signature_for_account("", "<b>Maya</b>");
  EXPECT_EQ(api_->get_email_signature_for_account("acct-1"), "<b>Maya</b>");
  EXPECT_EQ(api_->get_email_signature_preview_for_account("acct-1"), "Maya");
  EXPECT_FALSE(api_->has_account_specific_signatures());
}

TEST_F(ApiPreferencesTest, BadgeShowsTheInboxCountOnlyForBadgeType1) {
  // One count known only roughly: the total is rounded to two significant digits, the desktop
  // badge rounds that account alone.
  libkestrun::counts_manager_set_active_count("acct-1", 123, false);
  libkestrun::counts_manager_set_active_count("acct-2", 5, true);
  api_->set_badge_type(1);
  EXPECT_EQ(api_->get_badge_type(), 1);
  EXPECT_EQ(api_->get_badge_count(), 130);
  EXPECT_EQ(api_->get_mac_badge_count(), 125);
  for (int type : {0, 2, 3}) {
    api_->set_badge_type(type);
    EXPECT_EQ(api_->get_badge_count(), 0) << type;
    EXPECT_EQ(api_->get_mac_badge_count(), 0) << type;
  }
}

TEST_F(ApiPreferencesTest, WorkWeekMustNotStartOnTheWeekendsFirstDay) {
  const struct {
    int work_week_start, weekend_start;
    bool valid;
  } cases[] = {{1, 6, true}, {0, 0, false}, {6, 6, false}, {6, 1, true}};
  for (const auto& c : cases)
    EXPECT_EQ(api_->is_valid_work_week_start_and_weekend_start(c.work_week_start, c.weekend_start), c.valid)
        << c.work_week_start << " " << c.weekend_start;
}

TEST_F(ApiPreferencesTest, SnoozeTypesHaveTheirLabels) {
  EXPECT_EQ(api_->name_for_snooze_type(libkestrun::SnoozeType::Someday), "Someday");
  EXPECT_EQ(api_->name_for_snooze_type(libkestrun::SnoozeType::LaterToday), "Later Today");
}

}  // namespace
}  // namespace kestrun_test
