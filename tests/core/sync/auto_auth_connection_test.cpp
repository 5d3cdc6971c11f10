// The auto-authenticating connection against the local sync server: what leaves before and after
// credentials, the exact USER_AUTH_DEVICE, re-authentication on a change of credentials, two
// connections over one user manager, and a trace free of secrets.
#include "core/sync/auto_auth_connection.h"

#include <set>

#include "sync_fixture.h"

namespace kestrun_test {
namespace {

using libkestrun::internal::AutoAuthConnection;
using libkestrun::internal::AutoAuthConnectionFactory;
using libkestrun::internal::JsonConnection;
using libkestrun::internal::JsonConnectionFactory;

constexpr char kToken[] = "tok-5a6b7c";
constexpr char kTokenSecret[] = "toksec-8d9e0f";
constexpr char kPushToken[] = "push-3c4d5e";

std::shared_ptr<const libkestrun::HarnvikCredentials> harnvik(const std::string& uid) {
  return std::make_shared<libkestrun::HarnvikCredentialsOAuth1>(2, uid, kToken, kTokenSecret);
}

// The message traced on a "Sending message" line.
Json traced_message(const std::string& line) {
  const std::string label = "Sending message: ";
  std::string error;
  return Json::parse(line.substr(line.find(label) + label.size()), error);
}

std::set<std::string> keys_of(const Json& object) {
  std::set<std::string> keys;
  for (const auto& member : object.object_items()) keys.insert(member.first);
  return keys;
}

class AutoAuthConnectionTest : public SyncServerTest {
 protected:
  ~AutoAuthConnectionTest() override {
    run([&] { connections.clear(); });
    const std::string written = trace();
    for (const std::string& secret : secrets) {
      EXPECT_EQ(written.find(secret), std::string::npos) << secret << " in the trace:\n" << written;
    }
  }

  // A new connection on the core thread; index into `connections` and `delivered`.
  size_t open(JsonConnectionFactory& factory) {
    return run([&] {
      connections.push_back(factory.create());
      delivered.push_back(std::make_unique<Delivered>());
      delivered.back()->attach(*connections.back());
      return connections.size() - 1;
    });
  }
  void write(size_t connection, const Json& message) {
    run([&] { connections[connection]->write(Json(message)); });
  }

  std::vector<std::string> sent_auths() {
    return trace_lines_containing("Sending message: {\"method\":\"USER_AUTH_DEVICE\"");
  }

  AutoAuthConnectionFactory factory{*manager, nullptr, thread.get_loop(), client_options(server->port())};
  std::vector<std::unique_ptr<JsonConnection>> connections;
  std::vector<std::unique_ptr<Delivered>> delivered;
  std::vector<std::string> secrets{kToken, kTokenSecret, kPushToken};
};

TEST_F(AutoAuthConnectionTest, AuthenticatesFirstThenSendsWhatWasWrittenBefore) {
  const Json state = register_device();
  secrets.push_back(state["device_secret"].string_value());
  store_identity(state);

  size_t c = open(factory);
  write(c, snapshot_request("S1"));
  run([&] { connections[c]->connect(); });
  const Json reply = delivered[c]->wait_for_reply("S1");
  EXPECT_TRUE(reply["error"].is_null()) << reply.dump();
  EXPECT_EQ(reply["result"]["user_id"], state["user_id"]);

  std::vector<std::string> sent = trace_lines_containing("Sending message: ");
  ASSERT_EQ(sent.size(), 2u) << trace();
  const Json auth = traced_message(sent[0]);
  EXPECT_EQ(keys_of(auth), (std::set<std::string>{"method", "params"}));
  EXPECT_EQ(auth["params"], Json(Json::object{{"auth_version", 1},
                                              {"device_id", state["device_id"]},
                                              {"device_secret", "[redacted]"},
                                              {"user_id", state["user_id"]}}));
  EXPECT_EQ(traced_message(sent[1])["id"], Json("S1"));
  const std::string written = trace();
  EXPECT_LT(written.find("Deferring message till after auth"), written.find("USER_AUTH_DEVICE"));
  EXPECT_LT(written.find("USER_AUTH_DEVICE"), written.find("Sending deferred messages"));

  // The same device with a wrong secret is refused.
  Json wrong = state;
  Json::object changed = wrong.object_items();
  changed["device_secret"] = "0BAD5EC2-0000-4000-8000-000000000000";
  store_identity(changed);
  size_t refused = open(factory);
  run([&] { connections[refused]->connect(); });
  write(refused, snapshot_request("S2"));
  const Json unauthorized =
      delivered[refused]->wait_for([](const Json& m) { return m["method"] == Json("USER_UNAUTHORIZED"); });
  EXPECT_EQ(unauthorized["params"]["reason"], Json("credentials"));
  EXPECT_EQ(delivered[refused]->wait_for_reply("S2")["error"]["code"], Json("U1"));
}

TEST_F(AutoAuthConnectionTest, OnlyPreAuthMethodsLeaveUntilCredentialsComeAndWhileTheyAreGone) {
  size_t c = open(factory);
  run([&] { connections[c]->connect(); });
  write(c, snapshot_request("S1"));
  write(c, Json::object{{"method", "ping"}});
  write(c, Json::object{{"method", "USER_NEW_DEVICE"},
                        {"id", "N1"},
                        {"params", Json::object{{"name", "test mac"},
                                                {"type", "macos"},
                                                {"vendor_id", "V1"},
                                                {"harnvik_credentials", Json::object{{"uid", "H-77"}}}}}});
  const Json registered = delivered[c]->wait_for_reply("N1")["result"];
  ASSERT_TRUE(registered["device_secret"].is_string()) << registered.dump();
  secrets.push_back(registered["device_secret"].string_value());
  EXPECT_FALSE(delivered[c]->has_reply("S1"));  // the server serves in order: S1 never left

  // The registration's reply and a push registration are traced without their secrets.
  libkestrun::sanity::log_json("Received message",
                               Json::object{{"type", "USER_NEW_DEVICE"}, {"result", registered}});
  libkestrun::sanity::log_json(
      "Sending message",
      Json::object{{"method", "PUSH_REGISTER"},
                   {"params", Json::object{{"push_token", kPushToken}, {"push_type", "apns"}}}});

  // Credentials arrive: USER_AUTH_DEVICE (with the Harnvik credentials), then the held request.
  store_identity(registered);
  run([&] { manager->useHarnvikCredentials(harnvik("H-77")); });
  EXPECT_TRUE(delivered[c]->wait_for_reply("S1")["error"].is_null());
  ASSERT_EQ(sent_auths().size(), 1u);
  EXPECT_EQ(keys_of(traced_message(sent_auths()[0])["params"]),
            (std::set<std::string>{"auth_version", "device_id", "device_secret", "harnvik_credentials",
                                   "user_id"}));

  // A reset makes ordinary messages wait again; new credentials authenticate afresh first.
  run([&] { manager->_reset_data(); });
  EXPECT_FALSE(run([&] { return static_cast<AutoAuthConnection&>(*connections[c]).authenticated(); }));
  write(c, snapshot_request("S2"));
  write(c, Json::object{{"method", "USER_UNLINK"}, {"id", "L1"}, {"params", Json::object{}}});
  delivered[c]->wait_for_reply("L1");
  EXPECT_FALSE(delivered[c]->has_reply("S2"));
  store_identity(registered);
  run([&] { manager->useHarnvikCredentials(harnvik("H-77")); });
  EXPECT_TRUE(delivered[c]->wait_for_reply("S2")["error"].is_null());
  EXPECT_EQ(sent_auths().size(), 2u);

  // After the end a change of credentials sends nothing on this connection.
  run([&] { connections[c]->end(); });
  run([&] { manager->useHarnvikCredentials(harnvik("H-77")); });
  EXPECT_EQ(sent_auths().size(), 2u);
}

TEST_F(AutoAuthConnectionTest, ConnectionsOfOneFactoryEachKeepTheirOwnCredentials) {
  const Json state = register_device("H-88");
  secrets.push_back(state["device_secret"].string_value());
  store_identity(state);
  run([&] { manager->useHarnvikCredentials(harnvik("H-88")); });

  size_t main = open(factory);
  size_t background = open(factory);
  run([&] {
    connections[main]->connect();
    connections[background]->connect();
  });
  write(main, snapshot_request("M1"));
  write(background, snapshot_request("B1"));
  EXPECT_TRUE(delivered[main]->wait_for_reply("M1")["error"].is_null());
  EXPECT_TRUE(delivered[background]->wait_for_reply("B1")["error"].is_null());
  EXPECT_EQ(sent_auths().size(), 2u);

  // New credentials re-authenticate both.
  run([&] { manager->useHarnvikCredentials(harnvik("H-88")); });
  EXPECT_EQ(sent_auths().size(), 4u);

  // The background connection ends and goes; the main one keeps hearing of new credentials.
  run([&] {
    connections[background]->end();
    connections[background].reset();
  });
  run([&] { manager->useHarnvikCredentials(harnvik("H-88")); });
  EXPECT_EQ(sent_auths().size(), 5u);
  write(main, snapshot_request("M2"));
  EXPECT_TRUE(delivered[main]->wait_for_reply("M2")["error"].is_null());
}

TEST(PreAuthMessageTest, OnlyThreeMethodsPassBeforeAuthentication) {
  struct Case {
    Json message;
    bool passes;
  } cases[] = {
      {Json::object{{"method", "ping"}}, true},
      {Json::object{{"method", "USER_NEW_DEVICE"}}, true},
      {Json::object{{"method", "USER_UNLINK"}}, true},
      {Json::object{{"method", "ITEM_UPDATE"}}, false},
      {Json::object{{"method", "USER_AUTH_DEVICE"}}, false},
      {Json::object{{"id", "X"}}, false},
      {Json::object{{"method", 1}}, false},
      {Json::array{}, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(libkestrun::internal::is_pre_auth_message(c.message), c.passes) << c.message.dump();
}

}  // namespace
}  // namespace kestrun_test
