// The snapshot client, as the data model sees it: the one operation a full reset of the local
// data needs. The full client implements this interface.
#pragma once

#include <memory>

namespace libkestrun::internal {

class SnapshotServerClient {
 public:
  virtual ~SnapshotServerClient() = default;

  // Forgets the stored time of the last snapshot, so the next snapshot request starts from
  // nothing. Core thread.
  virtual void resetLastSnapshotSync() = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarder
// does nothing.
void snapshot_server_client_set_instance(std::shared_ptr<SnapshotServerClient> client);

void snapshot_server_client_reset_last_snapshot_sync();

}  // namespace libkestrun::internal
