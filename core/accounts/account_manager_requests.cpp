// The operations that change accounts with the server's consent, the import of server account
// documents, and what the server reports about accounts.
//
// A request checks its arguments and the records (taking the lock for each look-up on its own, so
// records may change before the reply), sends one request through the account server client, and
// its reply looks the records up again. A server account document is a jansson object with
// "account_id", "data" (the address), "name", "description", "type" and "aliases" ([{"address"}]).
#include <algorithm>
#include <set>

#include "brelt/uuid.h"
#include "core/accounts/account_manager_impl.h"
#include "core/services/sanity.h"
#include "core/sync/server_client.h"

namespace libkestrun {

using jsonette::Json;
using FailureCode = KSServerClientAccountModifyFailureType;

namespace {

enum class Credential { AccessCode, Password, Refused };

// Gmail, Office365 and Outlook sign in with an access code, iCloud and Yahoo! with a password;
// Exchange and every number outside the known kinds cannot be added.
Credential credentialFor(EmailAccountType type) {
  switch (type) {
    case EmailAccountType::Gmail:
    case EmailAccountType::Office365:
    case EmailAccountType::Outlook:
      return Credential::AccessCode;
    case EmailAccountType::ICloud:
    case EmailAccountType::Yahoo:
      return Credential::Password;
    default:
      return Credential::Refused;
  }
}

std::string stringMember(json_t* document, const char* key) {
  const char* value = json_string_value(json_object_get(document, key));
  return value ? value : "";
}

internal::AccountRequestFailure mapped(AccountFailure failure) {
  return [failure = std::move(failure)](FailureCode code) { failure(toAccountActionErrorType(code)); };
}

}  // namespace

AccountActionErrorType toAccountActionErrorType(FailureCode code) {
  switch (code) {
    case FailureCode::Refused:
      return AccountActionErrorType::RejectedByProvider;
    case FailureCode::ImapFoldersDisabled:
      return AccountActionErrorType::ImapFoldersDisabled;
    case FailureCode::Timeout:
      // A request the server never answered is worth a look at the trace.
      sanity::log("AccountManager timeout");
      sanity::upload();
      return AccountActionErrorType::TimedOut;
    case FailureCode::NoSuchAccount:
      return AccountActionErrorType::NoSuchAccount;
    default:
      return AccountActionErrorType::Rejected;
  }
}

void AccountManagerImpl::addEmailAccount(const std::string& address, const std::string& passToken,
                                         EmailAccountType type, const std::string& locale,
                                         AccountSuccess success, AccountFailure failure) {
  if (!failure) return;
  if (!success) return failure(AccountActionErrorType::InvalidRequest);
  if (_accountExists("", address)) return failure(AccountActionErrorType::AlreadyAdded);
  if (!canAddANewAccount()) return failure(AccountActionErrorType::AccountLimitReached);
  if (!internal::server_client_is_connected()) return failure(AccountActionErrorType::NoConnection);
  const Credential credential = credentialFor(type);
  if (credential == Credential::Refused) return failure(AccountActionErrorType::InvalidRequest);

  auto reply = [self = shared_from_this(), success, failure](json_t* document) {
    self->_accountAdded(document, success, failure);
  };
  if (credential == Credential::AccessCode) {
    internal::account_server_client_add_email_account_with_access_code(passToken, type, locale, reply,
                                                                       mapped(failure));
  } else {
    internal::account_server_client_add_email_account_with_password(address, passToken, type, locale, reply,
                                                                    mapped(failure));
  }
}

void AccountManagerImpl::associateEmailAccount(const std::string& accountID, AccountSuccess success,
                                               AccountFailure failure) {
  if (!failure) return;
  if (!success) return failure(AccountActionErrorType::InvalidRequest);
  if (!canAddANewAccount()) return failure(AccountActionErrorType::AccountLimitReached);
  if (!internal::server_client_is_connected()) return failure(AccountActionErrorType::NoConnection);
  internal::account_server_client_associate_account(
      accountID,
      [self = shared_from_this(), success, failure](json_t* document) {
        self->_accountAdded(document, success, failure);
      },
      mapped(failure));
}

void AccountManagerImpl::_accountAdded(json_t* document, const AccountSuccess& success,
                                       const AccountFailure& failure) {
  std::string accountID;
  {
    Guard lock(_mutex);
    accountID = _accountFromDoc(lock, document);
  }
  // A reply that names no account cannot be stored; the add did not happen as far as we know.
  if (accountID.empty()) return failure(AccountActionErrorType::Rejected);
  post(kAddedNotification, Json(accountID));
  success(accountID);
}

void AccountManagerImpl::reauthorizeEmailAccount(const std::string& address, const std::string& passToken,
                                                 EmailAccountType type, AccountSuccess success,
                                                 AccountFailure failure) {
  if (!failure) return;
  if (!success) return failure(AccountActionErrorType::InvalidRequest);
  if (!_accountExists("", address)) return failure(AccountActionErrorType::NoSuchAccount);
  if (passToken.empty()) return failure(AccountActionErrorType::RejectedByProvider);
  const std::optional<std::string> primaryID = getPrimaryAccountIDForEmailAddress(address);
  if (!internal::server_client_is_connected() || !primaryID) {
    return failure(AccountActionErrorType::NoConnection);
  }
  const Credential credential = credentialFor(type);
  if (credential == Credential::Refused) return failure(AccountActionErrorType::InvalidRequest);

  const std::string accountID = *primaryID;
  auto reply = [self = shared_from_this(), accountID, success](json_t*) {
    {
      Guard lock(self->_mutex);
      if (Record record = self->_findAccount(lock, accountID, false)) {
        record->authenticated = true;
        self->_authenticatedAccountIDs.insert(accountID);
        self->saveAccounts(lock);
      }
    }
    self->post(kModifiedNotification, Json(accountID));
    success(accountID);
  };
  if (credential == Credential::AccessCode) {
    internal::account_server_client_reauthorize_email_account_with_access_code(accountID, passToken, reply,
                                                                               mapped(failure));
  } else {
    internal::account_server_client_reauthorize_email_account_with_password(accountID, passToken, reply,
                                                                            mapped(failure));
  }
}

void AccountManagerImpl::updateEmailAccount(const std::string& accountID, const std::string& name,
                                            const std::string& description, AccountSuccess success,
                                            AccountFailure failure) {
  if (!failure) return;
  if (!success) return failure(AccountActionErrorType::InvalidRequest);
  if (!_accountExists(accountID, "")) return failure(AccountActionErrorType::NoSuchAccount);
  if (!internal::server_client_is_connected()) return failure(AccountActionErrorType::NoConnection);
  internal::account_server_client_update_email_account(
      accountID, name, description,
      [self = shared_from_this(), accountID, name, description, success](json_t*) {
        {
          Guard lock(self->_mutex);
          if (Record record = self->_findAccount(lock, accountID, false)) {
            record->emailName = name;
            record->emailDescription = description;
            for (const auto& [id, alias] : self->_accounts) {
              if (!alias->isPrimary && alias->parentAccountID == accountID) {
                alias->emailName = name;
                alias->emailDescription = description;
              }
            }
            self->saveAccounts(lock);
          }
        }
        self->post(kModifiedNotification, Json(accountID));
        success(accountID);
      },
      mapped(failure));
}

void AccountManagerImpl::updateEmailAccountName(const std::string& accountID, const std::string& name,
                                                AccountSuccess success, AccountFailure failure) {
  if (!failure) return;
  std::string description;
  {
    Guard lock(_mutex);
    Record record = _findAccount(lock, accountID, false);
    if (!record) return failure(AccountActionErrorType::NoSuchAccount);
    description = record->emailDescription;
  }
  updateEmailAccount(accountID, name, description, std::move(success), std::move(failure));
}

void AccountManagerImpl::updateEmailAccountDescription(const std::string& accountID,
                                                       const std::string& description, AccountSuccess success,
                                                       AccountFailure failure) {
  if (!failure) return;
  std::string name;
  {
    Guard lock(_mutex);
    Record record = _findAccount(lock, accountID, false);
    if (!record) return failure(AccountActionErrorType::NoSuchAccount);
    name = record->emailName;
  }
  updateEmailAccount(accountID, name, description, std::move(success), std::move(failure));
}

void AccountManagerImpl::addEmailAlias(const std::string& primaryID, const std::string& address,
                                       AccountSuccess success, AccountFailure failure) {
  if (!failure) return;
  if (!success) return failure(AccountActionErrorType::InvalidRequest);
  if (!_accountExists(primaryID, "")) return failure(AccountActionErrorType::NoSuchAccount);
  if (secondaryAccountWithAddress(address, primaryID)) return failure(AccountActionErrorType::AlreadyAdded);
  if (address.empty()) return success(primaryID);
  if (!internal::server_client_is_connected()) return failure(AccountActionErrorType::NoConnection);
  internal::account_server_client_add_alias_to_email_account(
      primaryID, address,
      [self = shared_from_this(), primaryID, address, success](json_t*) {
        {
          // The server's AUTH notice with the new alias list may have come first and made it.
          Guard lock(self->_mutex);
          const auto* aliases = self->_aliasesOf(lock, primaryID);
          const bool known =
              aliases && std::any_of(aliases->begin(), aliases->end(),
                                     [&](const Record& alias) { return alias->emailAddress == address; });
          if (!known) self->_createSecondaryAccount(lock, primaryID, address);
          self->saveAccounts(lock);
        }
        self->post(kAddedNotification, Json(primaryID));
        success(primaryID);
      },
      mapped(failure));
}

void AccountManagerImpl::removeEmailAlias(const std::string& primaryID, const std::string& address,
                                          AccountSuccess success, AccountFailure failure) {
  if (!failure) return;
  if (!success) return failure(AccountActionErrorType::InvalidRequest);
  if (!_accountExists(primaryID, "")) return failure(AccountActionErrorType::NoSuchAccount);
  if (!secondaryAccountWithAddress(address, primaryID)) return failure(AccountActionErrorType::NoSuchAccount);
  if (address.empty()) return success(primaryID);
  if (!internal::server_client_is_connected()) return failure(AccountActionErrorType::NoConnection);
  internal::account_server_client_remove_alias_from_email_account(
      primaryID, address,
      [self = shared_from_this(), primaryID, address, success](json_t*) {
        bool removed = false;
        {
          Guard lock(self->_mutex);
          if (const auto* aliases = self->_aliasesOf(lock, primaryID)) {
            for (const Record& alias : *aliases) {
              if (alias->emailAddress != address) continue;
              self->_removeAccount(lock, Record(alias));
              removed = true;
              break;
            }
          }
          self->saveAccounts(lock);
        }
        if (removed) self->post(kRemovedNotification, Json(primaryID));
        success(primaryID);
      },
      mapped(failure));
}

void AccountManagerImpl::handleAccountAuthorized(const std::string& accountID, const std::string& name,
                                                 const std::string& description, json_t* aliases) {
  Guard lock(_mutex);
  Record record = _findAccount(lock, accountID, false);
  if (!record) return;
  bool changed = false;
  if (!record->authenticated) {
    record->authenticated = true;
    changed = true;
  }
  _authenticatedAccountIDs.insert(accountID);
  if (!name.empty() && name != record->emailName) {
    record->emailName = name;
    changed = true;
  }
  if (!description.empty() && description != record->emailDescription) {
    record->emailDescription = description;
    changed = true;
  }
  const bool aliasesChanged = _updateAliases(lock, aliases, accountID);
  if (changed || aliasesChanged) saveAccounts(lock);
}

void AccountManagerImpl::invalidateAccount(const std::string& accountID) {
  if (accountID.empty()) return;
  std::optional<std::string> address;
  {
    Guard lock(_mutex);
    if (Record record = _findAccount(lock, accountID, false)) {
      address = record->emailAddress;
      if (record->authenticated) {
        record->authenticated = false;
        saveAccounts(lock);
      }
    }
    _authenticatedAccountIDs.erase(accountID);
  }
  if (address) post(kInvalidatedNotification, Json(*address));
}

void AccountManagerImpl::removeAccountLocally(const std::string& accountID) {
  {
    Guard lock(_mutex);
    if (Record record = _findAccount(lock, accountID, false)) {
      if (record->isPrimary) {
        std::vector<Record> aliases;
        for (const auto& [id, other] : _accounts) {
          if (!other->isPrimary && other->parentAccountID == accountID) aliases.push_back(other);
        }
        for (const Record& alias : aliases) _removeAccount(lock, alias);
      }
      _removeAccount(lock, record);
    }
    saveAccounts(lock);
  }
  post(kRemovedNotification, Json(accountID));
}

std::string AccountManagerImpl::updateFromStateDoc(json_t* document) {
  std::string accountID;
  {
    Guard lock(_mutex);
    accountID = _accountFromDoc(lock, document);
  }
  if (!accountID.empty()) post(kAddedNotification, Json(accountID));
  return accountID;
}

bool AccountManagerImpl::_accountExists(const std::string& accountID, const std::string& address) {
  if (!accountID.empty()) {
    Guard lock(_mutex);
    return _findAccount(lock, accountID, true) != nullptr;
  }
  if (!address.empty()) return getPrimaryAccountIDForEmailAddress(address).has_value();
  return false;
}

std::string AccountManagerImpl::_accountFromDoc(const Guard& lock, json_t* document) {
  const std::string accountID = stringMember(document, "account_id");
  if (accountID.empty()) return "";
  auto record = std::make_shared<KSEmailAccount>();
  record->accountID = accountID;
  record->emailAddress = stringMember(document, "data");
  record->emailName = stringMember(document, "name");
  record->emailDescription = stringMember(document, "description");
  json_t* type = json_object_get(document, "type");
  if (json_is_integer(type)) record->emailType = static_cast<EmailAccountType>(json_integer_value(type));
  record->authenticated = true;
  record->isPrimary = true;
  if (record->emailName.empty()) record->emailName = record->emailAddress;

  // Every user state document carries the accounts again: what only this device knows of an
  // account (its signature, its spam flag, being the default) stays with it.
  if (Record previous = _findAccount(lock, accountID, false)) {
    record->emailSignature = previous->emailSignature;
    record->hasSpam = previous->hasSpam;
    record->isDefault = previous->isDefault;
    if (previous == _defaultAccount) _defaultAccount = record;
    _forgetAddress(lock, previous->emailAddress);
    // A primary account's entry keeps its aliases.
    if (!previous->isPrimary) _removeFromPrimaryMap(lock, previous);
    _accounts.erase(accountID);
  }
  _fileRecord(lock, record);
  _authenticatedAccountIDs.insert(accountID);
  if (!_defaultAccount) {
    _defaultAccount = record;
    record->isDefault = true;
  }
  _updateAliases(lock, json_object_get(document, "aliases"), accountID);
  saveAccounts(lock);
  return accountID;
}

bool AccountManagerImpl::_updateAliases(const Guard& lock, json_t* aliases, const std::string& primaryID) {
  if (!json_is_array(aliases)) return false;
  const auto* current = _aliasesOf(lock, primaryID);
  if (!current) return false;

  std::set<std::string> wanted;
  size_t index;
  json_t* element;
  json_array_foreach(aliases, index, element) {
    // An alias without an address could never be told from the others.
    const std::string address = stringMember(element, "address");
    if (!address.empty()) wanted.insert(address);
  }
  std::unordered_set<std::string> have;
  std::vector<Record> stale;
  for (const Record& alias : *current) {
    have.insert(alias->emailAddress);
    if (!wanted.count(alias->emailAddress)) stale.push_back(alias);
  }

  bool created = false;
  for (const std::string& address : wanted) {
    if (have.count(address)) continue;
    _createSecondaryAccount(lock, primaryID, address);
    created = true;
  }
  for (const Record& alias : stale) _removeAccount(lock, alias);

  if (created) post(kAddedNotification, Json());
  if (!stale.empty()) post(kRemovedNotification, Json());
  return created || !stale.empty();
}

std::string AccountManagerImpl::_createSecondaryAccount(const Guard& lock, const std::string& primaryID,
                                                        const std::string& address) {
  Record primary = _findAccount(lock, primaryID, true);
  if (!primary) return "";
  auto alias = std::make_shared<KSEmailAccount>();
  alias->accountID = brelt::generate_uuid_lower();
  alias->emailAddress = address;
  alias->emailName = primary->emailName;
  alias->emailDescription = primary->emailDescription;
  alias->parentAccountID = primaryID;
  _fileRecord(lock, alias);
  return alias->accountID;
}

}  // namespace libkestrun
