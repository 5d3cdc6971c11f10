// The credentials' JSON forms as the server reads them, and the user server client's forwarders.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/accounts/harnvik_credentials.h"
#include "core/sync/connection_credentials.h"
#include "core/sync/user_server_client.h"
#include "support/fake_user_server_client.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using libkestrun::HarnvikCredentialsOAuth1;
using libkestrun::internal::ConnectionCredentials;

TEST(HarnvikCredentialsTest, TheOAuth1FormNamesItsConsumer) {
  const std::vector<std::pair<int32_t, std::string>> types = {{0, "oauth1_android"},
                                                              {1, "oauth1_desktop_dev"},
                                                              {2, "oauth1_desktop_prod"},
                                                              {3, "oauth1_ios"},
                                                              {4, "oauth1_ipad"},
                                                              {5, ""},
                                                              {9, ""},
                                                              {-1, ""}};
  for (const auto& [type, name] : types) {
    HarnvikCredentialsOAuth1 credentials(type, "U1", "tok", "sec");
    EXPECT_EQ(credentials.to_json().dump(),
              R"({"token":"tok","token_secret":"sec","type":")" + name + R"(","uid":"U1"})");
  }
  // Empty members are written, never left out, and the form does not change between calls.
  HarnvikCredentialsOAuth1 empty(2, "", "", "");
  EXPECT_EQ(empty.to_json().dump(),
            R"({"token":"","token_secret":"","type":"oauth1_desktop_prod","uid":""})");
  EXPECT_EQ(empty.to_json().dump(), empty.to_json().dump());
  EXPECT_EQ(empty.getUid(), "");
}

TEST(ConnectionCredentialsTest, TheAuthParamsCarryHarnvikCredentialsOnlyWhenLinked) {
  ConnectionCredentials anonymous("-7", "D1", "S1", nullptr);
  EXPECT_EQ(anonymous.to_json().dump(),
            R"({"auth_version":1,"device_id":"D1","device_secret":"S1","user_id":"-7"})");

  auto harnvik = std::make_shared<HarnvikCredentialsOAuth1>(2, "U1", "tok", "sec");
  ConnectionCredentials linked("U1", "D1", "S1", harnvik);
  EXPECT_EQ(linked.to_json(), Json(Json::object{{"auth_version", 1},
                                                {"device_id", "D1"},
                                                {"device_secret", "S1"},
                                                {"harnvik_credentials", harnvik->to_json()},
                                                {"user_id", "U1"}}));
}

TEST(ConnectionCredentialsDeathTest, HarnvikCredentialsOfAnotherUserEndTheProcess) {
  auto harnvik = std::make_shared<HarnvikCredentialsOAuth1>(2, "U2", "tok", "sec");
  EXPECT_DEATH(ConnectionCredentials("U1", "D1", "S1", harnvik), "another user");
}

class UserServerClientForwardersTest : public ::testing::Test {
 protected:
  void TearDown() override { libkestrun::internal::user_server_client_set_instance(nullptr); }
};

TEST_F(UserServerClientForwardersTest, RequestsReachTheInstanceAndItsAnswersTheCallbacks) {
  using namespace libkestrun::internal;
  auto client = std::make_shared<kestrun_test::FakeUserServerClient>();
  user_server_client_set_instance(client);
  HarnvikCredentialsOAuth1 harnvik(2, "U1", "tok", "sec");
  auto credentials = std::make_shared<ConnectionCredentials>("-7", "D1", "S1", nullptr);
  std::vector<std::string> answers;
  auto success = [&](Json& result) { answers.push_back(result.dump()); };
  auto failure = [&](KSServerClientUserModifyFailureType f) {
    answers.push_back(std::to_string(static_cast<int>(f)));
  };

  user_server_client_register_anonymous_device("v", "macos", "n", success);
  client->succeed(Json::object{{"user_id", "-7"}});
  user_server_client_register_device(harnvik, "v", "macos", "n", success, failure);
  client->fail(KSServerClientUserModifyFailureType::RegistrationRefused);
  user_server_client_unregister_device(libkestrun::UserUnlinkReason::LocalUnlink, credentials, success,
                                       failure);
  user_server_client_link_harnvik_account(harnvik, success, failure);
  user_server_client_set_auto_auth_enabled_for_account(false, "A1", success, failure);
  client->fail(KSServerClientUserModifyFailureType::TimedOut);

  EXPECT_EQ(client->calls(),
            (std::vector<Call>{{"registerAnonymousDevice", Json::array{"v", "macos", "n"}},
                               {"registerDevice", Json::array{harnvik.to_json(), "v", "macos", "n"}},
                               {"unregisterDevice", Json::array{"local_unlink", credentials->to_json()}},
                               {"linkHarnvikAccount", Json::array{harnvik.to_json()}},
                               {"setAutoAuthEnabledForAccount", Json::array{false, "A1"}}}));
  EXPECT_EQ(answers, (std::vector<std::string>{R"({"user_id":"-7"})", "9", "4"}));

  // Without an instance nothing is sent and no callback runs.
  user_server_client_set_instance(nullptr);
  user_server_client_link_harnvik_account(harnvik, success, failure);
  EXPECT_EQ(answers.size(), 3u);
  EXPECT_EQ(client->calls().size(), 5u);
}

}  // namespace
