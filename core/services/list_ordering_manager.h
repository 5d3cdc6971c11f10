// The order of the user's lists: one integer key per list name, saved whole on every change. The
// full manager implements this interface.
#pragma once

#include <memory>
#include <string>

namespace libkestrun {

class ListOrderingManager {
 public:
  virtual ~ListOrderingManager() = default;

  // The name's key; a name without one gets the next key, which is saved.
  virtual int getOrderKey(const std::string& name) = 0;
  virtual void removeList(const std::string& name) = 0;
  // Moves the old name's key to the new name (replacing the new name's); nothing without one.
  virtual void renameList(const std::string& oldName, const std::string& newName) = 0;
  virtual void setOrderKey(const std::string& name, int key) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing and answer 0.
void list_ordering_manager_set_instance(std::shared_ptr<ListOrderingManager> manager);

int list_ordering_manager_get_order_key(const std::string& name);
void list_ordering_manager_remove_list(const std::string& name);
void list_ordering_manager_rename_list(const std::string& oldName, const std::string& newName);
void list_ordering_manager_set_order_key(const std::string& name, int key);

}  // namespace libkestrun
