// The keeper of the registered user and this device, as the rest of the core sees it: the ids
// and the flags of the user document, the user's mail-account associations, the requests that
// create and change the registration, and the connection credentials. The full manager
// (user_manager_impl.h) implements this interface; the data model, the sync layer and the facade
// reach it through the process-wide instance and the forwarders below.
//
// Threads: the getters may be called from any thread (each reads the stored document anew);
// every other operation, and every callback, runs on the core thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/accounts/credentials_requests.h"
#include "core/accounts/harnvik_credentials.h"
#include "core/model/ks_user_email_account_assoc.h"
#include "jsonette/json.h"

namespace libkestrun {

// Why a user or device operation failed.
enum class UserActionErrorType : int32_t {
  NoConnection = 1,          // the server connection is down
  Refused = 2,               // the server refused the request
  Failed = 3,                // the account is not associated, or any other failure
  AlreadyRegistered = 4,     // a device is already registered
  AlreadyLinked = 6,         // the user is already linked to a Harnvik account
  TimedOut = 7,              // the request timed out
  NoSuccessCallback = 9,     // no success callback was given
  RegistrationRefused = 10,  // the server refused the device registration
};

// Success receives a user id or an account id, as each operation says.
using UserActionSuccess = std::function<void(std::string)>;
using UserActionFailure = std::function<void(UserActionErrorType)>;
using EmailAccountAssociations = std::vector<std::shared_ptr<KSUserEmailAccountAssoc>>;

// Raised by the full manager after a successful link with the user id before it and the user id
// after it.
struct harnvik_linked {
  using listener = std::function<void(std::string previousUserID, std::string userID)>;
};

class UserManager {
 public:
  virtual ~UserManager() = default;

  // This device's id: the key of its counter in a draft's version clock.
  virtual std::string getDeviceId() = 0;
  // The "user_id" of the stored user document; empty while no user is registered.
  virtual std::string getUserId() = 0;
  // The secret that, with the two ids, authenticates this device; empty while unregistered.
  virtual std::string getDeviceSecret() = 0;
  // User id, device id and device secret are all stored.
  virtual bool deviceIsRegistered() = 0;
  // The user id is stored and does not begin with "-" (an anonymous user's ids do).
  virtual bool isHarnvikLinked() = 0;

  // Fresh copies of the stored associations, in stored order; changing them changes nothing.
  virtual std::shared_ptr<EmailAccountAssociations> emailAccountAssociations() = 0;
  // The first association of the account, or null.
  virtual std::shared_ptr<KSUserEmailAccountAssoc> associatedEmailAccountForAccountID(
      const std::string& accountID) = 0;
  // The account left this device: its association is no longer authorised nor associated.
  virtual void removeEmailAccountAssociation(const std::string& accountID) = 0;

  // Applies a user state document from the server (a registration's or link's answer, or a
  // USER_STATE notification) to the stored user document.
  virtual void updateFromStateDoc(const jsonette::Json& stateDoc) = 0;
  // Registers this device for the signed-in Harnvik user; success receives the user id.
  virtual void registerDevice(std::shared_ptr<const HarnvikCredentials> credentials,
                              const std::string& vendorID, const std::string& deviceType,
                              const std::string& deviceName, UserActionSuccess success,
                              UserActionFailure failure) = 0;
  // Links the anonymous user to the Harnvik account; success receives the new user id.
  virtual void linkHarnvikUser(std::shared_ptr<const HarnvikCredentials> credentials,
                               UserActionSuccess success, UserActionFailure failure) = 0;
  // Lets (or stops) the user's other devices associate the account automatically; success
  // receives the account id.
  virtual void setAutoAuthEnabledForAccount(bool enabled, const std::string& accountID,
                                            UserActionSuccess success, UserActionFailure failure) = 0;
  // Forgets the stored identity and the held credentials; the requesters hear null.
  virtual void _reset_data() = 0;

  // Registers a requester of connection credentials: `listener` is called at once with the
  // current credentials (null while there are none) and again on every change, until the
  // returned request is cancelled or destroyed. An empty listener registers nothing and gets an
  // empty request.
  virtual CredentialsRequest requestConnectionCredentials(ConnectionCredentialsListener listener) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h). Without one the forwarders
// answer an empty string, false, an empty list or null, send nothing and call no callback;
// user_manager_request_connection_credentials then answers an empty request and never calls the
// listener.
void user_manager_set_instance(std::shared_ptr<UserManager> manager);

std::string user_manager_get_device_id();
std::string user_manager_get_user_id();
bool user_manager_device_is_registered();
bool user_manager_is_harnvik_linked();
std::shared_ptr<EmailAccountAssociations> user_manager_email_account_associations();
std::shared_ptr<KSUserEmailAccountAssoc> user_manager_associated_email_account_for_account_id(
    const std::string& accountID);
void user_manager_remove_email_account_association(const std::string& accountID);
void user_manager_update_from_state_doc(const jsonette::Json& stateDoc);
void user_manager_register_device(std::shared_ptr<const HarnvikCredentials> credentials,
                                  const std::string& vendorID, const std::string& deviceType,
                                  const std::string& deviceName, UserActionSuccess success,
                                  UserActionFailure failure);
void user_manager_reset_data();
void user_manager_link_harnvik_user(std::shared_ptr<const HarnvikCredentials> credentials,
                                    UserActionSuccess success, UserActionFailure failure);
void user_manager_set_auto_auth_enabled_for_account(bool enabled, const std::string& accountID,
                                                    UserActionSuccess success, UserActionFailure failure);
CredentialsRequest user_manager_request_connection_credentials(ConnectionCredentialsListener listener);

}  // namespace libkestrun
