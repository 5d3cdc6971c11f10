// The user manager: the identity of this installation at the sync server.
//
// The user document, one JSON object under "pellavine.user.manager.user_doc" in the shared
// key-value store, holds "user_id" (an anonymous user's begins with "-"; a linked user's is the
// Harnvik uid), "device_id", "device_secret", "has_desktop", "has_mobile" and
// "email_account_assocs"; other members are carried along by every rewrite. The device secret is
// also kept under "pellavine.user.manager.device_secret", from which a damaged secret is restored.
// Nothing is cached: every getter reads and parses the stored document.
//
// States:
//   unregistered        no user document (first start, or after _reset_data); no credentials
//   anonymous           registerAnonymousDevice answered: credentials without Harnvik credentials
//   linked              registerDevice or linkHarnvikUser succeeded: credentials only while the
//                       Harnvik credentials of the same uid are held (in memory only)
// A user state document keeps the state and takes the server's values; _reset_data returns to
// unregistered and tells every credentials requester null.
//
// Secrets: neither the device secret nor the Harnvik token reaches the protocol trace; lines
// about a secret give its length and whether it looks like a UUID.
//
// Threads: the getters (ids, flags, associations) may run on any thread; they only read the
// store, whose single reads and writes are safe across threads. Everything else, the held
// Harnvik credentials and the credentials requesters belong to the core thread. No lock.
#pragma once

#include <memory>
#include <string>

#include "core/accounts/account_manager.h"
#include "core/accounts/credentials_requests.h"
#include "core/accounts/user_manager.h"
#include "core/accounts/user_unlink_reason.h"
#include "core/foundation/event_source.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/notification_center.h"
#include "core/sync/user_server_client.h"

namespace libkestrun {

extern const char* const kUserDocKey;                // "pellavine.user.manager.user_doc"
extern const char* const kDeviceSecretBackupKey;     // "pellavine.user.manager.device_secret"
extern const char* const kUserAccountLinkedHarnvik;  // "KSUserAccountLinkedHarnvik"

// The user server client's failure as the user manager's callers see it. A time-out also writes
// "UserManager timeout" to the protocol trace and uploads the trace.
UserActionErrorType toUserActionErrorType(KSServerClientUserModifyFailureType failure);

// Exactly 36 characters, each "-", an ASCII digit or letter (the dashes' places are not checked).
bool isUuidLike(const std::string& text);
// Any length, every character "-", an ASCII digit or letter.
bool isAlphanumericOrDash(const std::string& text);

class UserManagerImpl final : public UserManager,
                              public lks::EventSource<harnvik_linked>,
                              public std::enable_shared_from_this<UserManagerImpl> {
 public:
  // Registers the listeners on the accounts added and removed on this device; reads nothing.
  // `accounts` must outlive the manager. Build it with std::make_shared: the server's replies
  // reach it through a weak pointer, and without a shared owner they would be dropped unheard.
  UserManagerImpl(std::shared_ptr<NotificationCenter> center, std::shared_ptr<KvStore> store,
                  AccountManager& accounts);
  UserManagerImpl(const UserManagerImpl&) = delete;
  UserManagerImpl& operator=(const UserManagerImpl&) = delete;
  ~UserManagerImpl() override;

  // Reading the document.
  std::string getDeviceId() override;
  std::string getUserId() override;
  std::string getDeviceSecret() override;
  bool hasDesktopApp();
  bool hasMobileApp();
  bool deviceIsRegistered() override;
  bool isHarnvikLinked() override;
  // The member of the stored document; null when the document is missing, not an object, or
  // lacks it.
  jsonette::Json _userDocField(const std::string& key);
  // Sets one member of the stored document; writes nothing while there is no document object.
  void _setUserDocFields(const std::string& key, const jsonette::Json& value);

  // Checks. _checkUserDoc: true when the device id is neither empty nor UUID-like, the user id is
  // not user-id text, or the secret is neither empty nor UUID-like; a corrupt document is traced
  // ("corrupted_" + context) and the trace is asked to be sent later. detectFatalCorruption: true
  // when the document is corrupt, the secret cannot be restored from the backup, and no Harnvik
  // credentials are held (with them the user can sign in again).
  bool _checkUserDoc(const std::string& context);
  bool detectFatalCorruption(const std::string& context);
  bool detectFatalCorruptionOnLoad();
  // Replaces a secret that is neither empty nor UUID-like by a UUID-like backup; answers the
  // secret as it then stands.
  std::string _restoreDeviceSecretFromBackup();

  // Credentials. The Harnvik credentials are kept only when the user is linked and their uid is
  // the user id; then every requester hears the new connection credentials.
  void useHarnvikCredentials(std::shared_ptr<const HarnvikCredentials> credentials);
  // Null while unregistered, and for a linked user without matching Harnvik credentials.
  std::shared_ptr<internal::ConnectionCredentials> _connectionCredentials();
  CredentialsRequest requestConnectionCredentials(ConnectionCredentialsListener listener) override;

  // Associations.
  std::shared_ptr<EmailAccountAssociations> emailAccountAssociations() override;
  std::shared_ptr<KSUserEmailAccountAssoc> associatedEmailAccountForAccountID(
      const std::string& accountID) override;
  std::shared_ptr<std::vector<std::string>> associatedAccountIds();
  bool hasAssociatedAccounts();
  // An account was added on this device: its association becomes authorised and associated, or
  // a new one is appended from the account's record. An account the account manager does not
  // know leaves the list unchanged.
  void addEmailAccountAssociation(const std::string& accountID);
  void removeEmailAccountAssociation(const std::string& accountID) override;

  // Requests. Callback rules of every operation that takes callbacks: without a failure callback
  // nothing happens; without a success callback failure receives NoSuccessCallback and nothing is
  // sent. A failure found before sending is reported at once.
  void registerAnonymousDevice(const std::string& vendorID, const std::string& deviceType,
                               const std::string& deviceName);
  void registerDevice(std::shared_ptr<const HarnvikCredentials> credentials, const std::string& vendorID,
                      const std::string& deviceType, const std::string& deviceName, UserActionSuccess success,
                      UserActionFailure failure) override;
  // Success receives the unregistered user id ("" when no device was registered); nothing local
  // changes.
  void unregisterDevice(UserUnlinkReason reason, UserActionSuccess success, UserActionFailure failure);
  void linkHarnvikUser(std::shared_ptr<const HarnvikCredentials> credentials, UserActionSuccess success,
                       UserActionFailure failure) override;
  void setAutoAuthEnabledForAccount(bool enabled, const std::string& accountID, UserActionSuccess success,
                                    UserActionFailure failure) override;
  void updateFromStateDoc(const jsonette::Json& stateDoc) override;
  void _reset_data() override;

 private:
  jsonette::Json::object storedDocument();
  void storeAssociations(const EmailAccountAssociations& associations);
  void notifyCredentials();
  // The weak self that reply continuations hold: a reply after the manager is gone does nothing.
  std::weak_ptr<UserManagerImpl> self() { return weak_from_this(); }

  AccountManager& accounts_;
  std::shared_ptr<const HarnvikCredentials> harnvik_;  // core thread
  std::shared_ptr<CredentialsListeners> requesters_ =
      std::make_shared<CredentialsListeners>();  // core thread
  std::shared_ptr<NotificationCenter> center_;
  JsonKvStore store_;
  NotificationObserver accountAdded_;
  NotificationObserver accountRemoved_;
};

}  // namespace libkestrun
