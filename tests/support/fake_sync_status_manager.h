// A recording stand-in for the sync status manager, with a settable answer; the methods it does
// not record are the real ones over a memory store, posting nothing.
#pragma once

#include <memory>

#include "core/foundation/memory_store.h"
#include "core/services/sync_status_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeSyncStatusManager : public libkestrun::SyncStatusManager, public CallLog {
 public:
  FakeSyncStatusManager() : SyncStatusManager(nullptr, std::make_shared<libkestrun::MemoryStore>()) {}

  void archiveAllStarted(const std::string& accountID) override { record("archiveAllStarted", {accountID}); }
  bool isNewEmailTimestamp(int64_t timestamp) override {
    record("isNewEmailTimestamp", {static_cast<long long>(timestamp)});
    return new_email_timestamp;
  }
  void postStatus(const std::string& name, int primaryCount, int secondaryCount) override {
    record("postStatus", {name, primaryCount, secondaryCount});
  }
  void startedSendingMessage() override { record("startedSendingMessage"); }
  void finishedSendingMessage() override { record("finishedSendingMessage"); }
  void repostSendingStatus() override { record("repostSendingStatus"); }

  bool new_email_timestamp = false;  // the answer of isNewEmailTimestamp; set before installing
};

}  // namespace kestrun_test
