#include "core/sync/user_server_client.h"

#include "core/foundation/process_instance.h"

namespace libkestrun::internal {

namespace {
ProcessInstance<UserServerClient> instance;
}  // namespace

void user_server_client_set_instance(std::shared_ptr<UserServerClient> client) {
  instance.set(std::move(client));
}

void user_server_client_register_anonymous_device(const std::string& vendor_id,
                                                  const std::string& device_type,
                                                  const std::string& device_name,
                                                  UserRequestSuccess success) {
  instance.call(&UserServerClient::registerAnonymousDevice, vendor_id, device_type, device_name,
                std::move(success));
}

void user_server_client_register_device(const HarnvikCredentials& credentials, const std::string& vendor_id,
                                        const std::string& device_type, const std::string& device_name,
                                        UserRequestSuccess success, UserRequestFailure failure) {
  instance.call(&UserServerClient::registerDevice, credentials, vendor_id, device_type, device_name,
                std::move(success), std::move(failure));
}

void user_server_client_unregister_device(UserUnlinkReason reason,
                                          const std::shared_ptr<ConnectionCredentials>& credentials,
                                          UserRequestSuccess success, UserRequestFailure failure) {
  instance.call(&UserServerClient::unregisterDevice, reason, credentials, std::move(success),
                std::move(failure));
}

void user_server_client_link_harnvik_account(const HarnvikCredentials& credentials,
                                             UserRequestSuccess success, UserRequestFailure failure) {
  instance.call(&UserServerClient::linkHarnvikAccount, credentials, std::move(success), std::move(failure));
}

void user_server_client_set_auto_auth_enabled_for_account(bool enabled, const std::string& account_id,
                                                          UserRequestSuccess success,
                                                          UserRequestFailure failure) {
  instance.call(&UserServerClient::setAutoAuthEnabledForAccount, enabled, account_id, std::move(success),
                std::move(failure));
}

}  // namespace libkestrun::internal
