// The queue of outgoing requests, kept until the server acknowledges them and persisted across
// restarts, as the data model and the data writer see it. The full manager keeps it under its own
// mutex; it implements this interface.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace libkestrun {

class OfflineManager {
 public:
  virtual ~OfflineManager() = default;

  // Drops the request queued under the key (an e-mail save also ends its sending count) and stores
  // the queue.
  virtual void removeRequest(const std::string& key) = 0;
  // Sends the queued request of each id, in the given order, as one message; ids without one are
  // skipped. The requests stay queued until acknowledged.
  virtual void sendRequestsForIds(const std::vector<std::string>& ids) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing.
void offline_manager_set_instance(std::shared_ptr<OfflineManager> manager);

void offline_manager_remove_request(const std::string& key);
void offline_manager_send_requests_for_ids(const std::vector<std::string>& ids);

}  // namespace libkestrun
