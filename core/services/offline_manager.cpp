#include "core/services/offline_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {
ProcessInstance<OfflineManager> instance;
}  // namespace

void offline_manager_set_instance(std::shared_ptr<OfflineManager> manager) {
  instance.set(std::move(manager));
}

void offline_manager_remove_request(const std::string& key) {
  instance.call(&OfflineManager::removeRequest, key);
}

void offline_manager_send_requests_for_ids(const std::vector<std::string>& ids) {
  instance.call(&OfflineManager::sendRequestsForIds, ids);
}

}  // namespace libkestrun
