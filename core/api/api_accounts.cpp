// Accounts: the device's mail accounts, their aliases and the user's account associations. Change
// operations run on the core thread through the account manager, the user manager or the
// controller; read-outs answer at once on the caller's thread.
#include <utility>

#include "core/api/api.h"
#include "core/locales/texts.h"
#include "platform/localization/localization.h"

namespace libkestrun {

void Api::set_auto_auth_enabled_for_account(bool enabled, const std::string& account_id,
                                            UserActionSuccess success, UserActionFailure failure) {
  post([this, enabled, account_id, success, failure] {
    managers_.user_manager->setAutoAuthEnabledForAccount(enabled, account_id, success, failure);
  });
}

void Api::add_email_account(const std::string& address, const std::string& pass_token, EmailAccountType type,
                            const std::string& locale, AccountSuccess success, AccountFailure failure) {
  // The new account is the user's before the caller hears of it.
  AccountSuccess associated = [this, success](std::string account_id) {
    managers_.user_manager->addEmailAccountAssociation(account_id);
    if (success) success(account_id);
  };
  post([this, address, pass_token, type, locale, associated, failure] {
    managers_.account_manager->addEmailAccount(address, pass_token, type, locale, associated, failure);
  });
}

void Api::associate_email_account(const std::string& account_id, AccountSuccess success,
                                  AccountFailure failure) {
  post([this, account_id, success, failure] {
    managers_.account_manager->associateEmailAccount(account_id, success, failure);
  });
}

void Api::reauthorize_email_account(const std::string& address, const std::string& pass_token,
                                    EmailAccountType type, AccountSuccess success, AccountFailure failure) {
  post([this, address, pass_token, type, success, failure] {
    managers_.account_manager->reauthorizeEmailAccount(address, pass_token, type, success, failure);
  });
}

void Api::update_email_account(const std::string& account_id, const std::string& name,
                               const std::string& description, AccountSuccess success,
                               AccountFailure failure) {
  post([this, account_id, name, description, success, failure] {
    managers_.account_manager->updateEmailAccount(account_id, name, description, success, failure);
  });
}

void Api::update_email_account_name(const std::string& account_id, const std::string& name,
                                    AccountSuccess success, AccountFailure failure) {
  post([this, account_id, name, success, failure] {
    managers_.account_manager->updateEmailAccountName(account_id, name, success, failure);
  });
}

void Api::update_email_account_description(const std::string& account_id, const std::string& description,
                                           AccountSuccess success, AccountFailure failure) {
  post([this, account_id, description, success, failure] {
    managers_.account_manager->updateEmailAccountDescription(account_id, description, success, failure);
  });
}

void Api::remove_email_account(const std::string& account_id, bool from_all_devices, AccountSuccess success,
                               AccountFailure failure) {
  post([this, account_id, from_all_devices, success, failure] {
    controller_.remove_email_account(account_id, from_all_devices, success, failure);
  });
}

void Api::add_alias(const std::string& account_id, const std::string& address, AccountSuccess success,
                    AccountFailure failure) {
  post([this, account_id, address, success, failure] {
    managers_.account_manager->addEmailAlias(account_id, address, success, failure);
  });
}

void Api::remove_alias(const std::string& account_id, const std::string& address, AccountSuccess success,
                       AccountFailure failure) {
  post([this, account_id, address, success, failure] {
    managers_.account_manager->removeEmailAlias(account_id, address, success, failure);
  });
}

std::shared_ptr<EmailAccountAssociations> Api::all_email_account_associations() {
  return managers_.user_manager->emailAccountAssociations();
}

std::shared_ptr<KSUserEmailAccountAssoc> Api::associated_email_account_for_account_id(
    const std::string& account_id) {
  return managers_.user_manager->associatedEmailAccountForAccountID(account_id);
}

bool Api::has_associated_accounts() { return managers_.user_manager->hasAssociatedAccounts(); }

EmailAccountList Api::all_primary_email_accounts() {
  return managers_.account_manager->allPrimaryEmailAccounts();
}

EmailAccountList Api::all_unique_email_accounts() {
  return managers_.account_manager->allUniqueEmailAccounts();
}

EmailAccountList Api::all_email_accounts_for_primary_account_id(const std::string& primary_id) {
  return managers_.account_manager->allEmailAccountsForPrimaryAccountID(primary_id);
}

EmailAccountList Api::all_secondary_email_accounts_for_primary_account_id(const std::string& primary_id) {
  return managers_.account_manager->allSecondaryEmailAccountsForPrimaryAccountID(primary_id);
}

std::shared_ptr<std::vector<std::string>> Api::all_account_ids() {
  return managers_.account_manager->allAccountIDs();
}

std::shared_ptr<std::vector<std::string>> Api::all_primary_account_ids() {
  return managers_.account_manager->allPrimaryAccountIDs();
}

std::shared_ptr<KSEmailAccount> Api::email_account_with_id(const std::string& account_id) {
  return managers_.account_manager->emailAccountWithID(account_id);
}

std::string Api::account_id_for_email_address(const std::string& address) {
  return managers_.account_manager->accountIDForEmailAddress(address);
}

std::string Api::email_address_for_account_id(const std::string& account_id) {
  return managers_.account_manager->emailAddressForAccountID(account_id);
}

std::optional<std::string> Api::get_primary_account_id_for_email_address(const std::string& address) {
  return managers_.account_manager->getPrimaryAccountIDForEmailAddress(address);
}

std::shared_ptr<KSEmailAccount> Api::get_default_email_account() {
  return managers_.pref_manager->getDefaultAccount();
}

void Api::set_default_email_account(const std::string& account_id) {
  managers_.pref_manager->setDefaultAccount(account_id);
}

bool Api::has_accounts() { return managers_.account_manager->hasAccounts(); }

bool Api::has_email_address(const std::string& address) {
  return managers_.account_manager->hasEmailAddress(address);
}

uint32_t Api::get_number_of_secondary_accounts_for_primary_account(const std::string& primary_id) {
  return managers_.account_manager->getNumberOfSecondaryAccountsForPrimaryAccount(primary_id);
}

bool Api::can_add_a_new_account() { return managers_.account_manager->canAddANewAccount(); }

bool Api::can_add_secondary_to_primary_account(const std::string& primary_id) {
  return managers_.account_manager->canAddSecondaryToPrimaryAccount(primary_id);
}

bool Api::is_valid_description_for_account(const std::string& description, const std::string& account_id) {
  return managers_.account_manager->isValidDescription(description, account_id);
}

std::string Api::get_alert_title_for_account_add_error(AccountActionErrorType error) {
  return managers_.account_manager->getAlertTitleForAccountAddError(error);
}

std::string Api::get_alert_message_for_account_add_error(AccountActionErrorType error) {
  return managers_.account_manager->getAlertMessageForAccountAddError(error);
}

std::string Api::get_alert_title_for_account_delete_error(AccountActionErrorType error) {
  return managers_.account_manager->getAlertTitleForAccountDeleteError(error);
}

std::string Api::get_alert_message_for_account_delete_error(AccountActionErrorType error) {
  return managers_.account_manager->getAlertMessageForAccountDeleteError(error);
}

std::string Api::get_alert_title_for_account_edit_error(AccountActionErrorType error) {
  return managers_.account_manager->getAlertTitleForAccountEditError(error);
}

std::string Api::get_alert_message_for_account_edit_error(AccountActionErrorType error) {
  return managers_.account_manager->getAlertMessageForAccountEditError(error);
}

std::string Api::get_alert_title_for_missing_spam() {
  return AccountStatusManager::getAlertTitleForMissingSpam();
}

std::string Api::get_alert_message_for_missing_spam() {
  return AccountStatusManager::getAlertMessageForMissingSpam();
}

std::string Api::get_title_for_account_type(EmailAccountType type) {
  switch (type) {
    case EmailAccountType::Gmail:
      return LOCALIZED_STRING(text::kGmail, "Name of the Gmail mail account");
    case EmailAccountType::ICloud:
      return LOCALIZED_STRING(text::kICloud, "Name of the iCloud mail account");
    case EmailAccountType::Office365:
      return LOCALIZED_STRING(text::kOffice365, "Name of the Office365 mail account");
    case EmailAccountType::Outlook:
      return LOCALIZED_STRING(text::kOutlook, "Name of the Outlook mail account");
    case EmailAccountType::Exchange:
      return LOCALIZED_STRING(text::kExchange, "Name of the Exchange mail account");
    case EmailAccountType::Yahoo:
      return LOCALIZED_STRING(text::kYahoo, "Name of the Yahoo! mail account");
  }
  return "";
}

}  // namespace libkestrun
