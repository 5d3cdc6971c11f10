// The user and device requests, as the user manager sees them: registering this device, linking
// it to a Harnvik account, unregistering it and switching a mail account's automatic
// authorisation. The full client (transactions with a time-out, reply handlers, the USER_STATE and
// USER_UNAUTHORIZED events) implements this interface.
//
// Every request calls at most one of its callbacks, once, on the core thread: success with the
// reply's result, failure with the reason. Called on the core thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/accounts/harnvik_credentials.h"
#include "core/accounts/user_unlink_reason.h"
#include "core/sync/connection_credentials.h"
#include "jsonette/json.h"

// Why a user or device request failed.
enum class KSServerClientUserModifyFailureType : int32_t {
  Other = 0,                // an error no other value covers, or a reply with no usable result
  Refused = 1,              // the server's code "D3" or "A2" (USER_NEW_DEVICE, USER_LINK)
  TimedOut = 4,             // no reply within the request's time-out
  RegistrationRefused = 9,  // the server's code "MRT" (USER_NEW_DEVICE)
};

namespace libkestrun::internal {

// Why the server unlinked the user from the Harnvik account (USER_UNAUTHORIZED's "reason").
enum class HarnvikUserUnlinkReason : int32_t {
  Other = 0,     // any other reason text, or none
  Unlinked = 1,  // "unlinked"
  Role = 2,      // "role"
};

using UserRequestSuccess = std::function<void(jsonette::Json&)>;
using UserRequestFailure = std::function<void(KSServerClientUserModifyFailureType)>;

class UserServerClient {
 public:
  virtual ~UserServerClient() = default;

  // USER_NEW_DEVICE without credentials. Failures are not reported: the client sends again until
  // the server answers with a result.
  virtual void registerAnonymousDevice(const std::string& vendor_id, const std::string& device_type,
                                       const std::string& device_name, UserRequestSuccess success) = 0;
  // USER_NEW_DEVICE with the credentials' JSON form under "harnvik_credentials".
  virtual void registerDevice(const HarnvikCredentials& credentials, const std::string& vendor_id,
                              const std::string& device_type, const std::string& device_name,
                              UserRequestSuccess success, UserRequestFailure failure) = 0;
  // USER_UNLINK with the members of the credentials' JSON form and "reason".
  virtual void unregisterDevice(UserUnlinkReason reason,
                                const std::shared_ptr<ConnectionCredentials>& credentials,
                                UserRequestSuccess success, UserRequestFailure failure) = 0;
  // USER_LINK with "harnvik_credentials".
  virtual void linkHarnvikAccount(const HarnvikCredentials& credentials, UserRequestSuccess success,
                                  UserRequestFailure failure) = 0;
  // USER_SET_AUTO_AUTH with "account_id" and "auto_authorize".
  virtual void setAutoAuthEnabledForAccount(bool enabled, const std::string& account_id,
                                            UserRequestSuccess success, UserRequestFailure failure) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h). Without one the forwarders
// send nothing and call no callback.
void user_server_client_set_instance(std::shared_ptr<UserServerClient> client);

void user_server_client_register_anonymous_device(const std::string& vendor_id,
                                                  const std::string& device_type,
                                                  const std::string& device_name, UserRequestSuccess success);
void user_server_client_register_device(const HarnvikCredentials& credentials, const std::string& vendor_id,
                                        const std::string& device_type, const std::string& device_name,
                                        UserRequestSuccess success, UserRequestFailure failure);
void user_server_client_unregister_device(UserUnlinkReason reason,
                                          const std::shared_ptr<ConnectionCredentials>& credentials,
                                          UserRequestSuccess success, UserRequestFailure failure);
void user_server_client_link_harnvik_account(const HarnvikCredentials& credentials,
                                             UserRequestSuccess success, UserRequestFailure failure);
void user_server_client_set_auto_auth_enabled_for_account(bool enabled, const std::string& account_id,
                                                          UserRequestSuccess success,
                                                          UserRequestFailure failure);

}  // namespace libkestrun::internal
