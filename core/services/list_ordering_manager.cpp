#include "core/services/list_ordering_manager.h"

#include <algorithm>

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {
const char* const kMappingKey = "list.ordering.manager.mapping.key";
}  // namespace

ListOrderingManager::ListOrderingManager(std::shared_ptr<KvStore> store) : store_(store) {
  orderKeys_ = store_.get_default<std::map<std::string, int32_t>>(kMappingKey, {});
  for (const auto& [name, key] : orderKeys_) largestOrderKey_ = std::max(largestOrderKey_, key);
}

int ListOrderingManager::getOrderKey(const std::string& name) {
  auto found = orderKeys_.find(name);
  if (found != orderKeys_.end()) return found->second;
  largestOrderKey_ += 1;
  orderKeys_[name] = largestOrderKey_;
  save();
  return largestOrderKey_;
}

void ListOrderingManager::setOrderKey(const std::string& name, int key) {
  orderKeys_[name] = key;
  save();
  largestOrderKey_ = std::max(largestOrderKey_, key);
}

void ListOrderingManager::renameList(const std::string& oldName, const std::string& newName) {
  auto found = orderKeys_.find(oldName);
  if (found == orderKeys_.end()) return;
  const int32_t key = found->second;
  orderKeys_.erase(found);
  orderKeys_[newName] = key;
  save();
}

void ListOrderingManager::removeList(const std::string& name) {
  orderKeys_.erase(name);
  save();
}

void ListOrderingManager::save() { store_.set(kMappingKey, orderKeys_); }

void ListOrderingManager::clear() {
  orderKeys_.clear();
  store_.erase(kMappingKey);
}

namespace {
ProcessInstance<ListOrderingManager> instance;
}  // namespace

void list_ordering_manager_set_instance(std::shared_ptr<ListOrderingManager> manager) {
  instance.set(std::move(manager));
}

int list_ordering_manager_get_order_key(const std::string& name) {
  return instance.call(&ListOrderingManager::getOrderKey, name);
}

void list_ordering_manager_set_order_key(const std::string& name, int key) {
  instance.call(&ListOrderingManager::setOrderKey, name, key);
}

void list_ordering_manager_rename_list(const std::string& oldName, const std::string& newName) {
  instance.call(&ListOrderingManager::renameList, oldName, newName);
}

void list_ordering_manager_remove_list(const std::string& name) {
  instance.call(&ListOrderingManager::removeList, name);
}

}  // namespace libkestrun
