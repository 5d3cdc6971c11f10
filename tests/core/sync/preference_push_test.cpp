// The one-way preference and push registration requests against the local sync server.
#include <gtest/gtest.h>

#include "requests_fixture.h"

namespace kestrun_test {
namespace {

TEST_F(RequestsTest, PreferenceUpdateIsAcknowledgedAndReachesTheOtherDevice) {
  start();
  const Json state = sign_in(Json::object{{"uid", "u-prefs"}});
  sync_server_test::SyncClient other(server_->port());
  ASSERT_TRUE(other.wait_connected());
  other.authenticate(other.request(
      "USER_NEW_DEVICE", Json::object{{"name", "other"},
                                      {"type", "macos"},
                                      {"vendor_id", "V2"},
                                      {"harnvik_credentials", Json::object{{"uid", "u-prefs"}}}})["result"]);
  run([&] { client_->preference_client().sendPreferences(Json::object{{"push", true}}); });
  const Json sent = last_sent("PREFERENCE_UPDATE");
  EXPECT_EQ(sent["params"], Json(Json::object{{"preferences", Json::object{{"push", true}}}}));
  const Json reply = wait_received([&](const Json& m) { return m["id"] == sent["id"]; });
  EXPECT_TRUE(reply["error"].is_null()) << reply.dump();
  const Json pushed = other.wait_for_notification(
      "USER_STATE", [](const Json& params) { return params["preferences"]["push"] == Json(true); });
  EXPECT_TRUE(pushed.is_object()) << "the other device hears the preference";
  (void)state;
}

TEST_F(RequestsTest, PushRegistrationNamesTheTypeAndTheToken) {
  start();
  const std::string device_id = sign_in()["device_id"].string_value();
  auto& push = client_->push_client();
  // The trace redacts the token, so what the server stored for the device shows what went out.
  auto registered = [&](const std::function<void()>& step) {
    const size_t before = sent_count("PUSH_REGISTER");
    run(step);
    EXPECT_TRUE(wait_until([&] { return sent_count("PUSH_REGISTER") > before; }));
    const Json sent = last_sent("PUSH_REGISTER");
    EXPECT_EQ(sent["params"]["push_token"], Json("[redacted]"));
    const Json reply = wait_received([&](const Json& m) { return m["id"] == sent["id"]; });
    EXPECT_TRUE(reply["error"].is_null()) << reply.dump();
    std::string error;
    return Json::parse(server_->device_doc(device_id), error)["push"];
  };
  libkestrun::JsonKvStore json(store_);
  struct Step {
    const char* name;
    std::function<void()> call;
    const char* token;
    const char* type;
  };
  const Step steps[] = {
      {"no token yet", [&] { push.registerForPush(); }, "", "none"},
      {"a token on macos", [&] { push.setDeviceToken("tok-1"); }, "tok-1", "none"},
      {"an Amazon token", [&] { push.setAmazonDeviceToken("tok-2"); }, "tok-2", "adm"},
      {"the override stays", [&] { push.registerForPush(); }, "tok-2", "adm"},
      {"an ordinary token drops it", [&] { push.setDeviceToken("tok-3"); }, "tok-3", "none"},
      {"an empty override counts as none",
       [&] {
         json.set("device.token.push.type.override", std::string());
         push.registerForPush();
       },
       "tok-3", "none"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    EXPECT_EQ(registered(step.call),
              Json(Json::object{
                  {"app_id", "com.kestrun.test"}, {"push_token", step.token}, {"push_type", step.type}}));
  }

  // Other device kinds derive their own type.
  const std::pair<int32_t, const char*> kinds[] = {
      {1, "apns"}, {2, "apns"}, {3, "apns"}, {4, "gcm"}, {0, "none"}};
  for (const auto& [kind, type] : kinds) {
    libkestrun::internal::PushServerClient other(store_, kind, "app", client_.get());
    EXPECT_EQ(registered([&] { other.registerForPush(); })["push_type"], Json(type)) << kind;
  }
}

}  // namespace
}  // namespace kestrun_test
