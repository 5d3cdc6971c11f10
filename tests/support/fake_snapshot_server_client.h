// A recording stand-in for the snapshot client.
#pragma once

#include "core/sync/snapshot_server_client.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeSnapshotServerClient : public libkestrun::internal::SnapshotServerClient, public CallLog {
 public:
  void resetLastSnapshotSync() override { record("resetLastSnapshotSync"); }
};

}  // namespace kestrun_test
