// Registration, linking, unregistration, automatic authorisation, user state documents and the
// reset, over a recording user server client whose replies the tests give.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/accounts/user_manager_impl.h"
#include "user_fixture.h"

namespace kestrun_test {
namespace {

using jsonette::Json;
using libkestrun::CredentialsRequest;
using libkestrun::UserActionErrorType;
using libkestrun::internal::ConnectionCredentials;
using Credentials = std::shared_ptr<ConnectionCredentials>;
using Failure = KSServerClientUserModifyFailureType;

// What the operations' callbacks received.
struct Outcome {
  std::vector<std::string> successes;
  std::vector<UserActionErrorType> failures;
  libkestrun::UserActionSuccess success() {
    return [this](std::string id) { successes.push_back(std::move(id)); };
  }
  libkestrun::UserActionFailure failure() {
    return [this](UserActionErrorType error) { failures.push_back(error); };
  }
};

Json stateDoc(const std::string& user_id) {
  return Json::object{{"user_id", user_id}, {"device_id", kDeviceID}, {"device_secret", kSecret}};
}

class UserRequestsTest : public UserManagerTest {
 protected:
  // Listens for credentials for the whole test.
  void requestCredentials() {
    request = run([&] {
      return manager->requestConnectionCredentials([&](const Credentials& c) { heard.push_back(c); });
    });
  }
  void TearDown() override {
    run([&] { request.cancel(); });
  }

  CredentialsRequest request;
  std::vector<Credentials> heard;
};

TEST_F(UserRequestsTest, AnAnonymousRegistrationStoresAndBacksUpTheSecret) {
  requestCredentials();
  run([&] { manager->registerAnonymousDevice("vendor", "macos", "Desk"); });
  EXPECT_EQ(users_client->calls(),
            (std::vector<Call>{{"registerAnonymousDevice", Json::array{"vendor", "macos", "Desk"}}}));
  run([&] { users_client->succeed(stateDoc("-42")); });

  EXPECT_EQ(manager->getUserId(), "-42");
  EXPECT_EQ(manager->getDeviceSecret(), kSecret);
  EXPECT_EQ(json_store.get_string(libkestrun::kDeviceSecretBackupKey), std::string(kSecret));
  ASSERT_EQ(heard.size(), 2u);
  ASSERT_NE(heard[1], nullptr);
  EXPECT_EQ(heard[1]->user_id, "-42");
  EXPECT_EQ(heard[1]->harnvik_credentials, nullptr);
}

TEST_F(UserRequestsTest, CallbackRulesComeBeforeAnythingIsSent) {
  Outcome outcome;
  run([&] {
    manager->registerDevice(harnvik("U1"), "v", "macos", "n", nullptr, outcome.failure());
    manager->linkHarnvikUser(harnvik("U1"), nullptr, outcome.failure());
    manager->setAutoAuthEnabledForAccount(true, "A1", nullptr, outcome.failure());
    manager->unregisterDevice(libkestrun::UserUnlinkReason::UserInitiated, nullptr, outcome.failure());
    // Without a failure callback nothing at all happens.
    manager->registerDevice(harnvik("U1"), "v", "macos", "n", outcome.success(), nullptr);
    manager->linkHarnvikUser(harnvik("U1"), outcome.success(), nullptr);
    manager->setAutoAuthEnabledForAccount(true, "A1", outcome.success(), nullptr);
    manager->unregisterDevice(libkestrun::UserUnlinkReason::UserInitiated, outcome.success(), nullptr);
  });
  EXPECT_EQ(outcome.failures, std::vector<UserActionErrorType>(4, UserActionErrorType::NoSuccessCallback));
  EXPECT_TRUE(outcome.successes.empty());
  EXPECT_TRUE(users_client->calls().empty());
}

TEST_F(UserRequestsTest, ARegisteredDeviceIsNotRegisteredAgain) {
  storeAnonymous();
  Outcome outcome;
  run([&] {
    manager->registerDevice(harnvik("U1"), "v", "macos", "n", outcome.success(), outcome.failure());
  });
  EXPECT_EQ(outcome.failures, std::vector<UserActionErrorType>{UserActionErrorType::AlreadyRegistered});
  EXPECT_TRUE(users_client->calls().empty());
}

TEST_F(UserRequestsTest, ARegistrationStoresTheDocumentBeforeSuccessAndHoldsTheCredentials) {
  requestCredentials();
  std::string seen_by_success;
  run([&] {
    manager->registerDevice(
        harnvik("U1"), "vendor", "macos", "Desk",
        [&](std::string id) { seen_by_success = id + "/" + manager->getUserId(); },
        [](UserActionErrorType) { ADD_FAILURE(); });
  });
  ASSERT_EQ(users_client->calls().size(), 1u);
  EXPECT_EQ(users_client->calls()[0].args[0], Json(Json::object{{"token", kToken},
                                                                {"token_secret", kTokenSecret},
                                                                {"type", "oauth1_desktop_prod"},
                                                                {"uid", "U1"}}));
  run([&] { users_client->succeed(stateDoc("U1")); });
  EXPECT_EQ(seen_by_success, "U1/U1");
  ASSERT_EQ(heard.size(), 2u);
  ASSERT_NE(heard[1], nullptr);
  EXPECT_EQ(heard[1]->harnvik_credentials->getUid(), "U1");
}

TEST_F(UserRequestsTest, ServerFailuresAreMapped) {
  struct Case {
    Failure reported;
    UserActionErrorType expected;
  };
  const std::vector<Case> cases = {{Failure::Refused, UserActionErrorType::Refused},
                                   {Failure::Other, UserActionErrorType::Failed},
                                   {Failure::RegistrationRefused, UserActionErrorType::RegistrationRefused},
                                   {static_cast<Failure>(5), UserActionErrorType::Failed}};
  for (const Case& c : cases) {
    Outcome outcome;
    run([&] {
      manager->registerDevice(harnvik("U1"), "v", "macos", "n", outcome.success(), outcome.failure());
    });
    run([&] { users_client->fail(c.reported); });
    EXPECT_EQ(outcome.failures, std::vector<UserActionErrorType>{c.expected});
    EXPECT_TRUE(outcome.successes.empty());
  }
  EXPECT_TRUE(traceLinesContaining("UserManager timeout").empty());
  EXPECT_FALSE(manager->deviceIsRegistered());
}

TEST_F(UserRequestsTest, ATimeOutIsTracedOnceAndUploadsTheTrace) {
  storeAnonymous();
  server->connected = true;
  Outcome outcome;
  run([&] { manager->linkHarnvikUser(harnvik("U1"), outcome.success(), outcome.failure()); });
  run([&] { users_client->fail(Failure::TimedOut); });
  EXPECT_EQ(outcome.failures, std::vector<UserActionErrorType>{UserActionErrorType::TimedOut});
  EXPECT_EQ(traceLinesContaining("UserManager timeout").size(), 1u);
  EXPECT_TRUE(tasks->has_tasks());  // the trace's upload is under way
}

TEST_F(UserRequestsTest, LinkingNeedsAnUnlinkedUserAndAConnection) {
  Outcome outcome;
  run([&] { manager->linkHarnvikUser(harnvik("U1"), outcome.success(), outcome.failure()); });
  storeDocument(stateDoc("U1"));
  server->connected = true;
  run([&] { manager->linkHarnvikUser(harnvik("U1"), outcome.success(), outcome.failure()); });
  EXPECT_EQ(outcome.failures, (std::vector<UserActionErrorType>{UserActionErrorType::NoConnection,
                                                                UserActionErrorType::AlreadyLinked}));
  EXPECT_TRUE(users_client->calls().empty());
}

TEST_F(UserRequestsTest, ASuccessfulLinkStoresSucceedsPostsAndRaisesInThatOrder) {
  storeAnonymous();
  server->connected = true;
  requestCredentials();
  std::vector<std::string> events;
  manager->listen<libkestrun::harnvik_linked>(
      [&](std::string previous, std::string now) { events.push_back("linked " + previous + " " + now); });
  libkestrun::NotificationObserver posted = center->observe(
      libkestrun::kUserAccountLinkedHarnvik,
      [&](const std::string&, const Json& payload) { events.push_back("posted " + payload.dump()); });

  run([&] {
    manager->linkHarnvikUser(
        harnvik("U1"),
        [&](std::string id) { events.push_back("success " + id + " " + manager->getUserId()); },
        [](UserActionErrorType) { ADD_FAILURE(); });
  });
  EXPECT_EQ(
      users_client->calls(),
      (std::vector<Call>{{"linkHarnvikAccount", Json::array{Json::object{{"token", kToken},
                                                                         {"token_secret", kTokenSecret},
                                                                         {"type", "oauth1_desktop_prod"},
                                                                         {"uid", "U1"}}}}}));
  run([&] {
    users_client->succeed(stateDoc("U1"));
    events.push_back(heard.back() && heard.back()->harnvik_credentials ? "credentials" : "no credentials");
  });
  settle();
  EXPECT_EQ(events,
            (std::vector<std::string>{"success U1 U1", "linked -7 U1", "credentials", "posted null"}));
  EXPECT_TRUE(manager->isHarnvikLinked());
}

TEST_F(UserRequestsTest, ALinkFromADocumentWithoutAUserIdPassesTheEmptyId) {
  server->connected = true;
  std::vector<std::string> previous;
  manager->listen<libkestrun::harnvik_linked>(
      [&](std::string before, std::string) { previous.push_back(before); });
  Outcome outcome;
  run([&] { manager->linkHarnvikUser(harnvik("U1"), outcome.success(), outcome.failure()); });
  run([&] { users_client->succeed(stateDoc("U1")); });
  EXPECT_EQ(previous, std::vector<std::string>{""});
}

TEST_F(UserRequestsTest, UnregisteringSendsTheReasonTextAndChangesNothingLocally) {
  Outcome unregistered;
  run([&] {
    manager->unregisterDevice(libkestrun::UserUnlinkReason::Reregister, unregistered.success(),
                              unregistered.failure());
  });
  EXPECT_EQ(unregistered.successes, std::vector<std::string>{""});
  EXPECT_TRUE(users_client->calls().empty());

  storeAnonymous();
  const std::vector<std::pair<int, std::string>> reasons = {{0, "user_initiated"}, {1, "missing_credentials"},
                                                            {2, "local_unlink"},   {3, "local_role_change"},
                                                            {4, "reregister"},     {5, "unknown"},
                                                            {-1, "unknown"}};
  for (const auto& [value, text] : reasons) {
    users_client->clear();
    Outcome outcome;
    run([&] {
      manager->unregisterDevice(static_cast<libkestrun::UserUnlinkReason>(value), outcome.success(),
                                outcome.failure());
    });
    EXPECT_EQ(
        users_client->calls(),
        (std::vector<Call>{{"unregisterDevice", Json::array{text, Json::object{{"auth_version", 1},
                                                                               {"device_id", kDeviceID},
                                                                               {"device_secret", kSecret},
                                                                               {"user_id", "-7"}}}}}));
    run([&] { users_client->succeed(Json()); });
    EXPECT_EQ(outcome.successes, std::vector<std::string>{"-7"});
  }
  Outcome failed;
  run([&] {
    manager->unregisterDevice(libkestrun::UserUnlinkReason::UserInitiated, failed.success(),
                              failed.failure());
  });
  run([&] { users_client->fail(Failure::Other); });
  EXPECT_EQ(failed.failures, std::vector<UserActionErrorType>{UserActionErrorType::Failed});
  EXPECT_TRUE(manager->deviceIsRegistered());
}

TEST_F(UserRequestsTest, AutoAuthorisationNeedsAnAssociatedAccountAndAConnection) {
  storeDocument(Json::object{
      {"user_id", "-7"},
      {"email_account_assocs",
       Json::array{Json::object{{"accountID", "A1"}, {"associated", true}, {"authorized", true}},
                   Json::object{{"accountID", "A2"}, {"associated", false}, {"authorized", true}},
                   Json::object{{"accountID", "A1"}, {"associated", true}}}}});
  Outcome outcome;
  run([&] { manager->setAutoAuthEnabledForAccount(true, "A9", outcome.success(), outcome.failure()); });
  run([&] { manager->setAutoAuthEnabledForAccount(true, "A2", outcome.success(), outcome.failure()); });
  run([&] { manager->setAutoAuthEnabledForAccount(true, "A1", outcome.success(), outcome.failure()); });
  EXPECT_EQ(outcome.failures,
            (std::vector<UserActionErrorType>{UserActionErrorType::Failed, UserActionErrorType::Failed,
                                              UserActionErrorType::NoConnection}));
  EXPECT_TRUE(users_client->calls().empty());

  server->connected = true;
  run([&] { manager->setAutoAuthEnabledForAccount(true, "A1", outcome.success(), outcome.failure()); });
  EXPECT_EQ(users_client->calls(),
            (std::vector<Call>{{"setAutoAuthEnabledForAccount", Json::array{true, "A1"}}}));
  run([&] { users_client->succeed(Json::object{}); });
  EXPECT_EQ(outcome.successes, std::vector<std::string>{"A1"});
  auto associations = manager->emailAccountAssociations();
  EXPECT_TRUE((*associations)[0]->auto_authorize);
  EXPECT_FALSE((*associations)[1]->auto_authorize);
  EXPECT_TRUE((*associations)[2]->auto_authorize);  // every association of the account
}

TEST_F(UserRequestsTest, AStateDocumentRebuildsTheAssociationsInTheServersOrder) {
  storeDocument(Json::object{
      {"user_id", "-7"},
      {"kept", "yes"},
      {"email_account_assocs",
       Json::array{Json::object{{"accountID", "A"}, {"emailAddress", "a@example.com"}},
                   Json::object{
                       {"accountID", "B"}, {"emailAddress", "old@example.com"}, {"has_associated", true}}}}});
  run([&] {
    manager->updateFromStateDoc(Json::object{
        {"accounts",
         Json::array{
             Json::object{{"account_id", "B"}, {"name", "b@example.com"}, {"type", 4}, {"authorized", false}},
             Json::object{{"account_id", "C"},
                          {"name", "c@example.com"},
                          {"type", 1},
                          {"authorized", true},
                          {"associated", false},
                          {"auto_authorize", true}},
             Json::object{{"account_id", "D"}, {"authorized", true}, {"associated", true}}}},
        {"account_docs", Json::array{Json::object{{"account_id", "C"}}}},
        {"has_desktop", true},
        {"device_secret", std::string(35, 'a')}});
  });
  auto associations = manager->emailAccountAssociations();
  ASSERT_EQ(associations->size(), 3u);
  EXPECT_EQ((*associations)[0]->accountID, "B");
  EXPECT_EQ((*associations)[0]->emailAddress, "b@example.com");
  EXPECT_EQ((*associations)[0]->emailType, libkestrun::EmailAccountType::Outlook);
  EXPECT_TRUE((*associations)[0]->has_associated);  // never cleared here
  EXPECT_EQ((*associations)[1]->accountID, "C");
  EXPECT_FALSE((*associations)[1]->has_associated);
  EXPECT_EQ((*associations)[2]->accountID, "D");
  EXPECT_TRUE((*associations)[2]->has_associated);
  // Only C is authorised, unassociated, auto-authorising and never associated.
  EXPECT_EQ(accounts.calls(),
            (std::vector<Call>{{"associateEmailAccount", Json::array{"C"}},
                               {"updateFromStateDoc", Json::array{Json::object{{"account_id", "C"}}}}}));
  EXPECT_EQ((*storedDocument())["kept"], Json("yes"));
  EXPECT_TRUE(manager->hasDesktopApp());
  // A 35-character secret is stored but not backed up, and the document is reported corrupt.
  EXPECT_EQ(manager->getDeviceSecret(), std::string(35, 'a'));
  EXPECT_EQ(json_store.get_string(libkestrun::kDeviceSecretBackupKey), std::nullopt);
  EXPECT_EQ(traceLinesContaining("corrupted_update_from_state_doc").size(), 1u);

  // Without an "accounts" array the associations stay; an empty document still creates one.
  run([&] { manager->updateFromStateDoc(Json::object{{"accounts", "none"}}); });
  EXPECT_EQ(manager->emailAccountAssociations()->size(), 3u);
  run([&] { manager->_reset_data(); });
  run([&] { manager->updateFromStateDoc(Json::object{}); });
  EXPECT_EQ(storedDocument(), Json(Json::object{}));
}

TEST_F(UserRequestsTest, ResetForgetsTheIdentityAndTellsTheRequestersOnce) {
  storeDocument(stateDoc("U1"));
  json_store.set(libkestrun::kDeviceSecretBackupKey, std::string(kSecret));
  run([&] { manager->useHarnvikCredentials(harnvik("U1")); });
  requestCredentials();
  ASSERT_NE(heard.back(), nullptr);
  run([&] { manager->_reset_data(); });
  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[1], nullptr);
  EXPECT_FALSE(manager->deviceIsRegistered());
  EXPECT_EQ(json_store.get_string(libkestrun::kDeviceSecretBackupKey), std::nullopt);
  EXPECT_EQ(traceLinesContaining("UserManager _reset_data").size(), 1u);
  // The Harnvik credentials are gone too: a new registration as U1 starts without them.
  storeDocument(stateDoc("U1"));
  EXPECT_EQ(run([&] { return manager->_connectionCredentials(); }), nullptr);
}

}  // namespace
}  // namespace kestrun_test
