#include "core/api/core_managers.h"

#include <utility>

#include "core/services/data_center_search_results.h"

namespace libkestrun {

CoreManagers::CoreManagers(brelt::UvThread& thread, const std::vector<uint8_t>& signing_key,
                           const std::string& data_directory, const std::string& resource_directory,
                           const ServerUrls& urls, const std::string& zero_inbox_base_url,
                           InternetConnectionType connection_type, std::shared_ptr<NotificationCenter> center,
                           std::shared_ptr<KvStore> store, std::shared_ptr<Defaults> defaults,
                           std::shared_ptr<FileUtility> file_utility,
                           std::shared_ptr<TaskManager> task_manager, brelt::UvThread& http_thread)
    : file_manager(std::make_shared<FileManager>(data_directory, resource_directory, file_utility)),
      account_manager(std::make_shared<AccountManagerImpl>(center, store)),
      pref_manager(std::make_shared<PrefManager>(&thread, center, store, account_manager.get())),
      sync_status_manager(std::make_shared<SyncStatusManager>(center, store)),
      counts_manager(std::make_shared<CountsManager>(center, store)),
      offline_manager(std::make_shared<OfflineManager>(connection_type, defaults, task_manager,
                                                       sync_status_manager.get())),
      account_status_manager(std::make_shared<AccountStatusManager>(
          center, account_manager.get(), counts_manager.get(), sync_status_manager.get())),
      attachment_manager(
          std::make_shared<AttachmentManagerImpl>(file_utility, account_manager.get(), file_manager.get())),
      badge_count_manager(std::make_shared<BadgeCountManager>(store, pref_manager.get(), counts_manager.get(),
                                                              sync_status_manager.get())),
      changes_manager(std::make_shared<ChangesManager>(store)),
      user_manager(std::make_shared<UserManagerImpl>(center, store, *account_manager)),
      email_resource_manager(std::make_shared<EmailResourceManagerImpl>(
          signing_key, urls, defaults, file_utility, task_manager, account_manager.get(),
          attachment_manager.get(), offline_manager.get(), user_manager.get())),
      search_data_manager(std::make_shared<SearchDataManager>(&thread, account_manager.get(),
                                                              std::make_shared<DataCenterSearchResults>())),
      snooze_time_calculator(std::make_shared<SnoozeTimeCalculator>(pref_manager.get())),
      undo_manager(std::make_shared<UndoManager>(center)),
      zero_inbox_manager(std::make_shared<ZeroInboxManager>(store, file_utility, center, *file_manager,
                                                            thread, zero_inbox_base_url)),
      list_ordering_manager(std::make_shared<ListOrderingManager>(store)),
      http_manager(std::make_shared<HttpManager>(store, http_thread)),
      notification_center(std::move(center)),
      kv_store(std::move(store)),
      defaults(std::move(defaults)) {}

}  // namespace libkestrun
