#include "core/sync/snapshot_server_client.h"

#include "core/foundation/process_instance.h"

namespace libkestrun::internal {

namespace {
ProcessInstance<SnapshotServerClient> instance;
}  // namespace

void snapshot_server_client_set_instance(std::shared_ptr<SnapshotServerClient> client) {
  instance.set(std::move(client));
}

void snapshot_server_client_reset_last_snapshot_sync() {
  instance.call(&SnapshotServerClient::resetLastSnapshotSync);
}

}  // namespace libkestrun::internal
