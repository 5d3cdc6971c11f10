#include "core/services/list_ordering_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {
ProcessInstance<ListOrderingManager> instance;
}  // namespace

void list_ordering_manager_set_instance(std::shared_ptr<ListOrderingManager> manager) {
  instance.set(std::move(manager));
}

int list_ordering_manager_get_order_key(const std::string& name) {
  return instance.call(&ListOrderingManager::getOrderKey, name);
}

void list_ordering_manager_remove_list(const std::string& name) {
  instance.call(&ListOrderingManager::removeList, name);
}

void list_ordering_manager_rename_list(const std::string& oldName, const std::string& newName) {
  instance.call(&ListOrderingManager::renameList, oldName, newName);
}

void list_ordering_manager_set_order_key(const std::string& name, int key) {
  instance.call(&ListOrderingManager::setOrderKey, name, key);
}

}  // namespace libkestrun
