#include "core/accounts/user_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {
ProcessInstance<UserManager> instance;
}  // namespace

void user_manager_set_instance(std::shared_ptr<UserManager> manager) { instance.set(std::move(manager)); }

std::string user_manager_get_device_id() { return instance.call(&UserManager::getDeviceId); }
std::string user_manager_get_user_id() { return instance.call(&UserManager::getUserId); }
bool user_manager_device_is_registered() { return instance.call(&UserManager::deviceIsRegistered); }
bool user_manager_is_harnvik_linked() { return instance.call(&UserManager::isHarnvikLinked); }

std::shared_ptr<EmailAccountAssociations> user_manager_email_account_associations() {
  // Callers walk the answer: without a manager there is no association, not no answer.
  auto associations = instance.call(&UserManager::emailAccountAssociations);
  return associations ? associations : std::make_shared<EmailAccountAssociations>();
}

std::shared_ptr<KSUserEmailAccountAssoc> user_manager_associated_email_account_for_account_id(
    const std::string& accountID) {
  return instance.call(&UserManager::associatedEmailAccountForAccountID, accountID);
}

void user_manager_remove_email_account_association(const std::string& accountID) {
  instance.call(&UserManager::removeEmailAccountAssociation, accountID);
}

void user_manager_update_from_state_doc(const jsonette::Json& stateDoc) {
  instance.call(&UserManager::updateFromStateDoc, stateDoc);
}

void user_manager_register_device(std::shared_ptr<const HarnvikCredentials> credentials,
                                  const std::string& vendorID, const std::string& deviceType,
                                  const std::string& deviceName, UserActionSuccess success,
                                  UserActionFailure failure) {
  instance.call(&UserManager::registerDevice, std::move(credentials), vendorID, deviceType, deviceName,
                std::move(success), std::move(failure));
}

void user_manager_reset_data() { instance.call(&UserManager::_reset_data); }

void user_manager_link_harnvik_user(std::shared_ptr<const HarnvikCredentials> credentials,
                                    UserActionSuccess success, UserActionFailure failure) {
  instance.call(&UserManager::linkHarnvikUser, std::move(credentials), std::move(success),
                std::move(failure));
}

void user_manager_set_auto_auth_enabled_for_account(bool enabled, const std::string& accountID,
                                                    UserActionSuccess success, UserActionFailure failure) {
  instance.call(&UserManager::setAutoAuthEnabledForAccount, enabled, accountID, std::move(success),
                std::move(failure));
}

CredentialsRequest user_manager_request_connection_credentials(ConnectionCredentialsListener listener) {
  return instance.call(&UserManager::requestConnectionCredentials, std::move(listener));
}

}  // namespace libkestrun
