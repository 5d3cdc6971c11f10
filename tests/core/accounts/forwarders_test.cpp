// The account and user managers' forwarders reach the process-wide instance with their arguments
// and hand back its answers; without an instance they answer the neutral value.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/accounts/account_manager.h"
#include "core/accounts/harnvik_credentials.h"
#include "core/accounts/user_manager.h"
#include "core/sync/connection_credentials.h"
#include "support/fake_account_manager.h"
#include "support/fake_user_manager.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using namespace libkestrun;

class AccountForwardersTest : public ::testing::Test {
 protected:
  void TearDown() override {
    account_manager_set_instance(nullptr);
    user_manager_set_instance(nullptr);
  }
};

TEST_F(AccountForwardersTest, AccountManagerForwardersPassArgumentsAndAnswers) {
  auto accounts = std::make_shared<kestrun_test::FakeAccountManager>();
  auto primary = std::make_shared<KSEmailAccount>();
  primary->accountID = "A1";
  auto alias = std::make_shared<KSEmailAccount>();
  alias->accountID = "A2";
  accounts->primary_account_ids = {"A1", "B1"};
  accounts->primary_account_id_for_address = "A1";
  accounts->account_json = Json::object{{"address", "me@example.com"}, {"name", "Me"}};
  accounts->addresses = {"me@example.com", "alias@example.com"};
  accounts->email_account = primary;
  accounts->secondary_account_count = 1;
  accounts->has_email_address = true;
  accounts->account_authenticated = true;
  accounts->address_of_primary_account = true;
  accounts->primary_account_id = "A1";
  accounts->secondary_account = alias;
  account_manager_set_instance(accounts);

  EXPECT_EQ(*account_manager_all_primary_account_ids(), (std::vector<std::string>{"A1", "B1"}));
  EXPECT_EQ(account_manager_get_primary_account_id_for_email_address("me@example.com"), "A1");
  json_t* sender = account_manager_account_json("A1");
  EXPECT_EQ(kestrun_test::document(sender), accounts->account_json);
  json_decref(sender);
  EXPECT_EQ(account_manager_addresses_for_primary_account("A1")->size(), 2u);
  EXPECT_EQ(account_manager_email_account_with_id("A1"), primary);
  EXPECT_EQ(account_manager_get_number_of_secondary_accounts_for_primary_account("A1"), 1u);
  EXPECT_TRUE(account_manager_has_email_address("alias@example.com"));
  EXPECT_TRUE(account_manager_is_account_authenticated("A1"));
  EXPECT_TRUE(account_manager_is_address_of_primary_account("alias@example.com", "A1"));
  EXPECT_EQ(account_manager_primary_account_id_for_account_id("A2"), "A1");
  EXPECT_EQ(account_manager_secondary_account_with_address("alias@example.com", "A1"), alias);

  std::vector<Call> expected = {
      {"allPrimaryAccountIDs", Json::array{}},
      {"getPrimaryAccountIDForEmailAddress", Json::array{"me@example.com"}},
      {"accountJson", Json::array{"A1"}},
      {"addressesForPrimaryAccount", Json::array{"A1"}},
      {"emailAccountWithID", Json::array{"A1"}},
      {"getNumberOfSecondaryAccountsForPrimaryAccount", Json::array{"A1"}},
      {"hasEmailAddress", Json::array{"alias@example.com"}},
      {"isAccountAuthenticated", Json::array{"A1"}},
      {"isAddressOfPrimaryAccount", Json::array{"alias@example.com", "A1"}},
      {"primaryAccountIDForAccountID", Json::array{"A2"}},
      {"secondaryAccountWithAddress", Json::array{"alias@example.com", "A1"}},
  };
  EXPECT_EQ(accounts->calls(), expected);
}

TEST_F(AccountForwardersTest, RequestAndHandlerForwardersReachTheInstance) {
  std::vector<AccountActionErrorType> failures;
  auto failure = [&failures](AccountActionErrorType error) { failures.push_back(error); };
  auto success = [](std::string) {};
  // Without a manager a request still hears back: there is nobody to reach.
  account_manager_add_email_account("me@x", "t", EmailAccountType::Gmail, "en", success, failure);
  EXPECT_EQ(failures, std::vector<AccountActionErrorType>{AccountActionErrorType::NoConnection});
  EXPECT_TRUE(account_manager_all_email_accounts()->empty());
  EXPECT_EQ(account_manager_aliases_json_for_account("P"), nullptr);

  auto accounts = std::make_shared<kestrun_test::FakeAccountManager>();
  accounts->device_id = "DEV";
  accounts->can_add = false;
  account_manager_set_instance(accounts);
  EXPECT_EQ(account_manager_get_device_id(), "DEV");
  EXPECT_FALSE(account_manager_can_add_a_new_account());
  account_manager_add_email_account("me@x", "t", EmailAccountType::Yahoo, "en", success, failure);
  account_manager_reauthorize_email_account("me@x", "t", EmailAccountType::Gmail, success, failure);
  account_manager_update_email_account("P", "n", "d", success, failure);
  account_manager_add_email_alias("P", "a@x", success, failure);
  account_manager_remove_email_alias("P", "a@x", success, failure);
  json_t* aliases = json_pack("[{s:s}]", "address", "a@x");
  account_manager_handle_account_authorized("P", "n", "d", aliases);
  json_decref(aliases);
  account_manager_invalidate_account("P");
  account_manager_remove_account_locally("P");
  EXPECT_EQ(account_manager_get_alert_message_for_account_delete_error(AccountActionErrorType::TimedOut),
            "DeleteMessage 7");
  EXPECT_EQ(failures.size(), 1u);

  std::vector<Call> expected = {
      {"getDeviceId", Json::array{}},
      {"canAddANewAccount", Json::array{}},
      {"addEmailAccount", Json::array{"me@x", "t", 6, "en"}},
      {"reauthorizeEmailAccount", Json::array{"me@x", "t", 1}},
      {"updateEmailAccount", Json::array{"P", "n", "d"}},
      {"addEmailAlias", Json::array{"P", "a@x"}},
      {"removeEmailAlias", Json::array{"P", "a@x"}},
      {"handleAccountAuthorized", Json::array{"P", "n", "d", Json::array{Json::object{{"address", "a@x"}}}}},
      {"invalidateAccount", Json::array{"P"}},
      {"removeAccountLocally", Json::array{"P"}},
      {"getAlertDeleteMessage", Json::array{7}},
  };
  EXPECT_EQ(accounts->calls(), expected);
}

TEST_F(AccountForwardersTest, UserManagerForwardersAnswerTheInstancesIds) {
  auto users = std::make_shared<kestrun_test::FakeUserManager>();
  users->device_id = "DEV";
  users->user_id = "U1";
  user_manager_set_instance(users);

  EXPECT_EQ(user_manager_get_device_id(), "DEV");
  EXPECT_EQ(user_manager_get_user_id(), "U1");
  EXPECT_EQ(users->calls(),
            (std::vector<Call>{{"getDeviceId", Json::array{}}, {"getUserId", Json::array{}}}));
}

TEST_F(AccountForwardersTest, UserManagerForwardersPassArgumentsAndCallbacks) {
  auto users = std::make_shared<kestrun_test::FakeUserManager>();
  auto association = std::make_shared<KSUserEmailAccountAssoc>();
  association->accountID = "A1";
  users->associations = {association};
  users->registered = true;
  users->linked = true;
  users->credentials = std::make_shared<internal::ConnectionCredentials>("-7", "D1", "S1", nullptr);
  user_manager_set_instance(users);
  auto harnvik = std::make_shared<HarnvikCredentialsOAuth1>(2, "U1", "tok", "sec");

  EXPECT_TRUE(user_manager_device_is_registered());
  EXPECT_TRUE(user_manager_is_harnvik_linked());
  EXPECT_EQ(user_manager_email_account_associations()->size(), 1u);
  EXPECT_EQ(user_manager_associated_email_account_for_account_id("A1"), association);
  user_manager_remove_email_account_association("A1");
  user_manager_update_from_state_doc(Json::object{{"user_id", "-7"}});
  user_manager_register_device(
      harnvik, "v", "macos", "n", [](std::string) {}, [](UserActionErrorType) {});
  user_manager_reset_data();
  user_manager_link_harnvik_user(
      harnvik, [](std::string) {}, [](UserActionErrorType) {});
  user_manager_set_auto_auth_enabled_for_account(
      true, "A1", [](std::string) {}, [](UserActionErrorType) {});
  std::string heard;
  CredentialsRequest request = user_manager_request_connection_credentials(
      [&](const std::shared_ptr<internal::ConnectionCredentials>& c) { heard = c->user_id; });

  std::vector<Call> expected = {
      {"deviceIsRegistered", Json::array{}},
      {"isHarnvikLinked", Json::array{}},
      {"emailAccountAssociations", Json::array{}},
      {"associatedEmailAccountForAccountID", Json::array{"A1"}},
      {"removeEmailAccountAssociation", Json::array{"A1"}},
      {"updateFromStateDoc", Json::array{Json::object{{"user_id", "-7"}}}},
      {"registerDevice", Json::array{"U1", "v", "macos", "n"}},
      {"_reset_data", Json::array{}},
      {"linkHarnvikUser", Json::array{"U1"}},
      {"setAutoAuthEnabledForAccount", Json::array{true, "A1"}},
      {"requestConnectionCredentials", Json::array{}},
  };
  EXPECT_EQ(users->calls(), expected);
  EXPECT_EQ(heard, "-7");
}

TEST_F(AccountForwardersTest, WithoutAnInstanceEveryAnswerIsNeutral) {
  // The containers that callers walk are empty, never null: no manager means no account.
  auto ids = account_manager_all_primary_account_ids();
  ASSERT_NE(ids, nullptr);
  EXPECT_TRUE(ids->empty());
  EXPECT_EQ(account_manager_get_primary_account_id_for_email_address("me@example.com"), std::nullopt);
  EXPECT_EQ(account_manager_account_json("A1"), nullptr);
  auto addresses = account_manager_addresses_for_primary_account("A1");
  ASSERT_NE(addresses, nullptr);
  EXPECT_TRUE(addresses->empty());
  EXPECT_EQ(account_manager_email_account_with_id("A1"), nullptr);
  EXPECT_EQ(account_manager_get_number_of_secondary_accounts_for_primary_account("A1"), 0u);
  EXPECT_FALSE(account_manager_has_email_address("me@example.com"));
  EXPECT_FALSE(account_manager_is_account_authenticated("A1"));
  EXPECT_FALSE(account_manager_is_address_of_primary_account("me@example.com", "A1"));
  EXPECT_EQ(account_manager_primary_account_id_for_account_id("A2"), "");
  EXPECT_EQ(account_manager_secondary_account_with_address("me@example.com", "A1"), nullptr);
  EXPECT_EQ(user_manager_get_device_id(), "");
  EXPECT_EQ(user_manager_get_user_id(), "");
  EXPECT_FALSE(user_manager_device_is_registered());
  EXPECT_FALSE(user_manager_is_harnvik_linked());
  auto associations = user_manager_email_account_associations();
  ASSERT_NE(associations, nullptr);
  EXPECT_TRUE(associations->empty());
  EXPECT_EQ(user_manager_associated_email_account_for_account_id("A1"), nullptr);
  bool called = false;
  user_manager_link_harnvik_user(
      nullptr, [&](std::string) { called = true; }, [&](UserActionErrorType) { called = true; });
  CredentialsRequest request = user_manager_request_connection_credentials(
      [&](const std::shared_ptr<internal::ConnectionCredentials>&) { called = true; });
  EXPECT_FALSE(called);
  EXPECT_FALSE(request.active());
}

}  // namespace
