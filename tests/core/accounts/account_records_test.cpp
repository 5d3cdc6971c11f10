// The account records on a real LevelDB directory: loading, the default account, the limits, the
// queries and the local setters, and what survives reopening.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "accounts_fixture.h"
#include "core/foundation/json_conversion.h"
#include "core/foundation/semaphore.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"

namespace kestrun_test {
namespace {

using jsonette::Json;
using libkestrun::AccountManagerImpl;

std::set<std::string> as_set(const std::vector<std::string>& ids) { return {ids.begin(), ids.end()}; }

Json jansson_to_json(json_t* value) {
  Json converted = patch::json_from_jansson(value);
  json_decref(value);
  return converted;
}

TEST_F(AccountsTest, ANewStoreHoldsNoAccountNoDeviceIdAndNoDefault) {
  EXPECT_TRUE(manager->load().empty());
  EXPECT_FALSE(manager->hasAccounts());
  EXPECT_EQ(manager->getDefaultAccount(), nullptr);
  EXPECT_EQ(manager->getDeviceId(), "");
  EXPECT_TRUE(manager->allEmailAccounts()->empty());
  EXPECT_EQ(manager->firstAccountID(), "");
  EXPECT_TRUE(manager->getKeychainVault().is_null());
}

TEST_F(AccountsTest, ALoadWithoutDefaultMakesAPrimaryTheDefaultAndStoresIt) {
  start_with(Json::array{stored_account("S", "alias@x", false, "P"), stored_account("P", "me@x")});
  ASSERT_NE(manager->getDefaultAccount(), nullptr);
  EXPECT_EQ(manager->getDefaultAccount()->accountID, "P");
  EXPECT_EQ(stored_record("P")["isDefault"], Json(true));
  EXPECT_EQ(stored_record("S")["isDefault"], Json(false));
  EXPECT_TRUE(notifications().empty());

  reopen();
  EXPECT_EQ(manager->getDefaultAccount()->accountID, "P");
}

TEST_F(AccountsTest, StoredObjectsTakeDefaultsForMissingOrMistypedMembers) {
  start_with(Json::array{Json::object{{"accountID", "A"}, {"emailAddress", "a@x"}, {"emailType", "1"}},
                         "junk", 5, nullptr,
                         Json::object{{"accountID", "B"},
                                      {"emailType", 6},
                                      {"isPrimary", false},
                                      {"parentAccountID", "A"},
                                      {"authenticated", true}}});
  auto a = manager->emailAccountWithID("A");
  ASSERT_NE(a, nullptr);
  EXPECT_TRUE(a->isPrimary);
  EXPECT_EQ(static_cast<int>(a->emailType), 0);
  EXPECT_TRUE(a->hasSpam);
  EXPECT_FALSE(manager->isAccountAuthenticated("A"));
  EXPECT_TRUE(manager->isAccountAuthenticated("B"));
  EXPECT_EQ(manager->firstAuthenticatedAccountID(), "B");
  EXPECT_EQ(as_set(*manager->allAccountIDs()), (std::set<std::string>{"A", "B"}));

  start_with(Json::object{{"accountID", "A"}});  // not an array: no accounts
  EXPECT_FALSE(manager->hasAccounts());
}

TEST_F(AccountsTest, OfTwoStoredDefaultsTheLaterIsTheDefaultAndBothSortFirst) {
  Json first = stored_account("A", "a@x");
  Json second = stored_account("B", "b@x");
  Json third = stored_account("C", "0@x");
  Json::object a = first.object_items(), b = second.object_items();
  a["isDefault"] = true;
  b["isDefault"] = true;
  start_with(Json::array{Json(a), third, Json(b)});
  EXPECT_EQ(manager->getDefaultAccount()->accountID, "B");
  EXPECT_EQ(ids(manager->allEmailAccounts()), (std::vector<std::string>{"A", "B", "C"}));
}

TEST_F(AccountsTest, TheLimitsOfTenPrimaryAccountsAndTenAliases) {
  Json::array records;
  for (int i = 0; i < 9; ++i)
    records.push_back(stored_account("P" + std::to_string(i), std::to_string(i) + "@x"));
  for (int i = 0; i < 9; ++i) {
    records.push_back(stored_account("S" + std::to_string(i), "s" + std::to_string(i) + "@x", false, "P0"));
  }
  start_with(records);
  EXPECT_TRUE(manager->canAddANewAccount());
  EXPECT_TRUE(manager->canAddSecondaryToPrimaryAccount("P0"));
  EXPECT_EQ(manager->getNumberOfSecondaryAccountsForPrimaryAccount("P0"), 9u);

  records.push_back(stored_account("P9", "9@x"));
  records.push_back(stored_account("S9", "s9@x", false, "P0"));
  start_with(records);
  EXPECT_FALSE(manager->canAddANewAccount());
  EXPECT_FALSE(manager->canAddSecondaryToPrimaryAccount("P0"));
  EXPECT_EQ(manager->getNumberOfSecondaryAccountsForPrimaryAccount("P0"), 10u);
  EXPECT_EQ(manager->getNumberOfSecondaryAccountsForPrimaryAccount("P1"), 0u);

  // An id without an entry (unknown, or an alias) counts as all bits set.
  for (const char* id : {"nobody", "S0"}) {
    EXPECT_EQ(manager->getNumberOfSecondaryAccountsForPrimaryAccount(id), 4294967295u) << id;
    EXPECT_FALSE(manager->canAddSecondaryToPrimaryAccount(id)) << id;
  }
}

TEST_F(AccountsTest, DescriptionsCompareIgnoringAsciiCaseAmongOtherPrimaryAccounts) {
  start_with(Json::array{stored_account("A", "a@x", true, "", "Work Mail"),
                         stored_account("B", "b@x", true, "", "Ärger"),
                         stored_account("S", "s@x", false, "A", "Alias Label")});
  const struct {
    const char* description;
    const char* account;
    bool valid;
  } cases[] = {
      {"wORK mAIL", "B", false},   // another primary account has it
      {"Work Mail", "A", true},    // only the account itself has it
      {"alias label", "B", true},  // only an alias has it
      {"", "B", true},
      {"ÄRGER", "A", false},  // the same bytes after folding A to Z
      {"äRGER", "A", true},   // non-ASCII letters are not folded
  };
  for (const auto& c : cases) {
    EXPECT_EQ(manager->isValidDescription(c.description, c.account), c.valid)
        << c.description << " " << c.account;
  }
}

TEST_F(AccountsTest, LookupsByAddressAndId) {
  start_with(Json::array{stored_account("P", "me@x"), stored_account("Q", "work@x"),
                         stored_account("S", "alias@x", false, "P"),
                         stored_account("T", "work@x", false, "P"), stored_account("U", "new@x", false, "Q"),
                         stored_account("V", "new@x", false, "P")});
  EXPECT_FALSE(manager->isAddressOfPrimaryAccount("me@x", "P"));
  EXPECT_TRUE(manager->isAddressOfPrimaryAccount("alias@x", "P"));
  EXPECT_FALSE(manager->isAddressOfPrimaryAccount("alias@x", "Q"));
  EXPECT_EQ(manager->getPrimaryAccountIDForEmailAddress("work@x"), "Q");
  EXPECT_EQ(manager->getPrimaryAccountIDForEmailAddress("alias@x"), std::nullopt);
  EXPECT_EQ(manager->accountIDForEmailAddressInPrimaryAccount("me@x", "P"), "P");
  EXPECT_EQ(manager->accountIDForEmailAddressInPrimaryAccount("work@x", "P"), "Q");
  EXPECT_EQ(manager->accountIDForEmailAddressInPrimaryAccount("alias@x", "P"), "");
  EXPECT_EQ(manager->accountIDForEmailAddress("alias@x"), "S");
  EXPECT_EQ(manager->emailAddressForAccountID("S"), "alias@x");
  EXPECT_EQ(manager->emailAddressForAccountID("nobody"), "");
  EXPECT_EQ(manager->primaryAccountIDForAccountID("S"), "P");
  EXPECT_EQ(manager->primaryAccountIDForAccountID("Q"), "Q");
  EXPECT_EQ(manager->primaryAccountIDForAccountID("nobody"), "nobody");
  EXPECT_EQ(*manager->addressesForPrimaryAccount("P"),
            (std::unordered_set<std::string>{"me@x", "alias@x", "work@x", "new@x"}));
  EXPECT_TRUE(manager->addressesForPrimaryAccount("S")->empty());
  EXPECT_EQ(ids(manager->allSecondaryEmailAccountsForPrimaryAccountID("Q")), (std::vector<std::string>{"U"}));
  EXPECT_EQ(ids(manager->allEmailAccountsForPrimaryAccountID("Q")), (std::vector<std::string>{"Q", "U"}));
  EXPECT_TRUE(manager->allEmailAccountsForPrimaryAccountID("S")->empty());
  EXPECT_EQ(manager->secondaryAccountWithAddress("alias@x", "P")->accountID, "S");
  EXPECT_EQ(manager->secondaryAccountWithAddress("alias@x", "Q"), nullptr);

  // One record per address: the primary accounts, then aliases of addresses no primary has.
  auto unique = ids(manager->allUniqueEmailAccounts());
  ASSERT_EQ(unique.size(), 4u);
  EXPECT_EQ(as_set({unique[0], unique[1], unique[2]}), (std::set<std::string>{"P", "Q", "S"}));
  EXPECT_TRUE(unique[3] == "U" || unique[3] == "V");

  EXPECT_EQ(jansson_to_json(manager->accountJson("Q")), (Json::object{{"address", "work@x"}, {"name", ""}}));
  EXPECT_EQ(jansson_to_json(manager->accountJson("nobody")), Json::object{});
  EXPECT_EQ(jansson_to_json(manager->aliasJson("")), Json::object{});
  EXPECT_EQ(jansson_to_json(manager->aliasesJsonForAccount("Q")),
            (Json::array{Json::object{{"address", "new@x"}}}));
  EXPECT_EQ(jansson_to_json(manager->aliasesJsonForAccount("S")), Json::array{});
}

TEST_F(AccountsTest, HandedOutRecordsAreCopies) {
  start_with(Json::array{stored_account("P", "me@x")});
  manager->emailAccountWithID("P")->emailName = "changed";
  manager->getDefaultAccount()->emailName = "changed";
  (*manager->allEmailAccounts())[0]->emailName = "changed";
  EXPECT_EQ(manager->emailAccountWithID("P")->emailName, "");
}

// Decision: an address stays known while any record has it.
TEST_F(AccountsTest, AnAddressStaysKnownWhileAnyRecordHasIt) {
  start_with(Json::array{stored_account("A", "shared@x"), stored_account("B", "shared@x"),
                         stored_account("S", "shared@x", false, "B")});
  manager->removeAccountLocally("A");
  EXPECT_TRUE(manager->hasEmailAddress("shared@x"));
  manager->removeAccountLocally("B");  // with its alias
  EXPECT_FALSE(manager->hasEmailAddress("shared@x"));
  EXPECT_FALSE(manager->hasAccounts());
}

// Decision: an alias whose primary account is missing from the store is kept, but no walk takes
// its key for a primary account.
TEST_F(AccountsTest, AnAliasWithoutItsPrimaryAccountIsKeptButNeverTakenForOne) {
  start_with(Json::array{stored_account("S", "alias@x", false, "GONE")});
  EXPECT_EQ(manager->getDefaultAccount(), nullptr);
  EXPECT_TRUE(manager->allPrimaryAccountIDs()->empty());
  EXPECT_TRUE(manager->allPrimaryEmailAccounts()->empty());
  EXPECT_EQ(manager->getPrimaryAccountIDForEmailAddress("alias@x"), std::nullopt);
  EXPECT_EQ(manager->getNumberOfSecondaryAccountsForPrimaryAccount("GONE"), 4294967295u);
  EXPECT_FALSE(manager->isAddressOfPrimaryAccount("alias@x", "GONE"));
  EXPECT_EQ(ids(manager->allEmailAccounts()), (std::vector<std::string>{"S"}));
  EXPECT_TRUE(manager->canAddANewAccount());

  start_with(Json::array{stored_account("S", "alias@x", false, "GONE"), stored_account("P", "me@x")});
  EXPECT_EQ(manager->getDefaultAccount()->accountID, "P");
  EXPECT_EQ(*manager->allPrimaryAccountIDs(), (std::vector<std::string>{"P"}));

  // When the account comes back, its alias is its own again.
  json_t* document = json_pack("{s:s, s:s}", "account_id", "GONE", "data", "gone@x");
  manager->updateFromStateDoc(document);
  json_decref(document);
  EXPECT_EQ(ids(manager->allSecondaryEmailAccountsForPrimaryAccountID("GONE")),
            (std::vector<std::string>{"S"}));
}

TEST_F(AccountsTest, SetDefaultAccountPostsEvenForAnUnknownId) {
  start_with(Json::array{stored_account("P", "me@x"), stored_account("S", "alias@x", false, "P")});
  notifications();
  const Json before = stored();
  manager->setDefaultAccount("nobody");
  EXPECT_EQ(stored(), before);
  EXPECT_EQ(manager->getDefaultAccount()->accountID, "P");
  manager->setDefaultAccount("S");
  EXPECT_EQ(manager->getDefaultAccount()->accountID, "S");
  EXPECT_EQ(stored_record("S")["isDefault"], Json(true));
  EXPECT_EQ(stored_record("P")["isDefault"], Json(false));
  EXPECT_EQ(ids(manager->allEmailAccounts()), (std::vector<std::string>{"S", "P"}));
  const std::vector<Notification> expected(2, {"com.kestrun.new.default.account.chosen", nullptr});
  EXPECT_EQ(notifications(), expected);
}

TEST_F(AccountsTest, SignaturesReachEveryAliasWithTheAccountsAddress) {
  start_with(Json::array{stored_account("P", "me@x"), stored_account("Q", "other@x"),
                         stored_account("S", "me@x", false, "Q"),
                         stored_account("T", "alias@x", false, "P")});
  manager->setEmailSignature("P", "-- me");
  EXPECT_EQ(manager->allEmailSignatures(),
            (std::map<std::string, std::string>{{"P", "-- me"}, {"Q", ""}, {"S", "-- me"}, {"T", ""}}));
  const Json before = stored();
  manager->setEmailSignature("nobody", "x");
  EXPECT_EQ(stored(), before);

  manager->setEmailSignatures({{"Q", "-- other"}, {"nobody", "x"}, {"T", "-- alias"}});
  EXPECT_EQ(stored_record("Q")["emailSignature"], Json("-- other"));
  EXPECT_EQ(stored_record("T")["emailSignature"], Json("-- alias"));

  manager->setHasSpam("Q", false);
  EXPECT_EQ(stored_record("Q")["hasSpam"], Json(false));
}

TEST_F(AccountsTest, ListsGroupTheDefaultThenPrimaryAccountsThenAliasesByLabel) {
  start_with(Json::array{stored_account("S2", "b@x", false, "P1"),
                         stored_account("P1", "z@x", true, "", "Work"), stored_account("P2", "y@x"),
                         stored_account("S1", "a@x", false, "P2", "Zed"),
                         stored_account("P3", "c@x", true, "", "Home")});
  manager->setDefaultAccount("P2");
  EXPECT_EQ(ids(manager->allEmailAccounts()), (std::vector<std::string>{"P2", "P3", "P1", "S1", "S2"}));
  EXPECT_EQ(ids(manager->allPrimaryEmailAccounts()), (std::vector<std::string>{"P2", "P3", "P1"}));
}

TEST_F(AccountsTest, ResetAllDropsEveryAccountAndStoresANewDeviceId) {
  start_with(Json::array{stored_account("P", "me@x"), stored_account("S", "alias@x", false, "P")});
  notifications();
  manager->resetAll();
  const std::string device = manager->getDeviceId();
  EXPECT_TRUE(std::regex_match(
      device, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}")))
      << device;
  EXPECT_EQ(stored(), Json::array{});
  EXPECT_FALSE(manager->hasAccounts());
  EXPECT_EQ(manager->getDefaultAccount(), nullptr);
  std::multiset<std::string> removed;
  // The purges of the accounts' stored data post the data center's own notices meanwhile.
  for (const auto& [name, payload] : notifications()) {
    if (name == "com.kestrun.account.removed.locally") removed.insert(payload.string_value());
  }
  EXPECT_EQ(removed, (std::multiset<std::string>{"P", "S"}));

  reopen();
  EXPECT_EQ(manager->getDeviceId(), device);
  manager->resetAll();
  EXPECT_NE(manager->getDeviceId(), device);
}

TEST_F(AccountsTest, ResetAllPurgesEveryAccountsStoredData) {
  start_with(Json::array{stored_account("P", "me@x"), stored_account("S", "alias@x", false, "P")});
  auto in_store = [](const std::function<void(DBContext&)>& work) {
    patch::semaphore done;
    KestrunDataCenter::performNormalDataTask(
        [&](std::vector<std::string>&, DBContext& context) { work(context); },
        [&](std::vector<std::string>&) { done.notify(); }, nullptr);
    done.wait();
  };
  in_store([](DBContext& context) {
    for (const std::string account : {"P", "S", "other"}) {
      auto item = std::static_pointer_cast<KSItem>(context.createObject("KSITEM", "item-" + account));
      item->setItemID("item-" + account);
      item->setAccountID(account);
      auto email = std::static_pointer_cast<KSEmail>(context.createObject("KSEMAIL", "email-" + account));
      email->set_EMAILID("email-" + account);
      email->set_ACCOUNTID(account);
      email->set_PARENTITEMID("item-" + account);
    }
  });
  manager->resetAll();
  // Queued behind the purges.
  std::vector<std::string> items, emails;
  in_store([&](DBContext& context) {
    for (auto [table, column, found] :
         {std::tuple{"KSITEM", "ITEMID", &items}, {"KSEMAIL", "EMAILID", &emails}}) {
      CppSQLite3Query query =
          context.database().execQuery((std::string("SELECT ") + column + " FROM " + table + ";").c_str());
      for (; !query.eof(); query.nextRow()) found->push_back(query.getStringField(0));
    }
  });
  EXPECT_EQ(items, std::vector<std::string>{"item-other"});
  EXPECT_EQ(emails, std::vector<std::string>{"email-other"});
}

TEST_F(AccountsTest, MigrationValuesForDeviceRegistration) {
  start_with(Json::array{stored_account("P", "me@x"), stored_account("Q", "q@x")});
  libkestrun::JsonKvStore(store).set_json(AccountManagerImpl::kKeychainVaultKey, Json::object{{"k", 1}});
  EXPECT_EQ(manager->getKeychainVault(), (Json::object{{"k", 1}}));
  manager->clearKeychainVault();
  EXPECT_TRUE(manager->getKeychainVault().is_null());

  EXPECT_TRUE(manager->getAccountSessionIds().empty());
  AccountManagerImpl::setAccountSessionIds(Json::object{{"P", "session-p"}, {"Q", 7}, {"R", "session-r"}});
  EXPECT_EQ(manager->getAccountSessionIds(), (std::map<std::string, std::string>{{"P", "session-p"}}));
  AccountManagerImpl::setAccountSessionIds(nullptr);
}

TEST_F(AccountsTest, EveryChangeSurvivesReopening) {
  start_with(Json::array{stored_account("P", "me@x"), stored_account("Q", "q@x", true, "", "Label")});
  manager->setDefaultAccount("Q");
  manager->setEmailSignature("P", "sig");
  manager->setHasSpam("P", false);
  manager->invalidateAccount("Q");
  json_t* aliases = json_pack("[{s:s}]", "address", "alias@x");
  manager->handleAccountAuthorized("P", "Me", "Mine", aliases);
  json_decref(aliases);
  Json::array records;
  const libkestrun::EmailAccountList saved = manager->allEmailAccounts();
  for (const auto& record : *saved) records.push_back(record->to_json());

  reopen();
  Json::array reopened;
  const libkestrun::EmailAccountList loaded = manager->allEmailAccounts();
  for (const auto& record : *loaded) reopened.push_back(record->to_json());
  EXPECT_EQ(Json(reopened), Json(records));
  EXPECT_EQ(manager->getDefaultAccount()->accountID, "Q");
  EXPECT_TRUE(manager->isAccountAuthenticated("P"));
  EXPECT_FALSE(manager->isAccountAuthenticated("Q"));
  EXPECT_TRUE(manager->hasEmailAddress("alias@x"));
}

}  // namespace
}  // namespace kestrun_test
