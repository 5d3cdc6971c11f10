// The snapshot client, as the data model and the other sub-clients see it: the reset of the time
// of the last snapshot that a full reset of the local data needs, and the requests the account
// client makes after an account was added, re-authorised or deleted. The full client implements
// this interface.
#pragma once

#include <memory>
#include <string>

namespace libkestrun::internal {

class SnapshotServerClient {
 public:
  virtual ~SnapshotServerClient() = default;

  // Forgets the stored time of the last snapshot, so the next snapshot request starts from
  // nothing. Core thread.
  virtual void resetLastSnapshotSync() = 0;
  // A snapshot of every account and of the user's drafts. Core thread.
  virtual void requestAllSnapshots() = 0;
  // The same from any thread: posts it to the core thread.
  virtual void request_all_snapshots_safe() = 0;
  // The first snapshot of an account just added or associated; `await_initial_sync` when the
  // server is still fetching a new account's mail. Core thread.
  virtual void requestInitialSnapshot(const std::string& account_id, bool await_initial_sync) = 0;
  // Counts the account's pending snapshot as finished (the account is gone). Core thread.
  virtual void markSnapshotFailed(const std::string& account_id) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarder
// does nothing.
void snapshot_server_client_set_instance(std::shared_ptr<SnapshotServerClient> client);

void snapshot_server_client_reset_last_snapshot_sync();

}  // namespace libkestrun::internal
