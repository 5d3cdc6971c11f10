// The user document, its checks, the connection credentials and the associations.
#include "core/accounts/user_manager_impl.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "user_fixture.h"

namespace kestrun_test {
namespace {

using jsonette::Json;
using libkestrun::CredentialsRequest;
using libkestrun::internal::ConnectionCredentials;
using Credentials = std::shared_ptr<ConnectionCredentials>;

TEST_F(UserManagerTest, AFreshStoreReadsAsUnregisteredAndIsNeverWritten) {
  accounts.add("A1", "a@example.com", libkestrun::EmailAccountType::Gmail);
  EXPECT_FALSE(manager->deviceIsRegistered());
  EXPECT_FALSE(manager->isHarnvikLinked());
  EXPECT_EQ(manager->getUserId(), "");
  EXPECT_TRUE(manager->emailAccountAssociations()->empty());
  EXPECT_FALSE(manager->hasAssociatedAccounts());
  run([&] { manager->addEmailAccountAssociation("A1"); });
  run([&] { manager->_setUserDocFields("has_desktop", true); });
  EXPECT_EQ(storedDocument(), std::nullopt);
  EXPECT_EQ(run([&] { return manager->_connectionCredentials(); }), nullptr);
}

TEST_F(UserManagerTest, GettersReadTheStoredDocumentAndRewritesKeepOtherMembers) {
  storeDocument(Json::object{{"user_id", "U1"},
                             {"device_id", kDeviceID},
                             {"device_secret", kSecret},
                             {"has_desktop", true},
                             {"has_mobile", "yes"},
                             {"server_extra", 5}});
  EXPECT_EQ(manager->getUserId(), "U1");
  EXPECT_EQ(manager->getDeviceId(), kDeviceID);
  EXPECT_EQ(manager->getDeviceSecret(), kSecret);
  EXPECT_TRUE(manager->hasDesktopApp());
  EXPECT_FALSE(manager->hasMobileApp());  // not a boolean
  EXPECT_TRUE(manager->deviceIsRegistered());
  EXPECT_TRUE(manager->isHarnvikLinked());

  run([&] { manager->_setUserDocFields("has_mobile", true); });
  EXPECT_EQ((*storedDocument())["server_extra"], Json(5));
  EXPECT_TRUE(manager->hasMobileApp());

  // A document that is not an object reads as empty and takes no field.
  storeDocument(Json::array{"U1"});
  EXPECT_EQ(manager->getUserId(), "");
  run([&] { manager->_setUserDocFields("user_id", "U2"); });
  EXPECT_EQ(storedDocument(), Json(Json::array{"U1"}));
}

TEST_F(UserManagerTest, TheCorruptionCheckFollowsTheTextRules) {
  struct Case {
    std::string device_id, user_id, secret;
    bool corrupt;
  };
  const std::string letters36(36, 'a');
  const std::vector<Case> cases = {
      {kDeviceID, "-7", kSecret, false},
      {letters36, "U1", kSecret, false},                        // only length and characters count
      {"", "", "", false},                                      // all empty passes
      {std::string(kDeviceID).substr(1), "U1", kSecret, true},  // 35 characters
      {std::string(35, 'a') + "_", "U1", kSecret, true},        // 36 with "_"
      {kDeviceID, "U 1", kSecret, true},                        // a space in the user id
      {kDeviceID, "U1", std::string(kSecret).substr(1), true},  // a 35-character secret
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.device_id + " / " + c.user_id + " / " + c.secret);
    storeDocument(
        Json::object{{"user_id", c.user_id}, {"device_id", c.device_id}, {"device_secret", c.secret}});
    size_t before = traceLinesContaining("corrupted_table").size();
    EXPECT_EQ(run([&] { return manager->_checkUserDoc("table"); }), c.corrupt);
    EXPECT_EQ(traceLinesContaining("corrupted_table").size(), before + (c.corrupt ? 1 : 0));
  }
  // The line names the device and the user, and only describes the secret.
  std::vector<std::string> lines = traceLinesContaining("corrupted_table");
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("corrupted_table: device_id: " + std::string(kDeviceID) +
                              ", device_secret: <35 characters, not UUID-like>, user_id: U1"),
            std::string::npos);
}

TEST_F(UserManagerTest, ACorruptSecretIsRestoredFromAValidBackup) {
  storeDocument(Json::object{{"user_id", "-7"}, {"device_id", kDeviceID}, {"device_secret", "damaged"}});
  json_store.set(libkestrun::kDeviceSecretBackupKey, std::string(kBackupSecret));
  EXPECT_FALSE(run([&] { return manager->detectFatalCorruption("check"); }));
  EXPECT_EQ(manager->getDeviceSecret(), kBackupSecret);
  std::vector<std::string> restored = traceLinesContaining("UserManager restored device_secret from backup");
  ASSERT_EQ(restored.size(), 1u);
  EXPECT_NE(restored[0].find("<36 characters, UUID-like>"), std::string::npos);
}

TEST_F(UserManagerTest, WithoutAUsableBackupCorruptionIsFatalOnlyWithoutHarnvikCredentials) {
  storeDocument(Json::object{{"user_id", "U1"}, {"device_id", kDeviceID}, {"device_secret", "damaged"}});
  json_store.set(libkestrun::kDeviceSecretBackupKey, std::string("short"));
  EXPECT_TRUE(run([&] { return manager->detectFatalCorruptionOnLoad(); }));
  EXPECT_EQ(traceLinesContaining("Detected fatal corruption, unlinking").size(), 1u);
  EXPECT_EQ(manager->getDeviceSecret(), "damaged");

  run([&] { manager->useHarnvikCredentials(harnvik("U1")); });
  EXPECT_FALSE(run([&] { return manager->detectFatalCorruption("check"); }));
}

TEST_F(UserManagerTest, AnAnonymousUserConnectsWithoutHarnvikCredentials) {
  storeAnonymous();
  Credentials credentials = run([&] { return manager->_connectionCredentials(); });
  ASSERT_NE(credentials, nullptr);
  EXPECT_EQ(credentials->user_id, "-7");
  EXPECT_EQ(credentials->device_id, kDeviceID);
  EXPECT_EQ(credentials->device_secret, kSecret);
  EXPECT_EQ(credentials->harnvik_credentials, nullptr);
  // Harnvik credentials are not kept for an anonymous user.
  run([&] { manager->useHarnvikCredentials(harnvik("-7")); });
  EXPECT_EQ(run([&] { return manager->_connectionCredentials(); })->harnvik_credentials, nullptr);
}

TEST_F(UserManagerTest, ALinkedUserConnectsOnlyWithTheMatchingHarnvikCredentials) {
  storeDocument(Json::object{{"user_id", "U1"}, {"device_id", kDeviceID}, {"device_secret", kSecret}});
  std::vector<Credentials> heard;
  CredentialsRequest request = run([&] {
    return manager->requestConnectionCredentials([&](const Credentials& c) { heard.push_back(c); });
  });
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(heard[0], nullptr);  // linked, but no Harnvik credentials yet

  run([&] { manager->useHarnvikCredentials(harnvik("U2")); });
  EXPECT_EQ(heard.size(), 1u);  // another uid: kept nothing, told nobody
  EXPECT_EQ(run([&] { return manager->_connectionCredentials(); }), nullptr);

  auto matching = harnvik("U1");
  run([&] { manager->useHarnvikCredentials(matching); });
  ASSERT_EQ(heard.size(), 2u);
  ASSERT_NE(heard[1], nullptr);
  EXPECT_EQ(heard[1]->harnvik_credentials, matching);
  run([&] { request.cancel(); });
}

TEST_F(UserManagerTest, EachRequesterHearsUntilItCancelsItsOwnRequest) {
  std::vector<std::string> heard;
  auto listener = [&](const std::string& name) {
    return [&heard, name](const Credentials& c) { heard.push_back(name + (c ? ":" + c->user_id : ":null")); };
  };
  CredentialsRequest main = run([&] { return manager->requestConnectionCredentials(listener("main")); });
  auto background = std::make_unique<CredentialsRequest>(
      run([&] { return manager->requestConnectionCredentials(listener("background")); }));
  EXPECT_EQ(heard, (std::vector<std::string>{"main:null", "background:null"}));

  storeAnonymous();
  run([&] { manager->updateFromStateDoc(Json::object{}); });  // a state document tells no one
  run([&] { background.reset(); });                           // the background connection ends
  run([&] { manager->_reset_data(); });
  EXPECT_EQ(heard, (std::vector<std::string>{"main:null", "background:null", "main:null"}));

  // An empty listener registers nothing.
  CredentialsRequest empty = run([&] { return manager->requestConnectionCredentials(nullptr); });
  EXPECT_FALSE(empty.active());
  EXPECT_TRUE(main.active());
  run([&] { main.cancel(); });
  EXPECT_FALSE(main.active());
}

TEST_F(UserManagerTest, AListenerMayCancelAnotherWhileTheyAreCalled) {
  storeAnonymous();
  std::vector<std::string> heard;
  CredentialsRequest second;
  CredentialsRequest first = run([&] {
    return manager->requestConnectionCredentials([&](const Credentials& c) {
      heard.push_back("first");
      if (!c) second.cancel();
    });
  });
  second = run([&] {
    return manager->requestConnectionCredentials([&](const Credentials&) { heard.push_back("second"); });
  });
  run([&] { manager->_reset_data(); });
  EXPECT_EQ(heard, (std::vector<std::string>{"first", "second", "first"}));
  run([&] {
    first.cancel();
    second.cancel();
  });
}

TEST_F(UserManagerTest, ARequestMayOutliveTheManager) {
  CredentialsRequest request =
      run([&] { return manager->requestConnectionCredentials([](const Credentials&) {}); });
  run([&] { manager.reset(); });
  EXPECT_FALSE(request.active());
  request.cancel();  // nothing left to cancel
}

TEST_F(UserManagerTest, AssociationsFollowTheAccountsOfThisDevice) {
  accounts.add("A2", "two@example.com", libkestrun::EmailAccountType::Outlook);
  storeDocument(
      Json::object{{"user_id", "-7"},
                   {"email_account_assocs", Json::array{Json::object{{"accountID", "A1"},
                                                                     {"emailAddress", "one@example.com"},
                                                                     {"emailType", 1},
                                                                     {"associated", true},
                                                                     {"auto_authorize", true},
                                                                     {"authorized", true},
                                                                     {"has_associated", true}},
                                                        "not an object"}}});
  ASSERT_EQ(manager->emailAccountAssociations()->size(), 1u);
  EXPECT_EQ(*manager->associatedAccountIds(), std::vector<std::string>{"A1"});

  // Removal keeps has_associated and auto_authorize.
  run([&] { manager->removeEmailAccountAssociation("A1"); });
  auto a1 = manager->associatedEmailAccountForAccountID("A1");
  ASSERT_NE(a1, nullptr);
  EXPECT_FALSE(a1->authorized);
  EXPECT_FALSE(a1->associated);
  EXPECT_TRUE(a1->has_associated);
  EXPECT_TRUE(a1->auto_authorize);
  EXPECT_FALSE(manager->hasAssociatedAccounts());

  // Adding again restores it in place; a new known account is appended; an unknown one changes nothing.
  run([&] { manager->addEmailAccountAssociation("A1"); });
  run([&] { manager->addEmailAccountAssociation("A2"); });
  run([&] { manager->addEmailAccountAssociation("A9"); });
  auto associations = manager->emailAccountAssociations();
  ASSERT_EQ(associations->size(), 2u);
  EXPECT_TRUE((*associations)[0]->authorized && (*associations)[0]->associated);
  EXPECT_EQ((*associations)[1]->to_json(), Json(Json::object{{"accountID", "A2"},
                                                             {"emailAddress", "two@example.com"},
                                                             {"emailType", 4},
                                                             {"associated", true},
                                                             {"auto_authorize", true},
                                                             {"authorized", true},
                                                             {"has_associated", true}}));
  EXPECT_EQ(*manager->associatedAccountIds(), (std::vector<std::string>{"A1", "A2"}));
}

TEST_F(UserManagerTest, TheAccountNotificationsChangeTheAssociations) {
  KSUserEmailAccountAssoc a1;
  a1.accountID = "A1";
  a1.authorized = true;
  KSUserEmailAccountAssoc a2 = a1;
  a2.accountID = "A2";
  a2.associated = true;
  const Json before = Json::array{a1.to_json(), a2.to_json()};
  storeDocument(Json::object{{"user_id", "-7"}, {"email_account_assocs", before}});

  center->post_notification("com.kestrun.account.added.locally", "A9");
  settle();
  EXPECT_EQ(manager->_userDocField("email_account_assocs"), before);  // rewritten unchanged

  center->post_notification("com.kestrun.account.added.locally", "A1");
  center->post_notification("com.kestrun.account.removed.locally", "A2");
  settle();
  EXPECT_TRUE(manager->associatedEmailAccountForAccountID("A1")->associated);
  EXPECT_FALSE(manager->associatedEmailAccountForAccountID("A2")->associated);
  EXPECT_FALSE(manager->associatedEmailAccountForAccountID("A2")->authorized);
}

}  // namespace
}  // namespace kestrun_test
