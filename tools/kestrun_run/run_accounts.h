// The run program's stand-in for the core's accounts, which are not built yet: it knows the one
// sample account that the sync step added (and nothing else), so that the model accepts that
// account's server documents. It goes once the accounts exist. Set once, before any data task
// reads it; read-only afterwards.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/accounts/account_manager.h"

namespace kestrun_run {

class RunAccounts : public libkestrun::AccountManager {
 public:
  RunAccounts(std::string accountID, std::string address)
      : id_(std::move(accountID)), address_(std::move(address)) {}

  std::shared_ptr<std::vector<std::string>> allAccountIDs() override {
    return std::make_shared<std::vector<std::string>>(1, id_);
  }
  std::shared_ptr<KSEmailAccount> emailAccountWithID(const std::string&) override { return nullptr; }
  std::shared_ptr<KSEmailAccount> getDefaultAccount() override { return nullptr; }
  void setDefaultAccount(const std::string&) override {}
  void setEmailSignature(const std::string&, const std::string&) override {}
  std::map<std::string, std::string> allEmailSignatures() override { return {}; }
  void setEmailSignatures(const std::map<std::string, std::string>&) override {}
  std::shared_ptr<std::vector<std::string>> allPrimaryAccountIDs() override { return allAccountIDs(); }
  std::optional<std::string> getPrimaryAccountIDForEmailAddress(const std::string& address) override {
    if (address == address_) return id_;
    return std::nullopt;
  }
  json_t* accountJson(const std::string&) override { return nullptr; }
  std::shared_ptr<std::unordered_set<std::string>> addressesForPrimaryAccount(
      const std::string& id) override {
    auto addresses = std::make_shared<std::unordered_set<std::string>>();
    if (id == id_) addresses->insert(address_);
    return addresses;
  }
  uint32_t getNumberOfSecondaryAccountsForPrimaryAccount(const std::string&) override { return 0; }
  bool hasEmailAddress(const std::string& address) override { return address == address_; }
  bool isAccountAuthenticated(const std::string& accountID) override { return accountID == id_; }
  bool isAddressOfPrimaryAccount(const std::string& address, const std::string& id) override {
    return address == address_ && id == id_;
  }
  std::string primaryAccountIDForAccountID(const std::string& accountID) override { return accountID; }
  std::shared_ptr<KSEmailAccount> secondaryAccountWithAddress(const std::string&,
                                                              const std::string&) override {
    return nullptr;
  }

 private:
  const std::string id_;
  const std::string address_;
};

}  // namespace kestrun_run
