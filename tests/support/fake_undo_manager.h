// A recording stand-in for the undo manager. The items handed to recordAction are kept beside the
// record, since they have no JSON form here.
#pragma once

#include <memory>
#include <vector>

#include "core/services/undo_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeUndoManager : public libkestrun::UndoManager, public CallLog {
 public:
  FakeUndoManager() : UndoManager(nullptr) {}

  void lock() override { record("lock"); }
  void unlock() override { record("unlock"); }
  void clear() override { record("clear"); }
  void recordAction(std::shared_ptr<KSItem> item, libkestrun::ItemState action) override {
    record("recordAction", {number(action)});
    std::lock_guard<std::mutex> lock(items_mutex_);
    items_.push_back(std::move(item));
  }

  std::vector<std::shared_ptr<KSItem>> items() const {
    std::lock_guard<std::mutex> lock(items_mutex_);
    return items_;
  }

 private:
  mutable std::mutex items_mutex_;
  std::vector<std::shared_ptr<KSItem>> items_;  // guarded by items_mutex_
};

}  // namespace kestrun_test
