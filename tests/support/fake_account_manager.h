// A recording stand-in for the account manager, with one settable answer per operation. Tests that
// need a working manager derive from it and override what they use.
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
  std::shared_ptr<std::vector<std::string>> allAccountIDs() override {
    record("allAccountIDs");
    return std::make_shared<std::vector<std::string>>(account_ids);
  }
  std::shared_ptr<KSEmailAccount> emailAccountWithID(const std::string& accountID) override {
    record("emailAccountWithID", {accountID});
    return email_account;
  }
  std::shared_ptr<KSEmailAccount> getDefaultAccount() override {
    record("getDefaultAccount");
    return default_account;
  }
  void setDefaultAccount(const std::string& accountID) override { record("setDefaultAccount", {accountID}); }
  void setEmailSignature(const std::string& accountID, const std::string& signature) override {
    record("setEmailSignature", {accountID, signature});
  }
  std::map<std::string, std::string> allEmailSignatures() override {
    record("allEmailSignatures");
    return signatures;
  }
  void setEmailSignatures(const std::map<std::string, std::string>& given) override {
    record("setEmailSignatures", {jsonette::Json(given)});
  }

  std::shared_ptr<std::vector<std::string>> allPrimaryAccountIDs() override {
    record("allPrimaryAccountIDs");
    return std::make_shared<std::vector<std::string>>(primary_account_ids);
  }
  std::optional<std::string> getPrimaryAccountIDForEmailAddress(const std::string& address) override {
    record("getPrimaryAccountIDForEmailAddress", {address});
    return primary_account_id_for_address;
  }
  json_t* accountJson(const std::string& accountID) override {
    record("accountJson", {accountID});
    return account_json.is_null() ? nullptr : patch::jansson_from_json(account_json);
  }
  std::shared_ptr<std::unordered_set<std::string>> addressesForPrimaryAccount(
      const std::string& primaryID) override {
    record("addressesForPrimaryAccount", {primaryID});
    return std::make_shared<std::unordered_set<std::string>>(addresses);
  }
  uint32_t getNumberOfSecondaryAccountsForPrimaryAccount(const std::string& primaryID) override {
    record("getNumberOfSecondaryAccountsForPrimaryAccount", {primaryID});
    return secondary_account_count;
  }
  bool hasEmailAddress(const std::string& address) override {
    record("hasEmailAddress", {address});
    return has_email_address;
  }
  bool isAccountAuthenticated(const std::string& accountID) override {
    record("isAccountAuthenticated", {accountID});
    return account_authenticated;
  }
  bool isAddressOfPrimaryAccount(const std::string& address, const std::string& primaryID) override {
    record("isAddressOfPrimaryAccount", {address, primaryID});
    return address_of_primary_account;
  }
  std::string primaryAccountIDForAccountID(const std::string& accountID) override {
    record("primaryAccountIDForAccountID", {accountID});
    return primary_account_id;
  }
  std::shared_ptr<KSEmailAccount> secondaryAccountWithAddress(const std::string& address,
                                                              const std::string& primaryID) override {
    record("secondaryAccountWithAddress", {address, primaryID});
    return secondary_account;
  }

  // Answers; set before installing.
  std::vector<std::string> account_ids;
  std::shared_ptr<KSEmailAccount> email_account;
  std::shared_ptr<KSEmailAccount> default_account;
  std::map<std::string, std::string> signatures;
  std::vector<std::string> primary_account_ids;
  std::optional<std::string> primary_account_id_for_address;
  jsonette::Json account_json;  // null answers a null pointer; otherwise a new jansson copy
  std::unordered_set<std::string> addresses;
  uint32_t secondary_account_count = 0;
  bool has_email_address = false;
  bool account_authenticated = false;
  bool address_of_primary_account = false;
  std::string primary_account_id;
  std::shared_ptr<KSEmailAccount> secondary_account;
};

}  // namespace kestrun_test
