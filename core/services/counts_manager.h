// The server-side counts of each account (active, completed, deleted items), as the data model and
// the data writer see them. The full manager persists them, keeps the totals and posts
// "com.kestrun.kscounts.counts.updated" after each change, all under its own mutex; it implements
// this interface.
#pragma once

#include <memory>
#include <string>

#include "core/store/model_enums.h"

namespace libkestrun {

class CountsManager {
 public:
  virtual ~CountsManager() = default;

  // Empties every account's active count and its exact flag.
  virtual void resetActiveCounts() = 0;
  // Moves one item of the account from the bucket of `from` to that of `to` (2 active, 3 completed,
  // 4 deleted; other states have none); a count never drops below 0. Equal states change nothing.
  virtual void updateCountsForStateChange(ItemState from, ItemState to, const std::string& accountID) = 0;
  // The account's active count becomes 0, known exactly.
  virtual void zeroActiveCountForAccount(const std::string& accountID) = 0;
  // Replaces the account's active count when the stored one is exact; otherwise nothing.
  virtual void setActiveCountIfExact(const std::string& accountID, int count) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing.
void counts_manager_set_instance(std::shared_ptr<CountsManager> manager);

void counts_manager_reset_active_counts();
void counts_manager_update_counts_for_state_change(ItemState from, ItemState to,
                                                   const std::string& accountID);
void counts_manager_zero_active_count_for_account(const std::string& accountID);

}  // namespace libkestrun
