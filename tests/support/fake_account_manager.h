// A recording stand-in for the account manager, with one settable answer per query. Requests are
// recorded and never answered. Tests that need a working manager derive from it and override what
// they use.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/accounts/account_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeAccountManager : public libkestrun::AccountManager, public CallLog {
 public:
  using Error = libkestrun::AccountActionErrorType;
  using Success = libkestrun::AccountSuccess;
  using Failure = libkestrun::AccountFailure;

  std::unordered_set<std::string> load() override {
    record("load");
    return {};
  }
  std::string getDeviceId() override {
    record("getDeviceId");
    return device_id;
  }
  std::map<std::string, std::string> getAccountSessionIds() override {
    record("getAccountSessionIds");
    return session_ids;
  }
  jsonette::Json getKeychainVault() override {
    record("getKeychainVault");
    return keychain_vault;
  }
  void clearKeychainVault() override { record("clearKeychainVault"); }
  void resetAll() override { record("resetAll"); }

  libkestrun::EmailAccountList allEmailAccounts() override {
    record("allEmailAccounts");
    return list(accounts);
  }
  libkestrun::EmailAccountList allPrimaryEmailAccounts() override {
    record("allPrimaryEmailAccounts");
    return list(accounts);
  }
  libkestrun::EmailAccountList allUniqueEmailAccounts() override {
    record("allUniqueEmailAccounts");
    return list(accounts);
  }
  libkestrun::EmailAccountList allEmailAccountsForPrimaryAccountID(const std::string& primaryID) override {
    record("allEmailAccountsForPrimaryAccountID", {primaryID});
    return list(accounts);
  }
  libkestrun::EmailAccountList allSecondaryEmailAccountsForPrimaryAccountID(
      const std::string& primaryID) override {
    record("allSecondaryEmailAccountsForPrimaryAccountID", {primaryID});
    return list(accounts);
  }
  std::shared_ptr<std::vector<std::string>> allAccountIDs() override {
    record("allAccountIDs");
    return std::make_shared<std::vector<std::string>>(account_ids);
  }
  std::shared_ptr<std::vector<std::string>> allPrimaryAccountIDs() override {
    record("allPrimaryAccountIDs");
    return std::make_shared<std::vector<std::string>>(primary_account_ids);
  }

  bool hasAccounts() override {
    record("hasAccounts");
    return !account_ids.empty();
  }
  bool hasEmailAddress(const std::string& address) override {
    record("hasEmailAddress", {address});
    return has_email_address;
  }
  bool isAddressOfPrimaryAccount(const std::string& address, const std::string& primaryID) override {
    record("isAddressOfPrimaryAccount", {address, primaryID});
    return address_of_primary_account;
  }
  std::string emailAddressForAccountID(const std::string& accountID) override {
    record("emailAddressForAccountID", {accountID});
    return email_address;
  }
  std::string accountIDForEmailAddress(const std::string& address) override {
    record("accountIDForEmailAddress", {address});
    return account_id_for_address;
  }
  std::string accountIDForEmailAddressInPrimaryAccount(const std::string& address,
                                                       const std::string& primaryID) override {
    record("accountIDForEmailAddressInPrimaryAccount", {address, primaryID});
    return account_id_for_address;
  }
  std::optional<std::string> getPrimaryAccountIDForEmailAddress(const std::string& address) override {
    record("getPrimaryAccountIDForEmailAddress", {address});
    return primary_account_id_for_address;
  }
  std::string primaryAccountIDForAccountID(const std::string& accountID) override {
    record("primaryAccountIDForAccountID", {accountID});
    return primary_account_id;
  }
  json_t* aliasesJsonForAccount(const std::string& primaryID) override {
    record("aliasesJsonForAccount", {primaryID});
    return patch::jansson_from_json(aliases_json);
  }
  json_t* aliasJson(const std::string& address) override {
    record("aliasJson", {address});
    return patch::jansson_from_json(jsonette::Json::object{{"address", address}});
  }
  std::shared_ptr<std::unordered_set<std::string>> addressesForPrimaryAccount(
      const std::string& primaryID) override {
    record("addressesForPrimaryAccount", {primaryID});
    return std::make_shared<std::unordered_set<std::string>>(addresses);
  }
  json_t* accountJson(const std::string& accountID) override {
    record("accountJson", {accountID});
    return account_json.is_null() ? nullptr : patch::jansson_from_json(account_json);
  }
  bool isAccountAuthenticated(const std::string& accountID) override {
    record("isAccountAuthenticated", {accountID});
    return account_authenticated;
  }
  std::string firstAccountID() override {
    record("firstAccountID");
    return account_ids.empty() ? "" : account_ids.front();
  }
  std::string firstAuthenticatedAccountID() override {
    record("firstAuthenticatedAccountID");
    return account_authenticated && !account_ids.empty() ? account_ids.front() : "";
  }
  std::shared_ptr<KSEmailAccount> emailAccountWithID(const std::string& accountID) override {
    record("emailAccountWithID", {accountID});
    return email_account;
  }
  std::shared_ptr<KSEmailAccount> secondaryAccountWithAddress(const std::string& address,
                                                              const std::string& primaryID) override {
    record("secondaryAccountWithAddress", {address, primaryID});
    return secondary_account;
  }
  bool canAddANewAccount() override {
    record("canAddANewAccount");
    return can_add;
  }
  uint32_t getNumberOfSecondaryAccountsForPrimaryAccount(const std::string& primaryID) override {
    record("getNumberOfSecondaryAccountsForPrimaryAccount", {primaryID});
    return secondary_account_count;
  }
  bool canAddSecondaryToPrimaryAccount(const std::string& primaryID) override {
    record("canAddSecondaryToPrimaryAccount", {primaryID});
    return can_add;
  }
  std::shared_ptr<KSEmailAccount> getDefaultAccount() override {
    record("getDefaultAccount");
    return default_account;
  }
  std::map<std::string, std::string> allEmailSignatures() override {
    record("allEmailSignatures");
    return signatures;
  }
  bool isValidDescription(const std::string& description, const std::string& accountID) override {
    record("isValidDescription", {description, accountID});
    return valid_description;
  }

  void setDefaultAccount(const std::string& accountID) override { record("setDefaultAccount", {accountID}); }
  void setHasSpam(const std::string& accountID, bool hasSpam) override {
    record("setHasSpam", {accountID, hasSpam});
  }
  void setEmailSignature(const std::string& accountID, const std::string& signature) override {
    record("setEmailSignature", {accountID, signature});
  }
  void setEmailSignatures(const std::map<std::string, std::string>& given) override {
    record("setEmailSignatures", {jsonette::Json(given)});
  }

  void addEmailAccount(const std::string& address, const std::string& passToken,
                       libkestrun::EmailAccountType type, const std::string& locale, Success,
                       Failure) override {
    record("addEmailAccount", {address, passToken, number(type), locale});
  }
  void associateEmailAccount(const std::string& accountID, Success, Failure) override {
    record("associateEmailAccount", {accountID});
  }
  void reauthorizeEmailAccount(const std::string& address, const std::string& passToken,
                               libkestrun::EmailAccountType type, Success, Failure) override {
    record("reauthorizeEmailAccount", {address, passToken, number(type)});
  }
  void updateEmailAccount(const std::string& accountID, const std::string& name,
                          const std::string& description, Success, Failure) override {
    record("updateEmailAccount", {accountID, name, description});
  }
  void updateEmailAccountName(const std::string& accountID, const std::string& name, Success,
                              Failure) override {
    record("updateEmailAccountName", {accountID, name});
  }
  void updateEmailAccountDescription(const std::string& accountID, const std::string& description, Success,
                                     Failure) override {
    record("updateEmailAccountDescription", {accountID, description});
  }
  void addEmailAlias(const std::string& primaryID, const std::string& address, Success, Failure) override {
    record("addEmailAlias", {primaryID, address});
  }
  void removeEmailAlias(const std::string& primaryID, const std::string& address, Success, Failure) override {
    record("removeEmailAlias", {primaryID, address});
  }

  void handleAccountAuthorized(const std::string& accountID, const std::string& name,
                               const std::string& description, json_t* aliases) override {
    record("handleAccountAuthorized", {accountID, name, description, document(aliases)});
  }
  void invalidateAccount(const std::string& accountID) override { record("invalidateAccount", {accountID}); }
  void removeAccountLocally(const std::string& accountID) override {
    record("removeAccountLocally", {accountID});
  }
  std::string updateFromStateDoc(json_t* doc) override {
    record("updateFromStateDoc", {document(doc)});
    return document(doc)["account_id"].string_value();
  }

  std::string getAlertTitleForAccountAddError(Error error) override { return alert("AddTitle", error); }
  std::string getAlertMessageForAccountAddError(Error error) override { return alert("AddMessage", error); }
  std::string getAlertTitleForAccountDeleteError(Error error) override { return alert("DeleteTitle", error); }
  std::string getAlertMessageForAccountDeleteError(Error error) override {
    return alert("DeleteMessage", error);
  }
  std::string getAlertTitleForAccountEditError(Error error) override { return alert("EditTitle", error); }
  std::string getAlertMessageForAccountEditError(Error error) override { return alert("EditMessage", error); }

  // Answers; set before installing.
  std::string device_id;
  std::map<std::string, std::string> session_ids;
  jsonette::Json keychain_vault;
  std::vector<KSEmailAccount> accounts;  // every list answers copies of these
  std::vector<std::string> account_ids;
  std::shared_ptr<KSEmailAccount> email_account;
  std::shared_ptr<KSEmailAccount> default_account;
  std::map<std::string, std::string> signatures;
  std::vector<std::string> primary_account_ids;
  std::optional<std::string> primary_account_id_for_address;
  std::string email_address;
  std::string account_id_for_address;
  jsonette::Json aliases_json = jsonette::Json::array{};
  jsonette::Json account_json;  // null answers a null pointer; otherwise a new jansson copy
  std::unordered_set<std::string> addresses;
  uint32_t secondary_account_count = 0;
  bool has_email_address = false;
  bool account_authenticated = false;
  bool address_of_primary_account = false;
  bool can_add = true;
  bool valid_description = true;
  std::string primary_account_id;
  std::shared_ptr<KSEmailAccount> secondary_account;

 private:
  static libkestrun::EmailAccountList list(const std::vector<KSEmailAccount>& records) {
    auto copies = std::make_shared<std::vector<std::shared_ptr<KSEmailAccount>>>();
    for (const KSEmailAccount& record : records) copies->push_back(std::make_shared<KSEmailAccount>(record));
    return copies;
  }
  // "<operation> <value>": which getter was asked for which value.
  std::string alert(const std::string& operation, Error error) {
    record("getAlert" + operation, {number(error)});
    return operation + " " + std::to_string(number(error));
  }
};

}  // namespace kestrun_test
