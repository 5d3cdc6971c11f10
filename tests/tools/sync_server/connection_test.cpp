// The connection: TLS under the server's own authority, signed frames, the hello, device
// authentication and what happens to broken or hostile input.
#include "server_fixture.h"

namespace sync_server_test {
namespace {

using Params = Json::object;

TEST_F(ServerTest, RegisteredDeviceAuthenticatesAndIsServed) {
  start();
  auto client = connect();
  // Before authentication only registration, unlinking and pings are served.
  Json early = client->request("USER_SNAPSHOT", Params{});
  EXPECT_EQ(early["error"]["code"], Json("U1"));
  client->send(Json(Params{{"method", "ping"}}));

  Json state = register_device(*client);
  ASSERT_TRUE(state.is_object());
  EXPECT_EQ(state["user_id"].string_value().substr(0, 1), "-");
  EXPECT_FALSE(state["device_id"].string_value().empty());
  EXPECT_GE(state["device_secret"].string_value().size(), 32u);
  EXPECT_EQ(state["has_desktop"], Json(true));
  EXPECT_EQ(state["accounts"], Json(Json::array{}));

  client->authenticate(state);
  Json reply = client->request("USER_SNAPSHOT", Params{});
  EXPECT_TRUE(reply["error"].is_null()) << reply.dump();
  EXPECT_EQ(reply["result"]["user_id"], state["user_id"]);
  for (const Json& message : client->messages())
    EXPECT_NE(message["method"], Json("USER_UNAUTHORIZED")) << "the ping is never answered either";
}

TEST_F(ServerTest, WrongDeviceCredentialsAreRefusedAndNothingIsServed) {
  start();
  auto client = connect();
  Json state = register_device(*client);
  struct Case {
    const char* name;
    Json::object changes;
  };
  const std::vector<Case> cases = {
      {"wrong secret", {{"device_secret", "0000"}}},
      {"another user", {{"user_id", "-nobody"}}},
      {"unknown device", {{"device_id", "D-UNKNOWN"}}},
      {"secret of the wrong type", {{"device_secret", 42}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto other = connect();
    Json::object bad = state.object_items();
    for (const auto& [key, value] : c.changes) bad[key] = value;
    other->authenticate(Json(bad));
    Json refused = other->wait_for_notification("USER_UNAUTHORIZED");
    EXPECT_EQ(refused["params"]["reason"], Json("credentials"));
    EXPECT_EQ(other->request("USER_SNAPSHOT", Params{})["error"]["code"], Json("U1"));
  }
}

TEST_F(ServerTest, FrameSignedWithAnotherKeyClosesTheConnection) {
  start();
  auto good = connect();
  SyncClient forger(server_->port(), {'n', 'o', 't', ' ', 'i', 't'});
  ASSERT_TRUE(forger.wait_connected());
  EXPECT_TRUE(forger.wait_closed());
  EXPECT_TRUE(forger.messages().empty());
  // The server goes on serving everyone else.
  EXPECT_TRUE(register_device(*good).is_object());
}

// Each case runs on a connection of its own, signed in when it says so; it ends either with the
// connection closed by the server or with an error reply of the given code.
TEST_F(ServerTest, BrokenOrHostileInputClosesTheConnectionOrGetsAnError) {
  start();
  struct Case {
    const char* name;
    bool signed_in;
    Json message;
    std::string code;  // empty: the connection is closed; "none": a reply without error
  };
  const std::vector<Case> cases = {
      {"a number for a message", false, Json(5), ""},
      {"a message without a method", false, Json(Params{{"id", "x"}}), ""},
      {"a method that is not a string", false, Json(Params{{"method", 7}, {"id", "x"}}), ""},
      {"an array holding a string", true, Json(Json::array{"ITEM_UPDATE"}), ""},
      {"an unknown method", false, Json(Params{{"method", "NOPE"}, {"id", "x"}}), "M1"},
      {"a change before authentication", false, Json(Params{{"method", "ITEM_UPDATE"}, {"id", "x"}}), "U1"},
      {"params that are a string", true,
       Json(Params{{"method", "ITEM_UPDATE"}, {"params", "doc"}, {"id", "x"}}), "P1"},
      {"a document of someone else's account", true,
       Json(Params{{"method", "ITEM_SAVE"},
                   {"params", Params{{"doc", Params{{"_id", "I1"}, {"acct_id", "acct-example-com"}}}}},
                   {"id", "x"}}),
       "O1"},
      {"a snapshot with the wrong types", true,
       Json(Params{{"method", "ACCOUNT_SNAPSHOT"},
                   {"params", Params{{"account_id", 5}, {"sync_state", Json::array{}}}},
                   {"id", "x"}}),
       "U0"},
      {"credentials that are an array", true,
       Json(Params{
           {"method", "ACCOUNT_CREATE"}, {"params", Params{{"credentials", Json::array{}}}}, {"id", "x"}}),
       "P1"},
      {"a device registration without params", false,
       Json(Params{{"method", "USER_NEW_DEVICE"}, {"params", Json::array{1}}, {"id", "x"}}), "P1"},
      {"a huge limit and a negative before", true,
       Json(Params{{"method", "AUTO_SWIPE_RULES_GET"},
                   {"params", Params{{"limit", 1e300}, {"before", -1e300}}},
                   {"id", "x"}}),
       "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Json state;
    auto client = c.signed_in ? signed_in(&state) : connect();
    client->send(c.message);
    if (c.code.empty()) {
      EXPECT_TRUE(client->wait_closed());
      continue;
    }
    Json reply = client->wait_for([](const Json& m) { return m["id"] == Json("x"); });
    if (c.code == "none") {
      EXPECT_TRUE(reply["error"].is_null()) << reply.dump();
    } else {
      EXPECT_EQ(reply["error"]["code"], Json(c.code)) << reply.dump();
    }
  }
  // Still serving.
  auto client = connect();
  EXPECT_TRUE(register_device(*client).is_object());
}

}  // namespace
}  // namespace sync_server_test
