// The controller over the real managers (accounts, user, preferences, outgoing queue, change
// tokens, counts, list order, badge, undo, sync status), the real task manager and the data center
// over a keyed database on a real core thread. The sync side is a recording stand-in whose events
// the test raises on the core thread; attachments are recorded.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "brelt/uv_thread.h"
#include "core/accounts/account_manager_impl.h"
#include "core/accounts/user_manager_impl.h"
#include "core/data/data_center.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/memory_store.h"
#include "core/foundation/notification_center.h"
#include "core/foundation/pref_manager.h"
#include "core/foundation/semaphore.h"
#include "core/foundation/task_manager.h"
#include "core/model/ks_item.h"
#include "core/sync/controller.h"
#include "support/fake_attachment_manager.h"
#include "support/fake_controller_links.h"
#include "support/fake_server_client.h"
#include "support/on_loop.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace kestrun_test {

using jsonette::Json;

// A key-value store whose writes can be made to fail, as a full disk does.
class BreakableStore : public libkestrun::MemoryStore {
 public:
  void set(const std::string& key, const std::vector<unsigned char>& value) override {
    if (broken) throw std::runtime_error("disk full");
    MemoryStore::set(key, value);
  }
  bool broken = false;
};

// The user manager's link event, raised by the test.
class LinkEvents : public lks::EventSource<libkestrun::harnvik_linked> {
 public:
  void raise(const std::string& previous, const std::string& next) {
    _notify<libkestrun::harnvik_linked>(previous, next);
  }
};

// The aggregate as the data center and the server client see it.
class ManagerAggregate : public libkestrun::Managers {
 public:
  ManagerAggregate(libkestrun::AccountManager& accounts, libkestrun::CountsManager& counts,
                   libkestrun::PrefManager& prefs, libkestrun::UserManager& user)
      : accounts_(accounts), counts_(counts), prefs_(prefs), user_(user) {}
  libkestrun::AccountManager* accountManager() override { return &accounts_; }
  libkestrun::CountsManager& countsManager() override { return counts_; }
  libkestrun::PrefManager* prefManager() override { return &prefs_; }
  libkestrun::UserManager* userManager() override { return &user_; }

 private:
  libkestrun::AccountManager& accounts_;
  libkestrun::CountsManager& counts_;
  libkestrun::PrefManager& prefs_;
  libkestrun::UserManager& user_;
};

class ControllerTest : public ::testing::Test {
 protected:
  using Controller = libkestrun::internal::Controller;
  static constexpr uint64_t kLinger = 50;
  static constexpr char kUser[] = "U1";

  ControllerTest() {
    DBContext::check_schema_version(path(), false, key(), [] {});
    libkestrun::internal::server_client_set_instance(server_);
    KestrunDataCenter::initialize(&thread_, center_, path(), key());
    center_->listen_all([this](const std::string& name, const Json&) {
      std::lock_guard<std::mutex> lock(mutex_);
      posted_.push_back(name);
    });
    libkestrun::JsonKvStore json(store_);
    json.set_json(libkestrun::AccountManagerImpl::kAccountsKey,
                  Json::array{account("A", "a@example.com"), account("B", "b@example.com")});
    json.set_json(libkestrun::kUserDocKey, Json::object{{"user_id", kUser},
                                                        {"device_id", "D1"},
                                                        {"device_secret", "S1"},
                                                        {"email_account_assocs", Json::object{}}});
    accounts_->load();
    controller_ =
        std::make_unique<Controller>(thread_, 5,
                                     libkestrun::internal::ControllerManagers{
                                         &aggregate_, *accounts_, *user_, links_events_, *prefs_, *offline_,
                                         *changes_, *counts_, *ordering_, *badge_, *undo_, *sync_status_,
                                         *attachments_, [this] { links_->record("resume_queued_uploads"); }},
                                     center_, tasks_, links_, kLinger);
  }
  ~ControllerTest() override {
    run([&] { controller_.reset(); });
    // Data tasks still queued (count updates after a snapshot, purges) use the managers.
    for (int i = 0; i < 3; ++i) {
      patch::semaphore drained;
      thread_.post_low([&] { drained.notify(); });
      drained.wait();
    }
    libkestrun::internal::server_client_set_instance(nullptr);
  }

  static Json account(const std::string& id, const std::string& address) {
    return Json::object{
        {"accountID", id}, {"emailAddress", address}, {"isPrimary", true}, {"parentAccountID", ""}};
  }
  std::string path() const { return dir_.file("kestrun.db"); }
  static std::optional<std::string> key() { return std::string("0123456789abcdef0123456789ABCDEF"); }

  template <class F>
  auto run(F f) -> decltype(f()) {
    return run_on(thread_, f);
  }
  // Waits until the core thread has run everything queued before, and what that queued at once.
  void settle() {
    for (int i = 0; i < 3; ++i) thread_.post_sync([] {});
  }

  std::vector<Call> link_calls() const { return links_->calls(); }
  bool called(const std::string& method) const {
    for (const auto& call : links_->calls()) {
      if (call.method == method) return true;
    }
    return false;
  }
  std::vector<std::string> posted() {
    std::lock_guard<std::mutex> lock(mutex_);
    return posted_;
  }
  bool was_posted(const std::string& name) {
    for (const auto& seen : posted()) {
      if (seen == name) return true;
    }
    return false;
  }

  // Stores an inbox item of `accountID`; `set` changes it further.
  void store_item(const std::string& id, const std::string& accountID,
                  const std::function<void(KSItem&)>& set = {}) {
    KestrunDataCenter::performSyncDataTask([&](std::vector<std::string>&, DBContext& context) {
      auto item = std::static_pointer_cast<KSItem>(context.createObject("KSITEM", id));
      item->setItemID(id);
      item->setAccountID(accountID);
      item->setState(libkestrun::ItemState::Inbox);
      if (set) set(*item);
    });
  }
  std::optional<libkestrun::ItemState> item_state(const std::string& id) {
    std::optional<libkestrun::ItemState> state;
    KestrunDataCenter::performSyncDataTask([&](std::vector<std::string>&, DBContext& context) {
      if (auto item = context.fetchItem(id)) state = item->row().get_STATE();
    });
    return state;
  }
  // A queued ITEM_UPDATE of the item, as the data writer queues it.
  void queue_update(const std::string& requestID, const std::string& itemID, const std::string& accountID) {
    offline_->addRequest(Json::object{
        {"method", "ITEM_UPDATE"},
        {"id", requestID},
        {"params",
         Json::object{{"doc", Json::object{{"_id", itemID}, {"acct_id", accountID}, {"state", 3}}}}}});
  }
  // The ids of the account's queued requests, as its next snapshot sends them.
  std::vector<std::string> sent_after_snapshot(const std::string& accountID) {
    server_->clear();
    run([&] { raise(links_->account_snapshot, accountID); });
    std::vector<std::string> ids;
    for (const auto& call : server_->calls()) {
      if (call.method != "send_json") continue;
      for (const auto& message : call.args[0].array_items()) ids.push_back(message["id"].string_value());
    }
    return ids;
  }

  TempDir dir_;
  brelt::UvThread thread_{true};
  std::shared_ptr<libkestrun::NotificationCenter> center_ =
      std::make_shared<libkestrun::NotificationCenter>(thread_);
  std::shared_ptr<libkestrun::MemoryStore> store_ = std::make_shared<libkestrun::MemoryStore>();
  std::shared_ptr<BreakableStore> pref_store_ = std::make_shared<BreakableStore>();
  std::shared_ptr<libkestrun::LoggingTaskManager> tasks_ = std::make_shared<libkestrun::LoggingTaskManager>();
  std::shared_ptr<libkestrun::AccountManagerImpl> accounts_ =
      std::make_shared<libkestrun::AccountManagerImpl>(center_, store_);
  std::shared_ptr<libkestrun::UserManagerImpl> user_ =
      std::make_shared<libkestrun::UserManagerImpl>(center_, store_, *accounts_);
  std::shared_ptr<libkestrun::PrefManager> prefs_ =
      std::make_shared<libkestrun::PrefManager>(&thread_, center_, pref_store_, accounts_.get());
  std::shared_ptr<libkestrun::SyncStatusManager> sync_status_ =
      std::make_shared<libkestrun::SyncStatusManager>(center_, store_);
  std::shared_ptr<libkestrun::OfflineManager> offline_ = std::make_shared<libkestrun::OfflineManager>(
      libkestrun::OfflineManager::kConnectionWifi, std::make_shared<libkestrun::Defaults>(store_), tasks_,
      sync_status_.get());
  std::shared_ptr<libkestrun::ChangesManager> changes_ = std::make_shared<libkestrun::ChangesManager>(store_);
  std::shared_ptr<libkestrun::CountsManager> counts_ =
      std::make_shared<libkestrun::CountsManager>(center_, store_);
  std::shared_ptr<libkestrun::ListOrderingManager> ordering_ =
      std::make_shared<libkestrun::ListOrderingManager>(store_);
  std::shared_ptr<libkestrun::BadgeCountManager> badge_ = std::make_shared<libkestrun::BadgeCountManager>(
      store_, prefs_.get(), counts_.get(), sync_status_.get());
  std::shared_ptr<libkestrun::UndoManager> undo_ = std::make_shared<libkestrun::UndoManager>(center_);
  std::shared_ptr<FakeAttachmentManager> attachments_ = std::make_shared<FakeAttachmentManager>();
  ManagerAggregate aggregate_{*accounts_, *counts_, *prefs_, *user_};
  LinkEvents links_events_;
  std::shared_ptr<FakeServerClient> server_ = std::make_shared<FakeServerClient>();
  std::shared_ptr<FakeControllerLinks> links_ = std::make_shared<FakeControllerLinks>();
  std::unique_ptr<Controller> controller_;

  std::mutex mutex_;
  std::vector<std::string> posted_;  // guarded by mutex_
};

}  // namespace kestrun_test
