// A recording stand-in for the account manager's calls from the user and account status managers:
// the accounts it knows are set by the test; every call is recorded.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "core/accounts/account_manager_calls.h"
#include "support/call_log.h"

namespace kestrun_test {

class RecordingAccountCalls : public libkestrun::AccountManagerCalls, public CallLog {
 public:
  std::shared_ptr<KSEmailAccount> emailAccountWithID(const std::string& accountID) override {
    record("emailAccountWithID", {accountID});
    auto found = accounts.find(accountID);
    return found == accounts.end() ? nullptr : std::make_shared<KSEmailAccount>(found->second);
  }
  std::string emailAddressForAccountID(const std::string& accountID) override {
    record("emailAddressForAccountID", {accountID});
    auto found = accounts.find(accountID);
    return found == accounts.end() ? "" : found->second.emailAddress;
  }
  void setHasSpam(const std::string& accountID, bool hasSpam) override {
    record("setHasSpam", {accountID, hasSpam});
  }
  void associateEmailAccount(const std::string& accountID, std::function<void(std::string)>,
                             std::function<void(libkestrun::AccountActionErrorType)>) override {
    record("associateEmailAccount", {accountID});
  }
  std::string updateFromStateDoc(json_t* accountDocument) override {
    record("updateFromStateDoc", {document(accountDocument)});
    return "";
  }

  // Makes the account known; before use.
  void add(const std::string& accountID, const std::string& address, libkestrun::EmailAccountType type) {
    KSEmailAccount account;
    account.accountID = accountID;
    account.emailAddress = address;
    account.emailType = type;
    accounts[accountID] = account;
  }

  std::map<std::string, KSEmailAccount> accounts;  // by id
};

}  // namespace kestrun_test
