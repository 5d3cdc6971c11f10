// A recording stand-in for the outgoing request queue.
#pragma once

#include "core/services/offline_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeOfflineManager : public libkestrun::OfflineManager, public CallLog {
 public:
  void removeRequest(const std::string& key) override { record("removeRequest", {key}); }
  void sendRequestsForIds(const std::vector<std::string>& ids) override {
    record("sendRequestsForIds", {jsonette::Json(ids)});
  }
};

}  // namespace kestrun_test
