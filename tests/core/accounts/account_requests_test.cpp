// The account operations through the server, over a recording fake of the account requests: the
// checks at the call, the requests sent, the replies' changes and notifications, the documents
// and notifications of the server, and local removal.
#include <gtest/gtest.h>

#include <optional>
#include <set>

#include "accounts_fixture.h"

namespace kestrun_test {
namespace {

using jsonette::Json;
using libkestrun::AccountActionErrorType;
using libkestrun::EmailAccountType;
using Code = KSServerClientAccountModifyFailureType;

// What an operation called back with.
struct Outcome {
  std::optional<std::string> success;
  std::optional<int> failure;
  int calls = 0;

  libkestrun::AccountSuccess on_success() {
    return [this](std::string id) {
      success = id;
      ++calls;
    };
  }
  libkestrun::AccountFailure on_failure() {
    return [this](AccountActionErrorType error) {
      failure = static_cast<int>(error);
      ++calls;
    };
  }
};

class AccountRequestsTest : public AccountsTest {
 protected:
  // Ten primary accounts a0@x .. a9@x when `count` is 10.
  void start_with_primaries(int count) {
    Json::array records;
    for (int i = 0; i < count; ++i)
      records.push_back(stored_account("A" + std::to_string(i), "a" + std::to_string(i) + "@x"));
    start_with(records);
    notifications();
  }

  Outcome add(const std::string& address, EmailAccountType type, const std::string& token = "token") {
    Outcome outcome;
    manager->addEmailAccount(address, token, type, "de", outcome.on_success(), outcome.on_failure());
    return outcome;
  }

  static EmailAccountType type(int value) { return static_cast<EmailAccountType>(value); }
};

TEST_F(AccountRequestsTest, AddSendsTheAccessCodeOrTheAddressAndPasswordByType) {
  const struct {
    int type;
    Call request;
  } cases[] = {
      {1, {"addEmailAccountWithAccessCode", Json::array{"token", 1, "de"}}},
      {3, {"addEmailAccountWithAccessCode", Json::array{"token", 3, "de"}}},
      {4, {"addEmailAccountWithAccessCode", Json::array{"token", 4, "de"}}},
      {2, {"addEmailAccountWithPassword", Json::array{"me@x", "token", 2, "de"}}},
      {6, {"addEmailAccountWithPassword", Json::array{"me@x", "token", 6, "de"}}},
  };
  for (const auto& c : cases) {
    requests->clear();
    Outcome outcome = add("me@x", type(c.type));
    EXPECT_EQ(requests->calls(), std::vector<Call>{c.request}) << c.type;
    EXPECT_EQ(outcome.calls, 0);
    requests->fail(Code::Other);
  }
  // Exchange and every number outside the known kinds are refused at the call (decision: above 6
  // and below 1 too).
  for (int refused : {0, 5, 7, -1}) {
    requests->clear();
    Outcome outcome = add("me@x", type(refused));
    EXPECT_EQ(outcome.failure, 9) << refused;
    EXPECT_TRUE(requests->calls().empty()) << refused;
  }
}

TEST_F(AccountRequestsTest, ASuccessfulAddStoresTheAccountItsAliasesAndTheDefault) {
  Outcome outcome = add("me@x", EmailAccountType::ICloud);
  requests->reply(Json::object{
      {"account_id", "A1"},
      {"data", "me@x"},
      {"type", 2},
      {"aliases", Json::array{Json::object{{"address", "one@x"}}, "junk", Json::object{{"address", 5}},
                              Json::object{{"address", "two@x"}}}}});
  EXPECT_EQ(outcome.success, "A1");
  EXPECT_EQ(outcome.calls, 1);
  auto record = manager->emailAccountWithID("A1");
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->emailName, "me@x");
  EXPECT_TRUE(record->isPrimary);
  EXPECT_TRUE(record->authenticated);
  EXPECT_TRUE(manager->isAccountAuthenticated("A1"));
  EXPECT_EQ(record->emailType, EmailAccountType::ICloud);
  EXPECT_EQ(manager->getDefaultAccount()->accountID, "A1");
  auto aliases = manager->allSecondaryEmailAccountsForPrimaryAccountID("A1");
  ASSERT_EQ(aliases->size(), 2u);
  EXPECT_EQ((*aliases)[0]->emailAddress, "one@x");
  EXPECT_EQ((*aliases)[0]->parentAccountID, "A1");
  EXPECT_EQ((*aliases)[0]->emailName, "me@x");
  EXPECT_EQ((*aliases)[1]->emailAddress, "two@x");
  EXPECT_EQ(stored().array_items().size(), 3u);
  EXPECT_EQ(notifications(), (std::vector<Notification>{{"com.kestrun.account.added.locally", nullptr},
                                                        {"com.kestrun.account.added.locally", "A1"}}));
}

TEST_F(AccountRequestsTest, AddChecksTheAddressBeforeTheLimitAndTheConnection) {
  start_with_primaries(10);
  server->connected = false;
  server->clear();
  EXPECT_EQ(add("a3@x", EmailAccountType::Gmail).failure, 4);
  EXPECT_TRUE(server->calls().empty());
  EXPECT_EQ(add("new@x", EmailAccountType::Gmail).failure, 8);
  EXPECT_TRUE(server->calls().empty());

  start_with_primaries(9);
  EXPECT_EQ(add("new@x", EmailAccountType::Gmail).failure, 1);
  server->connected = true;
  EXPECT_EQ(add("new@x", EmailAccountType::Gmail).calls, 0);  // sent
  EXPECT_EQ(requests->calls().size(), 1u);
}

TEST_F(AccountRequestsTest, CallbacksAreCheckedFirstAndNeverCalledEmpty) {
  Outcome outcome;
  manager->addEmailAccount("me@x", "t", EmailAccountType::Gmail, "en", outcome.on_success(), nullptr);
  manager->associateEmailAccount("A", outcome.on_success(), nullptr);
  manager->reauthorizeEmailAccount("me@x", "t", EmailAccountType::Gmail, outcome.on_success(), nullptr);
  manager->updateEmailAccountName("A", "n", outcome.on_success(), nullptr);
  EXPECT_EQ(outcome.calls, 0);
  manager->addEmailAccount("me@x", "t", EmailAccountType::Gmail, "en", nullptr, outcome.on_failure());
  EXPECT_EQ(outcome.failure, 9);
  outcome.failure.reset();
  manager->associateEmailAccount("A", nullptr, outcome.on_failure());
  EXPECT_EQ(outcome.failure, 9);
  EXPECT_TRUE(requests->calls().empty());
}

TEST_F(AccountRequestsTest, ServerFailuresMapToAccountErrors) {
  const struct {
    Code code;
    int error;
  } cases[] = {{Code::Refused, 2},
               {Code::ImapFoldersDisabled, 6},
               {Code::NoSuchAccount, 5},
               {Code::Other, 3},
               {Code::EmptyArguments, 3}};
  for (const auto& c : cases) {
    Outcome outcome = add("me@x", EmailAccountType::Gmail);
    requests->fail(c.code);
    EXPECT_EQ(outcome.failure, c.error) << static_cast<int>(c.code);
    EXPECT_EQ(outcome.calls, 1);
  }
  EXPECT_FALSE(manager->hasAccounts());
  EXPECT_TRUE(notifications().empty());
}

// Decision: a reply without an account id stores nothing and reports a rejection.
TEST_F(AccountRequestsTest, AReplyWithoutAnAccountIdIsARejection) {
  for (const Json& reply : {Json(Json::object{{"data", "me@x"}}), Json(Json::object{{"account_id", ""}}),
                            Json(Json::object{{"account_id", 7}}), Json(nullptr)}) {
    Outcome outcome = add("me@x", EmailAccountType::Gmail);
    requests->reply(reply);
    EXPECT_EQ(outcome.failure, 3) << reply.dump();
    EXPECT_FALSE(outcome.success);
  }
  EXPECT_FALSE(manager->hasAccounts());
  EXPECT_TRUE(stored().is_null());
  EXPECT_TRUE(notifications().empty());

  json_t* document = json_pack("{s:s}", "data", "me@x");
  EXPECT_EQ(manager->updateFromStateDoc(document), "");
  json_decref(document);
  EXPECT_FALSE(manager->hasAccounts());
  EXPECT_TRUE(notifications().empty());
}

TEST_F(AccountRequestsTest, AssociateChecksTheLimitAndTheConnection) {
  start_with_primaries(10);
  Outcome full;
  manager->associateEmailAccount("B", full.on_success(), full.on_failure());
  EXPECT_EQ(full.failure, 8);

  start_with_primaries(1);
  server->connected = false;
  Outcome offline;
  manager->associateEmailAccount("B", offline.on_success(), offline.on_failure());
  EXPECT_EQ(offline.failure, 1);

  server->connected = true;
  Outcome unknown;
  manager->associateEmailAccount("B", unknown.on_success(), unknown.on_failure());
  EXPECT_EQ(requests->calls(), (std::vector<Call>{{"associateAccount", Json::array{"B"}}}));
  requests->fail(Code::NoSuchAccount);
  EXPECT_EQ(unknown.failure, 5);

  Outcome known;
  manager->associateEmailAccount("B", known.on_success(), known.on_failure());
  requests->reply(Json::object{{"account_id", "B"}, {"data", "b@x"}, {"name", "Bee"}});
  EXPECT_EQ(known.success, "B");
  EXPECT_EQ(manager->emailAccountWithID("B")->emailName, "Bee");
  EXPECT_EQ(notifications(), (std::vector<Notification>{{"com.kestrun.account.added.locally", "B"}}));
}

TEST_F(AccountRequestsTest, ReauthorizeFindsThePrimaryAccountByAddress) {
  start_with(Json::array{stored_account("P", "me@x"), stored_account("S", "alias@x", false, "P")});
  manager->invalidateAccount("P");
  notifications();
  Outcome unknown;
  manager->reauthorizeEmailAccount("alias@x", "t", EmailAccountType::Gmail, unknown.on_success(),
                                   unknown.on_failure());
  EXPECT_EQ(unknown.failure, 5);
  Outcome empty;
  manager->reauthorizeEmailAccount("me@x", "", EmailAccountType::Gmail, empty.on_success(),
                                   empty.on_failure());
  EXPECT_EQ(empty.failure, 2);
  Outcome exchange;
  manager->reauthorizeEmailAccount("me@x", "t", EmailAccountType::Exchange, exchange.on_success(),
                                   exchange.on_failure());
  EXPECT_EQ(exchange.failure, 9);
  server->connected = false;
  Outcome offline;
  manager->reauthorizeEmailAccount("me@x", "t", EmailAccountType::Gmail, offline.on_success(),
                                   offline.on_failure());
  EXPECT_EQ(offline.failure, 1);
  EXPECT_TRUE(requests->calls().empty());

  server->connected = true;
  Outcome code, password;
  manager->reauthorizeEmailAccount("me@x", "code", EmailAccountType::Outlook, code.on_success(),
                                   code.on_failure());
  manager->reauthorizeEmailAccount("me@x", "pw", EmailAccountType::Yahoo, password.on_success(),
                                   password.on_failure());
  EXPECT_EQ(requests->calls(),
            (std::vector<Call>{{"reauthorizeEmailAccountWithAccessCode", Json::array{"P", "code"}},
                               {"reauthorizeEmailAccountWithPassword", Json::array{"P", "pw"}}}));
  requests->reply();
  EXPECT_EQ(code.success, "P");
  EXPECT_TRUE(manager->isAccountAuthenticated("P"));
  EXPECT_EQ(stored_record("P")["authenticated"], Json(true));
  requests->fail(Code::Timeout);
  EXPECT_EQ(password.failure, 7);
  EXPECT_EQ(notifications(), (std::vector<Notification>{{"com.kestrun.account.modified.locally", "P"}}));
}

TEST_F(AccountRequestsTest, RenamingAnAccountRenamesItsAliases) {
  start_with(
      Json::array{stored_account("P", "me@x", true, "", "Old"), stored_account("S", "alias@x", false, "P")});
  notifications();
  Outcome alias;
  manager->updateEmailAccountName("S", "New", alias.on_success(), alias.on_failure());
  EXPECT_EQ(alias.failure, 5);
  Outcome unknown;
  manager->updateEmailAccountDescription("nobody", "x", unknown.on_success(), unknown.on_failure());
  EXPECT_EQ(unknown.failure, 5);
  EXPECT_TRUE(requests->calls().empty());

  Outcome renamed;
  manager->updateEmailAccountName("P", "New Name", renamed.on_success(), renamed.on_failure());
  EXPECT_EQ(requests->calls(),
            (std::vector<Call>{{"updateEmailAccount", Json::array{"P", "New Name", "Old"}}}));
  requests->reply();
  EXPECT_EQ(renamed.success, "P");
  for (const char* id : {"P", "S"}) {
    EXPECT_EQ(stored_record(id)["emailName"], Json("New Name")) << id;
    EXPECT_EQ(stored_record(id)["emailDescription"], Json("Old")) << id;
  }
  EXPECT_EQ(notifications(), (std::vector<Notification>{{"com.kestrun.account.modified.locally", "P"}}));
}

TEST_F(AccountRequestsTest, AddingAndRemovingAliases) {
  start_with(Json::array{stored_account("P", "me@x"), stored_account("S", "alias@x", false, "P")});
  notifications();
  const struct {
    bool add;
    const char* primary;
    const char* address;
    std::optional<int> failure;
  } refused[] = {
      {true, "S", "new@x", 5},     // not a primary account
      {true, "P", "alias@x", 4},   // already there
      {false, "P", "other@x", 5},  // no such alias
      {false, "nobody", "alias@x", 5},
  };
  for (const auto& c : refused) {
    Outcome outcome;
    if (c.add) {
      manager->addEmailAlias(c.primary, c.address, outcome.on_success(), outcome.on_failure());
    } else {
      manager->removeEmailAlias(c.primary, c.address, outcome.on_success(), outcome.on_failure());
    }
    EXPECT_EQ(outcome.failure, c.failure) << c.primary << " " << c.address;
  }
  Outcome empty;
  manager->addEmailAlias("P", "", empty.on_success(), empty.on_failure());
  EXPECT_EQ(empty.success, "P");
  EXPECT_TRUE(requests->calls().empty());

  Outcome added, removed;
  manager->addEmailAlias("P", "new@x", added.on_success(), added.on_failure());
  manager->removeEmailAlias("P", "alias@x", removed.on_success(), removed.on_failure());
  EXPECT_EQ(requests->calls(),
            (std::vector<Call>{{"addAliasToEmailAccount", Json::array{"P", "new@x"}},
                               {"removeAliasFromEmailAccount", Json::array{"P", "alias@x"}}}));
  requests->reply();
  requests->reply();
  EXPECT_EQ(added.success, "P");
  EXPECT_EQ(removed.success, "P");
  auto aliases = manager->allSecondaryEmailAccountsForPrimaryAccountID("P");
  ASSERT_EQ(aliases->size(), 1u);
  EXPECT_EQ((*aliases)[0]->emailAddress, "new@x");
  EXPECT_FALSE(manager->hasEmailAddress("alias@x"));
  EXPECT_EQ(notifications(), (std::vector<Notification>{{"com.kestrun.account.added.locally", "P"},
                                                        {"com.kestrun.account.removed.locally", "P"}}));
}

TEST_F(AccountRequestsTest, AnAliasMadeByAnAuthNoticeBeforeTheReplyIsNotMadeTwice) {
  start_with(Json::array{stored_account("P", "me@x")});
  Outcome added;
  manager->addEmailAlias("P", "new@x", added.on_success(), added.on_failure());
  json_t* aliases = json_pack("[{s:s}]", "address", "new@x");
  manager->handleAccountAuthorized("P", "", "", aliases);
  json_decref(aliases);
  requests->reply();
  EXPECT_EQ(added.success, "P");
  EXPECT_EQ(manager->allSecondaryEmailAccountsForPrimaryAccountID("P")->size(), 1u);
}

TEST_F(AccountRequestsTest, AnAuthNotificationUpdatesOnlyAKnownAccount) {
  start_with(Json::array{stored_account("P", "me@x"), stored_account("S", "old@x", false, "P")});
  notifications();
  const Json before = stored();
  json_t* aliases = json_pack("[{s:s}, {s:s}]", "address", "keep@x", "address", "new@x");
  manager->handleAccountAuthorized("nobody", "Name", "Label", aliases);
  EXPECT_EQ(stored(), before);
  EXPECT_EQ(manager->emailAccountWithID("nobody"), nullptr);
  EXPECT_TRUE(notifications().empty());

  manager->handleAccountAuthorized("P", "", "Label", aliases);
  json_decref(aliases);
  auto record = manager->emailAccountWithID("P");
  EXPECT_TRUE(record->authenticated);
  EXPECT_EQ(record->emailName, "");  // an empty name is not taken
  EXPECT_EQ(record->emailDescription, "Label");
  std::set<std::string> addresses;
  const libkestrun::EmailAccountList aliases_of_p =
      manager->allSecondaryEmailAccountsForPrimaryAccountID("P");
  for (const auto& alias : *aliases_of_p) {
    addresses.insert(alias->emailAddress);
  }
  EXPECT_EQ(addresses, (std::set<std::string>{"keep@x", "new@x"}));
  EXPECT_FALSE(manager->hasEmailAddress("old@x"));
  EXPECT_EQ(notifications(), (std::vector<Notification>{{"com.kestrun.account.added.locally", nullptr},
                                                        {"com.kestrun.account.removed.locally", nullptr}}));

  // Null aliases leave the aliases alone.
  manager->handleAccountAuthorized("P", "Me", "", nullptr);
  EXPECT_EQ(manager->getNumberOfSecondaryAccountsForPrimaryAccount("P"), 2u);
  EXPECT_EQ(manager->emailAccountWithID("P")->emailDescription, "Label");
  EXPECT_EQ(stored_record("P")["emailName"], Json("Me"));
}

TEST_F(AccountRequestsTest, InvalidationPostsTheAddress) {
  start_with(
      Json::array{Json::object{{"accountID", "P"}, {"emailAddress", "me@x"}, {"authenticated", true}}});
  notifications();
  manager->invalidateAccount("nobody");
  manager->invalidateAccount("");
  manager->invalidateAccount("P");
  EXPECT_FALSE(manager->isAccountAuthenticated("P"));
  EXPECT_EQ(stored_record("P")["authenticated"], Json(false));
  EXPECT_EQ(notifications(), (std::vector<Notification>{{"com.kestrun.account.invalidated", "me@x"}}));
}

TEST_F(AccountRequestsTest, RemovingAPrimaryAccountLocallyTakesItsAliasesAndChoosesANewDefault) {
  start_with(Json::array{stored_account("P", "me@x"), stored_account("S", "alias@x", false, "P"),
                         stored_account("Q", "q@x")});
  manager->setDefaultAccount("P");
  notifications();
  manager->removeAccountLocally("P");
  EXPECT_EQ(*manager->allAccountIDs(), (std::vector<std::string>{"Q"}));
  EXPECT_EQ(manager->getDefaultAccount()->accountID, "Q");
  EXPECT_EQ(stored_record("Q")["isDefault"], Json(true));
  EXPECT_EQ(stored().array_items().size(), 1u);
  manager->removeAccountLocally("nobody");
  EXPECT_EQ(notifications(), (std::vector<Notification>{{"com.kestrun.account.removed.locally", "P"},
                                                        {"com.kestrun.account.removed.locally", "nobody"}}));
}

// Decision: every user state document carries the accounts again; what only this device knows of
// an account stays.
TEST_F(AccountRequestsTest, AStateDocumentKeepsTheLocalFieldsOfAnAccount) {
  start_with(Json::array{stored_account("P", "me@x"), stored_account("Q", "q@x")});
  manager->setDefaultAccount("P");
  manager->setEmailSignature("P", "-- me");
  manager->setHasSpam("P", false);
  notifications();
  json_t* document =
      json_pack("{s:s, s:s, s:s, s:i}", "account_id", "P", "data", "me@x", "name", "Me", "type", 1);
  EXPECT_EQ(manager->updateFromStateDoc(document), "P");
  json_decref(document);
  auto record = manager->emailAccountWithID("P");
  EXPECT_EQ(record->emailSignature, "-- me");
  EXPECT_FALSE(record->hasSpam);
  EXPECT_TRUE(record->isDefault);
  EXPECT_EQ(record->emailName, "Me");
  EXPECT_EQ(manager->getDefaultAccount()->accountID, "P");
  EXPECT_EQ(stored_record("P")["isDefault"], Json(true));
  EXPECT_TRUE(manager->hasEmailAddress("me@x"));
  EXPECT_EQ(notifications(), (std::vector<Notification>{{"com.kestrun.account.added.locally", "P"}}));

  reopen();
  EXPECT_EQ(manager->getDefaultAccount()->accountID, "P");
  EXPECT_EQ(manager->emailAccountWithID("P")->emailSignature, "-- me");
}

TEST_F(AccountRequestsTest, WithoutAnAccountRequestClientTheRequestFails) {
  libkestrun::internal::account_server_client_set_instance(nullptr);
  Outcome outcome = add("me@x", EmailAccountType::Gmail);
  EXPECT_EQ(outcome.failure, 3);
  EXPECT_EQ(outcome.calls, 1);
}

}  // namespace
}  // namespace kestrun_test
