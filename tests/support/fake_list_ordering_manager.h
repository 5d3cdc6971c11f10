// A recording stand-in for the list ordering manager, with a settable answer.
#pragma once

#include <memory>

#include "core/foundation/memory_store.h"
#include "core/services/list_ordering_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeListOrderingManager : public libkestrun::ListOrderingManager, public CallLog {
 public:
  FakeListOrderingManager() : ListOrderingManager(std::make_shared<libkestrun::MemoryStore>()) {}

  int getOrderKey(const std::string& name) override {
    record("getOrderKey", {name});
    return order_key;
  }
  void removeList(const std::string& name) override { record("removeList", {name}); }
  void renameList(const std::string& oldName, const std::string& newName) override {
    record("renameList", {oldName, newName});
  }
  void setOrderKey(const std::string& name, int key) override { record("setOrderKey", {name, key}); }
  // clear() empties the record; the manager's own clear stays the real one.
  using CallLog::clear;

  int order_key = 0;  // the answer of getOrderKey; set before installing
};

}  // namespace kestrun_test
