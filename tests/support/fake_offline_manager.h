// A recording stand-in for the outgoing request queue, with a settable answer of handlesMethod.
#pragma once

#include <memory>

#include "core/foundation/memory_store.h"
#include "core/services/offline_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeOfflineManager : public libkestrun::OfflineManager, public CallLog {
 public:
  FakeOfflineManager()
      : OfflineManager(kConnectionNone,
                       std::make_shared<libkestrun::Defaults>(std::make_shared<libkestrun::MemoryStore>()),
                       std::make_shared<libkestrun::LoggingTaskManager>(), nullptr) {}

  void addRequest(const jsonette::Json& message) override { record("addRequest", {message}); }
  void acknowledgeRequest(const std::string& requestID) override {
    record("acknowledgeRequest", {requestID});
  }
  void removeRequest(const std::string& key) override { record("removeRequest", {key}); }
  void sendRequestsForIds(const std::vector<std::string>& ids) override {
    record("sendRequestsForIds", {jsonette::Json(ids)});
  }
  void sendRequestsForAccount(const std::string& accountID) override {
    record("sendRequestsForAccount", {accountID});
  }
  void removeRequestsForAccount(const std::string& accountID) override {
    record("removeRequestsForAccount", {accountID});
  }
  bool handlesMethod(const std::string& method) override {
    record("handlesMethod", {method});
    return handles_method;
  }
  // clear() empties the record; the queue's own clear stays the real one.
  using CallLog::clear;

  bool handles_method = true;  // the answer of handlesMethod; set before installing
};

}  // namespace kestrun_test
