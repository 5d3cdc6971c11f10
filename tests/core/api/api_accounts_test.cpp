// Account operations through the facade: the names of the account types, adding an account with
// its association, and removing accounts, end to end against the local sync server.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "registered_fixture.h"

namespace kestrun_test {
namespace {

using libkestrun::AccountActionErrorType;
using libkestrun::EmailAccountType;

TEST_F(ApiTest, EachAccountTypeHasItsProviderNameAndOtherValuesNone) {
  start();
  const std::pair<int, const char*> cases[] = {{1, "Gmail"},   {2, "iCloud"},   {3, "Office365"},
                                               {4, "Outlook"}, {5, "Exchange"}, {6, "Yahoo!"},
                                               {0, ""},        {7, ""},         {-1, ""}};
  for (const auto& [type, name] : cases)
    EXPECT_EQ(api_->get_title_for_account_type(static_cast<EmailAccountType>(type)), name) << type;
}

// A removal's two outcomes: the account id, or an error code.
struct Removal {
  std::string removed;
  int error = 0;
};

class AccountsTest : public RegisteredApiTest {
 protected:
  Removal remove(const std::string& account_id, bool from_all_devices) {
    Outcome<Removal> outcome;
    api_->remove_email_account(
        account_id, from_all_devices, [&](std::string id) { outcome.set(Removal{id}); },
        [&](AccountActionErrorType error) {
          outcome.set(Removal{"", static_cast<int>(error)});
        });
    std::optional<Removal> result = outcome.wait();
    return result.value_or(Removal{"", -1});
  }
};

// The facade records the account among the user's associations before the caller's success runs,
// also when the caller gives no success callback.
TEST_F(AccountsTest, AnAddedAccountIsAssociatedBeforeItsSuccessRuns) {
  start_registered();
  struct Seen {
    std::string id;
    bool has_associations = false;
    bool associated = false;
  };
  Outcome<Seen> seen;
  api_->add_email_account(
      kSampleAddress, kSampleAccessCode, EmailAccountType::Gmail, "en",
      [&](std::string id) {
        auto association = api_->associated_email_account_for_account_id(id);
        seen.set(Seen{id, api_->has_associated_accounts(), association && association->associated});
      },
      [&](AccountActionErrorType error) { seen.set(Seen{"failed " + std::to_string(int(error))}); });
  std::optional<Seen> added = seen.wait();
  ASSERT_TRUE(added);
  EXPECT_EQ(added->id, kSampleAccount);
  EXPECT_TRUE(added->has_associations);
  EXPECT_TRUE(added->associated);
  EXPECT_EQ(api_->email_address_for_account_id(kSampleAccount), kSampleAddress);

  api_->add_email_account(
      "jon.ferris@example.net", "sample-net-password", EmailAccountType::ICloud, "en", nullptr,
      [](AccountActionErrorType) { ADD_FAILURE() << "adding without a success callback"; });
  ASSERT_TRUE(wait_until(
      [&] { return api_->associated_email_account_for_account_id("acct-example-net") != nullptr; }));
  EXPECT_TRUE(api_->has_email_address("jon.ferris@example.net"));
  EXPECT_EQ(api_->all_email_account_associations()->size(), 2u);
}

TEST_F(AccountsTest, RemovingWhileOfflineFailsWithNoConnectionAndKeepsTheAccount) {
  start_registered();
  const std::string account = add_sample_account();
  ASSERT_EQ(account, kSampleAccount);
  server_.reset();
  ASSERT_TRUE(wait_until([&] { return !api_->is_connected(); }));

  Removal removal = remove(account, false);
  EXPECT_EQ(removal.error, static_cast<int>(AccountActionErrorType::NoConnection));
  EXPECT_TRUE(removal.removed.empty());
  EXPECT_NE(api_->email_account_with_id(account), nullptr);
  EXPECT_NE(api_->associated_email_account_for_account_id(account), nullptr);
}

// A global removal the server refuses is reported as a failure and changes nothing here; one the
// server takes removes the account, its association and its mail.
TEST_F(AccountsTest, AGlobalRemovalTheServerRefusesKeepsTheAccountAndItsMail) {
  start_registered();
  const std::string account = add_sample_account();
  ASSERT_EQ(account, kSampleAccount);
  connect_and_sync();
  const int items = stored_items(account);
  ASSERT_GT(items, 0);

  server_->fail_next("ACCOUNT_REMOVE", 1, "A3");
  Removal refused = remove(account, true);
  EXPECT_TRUE(refused.removed.empty());
  EXPECT_EQ(refused.error, static_cast<int>(AccountActionErrorType::Rejected));
  on_core([] {});  // a purge would have been queued by now
  EXPECT_NE(api_->email_account_with_id(account), nullptr);
  EXPECT_TRUE(api_->has_accounts());
  EXPECT_NE(api_->associated_email_account_for_account_id(account), nullptr);
  EXPECT_GE(stored_items(account), items) << "the account's mail stays";

  Removal taken = remove(account, true);
  EXPECT_EQ(taken.removed, account);
  EXPECT_EQ(taken.error, 0);
  EXPECT_EQ(api_->email_account_with_id(account), nullptr);
  EXPECT_FALSE(api_->has_accounts());
  EXPECT_EQ(stored_items(account), 0);
  auto association = api_->associated_email_account_for_account_id(account);
  EXPECT_TRUE(association == nullptr || !association->associated);
}

}  // namespace
}  // namespace kestrun_test
