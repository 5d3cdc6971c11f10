#include "core/accounts/account_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {

ProcessInstance<AccountManager> instance;

// Callers walk these answers: without a manager there is no account, not no answer.
template <class T>
std::shared_ptr<T> or_empty(std::shared_ptr<T> answer) {
  return answer ? answer : std::make_shared<T>();
}

// The instance, or empty after failing the request: a caller waits for one of its callbacks.
std::shared_ptr<AccountManager> manager_or_fail(const AccountFailure& failure) {
  std::shared_ptr<AccountManager> manager = instance.get();
  if (!manager && failure) failure(AccountActionErrorType::NoConnection);
  return manager;
}

}  // namespace

void account_manager_set_instance(std::shared_ptr<AccountManager> manager) {
  instance.set(std::move(manager));
}

std::string account_manager_get_device_id() { return instance.call(&AccountManager::getDeviceId); }

EmailAccountList account_manager_all_email_accounts() {
  return or_empty(instance.call(&AccountManager::allEmailAccounts));
}

EmailAccountList account_manager_all_primary_email_accounts() {
  return or_empty(instance.call(&AccountManager::allPrimaryEmailAccounts));
}

EmailAccountList account_manager_all_email_accounts_for_primary_account_id(const std::string& primaryID) {
  return or_empty(instance.call(&AccountManager::allEmailAccountsForPrimaryAccountID, primaryID));
}

EmailAccountList account_manager_all_secondary_email_accounts_for_primary_account_id(
    const std::string& primaryID) {
  return or_empty(instance.call(&AccountManager::allSecondaryEmailAccountsForPrimaryAccountID, primaryID));
}

std::shared_ptr<std::vector<std::string>> account_manager_all_account_ids() {
  return or_empty(instance.call(&AccountManager::allAccountIDs));
}

std::shared_ptr<std::vector<std::string>> account_manager_all_primary_account_ids() {
  return or_empty(instance.call(&AccountManager::allPrimaryAccountIDs));
}

bool account_manager_has_accounts() { return instance.call(&AccountManager::hasAccounts); }

bool account_manager_has_email_address(const std::string& address) {
  return instance.call(&AccountManager::hasEmailAddress, address);
}

bool account_manager_is_address_of_primary_account(const std::string& address, const std::string& primaryID) {
  return instance.call(&AccountManager::isAddressOfPrimaryAccount, address, primaryID);
}

std::string account_manager_email_address_for_account_id(const std::string& accountID) {
  return instance.call(&AccountManager::emailAddressForAccountID, accountID);
}

std::string account_manager_account_id_for_email_address(const std::string& address) {
  return instance.call(&AccountManager::accountIDForEmailAddress, address);
}

std::string account_manager_account_id_for_email_address_in_primary_account(const std::string& address,
                                                                            const std::string& primaryID) {
  return instance.call(&AccountManager::accountIDForEmailAddressInPrimaryAccount, address, primaryID);
}

std::optional<std::string> account_manager_get_primary_account_id_for_email_address(
    const std::string& address) {
  return instance.call(&AccountManager::getPrimaryAccountIDForEmailAddress, address);
}

std::string account_manager_primary_account_id_for_account_id(const std::string& accountID) {
  return instance.call(&AccountManager::primaryAccountIDForAccountID, accountID);
}

json_t* account_manager_aliases_json_for_account(const std::string& primaryID) {
  return instance.call(&AccountManager::aliasesJsonForAccount, primaryID);
}

json_t* account_manager_alias_json(const std::string& address) {
  return instance.call(&AccountManager::aliasJson, address);
}

std::shared_ptr<std::unordered_set<std::string>> account_manager_addresses_for_primary_account(
    const std::string& primaryID) {
  return or_empty(instance.call(&AccountManager::addressesForPrimaryAccount, primaryID));
}

json_t* account_manager_account_json(const std::string& accountID) {
  return instance.call(&AccountManager::accountJson, accountID);
}

bool account_manager_is_account_authenticated(const std::string& accountID) {
  return instance.call(&AccountManager::isAccountAuthenticated, accountID);
}

std::string account_manager_first_account_id() { return instance.call(&AccountManager::firstAccountID); }

std::string account_manager_first_authenticated_account_id() {
  return instance.call(&AccountManager::firstAuthenticatedAccountID);
}

std::shared_ptr<KSEmailAccount> account_manager_email_account_with_id(const std::string& accountID) {
  return instance.call(&AccountManager::emailAccountWithID, accountID);
}

std::shared_ptr<KSEmailAccount> account_manager_secondary_account_with_address(const std::string& address,
                                                                               const std::string& primaryID) {
  return instance.call(&AccountManager::secondaryAccountWithAddress, address, primaryID);
}

bool account_manager_can_add_a_new_account() { return instance.call(&AccountManager::canAddANewAccount); }

bool account_manager_can_add_secondary_to_primary_account(const std::string& primaryID) {
  return instance.call(&AccountManager::canAddSecondaryToPrimaryAccount, primaryID);
}

uint32_t account_manager_get_number_of_secondary_accounts_for_primary_account(const std::string& primaryID) {
  return instance.call(&AccountManager::getNumberOfSecondaryAccountsForPrimaryAccount, primaryID);
}

std::shared_ptr<KSEmailAccount> account_manager_get_default_account() {
  return instance.call(&AccountManager::getDefaultAccount);
}

bool account_manager_is_valid_description(const std::string& description, const std::string& accountID) {
  return instance.call(&AccountManager::isValidDescription, description, accountID);
}

void account_manager_set_default_account(const std::string& accountID) {
  instance.call(&AccountManager::setDefaultAccount, accountID);
}

void account_manager_set_email_signature(const std::string& accountID, const std::string& signature) {
  instance.call(&AccountManager::setEmailSignature, accountID, signature);
}

void account_manager_add_email_account(const std::string& address, const std::string& passToken,
                                       EmailAccountType type, const std::string& locale,
                                       AccountSuccess success, AccountFailure failure) {
  if (auto manager = manager_or_fail(failure)) {
    manager->addEmailAccount(address, passToken, type, locale, std::move(success), std::move(failure));
  }
}

void account_manager_reauthorize_email_account(const std::string& address, const std::string& passToken,
                                               EmailAccountType type, AccountSuccess success,
                                               AccountFailure failure) {
  if (auto manager = manager_or_fail(failure)) {
    manager->reauthorizeEmailAccount(address, passToken, type, std::move(success), std::move(failure));
  }
}

void account_manager_update_email_account(const std::string& accountID, const std::string& name,
                                          const std::string& description, AccountSuccess success,
                                          AccountFailure failure) {
  if (auto manager = manager_or_fail(failure)) {
    manager->updateEmailAccount(accountID, name, description, std::move(success), std::move(failure));
  }
}

void account_manager_add_email_alias(const std::string& primaryID, const std::string& address,
                                     AccountSuccess success, AccountFailure failure) {
  if (auto manager = manager_or_fail(failure)) {
    manager->addEmailAlias(primaryID, address, std::move(success), std::move(failure));
  }
}

void account_manager_remove_email_alias(const std::string& primaryID, const std::string& address,
                                        AccountSuccess success, AccountFailure failure) {
  if (auto manager = manager_or_fail(failure)) {
    manager->removeEmailAlias(primaryID, address, std::move(success), std::move(failure));
  }
}

void account_manager_invalidate_account(const std::string& accountID) {
  instance.call(&AccountManager::invalidateAccount, accountID);
}

void account_manager_handle_account_authorized(const std::string& accountID, const std::string& name,
                                               const std::string& description, json_t* aliases) {
  instance.call(&AccountManager::handleAccountAuthorized, accountID, name, description, aliases);
}

void account_manager_remove_account_locally(const std::string& accountID) {
  instance.call(&AccountManager::removeAccountLocally, accountID);
}

std::string account_manager_get_alert_title_for_account_add_error(AccountActionErrorType error) {
  return instance.call(&AccountManager::getAlertTitleForAccountAddError, error);
}

std::string account_manager_get_alert_message_for_account_add_error(AccountActionErrorType error) {
  return instance.call(&AccountManager::getAlertMessageForAccountAddError, error);
}

std::string account_manager_get_alert_title_for_account_delete_error(AccountActionErrorType error) {
  return instance.call(&AccountManager::getAlertTitleForAccountDeleteError, error);
}

std::string account_manager_get_alert_message_for_account_delete_error(AccountActionErrorType error) {
  return instance.call(&AccountManager::getAlertMessageForAccountDeleteError, error);
}

std::string account_manager_get_alert_title_for_account_edit_error(AccountActionErrorType error) {
  return instance.call(&AccountManager::getAlertTitleForAccountEditError, error);
}

std::string account_manager_get_alert_message_for_account_edit_error(AccountActionErrorType error) {
  return instance.call(&AccountManager::getAlertMessageForAccountEditError, error);
}

}  // namespace libkestrun
