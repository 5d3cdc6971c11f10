// The order of the user's lists: one integer key per list name, saved whole under one key of the
// store after every change. A new list gets a key above every key seen since the process started,
// including keys of lists removed or cleared since, so a list created after a clear never takes
// the place of one the server still orders by an older key.
//
// Threads: the core thread only (data tasks and the controller); no lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "core/foundation/json_kv_store.h"

namespace libkestrun {

class ListOrderingManager {
 public:
  // Loads the stored keys; members that are not numbers are skipped.
  explicit ListOrderingManager(std::shared_ptr<KvStore> store);
  ListOrderingManager(const ListOrderingManager&) = delete;
  ListOrderingManager& operator=(const ListOrderingManager&) = delete;
  virtual ~ListOrderingManager() = default;

  // The name's key; a name without one gets the largest key so far plus 1, which is saved.
  virtual int getOrderKey(const std::string& name);
  virtual void setOrderKey(const std::string& name, int key);
  // Moves the old name's key to the new name (replacing the new name's); nothing without one.
  virtual void renameList(const std::string& oldName, const std::string& newName);
  virtual void removeList(const std::string& name);
  virtual void save();
  // Forgets every key and erases the stored value; the largest key stays.
  virtual void clear();

 private:
  JsonKvStore store_;
  int32_t largestOrderKey_ = -1;
  std::map<std::string, int32_t> orderKeys_;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing and answer 0.
void list_ordering_manager_set_instance(std::shared_ptr<ListOrderingManager> manager);

int list_ordering_manager_get_order_key(const std::string& name);
void list_ordering_manager_set_order_key(const std::string& name, int key);
void list_ordering_manager_rename_list(const std::string& oldName, const std::string& newName);
void list_ordering_manager_remove_list(const std::string& name);

}  // namespace libkestrun
