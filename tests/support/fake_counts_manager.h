// A recording stand-in for the counts manager.
#pragma once

#include "core/services/counts_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeCountsManager : public libkestrun::CountsManager, public CallLog {
 public:
  void resetActiveCounts() override { record("resetActiveCounts"); }
  void updateCountsForStateChange(libkestrun::ItemState from, libkestrun::ItemState to,
                                  const std::string& accountID) override {
    record("updateCountsForStateChange", {number(from), number(to), accountID});
  }
  void zeroActiveCountForAccount(const std::string& accountID) override {
    record("zeroActiveCountForAccount", {accountID});
  }
  void setActiveCountIfExact(const std::string& accountID, int count) override {
    record("setActiveCountIfExact", {accountID, count});
  }
};

}  // namespace kestrun_test
