// A recording stand-in for the change-token manager.
#pragma once

#include <memory>

#include "core/foundation/memory_store.h"
#include "core/services/changes_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeChangesManager : public libkestrun::ChangesManager, public CallLog {
 public:
  FakeChangesManager() : ChangesManager(std::make_shared<libkestrun::MemoryStore>()) {}

  void clear() override { record("clear"); }
  void setTokens(const std::string& accountID, std::optional<uint64_t> itemToken,
                 std::optional<uint64_t> emailToken, std::optional<uint64_t> listToken) override {
    record("setTokens", {accountID, optional(itemToken), optional(emailToken), optional(listToken)});
  }
};

}  // namespace kestrun_test
