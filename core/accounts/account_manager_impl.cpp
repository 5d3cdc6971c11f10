// The records, their storage, the queries and the local setters.
#include "core/accounts/account_manager_impl.h"

#include <algorithm>
#include <limits>

#include "brelt/uuid.h"
#include "core/data/background_writer.h"

namespace libkestrun {

using jsonette::Json;

const char* const AccountManagerImpl::kAccountsKey = "pellavine.account.manager.accounts.set";
const char* const AccountManagerImpl::kDeviceIdKey = "pellavine.account.manager.device.id";
const char* const AccountManagerImpl::kKeychainVaultKey = "pellavine.account.manager.keychain.vault";

const char* const AccountManagerImpl::kAddedNotification = "com.kestrun.account.added.locally";
const char* const AccountManagerImpl::kModifiedNotification = "com.kestrun.account.modified.locally";
const char* const AccountManagerImpl::kRemovedNotification = "com.kestrun.account.removed.locally";
const char* const AccountManagerImpl::kInvalidatedNotification = "com.kestrun.account.invalidated";
const char* const AccountManagerImpl::kDefaultChosenNotification = "com.kestrun.new.default.account.chosen";

namespace {

// Session ids that an earlier installation handed over; nothing in this system sets them.
std::mutex session_ids_mutex;
Json session_ids;  // guarded by session_ids_mutex

std::string fold_ascii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace

AccountManagerImpl::AccountManagerImpl(std::shared_ptr<NotificationCenter> center,
                                       std::shared_ptr<KvStore> store)
    : _notificationCenter(std::move(center)), _store(store) {}

void AccountManagerImpl::setAccountSessionIds(const Json& ids) {
  std::lock_guard<std::mutex> lock(session_ids_mutex);
  session_ids = ids;
}

std::unordered_set<std::string> AccountManagerImpl::load() {
  Guard lock(_mutex);
  if (std::optional<std::string> id = _store.get_string(kDeviceIdKey)) _deviceId = *id;
  const Json stored = _store.get_json(kAccountsKey).value_or(Json());
  for (const Json& element : stored.array_items()) {
    if (!element.is_object()) continue;
    auto record = std::make_shared<KSEmailAccount>(element);
    // A later element with the same id replaces the earlier record.
    if (Record earlier = _findAccount(lock, record->accountID, false)) {
      if (earlier == _defaultAccount) _defaultAccount = nullptr;
      _forgetAddress(lock, earlier->emailAddress);
      if (!earlier->isPrimary) _removeFromPrimaryMap(lock, earlier);
      _authenticatedAccountIDs.erase(earlier->accountID);
      _accounts.erase(earlier->accountID);
    }
    if (record->isDefault) _defaultAccount = record;
    if (record->authenticated) _authenticatedAccountIDs.insert(record->accountID);
    _fileRecord(lock, record);
  }
  _chooseDefaultAccount(lock);
  return {};
}

std::string AccountManagerImpl::getDeviceId() {
  Guard lock(_mutex);
  return _deviceId;
}

std::map<std::string, std::string> AccountManagerImpl::getAccountSessionIds() {
  Json ids;
  {
    std::lock_guard<std::mutex> session_lock(session_ids_mutex);
    ids = session_ids;
  }
  std::map<std::string, std::string> result;
  if (!ids.is_object()) return result;
  Guard lock(_mutex);
  for (const auto& [accountID, record] : _accounts) {
    const Json& session = ids[accountID];
    if (session.is_string()) result.emplace(accountID, session.string_value());
  }
  return result;
}

Json AccountManagerImpl::getKeychainVault() { return _store.get_json(kKeychainVaultKey).value_or(Json()); }

void AccountManagerImpl::clearKeychainVault() { _store.erase(kKeychainVaultKey); }

void AccountManagerImpl::resetAll() {
  Guard lock(_mutex);
  // The purges only queue data tasks; they run on the core thread after the lock is released.
  for (const auto& [accountID, record] : _accounts) {
    KestrunDataBackgroundWriter::purgeAllDataForAccount(accountID, nullptr);
    post(kRemovedNotification, Json(accountID));
  }
  _deviceId = brelt::generate_uuid_upper();
  _store.set(kDeviceIdKey, _deviceId);
  _accounts.clear();
  _addresses.clear();
  _primaryMap.clear();
  _authenticatedAccountIDs.clear();
  _defaultAccount = nullptr;
  saveAccounts(lock);
}

EmailAccountList AccountManagerImpl::allEmailAccounts() {
  Guard lock(_mutex);
  std::vector<Record> records;
  for (const auto& [accountID, record] : _accounts) records.push_back(record);
  return sortedCopies(records);
}

EmailAccountList AccountManagerImpl::allPrimaryEmailAccounts() {
  Guard lock(_mutex);
  std::vector<Record> records;
  for (const auto& [primaryID, aliases] : _primaryMap) {
    if (Record primary = _findAccount(lock, primaryID, true)) records.push_back(primary);
  }
  return sortedCopies(records);
}

EmailAccountList AccountManagerImpl::allUniqueEmailAccounts() {
  Guard lock(_mutex);
  std::vector<Record> records;
  std::unordered_set<std::string> noted;
  for (const auto& [primaryID, aliases] : _primaryMap) {
    if (Record primary = _findAccount(lock, primaryID, true)) {
      records.push_back(primary);
      noted.insert(primary->emailAddress);
    }
  }
  // Aliases only for addresses that no primary account has, and one per address.
  for (const auto& [accountID, record] : _accounts) {
    if (noted.insert(record->emailAddress).second) records.push_back(record);
  }
  return sortedCopies(records);
}

EmailAccountList AccountManagerImpl::allEmailAccountsForPrimaryAccountID(const std::string& primaryID) {
  Guard lock(_mutex);
  std::vector<Record> records;
  if (const auto* aliases = _aliasesOf(lock, primaryID)) {
    records.push_back(_accounts.at(primaryID));
    records.insert(records.end(), aliases->begin(), aliases->end());
  }
  return sortedCopies(records);
}

EmailAccountList AccountManagerImpl::allSecondaryEmailAccountsForPrimaryAccountID(
    const std::string& primaryID) {
  Guard lock(_mutex);
  std::vector<Record> records;
  if (const auto* aliases = _aliasesOf(lock, primaryID)) records.assign(aliases->begin(), aliases->end());
  return sortedCopies(records);
}

std::shared_ptr<std::vector<std::string>> AccountManagerImpl::allAccountIDs() {
  Guard lock(_mutex);
  auto ids = std::make_shared<std::vector<std::string>>();
  for (const auto& [accountID, record] : _accounts) ids->push_back(accountID);
  return ids;
}

std::shared_ptr<std::vector<std::string>> AccountManagerImpl::allPrimaryAccountIDs() {
  Guard lock(_mutex);
  auto ids = std::make_shared<std::vector<std::string>>();
  for (const auto& [primaryID, aliases] : _primaryMap) {
    if (_findAccount(lock, primaryID, true)) ids->push_back(primaryID);
  }
  return ids;
}

bool AccountManagerImpl::hasAccounts() {
  Guard lock(_mutex);
  return !_accounts.empty();
}

bool AccountManagerImpl::hasEmailAddress(const std::string& address) {
  Guard lock(_mutex);
  return _addresses.count(address) != 0;
}

bool AccountManagerImpl::isAddressOfPrimaryAccount(const std::string& address, const std::string& primaryID) {
  Guard lock(_mutex);
  const auto* aliases = _aliasesOf(lock, primaryID);
  if (!aliases) return false;
  return std::any_of(aliases->begin(), aliases->end(),
                     [&](const Record& alias) { return alias->emailAddress == address; });
}

std::string AccountManagerImpl::emailAddressForAccountID(const std::string& accountID) {
  Guard lock(_mutex);
  Record record = _findAccount(lock, accountID, false);
  return record ? record->emailAddress : std::string();
}

std::string AccountManagerImpl::accountIDForEmailAddress(const std::string& address) {
  Guard lock(_mutex);
  for (const auto& [accountID, record] : _accounts) {
    if (record->emailAddress == address) return accountID;
  }
  return "";
}

std::string AccountManagerImpl::accountIDForEmailAddressInPrimaryAccount(const std::string& address,
                                                                         const std::string& primaryID) {
  Guard lock(_mutex);
  Record given = _findAccount(lock, primaryID, true);
  if (given && given->emailAddress == address) return primaryID;
  for (const auto& [id, aliases] : _primaryMap) {
    Record primary = _findAccount(lock, id, true);
    if (primary && primary->emailAddress == address) return id;
  }
  return "";
}

std::optional<std::string> AccountManagerImpl::getPrimaryAccountIDForEmailAddress(
    const std::string& address) {
  Guard lock(_mutex);
  for (const auto& [id, aliases] : _primaryMap) {
    Record primary = _findAccount(lock, id, true);
    if (primary && primary->emailAddress == address) return id;
  }
  return std::nullopt;
}

std::string AccountManagerImpl::primaryAccountIDForAccountID(const std::string& accountID) {
  Guard lock(_mutex);
  Record record = _findAccount(lock, accountID, false);
  return record && !record->isPrimary ? record->parentAccountID : accountID;
}

json_t* AccountManagerImpl::aliasesJsonForAccount(const std::string& primaryID) {
  json_t* array = json_array();
  Guard lock(_mutex);
  if (const auto* aliases = _aliasesOf(lock, primaryID)) {
    for (const Record& alias : *aliases) json_array_append_new(array, aliasJson(alias->emailAddress));
  }
  return array;
}

json_t* AccountManagerImpl::aliasJson(const std::string& address) {
  json_t* object = json_object();
  if (!address.empty()) json_object_set_new(object, "address", json_string(address.c_str()));
  return object;
}

std::shared_ptr<std::unordered_set<std::string>> AccountManagerImpl::addressesForPrimaryAccount(
    const std::string& primaryID) {
  Guard lock(_mutex);
  auto addresses = std::make_shared<std::unordered_set<std::string>>();
  if (const auto* aliases = _aliasesOf(lock, primaryID)) {
    addresses->insert(_accounts.at(primaryID)->emailAddress);
    for (const Record& alias : *aliases) addresses->insert(alias->emailAddress);
  }
  return addresses;
}

json_t* AccountManagerImpl::accountJson(const std::string& accountID) {
  json_t* object = json_object();
  Guard lock(_mutex);
  if (Record record = _findAccount(lock, accountID, false)) {
    json_object_set_new(object, "address", json_string(record->emailAddress.c_str()));
    json_object_set_new(object, "name", json_string(record->emailName.c_str()));
  }
  return object;
}

bool AccountManagerImpl::isAccountAuthenticated(const std::string& accountID) {
  Guard lock(_mutex);
  return _authenticatedAccountIDs.count(accountID) != 0;
}

std::string AccountManagerImpl::firstAccountID() {
  Guard lock(_mutex);
  return _accounts.empty() ? std::string() : _accounts.begin()->first;
}

std::string AccountManagerImpl::firstAuthenticatedAccountID() {
  Guard lock(_mutex);
  return _authenticatedAccountIDs.empty() ? std::string() : *_authenticatedAccountIDs.begin();
}

std::shared_ptr<KSEmailAccount> AccountManagerImpl::emailAccountWithID(const std::string& accountID) {
  Guard lock(_mutex);
  Record record = _findAccount(lock, accountID, false);
  return record ? std::make_shared<KSEmailAccount>(*record) : nullptr;
}

std::shared_ptr<KSEmailAccount> AccountManagerImpl::secondaryAccountWithAddress(
    const std::string& address, const std::string& primaryID) {
  Guard lock(_mutex);
  if (const auto* aliases = _aliasesOf(lock, primaryID)) {
    for (const Record& alias : *aliases) {
      if (alias->emailAddress == address) return std::make_shared<KSEmailAccount>(*alias);
    }
  }
  return nullptr;
}

bool AccountManagerImpl::canAddANewAccount() {
  Guard lock(_mutex);
  size_t primaries = 0;
  for (const auto& [primaryID, aliases] : _primaryMap) {
    if (_findAccount(lock, primaryID, true)) ++primaries;
  }
  return primaries < kMaxAccounts;
}

uint32_t AccountManagerImpl::getNumberOfSecondaryAccountsForPrimaryAccount(const std::string& primaryID) {
  Guard lock(_mutex);
  const auto* aliases = _aliasesOf(lock, primaryID);
  return aliases ? static_cast<uint32_t>(aliases->size()) : std::numeric_limits<uint32_t>::max();
}

bool AccountManagerImpl::canAddSecondaryToPrimaryAccount(const std::string& primaryID) {
  // An unknown id counts as UINT32_MAX aliases.
  return getNumberOfSecondaryAccountsForPrimaryAccount(primaryID) < kMaxAccounts;
}

std::shared_ptr<KSEmailAccount> AccountManagerImpl::getDefaultAccount() {
  Guard lock(_mutex);
  return _defaultAccount ? std::make_shared<KSEmailAccount>(*_defaultAccount) : nullptr;
}

std::map<std::string, std::string> AccountManagerImpl::allEmailSignatures() {
  Guard lock(_mutex);
  std::map<std::string, std::string> signatures;
  for (const auto& [accountID, record] : _accounts) signatures.emplace(accountID, record->emailSignature);
  return signatures;
}

bool AccountManagerImpl::isValidDescription(const std::string& description, const std::string& accountID) {
  if (description.empty()) return true;
  const std::string folded = fold_ascii(description);
  Guard lock(_mutex);
  for (const auto& [id, record] : _accounts) {
    if (record->isPrimary && id != accountID && fold_ascii(record->emailDescription) == folded) return false;
  }
  return true;
}

void AccountManagerImpl::setDefaultAccount(const std::string& accountID) {
  {
    Guard lock(_mutex);
    if (Record record = _findAccount(lock, accountID, false)) {
      if (_defaultAccount) _defaultAccount->isDefault = false;
      _defaultAccount = record;
      record->isDefault = true;
      saveAccounts(lock);
    }
  }
  post(kDefaultChosenNotification, Json());
}

void AccountManagerImpl::setHasSpam(const std::string& accountID, bool hasSpam) {
  Guard lock(_mutex);
  Record record = _findAccount(lock, accountID, false);
  if (!record || record->hasSpam == hasSpam) return;
  record->hasSpam = hasSpam;
  saveAccounts(lock);
}

void AccountManagerImpl::setEmailSignature(const std::string& accountID, const std::string& signature) {
  Guard lock(_mutex);
  if (_setEmailSignature(lock, accountID, signature)) saveAccounts(lock);
}

void AccountManagerImpl::setEmailSignatures(const std::map<std::string, std::string>& signatures) {
  Guard lock(_mutex);
  for (const auto& [accountID, signature] : signatures) _setEmailSignature(lock, accountID, signature);
  saveAccounts(lock);
}

AccountManagerImpl::Record AccountManagerImpl::_findAccount(const Guard&, const std::string& accountID,
                                                            bool primaryOnly) {
  auto found = _accounts.find(accountID);
  if (found == _accounts.end()) return nullptr;
  if (primaryOnly && !found->second->isPrimary) return nullptr;
  return found->second;
}

const std::unordered_set<AccountManagerImpl::Record>* AccountManagerImpl::_aliasesOf(
    const Guard& lock, const std::string& primaryID) {
  if (!_findAccount(lock, primaryID, true)) return nullptr;
  auto entry = _primaryMap.find(primaryID);
  return entry == _primaryMap.end() ? nullptr : &entry->second;
}

void AccountManagerImpl::_fileRecord(const Guard& lock, const Record& record) {
  _accounts[record->accountID] = record;
  ++_addresses[record->emailAddress];
  _addToPrimaryMap(lock, record);
}

void AccountManagerImpl::_addToPrimaryMap(const Guard&, const Record& record) {
  if (!record) return;
  if (record->isPrimary) {
    _primaryMap[record->accountID];  // keeps the aliases an entry already has
  } else {
    _primaryMap[record->parentAccountID].insert(record);
  }
}

void AccountManagerImpl::_removeFromPrimaryMap(const Guard&, const Record& record) {
  if (record->isPrimary) {
    _primaryMap.erase(record->accountID);
    return;
  }
  auto entry = _primaryMap.find(record->parentAccountID);
  if (entry != _primaryMap.end()) entry->second.erase(record);
}

void AccountManagerImpl::_forgetAddress(const Guard&, const std::string& address) {
  auto counted = _addresses.find(address);
  if (counted != _addresses.end() && --counted->second == 0) _addresses.erase(counted);
}

void AccountManagerImpl::_chooseDefaultAccount(const Guard& lock) {
  if (_accounts.empty() || _defaultAccount) return;
  for (const auto& [primaryID, aliases] : _primaryMap) {
    if (Record primary = _findAccount(lock, primaryID, true)) {
      _defaultAccount = primary;
      primary->isDefault = true;
      saveAccounts(lock);
      return;
    }
  }
}

bool AccountManagerImpl::_setEmailSignature(const Guard& lock, const std::string& accountID,
                                            const std::string& signature) {
  Record record = _findAccount(lock, accountID, false);
  if (!record) return false;
  record->emailSignature = signature;
  // Aliases with the account's address sign alike, whichever account they belong to.
  for (const auto& [id, other] : _accounts) {
    if (!other->isPrimary && other->emailAddress == record->emailAddress) other->emailSignature = signature;
  }
  return true;
}

void AccountManagerImpl::_removeAccount(const Guard& lock, const Record& record) {
  if (!record) return;
  if (record == _defaultAccount) _defaultAccount = nullptr;
  _forgetAddress(lock, record->emailAddress);
  _removeFromPrimaryMap(lock, record);
  _accounts.erase(record->accountID);
  _authenticatedAccountIDs.erase(record->accountID);
  _chooseDefaultAccount(lock);
}

void AccountManagerImpl::saveAccounts(const Guard&) {
  Json::array records;
  records.reserve(_accounts.size());
  for (const auto& [accountID, record] : _accounts) records.push_back(record->to_json());
  _store.set_json(kAccountsKey, Json(std::move(records)));
}

EmailAccountList AccountManagerImpl::sortedCopies(const std::vector<Record>& records) {
  auto copies = std::make_shared<std::vector<Record>>();
  copies->reserve(records.size());
  for (const Record& record : records) copies->push_back(std::make_shared<KSEmailAccount>(*record));
  std::sort(copies->begin(), copies->end(), KSEmailAccount::NaturalOrder());
  return copies;
}

void AccountManagerImpl::post(const char* name, const Json& payload) {
  _notificationCenter->post_notification(name, payload);
}

}  // namespace libkestrun
