// The controller end to end: the facade with its real managers, task manager and server client
// against the local sync server. What the server applied is read from what it answered and pushed
// to the device (the protocol trace in the data directory), or from a second device of the user.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "api_store_rows.h"
#include "brelt/semaphore.h"
#include "core/accounts/harnvik_credentials.h"
#include "core/sync/controller.h"
#include "registered_fixture.h"
#include "support/pinned_zone.h"

namespace kestrun_test {
namespace {

using jsonette::Json;
using libkestrun::AccountActionErrorType;
using libkestrun::internal::Controller;

class ApiControllerTest : public RegisteredApiTest {
 protected:
  // A registered device holding the sample account, connected and synced; `account_` names it.
  void start_synced() {
    start_registered();
    account_ = add_sample_account();
    ASSERT_EQ(account_, kSampleAccount);
    connect_and_sync();
    ASSERT_GT(stored_items(account_), 0);
    // The first sync's requests are answered; nothing holds the connection any more.
    ASSERT_TRUE(wait_until([&] { return !tasks_->has_tasks(); }));
  }

  // Releases the connection and waits until it closed.
  void go_offline() {
    NotificationWaiter closed(libkestrun::kSyncDidCloseConnection);
    api_->disconnect();
    ASSERT_TRUE(closed.wait());
  }

  // The conversations in the inbox of the sample account.
  Ids inbox_items() {
    auto inbox = std::make_shared<QueryRecorder>();
    api_->perform_query_items("inbox", libkestrun::ItemGestureContextType::Inbox, 50, "", "", inbox);
    wait_until([&] { return !inbox->rows().empty(); });
    api_->end_query("inbox");
    return inbox->rows();
  }
  std::string inbox_item() {
    Ids ids = inbox_items();
    return ids.empty() ? "" : ids.front();
  }

  void archive(const std::string& id) {
    brelt::Semaphore done;
    api_->archive_item(id, [&](Ids&) { done.notify(); });
    done.wait();
  }

  // The messages this device sent with `method` (one by one or within an array), from `from` on.
  std::vector<Json> sent(const std::string& method, size_t from = 0) const {
    std::vector<Json> found;
    for (const Json& message : traced("Sending message", from)) {
      for (const Json& one : message.is_array() ? message.array_items() : std::vector<Json>{message}) {
        if (one["method"] == Json(method)) found.push_back(one);
      }
    }
    return found;
  }
  // The notifications `method` the server pushed to this device.
  std::vector<Json> pushed(const std::string& method) const {
    std::vector<Json> found;
    for (const Json& message : traced("Received message")) {
      if (message["type"] == Json("NOTIFICATION") && message["method"] == Json(method))
        found.push_back(message);
    }
    return found;
  }
  // The pushed documents of the conversation `id`.
  std::vector<Json> pushed_item(const std::string& id) const {
    std::vector<Json> found;
    for (const Json& message : pushed("DOCUMENT")) {
      if (message["params"]["doc"]["_id"] == Json(id)) found.push_back(message["params"]["doc"]);
    }
    return found;
  }

  // True once the server pushed a user state whose preference `key` has the value `value`: the
  // server stored it.
  bool server_stored(const std::string& key, double value) const {
    for (const Json& state : pushed("USER_STATE")) {
      const Json& stored = state["params"]["preferences"][key];
      if (stored.is_number() && stored.number_value() == value) return true;
    }
    return false;
  }

  std::optional<libkestrun::ItemState> state_of(const std::string& id) {
    auto item = api_->item_with_id(id);
    if (!item) return std::nullopt;
    return item->state();
  }

  std::string account_;
};

// An archive made while the connection is down is queued; when the connection comes up the
// queue goes out and the server applies the change once, and the local time-zone offset, which
// changed meanwhile, is stored with the user's preferences on the server.
TEST_F(ApiControllerTest, OfflineChangesAndTheTimeZoneReachTheServerWhenTheConnectionComesUp) {
  start_synced();
  const std::string id = inbox_item();
  ASSERT_FALSE(id.empty());
  go_offline();

  PinnedZone india("IST-5:30");
  archive(id);
  EXPECT_TRUE(tasks_->has_tasks()) << "the queued change holds a task until the server has it";
  EXPECT_TRUE(sent("ITEM_UPDATE").empty());

  api_->connect();
  ASSERT_TRUE(wait_until([&] { return !tasks_->has_tasks(); }))
      << "the server acknowledged the queued change";
  ASSERT_FALSE(sent("ITEM_UPDATE").empty());
  const int archived = static_cast<int>(libkestrun::ItemState::Archive);
  ASSERT_TRUE(wait_until([&] { return !pushed_item(id).empty(); }));
  EXPECT_EQ(pushed_item(id).size(), 1u) << "applied once";
  EXPECT_EQ(pushed_item(id).back()["state"].int_value(), archived);
  EXPECT_EQ(state_of(id), libkestrun::ItemState::Archive) << "the snapshot after connecting keeps the change";

  const int64_t offset = (5 * 60 + 30) * 60 * 1000;
  EXPECT_TRUE(wait_until([&] { return server_stored("tz", static_cast<double>(offset)); }));
}

// The server rejects the device's credentials: every local trace of the user goes, a user state
// still on its way does not bring it back, the next connection does not authenticate, and the
// change the server had not yet taken never reaches it, also not once the device is registered
// again.
TEST_F(ApiControllerTest, RejectedCredentialsResetEverythingAndTheOldUsersChangesNeverLeave) {
  PinnedZone utc("UTC0");  // the offset of the reset preferences
  start_synced();
  const int32_t default_hours = api_->get_hours_for_later_today_snooze();
  api_->set_hours_for_later_today_snooze(default_hours + 2);
  const std::string id = inbox_item();
  ASSERT_FALSE(id.empty());
  ASSERT_TRUE(wait_until([&] { return server_stored("hours_for_later_today", default_hours + 2); }));
  // Until the reset the server neither applies nor answers the archive, however often it is sent,
  // so it stays queued.
  server_->drop_next("ITEM_UPDATE", 1000);
  archive(id);
  ASSERT_TRUE(wait_until([&] { return !sent("ITEM_UPDATE").empty(); }));
  ASSERT_TRUE(tasks_->has_tasks());

  NotificationWaiter closed(libkestrun::kSyncDidCloseConnection);
  NotificationWaiter unregistered(Controller::kDeviceRemoteUnregistered);
  const std::string user = api_->user_id();
  ASSERT_TRUE(server_->notify_user(user, "USER_UNAUTHORIZED", R"({"reason":"credentials"})"));
  // A user state the server sent just behind it arrives on the old connection after the reset.
  const Json stale =
      Json::object{{"user_id", user},
                   {"device_id", api_->device_id()},
                   {"preferences", Json::object{{"hours_for_later_today", default_hours + 4}}}};
  ASSERT_TRUE(server_->notify_user(user, "USER_STATE", stale.dump()));
  ASSERT_TRUE(unregistered.wait());
  on_core([] {});  // what the old connection delivered meanwhile has been dispatched
  server_->drop_next("ITEM_UPDATE", 0);
  // Where the trace stands when the reset began: nothing after it may be of the old user.
  const size_t before_reset = trace().find("USER_UNAUTHORIZED");
  ASSERT_NE(before_reset, std::string::npos);
  EXPECT_FALSE(api_->device_is_registered());
  EXPECT_TRUE(api_->user_id().empty());
  EXPECT_FALSE(api_->has_accounts());
  EXPECT_EQ(api_->get_hours_for_later_today_snooze(), default_hours);
  EXPECT_TRUE(wait_until([&] { return stored_items(account_) == 0; })) << "the account's mail is purged";
  EXPECT_TRUE(wait_until([&] { return !tasks_->has_tasks(); })) << "the queue is dropped";

  // The connection starts over, without credentials.
  ASSERT_TRUE(closed.wait());
  ASSERT_TRUE(wait_until([&] { return api_->is_connected(); }));
  on_core([] {});
  EXPECT_TRUE(sent("USER_AUTH_DEVICE", before_reset).empty());
  EXPECT_TRUE(sent("ITEM_UPDATE", before_reset).empty());

  // Registered anew with the same mailbox: the conversation is still in the inbox at the server.
  api_->register_anonymous_device("vendor-1", "macos", "test host");
  ASSERT_TRUE(wait_until([&] { return api_->device_is_registered(); }));
  ASSERT_EQ(add_sample_account(), kSampleAccount);
  ASSERT_TRUE(synced_->wait(2));
  ASSERT_TRUE(wait_until([&] { return state_of(id).has_value(); }));
  EXPECT_EQ(state_of(id), libkestrun::ItemState::Inbox);
  EXPECT_TRUE(sent("ITEM_UPDATE", before_reset).empty());
}

// Removing an account while the connection is down asks nothing of the server and keeps the
// account and its mail; the outcomes with the server are in api_accounts_test.cpp.
TEST_F(ApiControllerTest, RemovingAnAccountWhileDisconnectedPurgesNothing) {
  start_synced();
  const int items = stored_items(account_);
  go_offline();

  Outcome<int> failed;
  api_->remove_email_account(
      account_, false, [&](std::string) { failed.set(0); },
      [&](AccountActionErrorType error) { failed.set(static_cast<int>(error)); });
  EXPECT_EQ(failed.wait(), static_cast<int>(AccountActionErrorType::NoConnection));
  on_core([] {});
  EXPECT_GE(stored_items(account_), items) << "the account's mail stays";
  EXPECT_NE(api_->email_account_with_id(account_), nullptr);
  EXPECT_NE(api_->associated_email_account_for_account_id(account_), nullptr);

  api_->connect();
  ASSERT_TRUE(wait_until([&] { return api_->is_connected() && !tasks_->has_tasks(); }));
  EXPECT_TRUE(sent("ACCOUNT_REMOVE").empty());
  EXPECT_GE(stored_items(account_), items);
}

// Releasing the connection while a background task runs keeps it until the task ends, unless the
// application asked for it again meanwhile. A preference change answered by the server shows the
// connection is still the same one.
TEST_F(ApiControllerTest, ARunningTaskKeepsTheConnectionUntilItEnds) {
  start_registered();
  struct Case {
    const char* name;
    bool connect_again;
  };
  const Case cases[] = {{"released", false}, {"asked for again", true}};
  int32_t hours = api_->get_hours_for_later_today_snooze();
  // A round trip over the connection: the server stores a new preference value and pushes it back.
  auto round_trip = [&] {
    api_->set_hours_for_later_today_snooze(++hours);
    return wait_until([&] { return server_stored("hours_for_later_today", hours); });
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    api_->connect();
    ASSERT_TRUE(wait_until([&] { return api_->is_connected() && !tasks_->has_tasks(); }));
    NotificationWaiter closed(libkestrun::kSyncDidCloseConnection);
    std::optional<libkestrun::TaskHandle> task = tasks_->start_task();
    api_->disconnect();
    if (c.connect_again) api_->connect();

    ASSERT_TRUE(round_trip());
    EXPECT_TRUE(closed.payloads().empty());
    EXPECT_TRUE(api_->is_connected());

    task.reset();
    if (c.connect_again) {
      ASSERT_TRUE(round_trip());
      EXPECT_TRUE(closed.payloads().empty()) << "the connection is wanted again";
      EXPECT_TRUE(api_->is_connected());
      ASSERT_TRUE(wait_until([&] { return !tasks_->has_tasks(); }));
      go_offline();
    } else {
      EXPECT_TRUE(closed.wait()) << "the end of the last task closes it";
    }
  }
}

// Two devices of one user share the sample account: what one archives, the other sees. The server
// stops in the middle and comes back over the same state; the change made here meanwhile and the
// one the other device makes after the restart both arrive, and nothing is lost.
TEST_F(ApiControllerTest, TwoDevicesOfOneUserSeeEachOthersChangesAcrossAServerRestart) {
  const std::string uid = "maya-lind";
  auto other = std::make_unique<sync_server_test::SyncClient>(server_->port());
  ASSERT_TRUE(other->wait_connected());
  const Json other_state =
      other->request("USER_NEW_DEVICE", Json::object{{"harnvik_credentials", Json::object{{"uid", uid}}},
                                                     {"name", "other mac"},
                                                     {"type", "macos"},
                                                     {"vendor_id", "V2"}})["result"];
  ASSERT_TRUE(other_state.is_object());
  other->authenticate(other_state);

  libkestrun::Overrides overrides;
  overrides.task_manager = tasks_;
  start(server_config(), std::move(overrides));
  synced_ = std::make_unique<NotificationWaiter>(libkestrun::kSyncInitialSyncCompleted);
  Outcome<std::string> registered;
  api_->register_device(
      std::make_shared<libkestrun::HarnvikCredentialsOAuth1>(1, uid, "token", "secret"), "vendor-1", "macos",
      "test host", [&](std::string id) { registered.set(id); },
      [&](libkestrun::UserActionErrorType) { registered.set("failed"); });
  ASSERT_EQ(registered.wait(), uid);
  account_ = add_sample_account();
  ASSERT_EQ(account_, kSampleAccount);
  connect_and_sync();
  ASSERT_TRUE(other->request("ACCOUNT_ASSOCIATE", Json::object{{"account_id", account_}})["error"].is_null());

  const Ids inbox = inbox_items();
  ASSERT_GE(inbox.size(), 4u);
  const int archived = static_cast<int>(libkestrun::ItemState::Archive);
  auto archive_there = [&](sync_server_test::SyncClient& device, const std::string& id) {
    Json reply = device.request(
        "ITEM_UPDATE",
        Json::object{{"doc", Json::object{{"_id", id}, {"acct_id", account_}, {"state", archived}}}});
    return reply["error"].is_null();
  };

  // Here, then there.
  archive(inbox[0]);
  EXPECT_FALSE(other
                   ->wait_for_notification("DOCUMENT",
                                           [&](const Json& params) {
                                             const Json& doc = params["doc"];
                                             return doc["_id"] == Json(inbox[0]) &&
                                                    doc["state"].int_value() == archived;
                                           })
                   .is_null());
  ASSERT_TRUE(archive_there(*other, inbox[1]));
  EXPECT_TRUE(wait_until([&] { return state_of(inbox[1]) == libkestrun::ItemState::Archive; }));

  // The server stops; a change made here meanwhile waits in the queue.
  const uint16_t port = server_->port();
  const uint16_t resource_port = server_->resource_port();
  other.reset();
  server_.reset();
  ASSERT_TRUE(wait_until([&] { return !api_->is_connected(); }));
  archive(inbox[2]);
  ASSERT_TRUE(tasks_->has_tasks());

  sync_server::ServerOptions options;
  options.state_directory = dir_.file("server");
  options.hmac_key = sync_server_test::test_key();
  options.port = port;
  options.resource_port = resource_port;
  server_ = std::make_unique<sync_server::SyncServer>(options);
  other = std::make_unique<sync_server_test::SyncClient>(port);
  ASSERT_TRUE(other->wait_connected());
  other->authenticate(other_state);
  ASSERT_TRUE(archive_there(*other, inbox[3]));

  // This device reconnects by itself; its queued change goes out and the other's arrives.
  ASSERT_TRUE(
      wait_until([&] { return api_->is_connected() && !tasks_->has_tasks(); }, std::chrono::seconds(60)));
  EXPECT_TRUE(wait_until([&] { return state_of(inbox[3]) == libkestrun::ItemState::Archive; }));
  Json snapshot = other->request("ACCOUNT_SNAPSHOT", Json::object{{"account_id", account_}});
  ASSERT_TRUE(snapshot["error"].is_null()) << snapshot.dump();
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(inbox[i]);
    EXPECT_EQ(state_of(inbox[i]), libkestrun::ItemState::Archive);
    bool found = false;
    for (const Json& doc : snapshot["result"]["docs"]["item"].array_items()) {
      if (doc["_id"] != Json(inbox[i])) continue;
      found = true;
      EXPECT_EQ(doc["state"].int_value(), archived);
    }
    EXPECT_TRUE(found);
  }
}

}  // namespace
}  // namespace kestrun_test
