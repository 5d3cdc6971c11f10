// The recording account manager with a table of known accounts: the lookups the user and account
// status managers make answer from it; every call is recorded.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "support/fake_account_manager.h"

namespace kestrun_test {

class RecordingAccountCalls : public FakeAccountManager {
 public:
  std::shared_ptr<KSEmailAccount> emailAccountWithID(const std::string& accountID) override {
    record("emailAccountWithID", {accountID});
    auto found = known.find(accountID);
    return found == known.end() ? nullptr : std::make_shared<KSEmailAccount>(found->second);
  }
  std::string emailAddressForAccountID(const std::string& accountID) override {
    record("emailAddressForAccountID", {accountID});
    auto found = known.find(accountID);
    return found == known.end() ? "" : found->second.emailAddress;
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
    known[accountID] = account;
  }

  std::map<std::string, KSEmailAccount> known;  // by id
};

}  // namespace kestrun_test
