// Registration and linking: binding this installation to a user at the sync server. The user
// manager does the work; the facade decides between registering, re-registering and answering at
// once, wipes the old user's data when a registration goes, and writes the protocol trace.
#include <memory>
#include <utility>

#include "core/api/api.h"
#include "core/services/sanity.h"

namespace libkestrun {

void Api::useHarnvikCredentials(std::shared_ptr<const HarnvikCredentials> credentials) {
  post([this, credentials] {
    UserManagerImpl& users = *managers_.user_manager;
    users.useHarnvikCredentials(credentials);
    if (!users.detectFatalCorruptionOnLoad()) return;
    controller_.reset_all(credentials ? credentials->getUid() : users.getUserId());
  });
}

void Api::register_anonymous_device(const std::string& vendor_id, const std::string& device_type,
                                    const std::string& device_name) {
  post([this, vendor_id, device_type, device_name] {
    managers_.user_manager->registerAnonymousDevice(vendor_id, device_type, device_name);
  });
}

void Api::register_device(std::shared_ptr<const HarnvikCredentials> credentials, const std::string& vendor_id,
                          const std::string& device_type, const std::string& device_name,
                          UserActionSuccess success, UserActionFailure failure) {
  sanity::log("Api::register_device");
  auto registration = [this, credentials, vendor_id, device_type, device_name, success,
                       failure](const std::string&) {
    post([this, credentials, vendor_id, device_type, device_name, success, failure] {
      managers_.user_manager->registerDevice(credentials, vendor_id, device_type, device_name, success,
                                             failure);
    });
  };
  UserManagerImpl& users = *managers_.user_manager;
  // Without credentials the registration can only fail; the present one and its data stay.
  if (!credentials || !users.deviceIsRegistered()) return registration("");
  if (users.getUserId() == credentials->getUid()) {
    post([this, success] {
      if (success) success(managers_.user_manager->getUserId());
    });
    return;
  }
  sanity::log("Api::register_device Unlinking due to re-register");
  unregister_device(UserUnlinkReason::Reregister, std::move(registration), std::move(failure));
}

void Api::unregister_device(UserUnlinkReason reason, UserActionSuccess success, UserActionFailure failure) {
  sanity::log("Api::unregister_device");
  post([this, reason, success, failure] {
    UserManagerImpl& users = *managers_.user_manager;
    if (!users.deviceIsRegistered()) {
      if (success) success("");
      return;
    }
    // The old user's data goes before the caller hears of success (and before a re-registration
    // that the caller's success posts).
    users.unregisterDevice(
        reason,
        [this, success](std::string user_id) {
          controller_.reset_all(user_id);
          if (success) success(user_id);
        },
        failure);
  });
}

void Api::link_harnvik_user(std::shared_ptr<const HarnvikCredentials> credentials, UserActionSuccess success,
                            UserActionFailure failure) {
  post([this, credentials, success, failure] {
    managers_.user_manager->linkHarnvikUser(credentials, success, failure);
  });
}

bool Api::device_is_registered() { return managers_.user_manager->deviceIsRegistered(); }

std::string Api::user_id() { return managers_.user_manager->getUserId(); }

std::string Api::device_id() { return managers_.user_manager->getDeviceId(); }

bool Api::user_has_desktop_kestrun_app() { return managers_.user_manager->hasDesktopApp(); }

bool Api::user_has_mobile_kestrun_app() { return managers_.user_manager->hasMobileApp(); }

bool Api::user_is_harnvik_linked() { return managers_.user_manager->isHarnvikLinked(); }

std::string Api::get_device_id() { return managers_.account_manager->getDeviceId(); }

}  // namespace libkestrun
