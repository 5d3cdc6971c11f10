// The controller's policy and its resets and purges, with the real managers, task manager and
// data center; the sync side records what the controller asks of it.
#include "core/sync/controller.h"

#include <gtest/gtest.h>

#include "controller_fixture.h"
#include "core/data/data_center.h"

namespace kestrun_test {
namespace {

using libkestrun::AccountActionErrorType;
using libkestrun::ItemState;
using Cause = libkestrun::internal::HarnvikUserUnlinkReason;

std::vector<Call> calls(std::initializer_list<const char*> methods) {
  std::vector<Call> out;
  for (const char* method : methods) out.push_back({method, Json::array{}});
  return out;
}
Call linger(uint64_t ms) { return {"schedule_disconnect", Json::array{static_cast<double>(ms)}}; }

TEST_F(ControllerTest, SubscribesInOrderAndHearsNothingOnceDestroyed) {
  EXPECT_EQ(links_->subscriptions,
            (std::vector<std::string>{"user_state", "document", "account_snapshot", "user_unlinked",
                                      "device_unregistered", "account_deleted", "connected", "stale_data",
                                      "account_reset", "device_registered"}));
  run([&] { controller_.reset(); });
  bool reset_done = false;
  run([&] {
    raise(links_->device_registered);
    raise(links_->connected);
    raise(links_->stale_data);
    raise(links_->user_unlinked, Cause::Unlinked);
    raise(links_->account_reset, std::string("A"), std::function<void()>([&] { reset_done = true; }));
    links_events_.raise(kUser, "U2");
  });
  prefs_->_set("push", true);
  { libkestrun::TaskHandle task = tasks_->start_task(); }
  settle();
  EXPECT_TRUE(link_calls().empty());
  EXPECT_FALSE(reset_done);
  EXPECT_EQ(user_->getUserId(), kUser);
}

// --- Connection policy, with the real task manager. ---

TEST_F(ControllerTest, DisconnectKeepsTheConnectionWhileATaskRuns) {
  {
    libkestrun::TaskHandle task = tasks_->start_task();
    run([&] { controller_->disconnect(); });
    EXPECT_EQ(link_calls(), std::vector<Call>{linger(kLinger)});
  }  // the task ends on this thread: the disconnect is the core thread's
  EXPECT_EQ(link_calls(), (std::vector<Call>{linger(kLinger), {"disconnect", Json::array{}}}));

  links_->clear();
  run([&] { controller_->disconnect(); });
  EXPECT_EQ(link_calls(), calls({"disconnect"})) << "without tasks it closes at once";
}

TEST_F(ControllerTest, ConnectAgainBeforeTheTaskEndsKeepsTheConnection) {
  {
    libkestrun::TaskHandle task = tasks_->start_task();
    run([&] {
      controller_->connect();
      controller_->disconnect();
      controller_->connect();
    });
  }
  settle();
  EXPECT_EQ(link_calls(),
            (std::vector<Call>{
                {"connect_and_sync", Json::array{}}, linger(kLinger), {"connect_and_sync", Json::array{}}}));
}

TEST_F(ControllerTest, NetworkChanges) {
  struct Case {
    const char* name;
    bool wanted;
    bool task;
    int32_t type;
    std::vector<Call> expected;
  };
  const std::vector<Case> cases = {
      {"lost while wanted starts over", true, false, 0, calls({"disconnect", "connect"})},
      {"lost while not wanted", false, true, 0, {}},
      {"regained while not wanted, with a task",
       false,
       true,
       1,
       {{"connect", Json::array{}}, linger(kLinger)}},
      {"regained on Wi-Fi while not wanted, with a task",
       false,
       true,
       2,
       {{"connect", Json::array{}}, linger(kLinger)}},
      {"regained while not wanted, no task", false, false, 2, {}},
      {"regained while wanted", true, true, 2, {}},
      {"an unknown type counts as lost", true, false, 7, calls({"disconnect", "connect"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    libkestrun::TaskHandle task;
    if (c.task) task = tasks_->start_task();
    run([&] { c.wanted ? controller_->connect() : controller_->disconnect(); });
    links_->clear();
    run([&] { controller_->handle_internet_connection_changed(c.type); });
    EXPECT_EQ(link_calls(), c.expected);
    EXPECT_EQ(offline_->getConnectionType(), c.type);
    run([&] { controller_->connect(); });  // the task's end closes nothing
  }
}

// --- The full reset. ---

TEST_F(ControllerTest, FullResetClearsEveryManagerAndRestartsTheConnectionLast) {
  store_item("IA", "A");
  store_item("IB", "B");
  changes_->setTokens("A", 11, 12, 13);
  ordering_->setOrderKey("Receipts", 4);
  queue_update("r1", "IA", "A");
  prefs_->_set("notif_type", 2);
  run([&] { controller_->connect(); });  // so the queue's tasks ending closes nothing
  settle();
  links_->clear();

  run([&] { raise(links_->user_unlinked, Cause::Unlinked); });
  // The connection is restarted (its held messages dropped) after every manager was reset and
  // before the purge completes, which then forgets the last snapshot time.
  EXPECT_EQ(link_calls(),
            calls({"reset_account_client", "cancel_all_commands", "restart_connection_dropping_held"}));
  EXPECT_TRUE(user_->getUserId().empty());
  EXPECT_TRUE(accounts_->allPrimaryAccountIDs()->empty());
  EXPECT_TRUE(sent_after_snapshot("A").empty());
  EXPECT_EQ(prefs_->getChangedPreferences(), Json(Json::object{}));
  EXPECT_NE(libkestrun::ListOrderingManager(store_).getOrderKey("Receipts"), 4) << "the stored order is gone";
  EXPECT_EQ(attachments_->calls(), calls({"clear"}));

  ASSERT_TRUE(wait_until([&] { return called("reset_last_snapshot_sync"); }));
  EXPECT_FALSE(item_state("IA"));
  EXPECT_FALSE(item_state("IB"));
  EXPECT_EQ(changes_->getTokens("A"), libkestrun::Tokens{});
  ASSERT_TRUE(wait_until([&] { return was_posted(Controller::kUserRemoteUnlink); }));
}

TEST_F(ControllerTest, ServerReportsPostTheirNoticeAfterTheReset) {
  struct Case {
    std::function<void(FakeControllerLinks&)> report;
    const char* posted;
  };
  const std::vector<Case> cases = {
      {[](FakeControllerLinks& l) { raise(l.user_unlinked, Cause::Role); },
       Controller::kUserRemoteRoleChange},
      {[](FakeControllerLinks& l) { raise(l.user_unlinked, Cause::Unlinked); },
       Controller::kUserRemoteUnlink},
      {[](FakeControllerLinks& l) { raise(l.user_unlinked, Cause::Other); }, Controller::kUserRemoteUnlink},
      {[](FakeControllerLinks& l) { raise(l.device_unregistered); }, Controller::kDeviceRemoteUnregistered},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.posted);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      posted_.clear();
    }
    links_->clear();
    run([&] { c.report(*links_); });
    EXPECT_TRUE(called("restart_connection_dropping_held"));
    ASSERT_TRUE(wait_until([&] { return was_posted(c.posted); }));
    for (const char* other : {Controller::kUserRemoteRoleChange, Controller::kUserRemoteUnlink,
                              Controller::kDeviceRemoteUnregistered}) {
      if (std::string(other) != c.posted) {
        EXPECT_FALSE(was_posted(other)) << other;
      }
    }
  }
}

// --- Purges of some accounts. ---

TEST_F(ControllerTest, AccountResetPurgesThatAccountOnlyAndCompletesAfterThePurge) {
  store_item("IA", "A");
  store_item("IB", "B");
  changes_->setTokens("A", 1, 1, 1);
  changes_->setTokens("B", 2, 2, 2);
  queue_update("rA", "IA", "A");
  queue_update("rB", "IB", "B");

  std::optional<ItemState> state_at_completion = ItemState::Inbox;
  bool done = false;
  run([&] {
    raise(links_->account_reset, std::string("A"), std::function<void()>([&] {
            state_at_completion = item_state("IA");
            done = true;
          }));
  });
  ASSERT_TRUE(wait_until([&] { return run([&] { return done; }); }));
  EXPECT_FALSE(state_at_completion) << "completed before the purge was committed";
  EXPECT_EQ(item_state("IB"), ItemState::Inbox);
  EXPECT_EQ(changes_->getTokens("A"), libkestrun::Tokens{});
  EXPECT_EQ(changes_->getTokens("B").items, 2u);
  EXPECT_TRUE(sent_after_snapshot("A").empty());
  EXPECT_EQ(sent_after_snapshot("B"), std::vector<std::string>{"rB"}) << "the other account's change stays";
  EXPECT_EQ(accounts_->allPrimaryAccountIDs()->size(), 2u);
}

TEST_F(ControllerTest, DeletedAccountIsPurgedAndRemovedLocally) {
  store_item("IA", "A");
  store_item("IB", "B");
  queue_update("rA", "IA", "A");
  run([&] { raise(links_->account_deleted, std::string("A")); });
  ASSERT_TRUE(wait_until([&] { return accounts_->allPrimaryAccountIDs()->size() == 1; }));
  EXPECT_EQ(*accounts_->allPrimaryAccountIDs(), std::vector<std::string>{"B"});
  EXPECT_FALSE(item_state("IA"));
  EXPECT_EQ(item_state("IB"), ItemState::Inbox);
  EXPECT_TRUE(sent_after_snapshot("A").empty());
}

TEST_F(ControllerTest, InactiveTooLongPurgesEverythingKeepsQueuedChangesAndSyncsAnew) {
  store_item("IA", "A");
  store_item("IB", "B");
  changes_->setTokens("A", 5, 5, 5);
  queue_update("rA", "IA", "A");
  run([&] { raise(links_->stale_data); });
  ASSERT_TRUE(wait_until([&] { return called("request_all_snapshots_safe"); }));
  EXPECT_EQ(link_calls(), calls({"reset_last_snapshot_sync", "request_all_snapshots_safe"}));
  EXPECT_FALSE(item_state("IA"));
  EXPECT_FALSE(item_state("IB"));
  EXPECT_EQ(changes_->getTokens("A"), libkestrun::Tokens{});
  EXPECT_EQ(sent_after_snapshot("A"), std::vector<std::string>{"rA"})
      << "the change made offline goes out after the fresh snapshot";
  EXPECT_EQ(accounts_->allPrimaryAccountIDs()->size(), 2u);
}

// --- Removing an account. ---

TEST_F(ControllerTest, RemoveEmailAccount) {
  using Failure = KSServerClientAccountModifyFailureType;
  struct Case {
    const char* name;
    bool with_success;
    bool with_failure;
    bool connected;
    std::optional<Failure> answer;  // none: the server confirms
    std::optional<AccountActionErrorType> failed;
    bool purged;
  };
  const std::vector<Case> cases = {
      {"no failure callback", true, false, true, std::nullopt, std::nullopt, false},
      {"no success callback", false, true, true, std::nullopt, AccountActionErrorType::InvalidRequest, false},
      {"disconnected", true, true, false, std::nullopt, AccountActionErrorType::NoConnection, false},
      {"refused", true, true, true, Failure::Refused, AccountActionErrorType::RejectedByProvider, false},
      {"timed out", true, true, true, Failure::Timeout, AccountActionErrorType::TimedOut, false},
      {"confirmed", true, true, true, std::nullopt, std::nullopt, true},
  };
  store_item("IA", "A");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    links_->clear();
    links_->connected_flag = c.connected;
    std::optional<AccountActionErrorType> failed;
    std::string removed;
    Controller::AccountRemoved success;
    if (c.with_success) success = [&](const std::string& id) { removed = id; };
    Controller::AccountFailed failure;
    if (c.with_failure) failure = [&](AccountActionErrorType type) { failed = type; };
    run([&] { controller_->remove_email_account("A", true, success, failure); });

    bool sent = called("remove_email_account");
    EXPECT_EQ(sent, c.with_success && c.with_failure && c.connected);
    if (sent) {
      EXPECT_EQ(link_calls().front(), (Call{"remove_email_account", Json::array{"A", true}}));
      run([&] {
        if (c.answer) {
          links_->removal_failure(*c.answer);
        } else {
          links_->removal_success(nullptr);
        }
      });
    }
    if (c.purged) {
      ASSERT_TRUE(wait_until([&] { return run([&] { return !removed.empty(); }); }));
    }
    settle();
    EXPECT_EQ(failed, c.failed);
    EXPECT_EQ(removed, c.purged ? "A" : "");
    EXPECT_EQ(item_state("IA").has_value(), !c.purged);
    EXPECT_EQ(accounts_->allPrimaryAccountIDs()->size(), c.purged ? 1u : 2u);
  }
}

// --- Device-deferred items. ---

TEST_F(ControllerTest, PushedItemComesBackOnlyWhileFocused) {
  auto deferred_to_desk = [](KSItem& item) {
    item.setState(ItemState::Later);
    item.setDeferralType(libkestrun::DeferralType::BySnooze);
    item.setSnoozeType(libkestrun::SnoozeType::Desktop);
  };
  store_item("D", "A", deferred_to_desk);
  run([&] { raise(links_->document, std::string("D"), std::string("item")); });
  settle();
  EXPECT_EQ(item_state("D"), ItemState::Later) << "in the back";

  controller_->app_focused();
  ASSERT_TRUE(wait_until([&] { return item_state("D") == ItemState::Inbox; })) << "focusing brings it back";

  store_item("E", "A", deferred_to_desk);
  run([&] { raise(links_->document, std::string("E"), std::string("email")); });
  settle();
  EXPECT_EQ(item_state("E"), ItemState::Later) << "not an item document";
  run([&] { raise(links_->document, std::string("E"), std::string("item")); });
  ASSERT_TRUE(wait_until([&] { return item_state("E") == ItemState::Inbox; }));

  controller_->app_blurred();
  store_item("F", "B", deferred_to_desk);
  run([&] { raise(links_->account_snapshot, std::string("B")); });
  settle();
  EXPECT_EQ(item_state("F"), ItemState::Later);
  controller_->app_focused();
  ASSERT_TRUE(wait_until([&] { return item_state("F") == ItemState::Inbox; }));
}

// --- Preferences and the user's state. ---

TEST_F(ControllerTest, LocalPreferenceChangesGoToTheServer) {
  struct Case {
    const char* key;
    Json value;
    bool push;
  };
  const std::vector<Case> cases = {
      {"notif_type", 1, false},    {"notif_type", 2, true},     {"notif_type", 0, true},
      {"push", true, true},        {"push", false, false},      {"reminder_push", true, true},
      {"badge_type", 2, false},    {"reminder_push", 1, false}, {"notif_type", 1.5, false},
      {"notif_type", 1e300, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value.dump());
    links_->clear();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      posted_.clear();
    }
    prefs_->_set(c.key, c.value);
    ASSERT_TRUE(wait_until([&] { return was_posted(Controller::kPreferenceChanged); }));
    std::vector<Call> expected{{"send_preferences", Json::array{Json::object{{c.key, c.value}}}}};
    if (c.push) expected.push_back({"register_for_push", Json::array{}});
    EXPECT_EQ(link_calls(), expected);
  }
}

TEST_F(ControllerTest, UserStateIsAppliedEvenWhenThePreferencesCannotBeStored) {
  for (bool broken : {false, true}) {
    SCOPED_TRACE(broken ? "store refuses" : "store works");
    {
      std::lock_guard<std::mutex> lock(mutex_);
      posted_.clear();
    }
    pref_store_->broken = broken;
    const std::string user = broken ? "U3" : "U2";
    run([&] {
      raise(links_->user_state, Json(Json::object{{"user_id", user},
                                                  {"device_id", "D1"},
                                                  {"device_secret", "S1"},
                                                  {"preferences", Json::object{{"notif_type", 3}}}}));
    });
    EXPECT_EQ(user_->getUserId(), user);
    ASSERT_TRUE(wait_until([&] { return was_posted(Controller::kUpdatedFromStateDoc); }));
    if (!broken) {
      EXPECT_EQ(prefs_->getChangedPreferences()["notif_type"], Json(3));
    }
  }
}

TEST_F(ControllerTest, ConnectedWritesTheQueueAndUpdatesTheTimeZone) {
  offline_->addRequest(Json::object{{"method", "PREFERENCE_UPDATE"},
                                    {"id", "p1"},
                                    {"params", Json::object{{"preferences", Json::object{{"push", true}}}}}});
  const std::vector<Json> queue = offline_->getQueuedRequests();
  ASSERT_EQ(queue.size(), 1u);
  prefs_->_set("tz", 1);
  settle();
  links_->clear();
  run([&] { raise(links_->connected); });
  std::vector<Call> expected;
  for (const auto& message : queue) expected.push_back({"write_message", Json::array{message}});
  expected.push_back({"resume_queued_uploads", Json::array{}});
  // The corrected offset is a local change, which goes to the server in a later turn.
  expected.push_back({"send_preferences",
                      Json::array{Json::object{{"tz", static_cast<double>(prefs_->getTimeZoneOffset())}}}});
  EXPECT_NE(prefs_->getTimeZoneOffset(), 1);
  ASSERT_TRUE(wait_until([&] { return link_calls().size() >= expected.size(); }));
  EXPECT_EQ(link_calls(), expected);
}

TEST_F(ControllerTest, RegistrationAndLinkRequestSnapshots) {
  run([&] { raise(links_->device_registered); });
  EXPECT_EQ(link_calls(), calls({"request_all_snapshots"}));
  links_->clear();
  run([&] { links_events_.raise(kUser, "U2"); });
  EXPECT_EQ(link_calls(), calls({"reset_last_snapshot_sync", "request_all_snapshots"}));
}

}  // namespace
}  // namespace kestrun_test
