#include "core/model/query_updater.h"

#include <utility>

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {
ProcessInstance<QueryUpdater> instance;
}  // namespace

void query_updater_set_instance(std::shared_ptr<QueryUpdater> updater) { instance.set(std::move(updater)); }

void query_updater_update_queries(ChangeSet changes, bool force) {
  instance.call(&QueryUpdater::update_queries, std::move(changes), force);
}

}  // namespace libkestrun
