// The device's mail accounts: one KSEmailAccount record per primary account (an account the user
// added; its id is the server's) and per alias (secondary account: a further address of a primary
// account, with an id of its own), kept in memory with four indexes and written whole, as one JSON
// array, to the core's key-value store after every change.
//
// Stored values:
//   "pellavine.account.manager.accounts.set"   array of the records' JSON forms, in no order
//   "pellavine.account.manager.device.id"      JSON string: the device id; written by resetAll
//   "pellavine.account.manager.keychain.vault" what an earlier installation left; read, sent with
//                                              the device registration and erased, never written
//
// Indexes, all guarded by _mutex:
//   _accounts                 id to record, every record
//   _addresses                address to the number of records that have it
//   _primaryMap               primary id to the set of its aliases. A primary record always has an
//                             entry. A stored alias whose primary account is missing leaves a key
//                             that names no primary record: the alias is kept (it rejoins its
//                             account if that comes back) but every walk and lookup of the map
//                             skips the key.
//   _authenticatedAccountIDs  the ids whose records carry `authenticated`
//   _defaultAccount           the record that carries isDefault; whenever records exist, one is
//                             (a primary record when it is chosen here)
//
// Threads: the application thread reads through the facade; everything that changes records runs
// on the core thread (requests and their replies, server notifications, data tasks). Every public
// operation holds _mutex only around its own reads and changes. The mutex is not recursive: the
// private operations (leading underscore) take the caller's lock guard as proof and never lock,
// and no operation calls a callback, a request, another manager or a public operation of its own
// while holding it. Notifications may be posted under the lock: they are only queued on the core
// thread. Records leave the manager as copies, so readers never share a record that changes.
//
// Ownership: held by shared pointer (request replies keep the manager alive until they ran); the
// notification centre and the store are shared with the rest of the core.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "core/accounts/account_manager.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/kv_store.h"
#include "core/foundation/notification_center.h"
#include "core/sync/account_server_client.h"

namespace libkestrun {

// The failure of an account operation for the account requests' failure code. A time-out is also
// written to the protocol trace ("AccountManager timeout") and starts the trace upload.
AccountActionErrorType toAccountActionErrorType(KSServerClientAccountModifyFailureType code);

class AccountManagerImpl final : public AccountManager,
                                 public std::enable_shared_from_this<AccountManagerImpl> {
 public:
  static const char* const kAccountsKey;
  static const char* const kDeviceIdKey;
  static const char* const kKeychainVaultKey;

  static const char* const kAddedNotification;
  static const char* const kModifiedNotification;
  static const char* const kRemovedNotification;
  static const char* const kInvalidatedNotification;
  static const char* const kDefaultChosenNotification;

  // Primary accounts per device, and aliases per primary account.
  static constexpr size_t kMaxAccounts = 10;

  // `center` must not be null. Nothing is read until load.
  AccountManagerImpl(std::shared_ptr<NotificationCenter> center, std::shared_ptr<KvStore> store);
  AccountManagerImpl(const AccountManagerImpl&) = delete;
  AccountManagerImpl& operator=(const AccountManagerImpl&) = delete;

  // Replaces the session ids that getAccountSessionIds reads (an object of account id to string).
  static void setAccountSessionIds(const jsonette::Json& ids);

  std::unordered_set<std::string> load() override;
  std::string getDeviceId() override;
  std::map<std::string, std::string> getAccountSessionIds() override;
  jsonette::Json getKeychainVault() override;
  void clearKeychainVault() override;
  void resetAll() override;

  EmailAccountList allEmailAccounts() override;
  EmailAccountList allPrimaryEmailAccounts() override;
  EmailAccountList allUniqueEmailAccounts() override;
  EmailAccountList allEmailAccountsForPrimaryAccountID(const std::string& primaryID) override;
  EmailAccountList allSecondaryEmailAccountsForPrimaryAccountID(const std::string& primaryID) override;
  std::shared_ptr<std::vector<std::string>> allAccountIDs() override;
  std::shared_ptr<std::vector<std::string>> allPrimaryAccountIDs() override;

  bool hasAccounts() override;
  bool hasEmailAddress(const std::string& address) override;
  bool isAddressOfPrimaryAccount(const std::string& address, const std::string& primaryID) override;
  std::string emailAddressForAccountID(const std::string& accountID) override;
  std::string accountIDForEmailAddress(const std::string& address) override;
  std::string accountIDForEmailAddressInPrimaryAccount(const std::string& address,
                                                       const std::string& primaryID) override;
  std::optional<std::string> getPrimaryAccountIDForEmailAddress(const std::string& address) override;
  std::string primaryAccountIDForAccountID(const std::string& accountID) override;
  json_t* aliasesJsonForAccount(const std::string& primaryID) override;
  json_t* aliasJson(const std::string& address) override;
  std::shared_ptr<std::unordered_set<std::string>> addressesForPrimaryAccount(
      const std::string& primaryID) override;
  json_t* accountJson(const std::string& accountID) override;
  bool isAccountAuthenticated(const std::string& accountID) override;
  std::string firstAccountID() override;
  std::string firstAuthenticatedAccountID() override;
  std::shared_ptr<KSEmailAccount> emailAccountWithID(const std::string& accountID) override;
  std::shared_ptr<KSEmailAccount> secondaryAccountWithAddress(const std::string& address,
                                                              const std::string& primaryID) override;
  bool canAddANewAccount() override;
  uint32_t getNumberOfSecondaryAccountsForPrimaryAccount(const std::string& primaryID) override;
  bool canAddSecondaryToPrimaryAccount(const std::string& primaryID) override;
  std::shared_ptr<KSEmailAccount> getDefaultAccount() override;
  std::map<std::string, std::string> allEmailSignatures() override;
  bool isValidDescription(const std::string& description, const std::string& accountID) override;

  void setDefaultAccount(const std::string& accountID) override;
  void setHasSpam(const std::string& accountID, bool hasSpam) override;
  void setEmailSignature(const std::string& accountID, const std::string& signature) override;
  void setEmailSignatures(const std::map<std::string, std::string>& signatures) override;

  void addEmailAccount(const std::string& address, const std::string& passToken, EmailAccountType type,
                       const std::string& locale, AccountSuccess success, AccountFailure failure) override;
  void associateEmailAccount(const std::string& accountID, AccountSuccess success,
                             AccountFailure failure) override;
  void reauthorizeEmailAccount(const std::string& address, const std::string& passToken,
                               EmailAccountType type, AccountSuccess success,
                               AccountFailure failure) override;
  void updateEmailAccount(const std::string& accountID, const std::string& name,
                          const std::string& description, AccountSuccess success,
                          AccountFailure failure) override;
  void updateEmailAccountName(const std::string& accountID, const std::string& name, AccountSuccess success,
                              AccountFailure failure) override;
  void updateEmailAccountDescription(const std::string& accountID, const std::string& description,
                                     AccountSuccess success, AccountFailure failure) override;
  void addEmailAlias(const std::string& primaryID, const std::string& address, AccountSuccess success,
                     AccountFailure failure) override;
  void removeEmailAlias(const std::string& primaryID, const std::string& address, AccountSuccess success,
                        AccountFailure failure) override;

  void handleAccountAuthorized(const std::string& accountID, const std::string& name,
                               const std::string& description, json_t* aliases) override;
  void invalidateAccount(const std::string& accountID) override;
  void removeAccountLocally(const std::string& accountID) override;
  std::string updateFromStateDoc(json_t* document) override;

  std::string getAlertTitleForAccountAddError(AccountActionErrorType error) override;
  std::string getAlertMessageForAccountAddError(AccountActionErrorType error) override;
  std::string getAlertTitleForAccountDeleteError(AccountActionErrorType error) override;
  std::string getAlertMessageForAccountDeleteError(AccountActionErrorType error) override;
  std::string getAlertTitleForAccountEditError(AccountActionErrorType error) override;
  std::string getAlertMessageForAccountEditError(AccountActionErrorType error) override;

 private:
  using Record = std::shared_ptr<KSEmailAccount>;
  using Guard = std::lock_guard<std::mutex>;

  // Records and indexes (account_manager_impl.cpp).
  Record _findAccount(const Guard&, const std::string& accountID, bool primaryOnly);
  // The aliases of the primary record `primaryID`, or null when the id names no primary record.
  const std::unordered_set<Record>* _aliasesOf(const Guard&, const std::string& primaryID);
  // Files the record into _accounts, _addresses and _primaryMap (not into the default or the
  // authenticated set); the caller has removed any record under its id first.
  void _fileRecord(const Guard&, const Record& record);
  void _addToPrimaryMap(const Guard&, const Record& record);
  void _removeFromPrimaryMap(const Guard&, const Record& record);
  void _forgetAddress(const Guard&, const std::string& address);
  void _chooseDefaultAccount(const Guard&);
  bool _setEmailSignature(const Guard&, const std::string& accountID, const std::string& signature);
  // Drops the record from every index, then chooses a default; does not save.
  void _removeAccount(const Guard&, const Record& record);
  void saveAccounts(const Guard&);
  // Sorted copies of the records.
  static EmailAccountList sortedCopies(const std::vector<Record>& records);

  // Server documents and requests (account_manager_requests.cpp).
  bool _accountExists(const std::string& accountID, const std::string& address);
  std::string _accountFromDoc(const Guard&, json_t* document);
  bool _updateAliases(const Guard&, json_t* aliases, const std::string& primaryID);
  std::string _createSecondaryAccount(const Guard&, const std::string& primaryID, const std::string& address);
  // The reply of an add or associate request: stores the document's account, posts and reports.
  void _accountAdded(json_t* document, const AccountSuccess& success, const AccountFailure& failure);
  void post(const char* name, const jsonette::Json& payload);

  const std::shared_ptr<NotificationCenter> _notificationCenter;
  JsonKvStore _store;

  std::mutex _mutex;
  std::string _deviceId;
  std::unordered_map<std::string, Record> _accounts;
  std::unordered_map<std::string, size_t> _addresses;
  std::unordered_map<std::string, std::unordered_set<Record>> _primaryMap;
  std::unordered_set<std::string> _authenticatedAccountIDs;
  Record _defaultAccount;
};

}  // namespace libkestrun
