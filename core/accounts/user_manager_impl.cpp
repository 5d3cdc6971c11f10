#include "core/accounts/user_manager_impl.h"

#include <set>
#include <utility>

#include "core/foundation/json_conversion.h"
#include "core/services/sanity.h"
#include "core/sync/server_client.h"

namespace libkestrun {

const char* const kUserDocKey = "pellavine.user.manager.user_doc";
const char* const kDeviceSecretBackupKey = "pellavine.user.manager.device_secret";
const char* const kUserAccountLinkedHarnvik = "KSUserAccountLinkedHarnvik";

namespace {

const char kAccountAddedLocally[] = "com.kestrun.account.added.locally";
const char kAccountRemovedLocally[] = "com.kestrun.account.removed.locally";
const char kAssociationsMember[] = "email_account_assocs";

bool isAsciiAlphanumericOrDash(char c) {
  return c == '-' || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isEmptyOrUuid(const std::string& text) { return text.empty() || isUuidLike(text); }

// What the trace may say about a secret: it is uploaded, so never its characters.
std::string describeSecret(const std::string& secret) {
  return "<" + std::to_string(secret.size()) + " characters, " + (isUuidLike(secret) ? "" : "not ") +
         "UUID-like>";
}

std::string stringMember(const jsonette::Json& object, const char* key) { return object[key].string_value(); }

EmailAccountAssociations associationsOf(const jsonette::Json& member) {
  EmailAccountAssociations associations;
  for (const jsonette::Json& element : member.array_items()) {
    if (element.is_object()) associations.push_back(std::make_shared<KSUserEmailAccountAssoc>(element));
  }
  return associations;
}

jsonette::Json jsonOf(const EmailAccountAssociations& associations) {
  jsonette::Json::array elements;
  elements.reserve(associations.size());
  for (const auto& association : associations) elements.push_back(association->to_json());
  return jsonette::Json(std::move(elements));
}

// Applies the callback rules shared by the operations with callbacks; false when the operation
// must stop.
bool callbacksUsable(const UserActionSuccess& success, const UserActionFailure& failure) {
  if (!failure) return false;
  if (!success) {
    failure(UserActionErrorType::NoSuccessCallback);
    return false;
  }
  return true;
}

}  // namespace

UserActionErrorType toUserActionErrorType(KSServerClientUserModifyFailureType failure) {
  switch (failure) {
    case KSServerClientUserModifyFailureType::Refused:
      return UserActionErrorType::Refused;
    case KSServerClientUserModifyFailureType::TimedOut:
      sanity::log("UserManager timeout");
      sanity::upload();
      return UserActionErrorType::TimedOut;
    case KSServerClientUserModifyFailureType::RegistrationRefused:
      return UserActionErrorType::RegistrationRefused;
    default:
      return UserActionErrorType::Failed;
  }
}

bool isUuidLike(const std::string& text) { return text.size() == 36 && isAlphanumericOrDash(text); }

bool isAlphanumericOrDash(const std::string& text) {
  for (char c : text) {
    if (!isAsciiAlphanumericOrDash(c)) return false;
  }
  return true;
}

UserManagerImpl::UserManagerImpl(std::shared_ptr<NotificationCenter> center, std::shared_ptr<KvStore> store,
                                 AccountManager& accounts)
    : accounts_(accounts), center_(std::move(center)), store_(store) {
  // A null payload reads as the empty id, which matches no association the server created.
  accountAdded_ =
      center_->observe(kAccountAddedLocally, [this](const std::string&, const jsonette::Json& id) {
        EmailAccountAssociations associations = associationsOf(_userDocField(kAssociationsMember));
        for (const auto& association : associations) {
          if (association->accountID == id.string_value()) association->associated = true;
        }
        storeAssociations(associations);
      });
  accountRemoved_ =
      center_->observe(kAccountRemovedLocally, [this](const std::string&, const jsonette::Json& id) {
        removeEmailAccountAssociation(id.string_value());
      });
}

UserManagerImpl::~UserManagerImpl() { sanity::log("Destroying user manager"); }

jsonette::Json::object UserManagerImpl::storedDocument() {
  std::optional<jsonette::Json> document = store_.get_json(kUserDocKey);
  return document ? document->object_items() : jsonette::Json::object{};
}

jsonette::Json UserManagerImpl::_userDocField(const std::string& key) {
  std::optional<jsonette::Json> document = store_.get_json(kUserDocKey);
  return document ? (*document)[key] : jsonette::Json();
}

void UserManagerImpl::_setUserDocFields(const std::string& key, const jsonette::Json& value) {
  std::optional<jsonette::Json> document = store_.get_json(kUserDocKey);
  if (!document || !document->is_object()) return;
  jsonette::Json::object members = document->object_items();
  members[key] = value;
  store_.set_json(kUserDocKey, jsonette::Json(std::move(members)));
}

std::string UserManagerImpl::getDeviceId() { return _userDocField("device_id").string_value(); }
std::string UserManagerImpl::getUserId() { return _userDocField("user_id").string_value(); }
std::string UserManagerImpl::getDeviceSecret() { return _userDocField("device_secret").string_value(); }
bool UserManagerImpl::hasDesktopApp() { return _userDocField("has_desktop").bool_value(); }
bool UserManagerImpl::hasMobileApp() { return _userDocField("has_mobile").bool_value(); }

bool UserManagerImpl::deviceIsRegistered() {
  return !getUserId().empty() && !getDeviceId().empty() && !getDeviceSecret().empty();
}

bool UserManagerImpl::isHarnvikLinked() {
  std::string userID = getUserId();
  return !userID.empty() && userID[0] != '-';
}

bool UserManagerImpl::_checkUserDoc(const std::string& context) {
  std::string deviceID = getDeviceId();
  std::string userID = getUserId();
  std::string secret = getDeviceSecret();
  if (isEmptyOrUuid(deviceID) && isAlphanumericOrDash(userID) && isEmptyOrUuid(secret)) return false;
  sanity::log("corrupted_" + context + ": device_id: " + deviceID +
              ", device_secret: " + describeSecret(secret) + ", user_id: " + userID);
  sanity::request_send_later();
  return true;
}

std::string UserManagerImpl::_restoreDeviceSecretFromBackup() {
  std::string secret = getDeviceSecret();
  if (isEmptyOrUuid(secret)) return secret;
  std::string backup = store_.get_string(kDeviceSecretBackupKey).value_or("");
  if (isUuidLike(backup)) {
    sanity::log("UserManager restored device_secret from backup " + describeSecret(backup));
    _setUserDocFields("device_secret", backup);
  }
  return getDeviceSecret();
}

bool UserManagerImpl::detectFatalCorruption(const std::string& context) {
  if (!_checkUserDoc(context)) return false;
  if (!isEmptyOrUuid(getDeviceSecret())) _restoreDeviceSecretFromBackup();
  if (isEmptyOrUuid(getDeviceSecret())) return false;
  return harnvik_ == nullptr;
}

bool UserManagerImpl::detectFatalCorruptionOnLoad() {
  if (!detectFatalCorruption("on_load")) return false;
  sanity::log("Detected fatal corruption, unlinking");
  return true;
}

void UserManagerImpl::useHarnvikCredentials(std::shared_ptr<const HarnvikCredentials> credentials) {
  if (!credentials || !isHarnvikLinked() || credentials->getUid() != getUserId()) return;
  harnvik_ = std::move(credentials);
  notifyCredentials();
}

std::shared_ptr<internal::ConnectionCredentials> UserManagerImpl::_connectionCredentials() {
  if (!deviceIsRegistered()) return nullptr;
  std::string userID = getUserId();
  if (!isHarnvikLinked()) {
    return std::make_shared<internal::ConnectionCredentials>(userID, getDeviceId(), getDeviceSecret(),
                                                             nullptr);
  }
  if (harnvik_ && harnvik_->getUid() == userID) {
    return std::make_shared<internal::ConnectionCredentials>(userID, getDeviceId(), getDeviceSecret(),
                                                             harnvik_);
  }
  return nullptr;  // a linked user connects only once the matching Harnvik credentials are here
}

CredentialsRequest UserManagerImpl::requestConnectionCredentials(ConnectionCredentialsListener listener) {
  if (!listener) return CredentialsRequest();
  CredentialsRequest request = requesters_->add(listener);
  listener(_connectionCredentials());
  return request;
}

void UserManagerImpl::notifyCredentials() {
  if (requesters_->size() == 0) return;
  requesters_->notify(_connectionCredentials());
}

std::shared_ptr<EmailAccountAssociations> UserManagerImpl::emailAccountAssociations() {
  return std::make_shared<EmailAccountAssociations>(associationsOf(_userDocField(kAssociationsMember)));
}

std::shared_ptr<KSUserEmailAccountAssoc> UserManagerImpl::associatedEmailAccountForAccountID(
    const std::string& accountID) {
  for (const auto& association : associationsOf(_userDocField(kAssociationsMember))) {
    if (association->accountID == accountID) return association;
  }
  return nullptr;
}

std::shared_ptr<std::vector<std::string>> UserManagerImpl::associatedAccountIds() {
  auto ids = std::make_shared<std::vector<std::string>>();
  for (const auto& association : associationsOf(_userDocField(kAssociationsMember))) {
    if (association->authorized && association->associated) ids->push_back(association->accountID);
  }
  return ids;
}

bool UserManagerImpl::hasAssociatedAccounts() { return !associatedAccountIds()->empty(); }

void UserManagerImpl::storeAssociations(const EmailAccountAssociations& associations) {
  _setUserDocFields(kAssociationsMember, jsonOf(associations));
}

void UserManagerImpl::addEmailAccountAssociation(const std::string& accountID) {
  EmailAccountAssociations associations = associationsOf(_userDocField(kAssociationsMember));
  bool found = false;
  for (const auto& association : associations) {
    if (association->accountID != accountID) continue;
    association->authorized = association->associated = association->has_associated = true;
    found = true;
    break;
  }
  if (!found) {
    std::shared_ptr<KSEmailAccount> account = accounts_.emailAccountWithID(accountID);
    if (!account) return;
    auto association = std::make_shared<KSUserEmailAccountAssoc>();
    association->accountID = accountID;
    association->emailAddress = account->emailAddress;
    association->emailType = account->emailType;
    association->associated = association->auto_authorize = association->authorized =
        association->has_associated = true;
    associations.push_back(std::move(association));
  }
  storeAssociations(associations);
}

void UserManagerImpl::removeEmailAccountAssociation(const std::string& accountID) {
  EmailAccountAssociations associations = associationsOf(_userDocField(kAssociationsMember));
  for (const auto& association : associations) {
    if (association->accountID != accountID) continue;
    association->authorized = association->associated = false;
    storeAssociations(associations);
    return;
  }
}

void UserManagerImpl::registerAnonymousDevice(const std::string& vendorID, const std::string& deviceType,
                                              const std::string& deviceName) {
  internal::user_server_client_register_anonymous_device(
      vendorID, deviceType, deviceName, [weak = self()](jsonette::Json& result) {
        std::shared_ptr<UserManagerImpl> manager = weak.lock();
        if (!manager) return;
        manager->updateFromStateDoc(result);
        manager->notifyCredentials();
      });
}

void UserManagerImpl::registerDevice(std::shared_ptr<const HarnvikCredentials> credentials,
                                     const std::string& vendorID, const std::string& deviceType,
                                     const std::string& deviceName, UserActionSuccess success,
                                     UserActionFailure failure) {
  if (!callbacksUsable(success, failure)) return;
  if (!credentials) return failure(UserActionErrorType::Failed);
  if (deviceIsRegistered()) return failure(UserActionErrorType::AlreadyRegistered);
  const HarnvikCredentials& sent = *credentials;
  internal::user_server_client_register_device(
      sent, vendorID, deviceType, deviceName,
      [weak = self(), credentials, success](jsonette::Json& result) {
        std::shared_ptr<UserManagerImpl> manager = weak.lock();
        if (!manager) return;
        manager->updateFromStateDoc(result);
        manager->harnvik_ = credentials;
        success(stringMember(result, "user_id"));
        manager->notifyCredentials();
      },
      [failure](KSServerClientUserModifyFailureType reason) { failure(toUserActionErrorType(reason)); });
}

void UserManagerImpl::unregisterDevice(UserUnlinkReason reason, UserActionSuccess success,
                                       UserActionFailure failure) {
  if (!callbacksUsable(success, failure)) return;
  if (!deviceIsRegistered()) return success("");
  auto credentials = std::make_shared<internal::ConnectionCredentials>(getUserId(), getDeviceId(),
                                                                       getDeviceSecret(), nullptr);
  internal::user_server_client_unregister_device(
      reason, credentials, [userID = credentials->user_id, success](jsonette::Json&) { success(userID); },
      [failure](KSServerClientUserModifyFailureType reason) { failure(toUserActionErrorType(reason)); });
}

void UserManagerImpl::linkHarnvikUser(std::shared_ptr<const HarnvikCredentials> credentials,
                                      UserActionSuccess success, UserActionFailure failure) {
  if (!callbacksUsable(success, failure)) return;
  if (!credentials) return failure(UserActionErrorType::Failed);
  if (isHarnvikLinked()) return failure(UserActionErrorType::AlreadyLinked);
  if (!internal::server_client_is_connected()) return failure(UserActionErrorType::NoConnection);
  const HarnvikCredentials& sent = *credentials;
  internal::user_server_client_link_harnvik_account(
      sent,
      [weak = self(), previousUserID = getUserId(), credentials, success](jsonette::Json& result) {
        std::shared_ptr<UserManagerImpl> manager = weak.lock();
        if (!manager) return;
        manager->updateFromStateDoc(result);
        manager->harnvik_ = credentials;
        success(stringMember(result, "user_id"));
        manager->notifyCredentials();
        manager->center_->post_notification(kUserAccountLinkedHarnvik, jsonette::Json());
        manager->_notify<harnvik_linked>(previousUserID, manager->getUserId());
      },
      [failure](KSServerClientUserModifyFailureType reason) { failure(toUserActionErrorType(reason)); });
}

void UserManagerImpl::setAutoAuthEnabledForAccount(bool enabled, const std::string& accountID,
                                                   UserActionSuccess success, UserActionFailure failure) {
  if (!callbacksUsable(success, failure)) return;
  std::shared_ptr<KSUserEmailAccountAssoc> association = associatedEmailAccountForAccountID(accountID);
  if (!association || !association->associated) return failure(UserActionErrorType::Failed);
  if (!internal::server_client_is_connected()) return failure(UserActionErrorType::NoConnection);
  internal::user_server_client_set_auto_auth_enabled_for_account(
      enabled, accountID,
      [weak = self(), enabled, accountID, success](jsonette::Json&) {
        std::shared_ptr<UserManagerImpl> manager = weak.lock();
        if (!manager) return;
        EmailAccountAssociations associations = associationsOf(manager->_userDocField(kAssociationsMember));
        for (const auto& association : associations) {
          if (association->accountID == accountID) association->auto_authorize = enabled;
        }
        manager->storeAssociations(associations);
        success(accountID);
      },
      [failure](KSServerClientUserModifyFailureType reason) { failure(toUserActionErrorType(reason)); });
}

void UserManagerImpl::updateFromStateDoc(const jsonette::Json& stateDoc) {
  jsonette::Json::object document = storedDocument();
  for (const char* key : {"user_id", "device_id", "device_secret"}) {
    if (stateDoc[key].is_string()) document[key] = stateDoc[key];
  }
  const std::string& secret = stateDoc["device_secret"].string_value();
  if (isUuidLike(secret)) store_.set(kDeviceSecretBackupKey, secret);
  for (const char* key : {"has_desktop", "has_mobile"}) {
    if (stateDoc[key].is_bool()) document[key] = stateDoc[key];
  }

  if (stateDoc["accounts"].is_array()) {
    auto stored = document.find(kAssociationsMember);
    EmailAccountAssociations associations =
        associationsOf(stored == document.end() ? jsonette::Json() : stored->second);
    std::set<std::string> unlisted;
    for (const auto& association : associations) unlisted.insert(association->accountID);
    for (const jsonette::Json& account : stateDoc["accounts"].array_items()) {
      std::string accountID = stringMember(account, "account_id");
      std::shared_ptr<KSUserEmailAccountAssoc> association;
      for (const auto& candidate : associations) {
        if (candidate->accountID == accountID) {
          association = candidate;
          break;
        }
      }
      if (!association) {
        association = std::make_shared<KSUserEmailAccountAssoc>();
        association->accountID = accountID;
        associations.push_back(association);
      }
      association->emailAddress = stringMember(account, "name");
      association->emailType = static_cast<EmailAccountType>(account["type"].int_value());
      association->associated = account["associated"].bool_value();
      association->auto_authorize = account["auto_authorize"].bool_value();
      association->authorized = account["authorized"].bool_value();
      if (association->authorized && association->associated) association->has_associated = true;
      unlisted.erase(accountID);
    }
    std::erase_if(associations,
                  [&](const auto& association) { return unlisted.count(association->accountID) != 0; });
    document[kAssociationsMember] = jsonOf(associations);
    for (const auto& association : associations) {
      if (!association->has_associated && association->authorized && !association->associated &&
          association->auto_authorize) {
        accounts_.associateEmailAccount(
            association->accountID, [](std::string) {}, [](AccountActionErrorType) {});
      }
    }
  }

  for (const jsonette::Json& accountDoc : stateDoc["account_docs"].array_items()) {
    json_t* converted = patch::jansson_from_json(accountDoc);
    if (!converted) continue;
    accounts_.updateFromStateDoc(converted);
    json_decref(converted);
  }

  store_.set_json(kUserDocKey, jsonette::Json(std::move(document)));
  _checkUserDoc("update_from_state_doc");
}

void UserManagerImpl::_reset_data() {
  sanity::log("UserManager _reset_data");
  store_.erase(kUserDocKey);
  store_.erase(kDeviceSecretBackupKey);
  harnvik_.reset();
  notifyCredentials();
}

}  // namespace libkestrun
