// The user and device requests against the local sync server.
#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <set>
#include <vector>

#include "requests_fixture.h"

namespace kestrun_test {
namespace {

using Failure = KSServerClientUserModifyFailureType;

TEST_F(RequestsTest, AnonymousRegistrationGetsAStateDocumentThatAuthenticates) {
  start();
  int registered = 0;
  run([&] { users().listen<libkestrun::internal::device_registered>([&] { ++registered; }); });
  Json state = sign_in();
  EXPECT_EQ(state["user_id"].string_value().substr(0, 1), "-");
  EXPECT_EQ(state["device_secret"].string_value().size(), 36u);
  EXPECT_EQ(run([&] { return registered; }), 1);
  const Json sent = last_sent("USER_NEW_DEVICE");
  EXPECT_EQ(sent["params"], Json(Json::object{{"name", "test mac"}, {"type", "macos"}, {"vendor_id", "V1"}}));
  EXPECT_EQ(sent["id"].string_value().size(), 36u);
  EXPECT_EQ(sent["id"].string_value(), [&] {
    std::string upper = sent["id"].string_value();
    for (char& c : upper) c = static_cast<char>(toupper(c));
    return upper;
  }());

  // The server accepts the device: an authenticated-only request is served.
  Outcome outcome;
  run([&] {
    users().setAutoAuthEnabledForAccount(true, "acct-none", outcome.user_success(), outcome.user_failure());
  });
  ASSERT_TRUE(outcome.wait());
  EXPECT_EQ(outcome.failure(), 0) << "A4 (not the user's account), not U1";
}

TEST_F(RequestsTest, RegistrationCarriesMigrationFieldsAndChangedPreferences) {
  struct Case {
    const char* name;
    Json device_id;  // stored by an earlier installation, null for none
    bool with_account;
    Json vault;  // stored keychain vault, null for none
    bool migrates;
    bool sends_vault;
  };
  const Case cases[] = {
      {"no device id", Json(), true, Json::object{{"k", "v"}}, false, false},
      {"device id without accounts", "OLD-DEVICE", false, Json::object{{"k", "v"}}, false, false},
      {"device id and an account, object vault", "OLD-DEVICE", true, Json::object{{"k", "v"}}, true, true},
      {"device id and an account, array vault", "OLD-DEVICE", true, Json::array{1}, true, false},
      {"device id and an account, string vault", "OLD-DEVICE", true, "vault", true, false},
  };
  start();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    libkestrun::JsonKvStore json(store_);
    if (c.device_id.is_null()) {
      json.erase("pellavine.account.manager.device.id");
    } else {
      json.set_json("pellavine.account.manager.device.id", c.device_id);
    }
    json.set_json(libkestrun::AccountManagerImpl::kAccountsKey,
                  c.with_account
                      ? Json(Json::array{Json::object{
                            {"accountID", "a1"}, {"emailAddress", "a@example.com"}, {"isPrimary", true}}})
                      : Json(Json::array{}));
    json.set_json("pellavine.account.manager.keychain.vault", c.vault);
    rebuild();

    Outcome outcome;
    run([&] {
      users().registerDevice(Uid("u-migrate"), "V1", "macos", "test mac", outcome.user_success(),
                             outcome.user_failure());
    });
    ASSERT_TRUE(outcome.wait());
    run([] {});  // the reply's handler clears the vault after the success callback
    const Json params = last_sent("USER_NEW_DEVICE")["params"];
    EXPECT_EQ(params["migrate_device_id"], c.migrates ? c.device_id : Json()) << params.dump();
    EXPECT_EQ(params["migrate_keychain"], c.sends_vault ? c.vault : Json());
    EXPECT_EQ(params["harnvik_credentials"], Json("[redacted]")) << "present, kept out of the trace";
    EXPECT_TRUE(params["preferences"].is_null()) << "nothing changed";
    EXPECT_TRUE(json.get_json("pellavine.account.manager.keychain.vault").value_or(Json()).is_null())
        << "a registration clears the vault";
  }

  run([&] { clients->prefs._set("push", true); });
  Outcome outcome;
  run([&] { users().registerAnonymousDevice("V1", "macos", "test mac", outcome.user_success()); });
  ASSERT_TRUE(outcome.wait());
  EXPECT_EQ(last_sent("USER_NEW_DEVICE")["params"]["preferences"], Json(Json::object{{"push", true}}));
  EXPECT_EQ(outcome.result()["preferences"]["push"], Json(true)) << "the server kept them";
}

TEST_F(RequestsTest, ServerCodesBecomeFailureValues) {
  struct Case {
    const char* method;
    const char* code;
    int failure;
  };
  const Case cases[] = {
      {"USER_NEW_DEVICE", "MRT", 9}, {"USER_NEW_DEVICE", "D3", 1},    {"USER_NEW_DEVICE", "A2", 1},
      {"USER_NEW_DEVICE", "X9", 0},  {"USER_LINK", "MRT", 0},         {"USER_LINK", "D3", 1},
      {"USER_LINK", "A2", 1},        {"USER_SET_AUTO_AUTH", "A2", 0},
  };
  start();
  sign_in();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + c.code);
    server_->fail_next(c.method, 1, c.code);
    Outcome outcome;
    run([&] {
      const std::string method = c.method;
      if (method == "USER_NEW_DEVICE") {
        users().registerDevice(Uid("u1"), "V1", "macos", "m", outcome.user_success(), outcome.user_failure());
      } else if (method == "USER_LINK") {
        users().linkHarnvikAccount(Uid("u2"), outcome.user_success(), outcome.user_failure());
      } else {
        users().setAutoAuthEnabledForAccount(false, "a", outcome.user_success(), outcome.user_failure());
      }
    });
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failure(), c.failure);
  }
}

TEST_F(RequestsTest, UnansweredRequestFailsWithTimeOut) {
  start({std::chrono::milliseconds(200), {}});
  sign_in();
  server_->drop_next("USER_LINK", 1);
  Outcome outcome;
  run([&] { users().linkHarnvikAccount(Uid("u3"), outcome.user_success(), outcome.user_failure()); });
  ASSERT_TRUE(outcome.wait());
  EXPECT_EQ(outcome.failure(), static_cast<int>(Failure::TimedOut));
}

TEST_F(RequestsTest, AnonymousRegistrationBacksOffUntilItSucceeds) {
  std::mutex mutex;
  std::vector<std::chrono::milliseconds> delays;
  RequestTimes times;
  // The back-off's clock: each retry is asked for its delay and then runs at once.
  times.defer = [&](std::chrono::milliseconds delay, std::function<void()> fn) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      delays.push_back(delay);
    }
    return thread_.defer(std::chrono::milliseconds(0), std::move(fn));
  };
  start(times);
  server_->fail_next("USER_NEW_DEVICE", 10, "MRT");
  Outcome outcome;
  run([&] { users().registerAnonymousDevice("V1", "macos", "test mac", outcome.user_success()); });
  ASSERT_TRUE(outcome.wait());
  EXPECT_EQ(outcome.result()["user_id"].string_value().substr(0, 1), "-");
  EXPECT_EQ(outcome.calls(), 1u);
  using std::chrono::seconds;
  const std::vector<std::chrono::milliseconds> expected{seconds(1),   seconds(2),  seconds(4),  seconds(8),
                                                        seconds(16),  seconds(32), seconds(64), seconds(128),
                                                        seconds(256), seconds(300)};
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(delays, expected);
  // Each attempt went under its own id.
  std::set<std::string> ids;
  for (const Json& message : sent()) {
    if (message["method"] == Json("USER_NEW_DEVICE")) ids.insert(message["id"].string_value());
  }
  EXPECT_EQ(ids.size(), 11u);
}

// Retries due while the connection is down wait for it: when it is back, one registration goes
// out, not one per retry period.
TEST_F(RequestsTest, AnonymousRetriesWhileDisconnectedGoOutOnceOnReconnection) {
  std::mutex mutex;
  std::vector<std::function<void()>> due;  // guarded by mutex
  RequestTimes times;
  times.timeout = std::chrono::milliseconds(200);
  // The back-off's clock: a retry is due when the test says so.
  times.defer = [&](std::chrono::milliseconds, std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(mutex);
    due.push_back(std::move(fn));
    return brelt::TimerHandle();
  };
  start(times);
  sync_server::ServerOptions options;
  options.state_directory = dir_.file("state");
  options.hmac_key = sync_server_test::test_key();
  options.port = server_->port();

  server_->drop_next("USER_NEW_DEVICE", 1);
  Outcome outcome;
  run([&] { users().registerAnonymousDevice("V1", "macos", "test mac", outcome.user_success()); });
  ASSERT_TRUE(wait_until([&] { return sent_count("USER_NEW_DEVICE") == 1; }));
  server_.reset();
  ASSERT_TRUE(wait_posted("com.kestrun.did.close.connection"));
  ASSERT_TRUE(wait_until([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return due.size() == 1;
  })) << "the unanswered attempt timed out";
  for (int period = 0; period < 4; ++period) {
    std::vector<std::function<void()>> now;
    {
      std::lock_guard<std::mutex> lock(mutex);
      now.swap(due);
    }
    run([&] {
      for (const auto& retry : now) retry();
    });
  }
  ASSERT_TRUE(wait_until(
      [&] { return trace().find("Anonymous registration waits for the connection") != std::string::npos; }));

  server_ = std::make_unique<sync_server::SyncServer>(options);
  ASSERT_TRUE(outcome.wait());
  EXPECT_EQ(outcome.result()["user_id"].string_value().substr(0, 1), "-");
  drain();
  size_t answered = 0;
  for (const Json& message : traced("Received message"))
    answered += message["type"] == Json("USER_NEW_DEVICE");
  EXPECT_EQ(answered, 1u);
  EXPECT_EQ(sent_count("USER_NEW_DEVICE"), 2u) << "the unanswered attempt and one after reconnection";
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_TRUE(due.empty());
}

TEST_F(RequestsTest, UnlinkCarriesCredentialsAndReasonThenTheDeviceIsUnregistered) {
  start();
  const Json state = sign_in();
  std::vector<std::string> events;
  run([&] {
    users().listen<libkestrun::internal::device_unregistered>(
        [&] { events.push_back("device_unregistered"); });
    users().listen<libkestrun::internal::harnvik_user_unlinked>(
        [&](libkestrun::internal::HarnvikUserUnlinkReason r) {
          events.push_back("unlinked " + std::to_string(static_cast<int>(r)));
        });
  });
  auto credentials = std::make_shared<libkestrun::internal::ConnectionCredentials>(
      state["user_id"].string_value(), state["device_id"].string_value(),
      state["device_secret"].string_value(), nullptr);
  Outcome outcome;
  run([&] {
    users().unregisterDevice(libkestrun::UserUnlinkReason::LocalUnlink, credentials, outcome.user_success(),
                             outcome.user_failure());
  });
  ASSERT_TRUE(outcome.wait());
  EXPECT_EQ(outcome.result()["device_id"], state["device_id"]);
  const Json params = last_sent("USER_UNLINK")["params"];
  EXPECT_EQ(params["reason"], Json("local_unlink"));
  EXPECT_EQ(params["device_secret"], Json("[redacted]")) << "the server's refusal below shows its value";
  EXPECT_EQ(params["user_id"], state["user_id"]);
  EXPECT_EQ(params["auth_version"], Json(1));

  authenticate(state);
  wait_received([](const Json& m) { return m["method"] == Json("USER_UNAUTHORIZED"); });
  EXPECT_EQ(run([&] { return events; }), std::vector<std::string>{"device_unregistered"});
}

TEST_F(RequestsTest, UnauthorizedReasonsAndUnlinkReasonTexts) {
  start();
  std::vector<int> reasons;
  run([&] {
    users().listen<libkestrun::internal::harnvik_user_unlinked>(
        [&](libkestrun::internal::HarnvikUserUnlinkReason r) { reasons.push_back(static_cast<int>(r)); });
    users().handleUnauthorized(Json::object{{"reason", "unlinked"}});
    users().handleUnauthorized(Json::object{{"reason", "role"}});
    users().handleUnauthorized(Json::object{});
    users().handleUnauthorized(Json::object{{"reason", 7}});
  });
  EXPECT_EQ(run([&] { return reasons; }), (std::vector<int>{1, 2, 0, 0}));

  const std::pair<int, const char*> texts[] = {{0, "user_initiated"}, {1, "missing_credentials"},
                                               {2, "local_unlink"},   {3, "local_role_change"},
                                               {4, "reregister"},     {5, "unknown"}};
  auto credentials = std::make_shared<libkestrun::internal::ConnectionCredentials>("-1", "D", "S", nullptr);
  for (const auto& [reason, text] : texts) {
    run([&] {
      users().unregisterDevice(
          static_cast<libkestrun::UserUnlinkReason>(reason), credentials, [](Json&) {}, [](Failure) {});
    });
    EXPECT_EQ(last_sent("USER_UNLINK")["params"]["reason"], Json(text));
  }
}

TEST_F(RequestsTest, RepliesOfUnexpectedShapeAreClassified) {
  start({std::chrono::milliseconds(200), {}});
  struct Case {
    const char* name;
    Json result;
    Json error;
    std::optional<int> failure;  // none: success
  };
  const Case cases[] = {
      {"array result", Json::array{}, Json(), 0},
      {"neither", Json(), Json(), 0},
      {"error without code", Json(), Json::object{}, 0},
      {"result and error", Json::object{}, Json::object{{"code", "D3"}}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome outcome;
    run([&] {
      users().registerDevice(Uid("u"), "V1", "macos", "m", outcome.user_success(), outcome.user_failure());
      users().handleNewDeviceResponse(last_sent("USER_NEW_DEVICE")["id"].string_value(), c.result, c.error);
    });
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failure(), c.failure);
  }
  // An unlink error that is not an object is left to the time-out.
  server_->drop_next("USER_UNLINK", 1);
  Outcome outcome;
  auto credentials = std::make_shared<libkestrun::internal::ConnectionCredentials>("-1", "D", "S", nullptr);
  run([&] {
    users().unregisterDevice(libkestrun::UserUnlinkReason::UserInitiated, credentials, outcome.user_success(),
                             outcome.user_failure());
    users().handleUnlinkResponse(last_sent("USER_UNLINK")["id"].string_value(), Json(), "broken");
  });
  ASSERT_TRUE(outcome.wait());
  EXPECT_EQ(outcome.failure(), static_cast<int>(Failure::TimedOut));
}

}  // namespace
}  // namespace kestrun_test
