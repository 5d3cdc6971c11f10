// A recording stand-in for the snapshot client.
#pragma once

#include "core/sync/snapshot_server_client.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeSnapshotServerClient : public libkestrun::internal::SnapshotServerClient, public CallLog {
 public:
  void resetLastSnapshotSync() override { record("resetLastSnapshotSync"); }
  void requestAllSnapshots() override { record("requestAllSnapshots"); }
  void request_all_snapshots_safe() override { record("request_all_snapshots_safe"); }
  void requestInitialSnapshot(const std::string& account_id, bool await_initial_sync) override {
    record("requestInitialSnapshot", {account_id, await_initial_sync});
  }
  void markSnapshotFailed(const std::string& account_id) override { record("markSnapshotFailed", {account_id}); }
};

}  // namespace kestrun_test
