#include "core/accounts/account_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {
ProcessInstance<AccountManager> instance;
}  // namespace

void account_manager_set_instance(std::shared_ptr<AccountManager> manager) {
  instance.set(std::move(manager));
}

std::shared_ptr<std::vector<std::string>> account_manager_all_primary_account_ids() {
  // Callers walk the answer: without a manager there is no account, not no answer.
  auto ids = instance.call(&AccountManager::allPrimaryAccountIDs);
  return ids ? ids : std::make_shared<std::vector<std::string>>();
}

std::optional<std::string> account_manager_get_primary_account_id_for_email_address(
    const std::string& address) {
  return instance.call(&AccountManager::getPrimaryAccountIDForEmailAddress, address);
}

json_t* account_manager_account_json(const std::string& accountID) {
  return instance.call(&AccountManager::accountJson, accountID);
}

std::shared_ptr<std::unordered_set<std::string>> account_manager_addresses_for_primary_account(
    const std::string& primaryID) {
  auto addresses = instance.call(&AccountManager::addressesForPrimaryAccount, primaryID);
  return addresses ? addresses : std::make_shared<std::unordered_set<std::string>>();
}

std::shared_ptr<KSEmailAccount> account_manager_email_account_with_id(const std::string& accountID) {
  return instance.call(&AccountManager::emailAccountWithID, accountID);
}

uint32_t account_manager_get_number_of_secondary_accounts_for_primary_account(const std::string& primaryID) {
  return instance.call(&AccountManager::getNumberOfSecondaryAccountsForPrimaryAccount, primaryID);
}

bool account_manager_has_email_address(const std::string& address) {
  return instance.call(&AccountManager::hasEmailAddress, address);
}

bool account_manager_is_account_authenticated(const std::string& accountID) {
  return instance.call(&AccountManager::isAccountAuthenticated, accountID);
}

bool account_manager_is_address_of_primary_account(const std::string& address, const std::string& primaryID) {
  return instance.call(&AccountManager::isAddressOfPrimaryAccount, address, primaryID);
}

std::string account_manager_primary_account_id_for_account_id(const std::string& accountID) {
  return instance.call(&AccountManager::primaryAccountIDForAccountID, accountID);
}

std::shared_ptr<KSEmailAccount> account_manager_secondary_account_with_address(const std::string& address,
                                                                               const std::string& primaryID) {
  return instance.call(&AccountManager::secondaryAccountWithAddress, address, primaryID);
}

}  // namespace libkestrun
