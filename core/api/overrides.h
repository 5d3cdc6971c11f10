// Optional replacements for the core's platform utilities, chosen by the host. Each field may be
// null, which selects the core's own default: a plain FileUtility, a plain DateUtility, a
// LoggingTaskManager and a LevelDB store in the data directory.
#pragma once

#include <memory>

#include "core/foundation/date_utility.h"
#include "core/foundation/file_utility.h"
#include "core/foundation/kv_store.h"
#include "core/foundation/task_manager.h"

namespace libkestrun {

struct Overrides {
  std::shared_ptr<FileUtility> file_utility;
  std::shared_ptr<DateUtility> date_utility;
  std::shared_ptr<TaskManager> task_manager;
  std::shared_ptr<KvStore> kv_store;
};

}  // namespace libkestrun
