// The way a commit reaches the live queries. The queries live in a higher layer (the consumer
// center), so the contexts only know this interface; that layer installs its instance at start-up
// and tests install a recorder. While none is set a commit's changes go nowhere.
//
// Threads: called on the core thread, inside the commit that produced the changes.
#pragma once

#include <memory>

#include "core/model/change_set.h"

namespace libkestrun {

class QueryUpdater {
 public:
  virtual ~QueryUpdater() = default;
  // Re-runs the queries that read a table of `changes` (every query when `force` is set).
  virtual void update_queries(ChangeSet changes, bool force) = 0;
};

void query_updater_set_instance(std::shared_ptr<QueryUpdater> updater);
void query_updater_update_queries(ChangeSet changes, bool force);

}  // namespace libkestrun
