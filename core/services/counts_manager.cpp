#include "core/services/counts_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {
ProcessInstance<CountsManager> instance;
}  // namespace

void counts_manager_set_instance(std::shared_ptr<CountsManager> manager) { instance.set(std::move(manager)); }

void counts_manager_reset_active_counts() { instance.call(&CountsManager::resetActiveCounts); }

void counts_manager_update_counts_for_state_change(ItemState from, ItemState to,
                                                   const std::string& accountID) {
  instance.call(&CountsManager::updateCountsForStateChange, from, to, accountID);
}

void counts_manager_zero_active_count_for_account(const std::string& accountID) {
  instance.call(&CountsManager::zeroActiveCountForAccount, accountID);
}

}  // namespace libkestrun
