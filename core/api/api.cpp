// Construction and teardown of the core facade. The order of the steps is the design's (see
// docs/design.md, "The core facade"); comments say why a step sits where it does.
#include "core/api/api.h"

#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <utility>

#include "brelt/log.h"
#include "brelt/semaphore.h"
#include "core/accounts/account_status_manager.h"
#include "core/data/consumer_center.h"
#include "core/data/data_center.h"
#include "core/foundation/leveldb_store.h"
#include "core/foundation/thread_pool.h"
#include "core/model/db_context.h"
#include "core/model/db_kestrun_object.h"
#include "core/model/query_updater.h"
#include "core/services/sanity.h"
#include "core/store/cpp_sqlite3_db.h"
#include "core/sync/account_server_client.h"
#include "core/sync/auto_swipe_server_client.h"
#include "core/sync/kestrun_object_server_client.h"
#include "core/sync/snapshot_server_client.h"
#include "core/sync/user_server_client.h"

namespace libkestrun {

namespace {

// A data directory where the store cannot be made (missing, not writable, not a directory) is
// reported to the host as the defaults being unreadable; the store's own words go to the log.
std::shared_ptr<Defaults> make_defaults(const Config& config, const Overrides& overrides) {
  if (overrides.kv_store) return std::make_shared<Defaults>(overrides.kv_store);
  try {
    return std::make_shared<Defaults>(config.data_directory);
  } catch (const LeveldbStore::IOError& error) {
    brelt::log_error("Api", error.what());
    throw InaccessibleFsError("Unable to read Defaults");
  }
}

template <class T>
std::shared_ptr<T> or_default(const std::shared_ptr<T>& given) {
  return given ? given : std::make_shared<T>();
}

ServerUrls urls_of(const ServerEnv& env) {
  ServerUrls urls;
  env.copy_urls(urls);
  return urls;
}

// Every process-wide instance the facade registers, and those the server client's set-up
// publishes for its sub-clients; an empty pointer clears them.
void clear_instances() {
  account_manager_set_instance(nullptr);
  pref_manager_set_instance(nullptr);
  sync_status_manager_set_instance(nullptr);
  counts_manager_set_instance(nullptr);
  file_manager_set_instance(nullptr);
  offline_manager_set_instance(nullptr);
  account_status_manager_set_instance(nullptr);
  attachment_manager_set_instance(nullptr);
  changes_manager_set_instance(nullptr);
  email_resource_manager_set_instance(nullptr);
  search_data_manager_set_instance(nullptr);
  SnoozeTimeCalculator::setGlobalInstance(nullptr);
  undo_manager_set_instance(nullptr);
  list_ordering_manager_set_instance(nullptr);
  user_manager_set_instance(nullptr);
  internal::server_client_set_instance(nullptr);
  internal::auto_swipe_server_client_set_instance(nullptr);
  internal::kestrun_object_server_client_set_instance(nullptr);
  query_updater_set_instance(nullptr);
  DBKestrunObject::setNotificationCenter(nullptr);
  notification_center_set_instance(nullptr);
}

}  // namespace

Api::Api(Config config, Overrides overrides, KSHttp::DownloadHook download_hook,
         KSHttp::UploadHook upload_hook, StopHooks stop_hooks)
    : brelt::UvThread(true),
      notification_center_(std::make_shared<NotificationCenter>(*this)),
      defaults_(make_defaults(config, overrides)),
      kv_store_(defaults_->get_store()),
      file_utility_(or_default(overrides.file_utility)),
      date_utility_(or_default(overrides.date_utility)),
      ui_utility_(std::make_shared<UiUtility>()),
      task_manager_(overrides.task_manager ? overrides.task_manager : std::make_shared<LoggingTaskManager>()),
      managers_(*this, config.server_env.signing_key, config.data_directory, config.resource_directory,
                urls_of(config.server_env), config.zero_inbox_base_url, config.connection_type,
                notification_center_, kv_store_, defaults_, file_utility_, task_manager_, *this),
      perf_logger_(std::make_shared<PerfLogger>(deviceTypeToString(config.device_type), config.app_version)),
      server_client_(std::make_shared<internal::ServerClientImpl>(
          *this, config.server_env, config.device_type, config.bundle_id, config.app_version,
          notification_center_, kv_store_, &managers_, perf_logger_)),
      controller_links_(std::make_shared<internal::ServerControllerLinks>(internal::ServerControllerClients{
          *server_client_, server_client_->snapshot_client(), server_client_->account_client(),
          server_client_->user_client(), server_client_->preference_client(),
          server_client_->push_client()})),
      controller_(
          *this, config.device_type,
          internal::ControllerManagers{
              &managers_, *managers_.account_manager, *managers_.user_manager, *managers_.user_manager,
              *managers_.pref_manager, *managers_.offline_manager, *managers_.changes_manager,
              *managers_.counts_manager, *managers_.list_ordering_manager, *managers_.badge_count_manager,
              *managers_.undo_manager, *managers_.sync_status_manager, *managers_.attachment_manager,
              [email = managers_.email_resource_manager] { email->sendQueuedAttachments(); }},
          notification_center_, task_manager_, controller_links_),
      stop_hooks_(std::move(stop_hooks)) {
  try {
    sanity::initialize(task_manager_, config.data_directory, config.sanity_dump_url);
    // Fetched before anything is registered or started.
    std::optional<std::string> key;
    if (config.encrypt_database) key = defaults_->get_encryption_key();

    notification_center_set_instance(notification_center_);
    // The HTTP request queue restored its saved requests while the managers were built, but holds
    // them until start(): the hooks are in place before any worker can take a transfer.
    KSHttp::Downloader::initialize(std::move(download_hook));
    KSHttp::Uploader::initialize(std::move(upload_hook));
    thread_pool::start(2);
    managers_.http_manager->start();

    account_manager_set_instance(managers_.account_manager);
    pref_manager_set_instance(managers_.pref_manager);
    sync_status_manager_set_instance(managers_.sync_status_manager);
    counts_manager_set_instance(managers_.counts_manager);
    file_manager_set_instance(managers_.file_manager);
    offline_manager_set_instance(managers_.offline_manager);
    account_status_manager_set_instance(managers_.account_status_manager);
    attachment_manager_set_instance(managers_.attachment_manager);
    changes_manager_set_instance(managers_.changes_manager);
    email_resource_manager_set_instance(managers_.email_resource_manager);
    search_data_manager_set_instance(managers_.search_data_manager);
    SnoozeTimeCalculator::setGlobalInstance(managers_.snooze_time_calculator);
    undo_manager_set_instance(managers_.undo_manager);
    list_ordering_manager_set_instance(managers_.list_ordering_manager);
    user_manager_set_instance(managers_.user_manager);

    managers_.file_manager->initialize();
    const std::unordered_set<std::string> doomed = managers_.account_manager->load();
    perf_logger_->setDeviceId(managers_.user_manager->getDeviceId());
    managers_.attachment_manager->rebuildIndex();
    DBKestrunObject::setNotificationCenter(notification_center_);

    open_database(config, key, doomed);
  } catch (...) {
    shut_down();
    throw;
  }
}

// The schema check, then the data center, the server client's instance and the consumer center,
// each opening its own connection on the core thread. A shared in-memory database lives only
// while a connection holds it, so a connection of our own stays open until both centers have
// theirs.
void Api::open_database(const Config& config, const std::optional<std::string>& key,
                        const std::unordered_set<std::string>& doomed_accounts) {
  std::string path;
  std::unique_ptr<CppSQLite3DB> keep_alive;
  if (config.in_memory_database) {
    path = "file:" + config.database_name + "?mode=memory&cache=shared";
    keep_alive = std::make_unique<CppSQLite3DB>();
    keep_alive->open(path.c_str());
    if (key) DBContext::set_key(*keep_alive, *key);
  } else {
    path = file_utility_->join(config.data_directory, config.database_name);
  }
  // Connections open with URI names allowed, which the in-memory path needs.
  DBContext::check_schema_version(path, config.in_memory_database, key, [this] {
    server_client_->reset_last_snapshot_sync();
    managers_.changes_manager->clear();
  });
  KestrunDataCenter::initialize(this, notification_center_, path, key);
  internal::server_client_set_instance(server_client_);
  KestrunConsumerCenter::initialize(this, path, key);
  consumer_center_open_ = true;
  for (const std::string& account_id : doomed_accounts)
    controller_.remove_email_account(
        account_id, false, [](const std::string&) {}, [](AccountActionErrorType) {});
}

Api::~Api() { shut_down(); }

void Api::drain() {
  brelt::Semaphore drained;
  post_low([&] { drained.notify(); });
  drained.wait();
}

void Api::shut_down() noexcept {
  // Everything queued so far runs first, the lowest priority included: a change the user made
  // just before shutting down is committed and in the outgoing queue before anything stops.
  drain();

  // A transfer stalled in the host's hook would hold its worker, and the pool's stop waits for
  // every worker: the hooks end first, with status 0, and later transfers fail at once. The pool
  // is stopped from this thread so that a worker handing its outcome to the core thread is
  // served meanwhile.
  if (stop_hooks_) stop_hooks_();
  thread_pool::stop();
  KSHttp::setDownloadFunction(nullptr);
  KSHttp::setUploadFunction(nullptr);
  // Behind the outcomes the transfers posted, which still find every manager.
  if (consumer_center_open_) KestrunConsumerCenter::resetToDefaultState();
  drain();

  // The sub-clients' request timers belong to the core thread.
  post_sync([] {
    internal::account_server_client_set_instance(nullptr);
    internal::user_server_client_set_instance(nullptr);
  });
  clear_instances();
}

}  // namespace libkestrun
