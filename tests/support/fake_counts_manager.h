// A recording stand-in for the counts manager: records the calls the data model and the data
// writer make; every other method is the real one over a memory store.
#pragma once

#include <memory>

#include "core/foundation/memory_store.h"
#include "core/services/counts_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeCountsManager : public libkestrun::CountsManager, public CallLog {
 public:
  FakeCountsManager() : CountsManager(nullptr, std::make_shared<libkestrun::MemoryStore>()) {}

  void clearActiveCounts() override { record("clearActiveCounts"); }
  void updateCountsForStateChange(libkestrun::ItemState from, libkestrun::ItemState to,
                                  const std::string& accountID) override {
    record("updateCountsForStateChange", {number(from), number(to), accountID});
  }
  void resetActiveCountForAccount(const std::string& accountID) override {
    record("resetActiveCountForAccount", {accountID});
  }
  void updateActiveCountIfExact(const std::string& accountID, int count) override {
    record("updateActiveCountIfExact", {accountID, count});
  }
  void processAutoSwipeCounts(const jsonette::Json& totals) override {
    record("processAutoSwipeCounts", {totals});
  }
};

}  // namespace kestrun_test
