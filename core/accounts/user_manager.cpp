#include "core/accounts/user_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {
ProcessInstance<UserManager> instance;
}  // namespace

void user_manager_set_instance(std::shared_ptr<UserManager> manager) { instance.set(std::move(manager)); }

std::string user_manager_get_device_id() { return instance.call(&UserManager::getDeviceId); }
std::string user_manager_get_user_id() { return instance.call(&UserManager::getUserId); }

}  // namespace libkestrun
