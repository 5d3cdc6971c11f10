// The keeper of the registered user and this device, as the data model and the sync clients see
// it. The full manager (registration, sign-in link, user document, device secret) implements this
// interface.
#pragma once

#include <memory>
#include <string>

namespace libkestrun {

class UserManager {
 public:
  virtual ~UserManager() = default;

  // This device's id: the key of its counter in a draft's version clock.
  virtual std::string getDeviceId() = 0;
  // The "user_id" of the stored user document; empty while no user is registered.
  virtual std::string getUserId() = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// answer an empty string.
void user_manager_set_instance(std::shared_ptr<UserManager> manager);

std::string user_manager_get_device_id();
std::string user_manager_get_user_id();

}  // namespace libkestrun
