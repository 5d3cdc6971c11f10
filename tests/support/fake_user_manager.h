// A recording stand-in for the user manager, with settable answers. The requests record their
// arguments and call no callback; a credentials request records itself and calls its listener
// once with `credentials`.
#pragma once

#include <memory>

#include "core/accounts/user_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeUserManager : public libkestrun::UserManager, public CallLog {
 public:
  std::string getDeviceId() override {
    record("getDeviceId");
    return device_id;
  }
  std::string getUserId() override {
    record("getUserId");
    return user_id;
  }
  std::string getDeviceSecret() override {
    record("getDeviceSecret");
    return device_secret;
  }
  bool deviceIsRegistered() override {
    record("deviceIsRegistered");
    return registered;
  }
  bool isHarnvikLinked() override {
    record("isHarnvikLinked");
    return linked;
  }
  std::shared_ptr<libkestrun::EmailAccountAssociations> emailAccountAssociations() override {
    record("emailAccountAssociations");
    return std::make_shared<libkestrun::EmailAccountAssociations>(associations);
  }
  std::shared_ptr<KSUserEmailAccountAssoc> associatedEmailAccountForAccountID(
      const std::string& accountID) override {
    record("associatedEmailAccountForAccountID", {accountID});
    for (const auto& association : associations) {
      if (association->accountID == accountID) return association;
    }
    return nullptr;
  }
  void removeEmailAccountAssociation(const std::string& accountID) override {
    record("removeEmailAccountAssociation", {accountID});
  }
  void updateFromStateDoc(const jsonette::Json& stateDoc) override {
    record("updateFromStateDoc", {stateDoc});
  }
  void registerDevice(std::shared_ptr<const libkestrun::HarnvikCredentials> credentials,
                      const std::string& vendorID, const std::string& deviceType,
                      const std::string& deviceName, libkestrun::UserActionSuccess,
                      libkestrun::UserActionFailure) override {
    record("registerDevice", {credentials ? credentials->getUid() : "", vendorID, deviceType, deviceName});
  }
  void linkHarnvikUser(std::shared_ptr<const libkestrun::HarnvikCredentials> credentials,
                       libkestrun::UserActionSuccess, libkestrun::UserActionFailure) override {
    record("linkHarnvikUser", {credentials ? credentials->getUid() : ""});
  }
  void setAutoAuthEnabledForAccount(bool enabled, const std::string& accountID, libkestrun::UserActionSuccess,
                                    libkestrun::UserActionFailure) override {
    record("setAutoAuthEnabledForAccount", {enabled, accountID});
  }
  void _reset_data() override { record("_reset_data"); }
  libkestrun::CredentialsRequest requestConnectionCredentials(
      libkestrun::ConnectionCredentialsListener listener) override {
    record("requestConnectionCredentials");
    if (listener) listener(credentials);
    return libkestrun::CredentialsRequest();
  }

  // Answers; set before installing.
  std::string device_id;
  std::string user_id;
  std::string device_secret;
  bool registered = false;
  bool linked = false;
  libkestrun::EmailAccountAssociations associations;
  std::shared_ptr<libkestrun::internal::ConnectionCredentials> credentials;
};

}  // namespace kestrun_test
