// The keeper of the device's mail accounts, as the rest of the core sees it: the records of the
// primary accounts and their aliases (secondary accounts), their queries and local setters, the
// requests that change accounts through the server, the handlers of what the server reports, and
// the alert texts of failed operations. AccountManagerImpl (account_manager_impl.h) is the
// manager; the data model, the data writer and the other managers reach it through the
// process-wide instance and the forwarders below, and tests put recording fakes in its place.
//
// Every operation takes the manager's own mutex for as long as it reads or changes records and
// never calls out (callbacks, requests, other managers) while holding it; the preference manager
// may hold its own lock while calling here.
//
// Records handed out are copies: changing them changes nothing stored, and reading them needs no
// lock.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/accounts/account_action_error.h"
#include "core/accounts/email_account_type.h"
#include "core/model/ks_email_account.h"
#include "jsonette/json.h"

namespace libkestrun {

using EmailAccountList = std::shared_ptr<std::vector<std::shared_ptr<KSEmailAccount>>>;
// Called with the id of the account that changed (the primary account's, for alias operations).
using AccountSuccess = std::function<void(std::string)>;
using AccountFailure = std::function<void(AccountActionErrorType)>;

class AccountManager {
 public:
  virtual ~AccountManager() = default;

  // Start-up, device and migration values.

  // Reads the stored device id and accounts; answers the ids the caller must remove (none).
  virtual std::unordered_set<std::string> load() = 0;
  // The device id ("" until the first resetAll).
  virtual std::string getDeviceId() = 0;
  // Account id to session id, for the accounts that an earlier installation left session ids for.
  virtual std::map<std::string, std::string> getAccountSessionIds() = 0;
  // What an earlier installation left under the keychain-vault key, or null.
  virtual jsonette::Json getKeychainVault() = 0;
  virtual void clearKeychainVault() = 0;
  // Drops every account (posting "com.kestrun.account.removed.locally" for each) and stores a new
  // device id.
  virtual void resetAll() = 0;

  // Record lists, each a new vector in KSEmailAccount::NaturalOrder.

  virtual EmailAccountList allEmailAccounts() = 0;
  virtual EmailAccountList allPrimaryEmailAccounts() = 0;
  // The primary accounts, and the aliases whose address no primary account has (one per address).
  virtual EmailAccountList allUniqueEmailAccounts() = 0;
  // The primary account and its aliases; empty for an id that names no primary account.
  virtual EmailAccountList allEmailAccountsForPrimaryAccountID(const std::string& primaryID) = 0;
  virtual EmailAccountList allSecondaryEmailAccountsForPrimaryAccountID(const std::string& primaryID) = 0;
  // Every account id, primary and alias alike, in no defined order.
  virtual std::shared_ptr<std::vector<std::string>> allAccountIDs() = 0;
  // The id of every primary account, in no defined order.
  virtual std::shared_ptr<std::vector<std::string>> allPrimaryAccountIDs() = 0;

  // Lookups. An id or address that names no record gives the empty answer.

  virtual bool hasAccounts() = 0;
  // True while any account or alias has exactly this address.
  virtual bool hasEmailAddress(const std::string& address) = 0;
  // True when one of the primary account's aliases has exactly this address (the primary account's
  // own address is not compared).
  virtual bool isAddressOfPrimaryAccount(const std::string& address, const std::string& primaryID) = 0;
  virtual std::string emailAddressForAccountID(const std::string& accountID) = 0;
  // The id of some account with that address, or "".
  virtual std::string accountIDForEmailAddress(const std::string& address) = 0;
  // `primaryID` when that primary account has the address, else some primary account with it, or "".
  virtual std::string accountIDForEmailAddressInPrimaryAccount(const std::string& address,
                                                               const std::string& primaryID) = 0;
  // The id of some primary account whose address equals `address` byte for byte, or empty.
  virtual std::optional<std::string> getPrimaryAccountIDForEmailAddress(const std::string& address) = 0;
  // The parent of an alias; any other id unchanged.
  virtual std::string primaryAccountIDForAccountID(const std::string& accountID) = 0;
  // A new array of {"address"} objects, one per alias of the primary account; owned by the caller.
  virtual json_t* aliasesJsonForAccount(const std::string& primaryID) = 0;
  // A new {"address"} object (no member for an empty address); owned by the caller.
  virtual json_t* aliasJson(const std::string& address) = 0;
  // The primary account's address and the addresses of its aliases; empty for an id that names no
  // primary account.
  virtual std::shared_ptr<std::unordered_set<std::string>> addressesForPrimaryAccount(
      const std::string& primaryID) = 0;
  // A new {"address", "name"} object of the account (the sender of an outgoing e-mail), owned by
  // the caller; {} for an unknown id.
  virtual json_t* accountJson(const std::string& accountID) = 0;
  virtual bool isAccountAuthenticated(const std::string& accountID) = 0;
  virtual std::string firstAccountID() = 0;
  virtual std::string firstAuthenticatedAccountID() = 0;
  virtual std::shared_ptr<KSEmailAccount> emailAccountWithID(const std::string& accountID) = 0;
  // The alias of the primary account with that address, or empty.
  virtual std::shared_ptr<KSEmailAccount> secondaryAccountWithAddress(const std::string& address,
                                                                      const std::string& primaryID) = 0;
  // Fewer than 10 primary accounts.
  virtual bool canAddANewAccount() = 0;
  // The number of aliases of the primary account, or UINT32_MAX when the id names none.
  virtual uint32_t getNumberOfSecondaryAccountsForPrimaryAccount(const std::string& primaryID) = 0;
  // Fewer than 10 aliases; false for an id that names no primary account.
  virtual bool canAddSecondaryToPrimaryAccount(const std::string& primaryID) = 0;
  // The current default account, or empty.
  virtual std::shared_ptr<KSEmailAccount> getDefaultAccount() = 0;
  // Account id to signature ("" where an account has none), for every account.
  virtual std::map<std::string, std::string> allEmailSignatures() = 0;
  // False when another primary account already has this description, ignoring ASCII case.
  virtual bool isValidDescription(const std::string& description, const std::string& accountID) = 0;

  // Local setters.

  // Makes the account with that id the default and saves, when there is one; then, in every case,
  // posts "com.kestrun.new.default.account.chosen" with a null payload.
  virtual void setDefaultAccount(const std::string& accountID) = 0;
  virtual void setHasSpam(const std::string& accountID, bool hasSpam) = 0;
  // Sets the signature of the account and of every alias with the same address, and saves; an
  // unknown id changes and saves nothing.
  virtual void setEmailSignature(const std::string& accountID, const std::string& signature) = 0;
  // Applies each entry as setEmailSignature does, skipping unknown ids, then saves once.
  virtual void setEmailSignatures(const std::map<std::string, std::string>& signatures) = 0;

  // Requests through the server. Core thread. Exactly one callback is called, once; without a
  // failure callback nothing happens, without a success callback the failure is InvalidRequest.

  virtual void addEmailAccount(const std::string& address, const std::string& passToken,
                               EmailAccountType type, const std::string& locale, AccountSuccess success,
                               AccountFailure failure) = 0;
  virtual void associateEmailAccount(const std::string& accountID, AccountSuccess success,
                                     AccountFailure failure) = 0;
  virtual void reauthorizeEmailAccount(const std::string& address, const std::string& passToken,
                                       EmailAccountType type, AccountSuccess success,
                                       AccountFailure failure) = 0;
  virtual void updateEmailAccount(const std::string& accountID, const std::string& name,
                                  const std::string& description, AccountSuccess success,
                                  AccountFailure failure) = 0;
  virtual void updateEmailAccountName(const std::string& accountID, const std::string& name,
                                      AccountSuccess success, AccountFailure failure) = 0;
  virtual void updateEmailAccountDescription(const std::string& accountID, const std::string& description,
                                             AccountSuccess success, AccountFailure failure) = 0;
  virtual void addEmailAlias(const std::string& primaryID, const std::string& address, AccountSuccess success,
                             AccountFailure failure) = 0;
  virtual void removeEmailAlias(const std::string& primaryID, const std::string& address,
                                AccountSuccess success, AccountFailure failure) = 0;

  // What the server reports. Core thread.

  // An "AUTH" notification: the account is authenticated; its name, description and aliases
  // follow the server's. `aliases` is borrowed and may be null. An unknown id changes nothing.
  virtual void handleAccountAuthorized(const std::string& accountID, const std::string& name,
                                       const std::string& description, json_t* aliases) = 0;
  // The server no longer accepts the account's credentials; posts "com.kestrun.account.invalidated"
  // with its address.
  virtual void invalidateAccount(const std::string& accountID) = 0;
  // Drops the account (with its aliases, for a primary account) after the server removed it; posts
  // "com.kestrun.account.removed.locally" with the id.
  virtual void removeAccountLocally(const std::string& accountID) = 0;
  // Stores the account of a server account document (borrowed); answers its id, or "" when the
  // document names none.
  virtual std::string updateFromStateDoc(json_t* document) = 0;

  // Alert texts of failed operations, in the current locale.

  virtual std::string getAlertTitleForAccountAddError(AccountActionErrorType error) = 0;
  virtual std::string getAlertMessageForAccountAddError(AccountActionErrorType error) = 0;
  virtual std::string getAlertTitleForAccountDeleteError(AccountActionErrorType error) = 0;
  virtual std::string getAlertMessageForAccountDeleteError(AccountActionErrorType error) = 0;
  virtual std::string getAlertTitleForAccountEditError(AccountActionErrorType error) = 0;
  virtual std::string getAlertMessageForAccountEditError(AccountActionErrorType error) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h). Without one every forwarder
// answers its neutral value: false, 0, an empty pointer or optional, an empty string, null; the
// account ids, lists and addresses, which callers walk, are empty containers rather than null. A
// request without a manager fails with NoConnection.
void account_manager_set_instance(std::shared_ptr<AccountManager> manager);

std::string account_manager_get_device_id();
EmailAccountList account_manager_all_email_accounts();
EmailAccountList account_manager_all_primary_email_accounts();
EmailAccountList account_manager_all_email_accounts_for_primary_account_id(const std::string& primaryID);
EmailAccountList account_manager_all_secondary_email_accounts_for_primary_account_id(
    const std::string& primaryID);
std::shared_ptr<std::vector<std::string>> account_manager_all_account_ids();
std::shared_ptr<std::vector<std::string>> account_manager_all_primary_account_ids();
bool account_manager_has_accounts();
bool account_manager_has_email_address(const std::string& address);
bool account_manager_is_address_of_primary_account(const std::string& address, const std::string& primaryID);
std::string account_manager_email_address_for_account_id(const std::string& accountID);
std::string account_manager_account_id_for_email_address(const std::string& address);
std::string account_manager_account_id_for_email_address_in_primary_account(const std::string& address,
                                                                            const std::string& primaryID);
std::optional<std::string> account_manager_get_primary_account_id_for_email_address(
    const std::string& address);
std::string account_manager_primary_account_id_for_account_id(const std::string& accountID);
json_t* account_manager_aliases_json_for_account(const std::string& primaryID);
json_t* account_manager_alias_json(const std::string& address);
std::shared_ptr<std::unordered_set<std::string>> account_manager_addresses_for_primary_account(
    const std::string& primaryID);
json_t* account_manager_account_json(const std::string& accountID);
bool account_manager_is_account_authenticated(const std::string& accountID);
std::string account_manager_first_account_id();
std::string account_manager_first_authenticated_account_id();
std::shared_ptr<KSEmailAccount> account_manager_email_account_with_id(const std::string& accountID);
std::shared_ptr<KSEmailAccount> account_manager_secondary_account_with_address(const std::string& address,
                                                                               const std::string& primaryID);
bool account_manager_can_add_a_new_account();
bool account_manager_can_add_secondary_to_primary_account(const std::string& primaryID);
uint32_t account_manager_get_number_of_secondary_accounts_for_primary_account(const std::string& primaryID);
std::shared_ptr<KSEmailAccount> account_manager_get_default_account();
bool account_manager_is_valid_description(const std::string& description, const std::string& accountID);
void account_manager_set_default_account(const std::string& accountID);
void account_manager_set_email_signature(const std::string& accountID, const std::string& signature);
void account_manager_add_email_account(const std::string& address, const std::string& passToken,
                                       EmailAccountType type, const std::string& locale,
                                       AccountSuccess success, AccountFailure failure);
void account_manager_reauthorize_email_account(const std::string& address, const std::string& passToken,
                                               EmailAccountType type, AccountSuccess success,
                                               AccountFailure failure);
void account_manager_update_email_account(const std::string& accountID, const std::string& name,
                                          const std::string& description, AccountSuccess success,
                                          AccountFailure failure);
void account_manager_add_email_alias(const std::string& primaryID, const std::string& address,
                                     AccountSuccess success, AccountFailure failure);
void account_manager_remove_email_alias(const std::string& primaryID, const std::string& address,
                                        AccountSuccess success, AccountFailure failure);
void account_manager_invalidate_account(const std::string& accountID);
void account_manager_handle_account_authorized(const std::string& accountID, const std::string& name,
                                               const std::string& description, json_t* aliases);
void account_manager_remove_account_locally(const std::string& accountID);
std::string account_manager_get_alert_title_for_account_add_error(AccountActionErrorType error);
std::string account_manager_get_alert_message_for_account_add_error(AccountActionErrorType error);
std::string account_manager_get_alert_title_for_account_delete_error(AccountActionErrorType error);
std::string account_manager_get_alert_message_for_account_delete_error(AccountActionErrorType error);
std::string account_manager_get_alert_title_for_account_edit_error(AccountActionErrorType error);
std::string account_manager_get_alert_message_for_account_edit_error(AccountActionErrorType error);

}  // namespace libkestrun
