// The core's long-lived managers in one object, owned by the facade (core/api/api.h).
//
// The aggregate gives the managers one construction order, in which each receives only managers
// built before it, and the reverse destruction order. It implements the view of managers.h that
// the data center, the server client and the controller hold, so those layers never see this
// header.
//
// Ownership: every manager is held by std::shared_ptr because several keep weak references to
// themselves for work that completes later (transfers, posted closures); the facade registers the
// same pointers as the process-wide instances and clears them before this aggregate is destroyed,
// so each manager dies with the aggregate. The last three members keep the notification centre,
// the key-value store and the defaults alive as long as any manager; being declared last, they are
// released first, and the file manager, declared first, goes last.
//
// Threads: built and destroyed on the thread that builds the facade; posts nothing and waits for
// nothing itself. Members whose work runs on the core thread keep the reference they were given.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "brelt/uv_thread.h"
#include "core/accounts/account_manager_impl.h"
#include "core/accounts/account_status_manager.h"
#include "core/accounts/user_manager_impl.h"
#include "core/api/config.h"
#include "core/api/managers.h"
#include "core/api/server_env.h"
#include "core/foundation/defaults.h"
#include "core/foundation/file_utility.h"
#include "core/foundation/kv_store.h"
#include "core/foundation/notification_center.h"
#include "core/foundation/pref_manager.h"
#include "core/foundation/task_manager.h"
#include "core/model/snooze_time_calculator.h"
#include "core/services/attachment_manager_impl.h"
#include "core/services/badge_count_manager.h"
#include "core/services/changes_manager.h"
#include "core/services/counts_manager.h"
#include "core/services/email_resource_manager_impl.h"
#include "core/services/file_manager.h"
#include "core/services/http_manager.h"
#include "core/services/list_ordering_manager.h"
#include "core/services/offline_manager.h"
#include "core/services/search_data_manager.h"
#include "core/services/sync_status_manager.h"
#include "core/services/undo_manager.h"
#include "core/services/zero_inbox_manager.h"

namespace libkestrun {

class CoreManagers final : public Managers {
 public:
  // `thread` is the core thread: the preference, search and empty-inbox managers run their
  // timers and posted work on it, and `http_thread` (the same thread in the facade) carries the
  // HTTP request queue. Throws what a manager's constructor throws, after destroying the managers
  // already built.
  CoreManagers(brelt::UvThread& thread, const std::vector<uint8_t>& signing_key,
               const std::string& data_directory, const std::string& resource_directory,
               const ServerUrls& urls, const std::string& zero_inbox_base_url,
               InternetConnectionType connection_type, std::shared_ptr<NotificationCenter> center,
               std::shared_ptr<KvStore> store, std::shared_ptr<Defaults> defaults,
               std::shared_ptr<FileUtility> file_utility, std::shared_ptr<TaskManager> task_manager,
               brelt::UvThread& http_thread);
  CoreManagers(const CoreManagers&) = delete;
  CoreManagers& operator=(const CoreManagers&) = delete;
  ~CoreManagers() override = default;

  // The view of managers.h.
  AccountManager* accountManager() override { return account_manager.get(); }
  CountsManager& countsManager() override { return *counts_manager; }
  PrefManager* prefManager() override { return pref_manager.get(); }
  UserManager* userManager() override { return user_manager.get(); }

  // In construction order; never replaced.
  const std::shared_ptr<FileManager> file_manager;
  const std::shared_ptr<AccountManagerImpl> account_manager;
  const std::shared_ptr<PrefManager> pref_manager;
  const std::shared_ptr<SyncStatusManager> sync_status_manager;
  const std::shared_ptr<CountsManager> counts_manager;
  const std::shared_ptr<OfflineManager> offline_manager;
  const std::shared_ptr<AccountStatusManager> account_status_manager;
  const std::shared_ptr<AttachmentManagerImpl> attachment_manager;
  const std::shared_ptr<BadgeCountManager> badge_count_manager;  // no process-wide instance
  const std::shared_ptr<ChangesManager> changes_manager;
  const std::shared_ptr<UserManagerImpl> user_manager;
  const std::shared_ptr<EmailResourceManagerImpl> email_resource_manager;
  const std::shared_ptr<SearchDataManager> search_data_manager;
  const std::shared_ptr<SnoozeTimeCalculator> snooze_time_calculator;
  const std::shared_ptr<UndoManager> undo_manager;
  const std::shared_ptr<ZeroInboxManager> zero_inbox_manager;  // no process-wide instance
  const std::shared_ptr<ListOrderingManager> list_ordering_manager;
  const std::shared_ptr<HttpManager> http_manager;  // no process-wide instance
  const std::shared_ptr<NotificationCenter> notification_center;
  const std::shared_ptr<KvStore> kv_store;
  const std::shared_ptr<Defaults> defaults;
};

}  // namespace libkestrun
