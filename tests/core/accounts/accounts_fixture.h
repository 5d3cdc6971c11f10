// A real account manager over a LevelDB directory, with the notifications it posts recorded in
// order, the data center over a keyed database on the core thread (a reset purges each account's
// stored data there), and the sync connection and account requests as recording fakes.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "brelt/uv_thread.h"
#include "core/accounts/account_manager_impl.h"
#include "core/data/data_center.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/leveldb_store.h"
#include "core/foundation/notification_center.h"
#include "support/fake_account_server_client.h"
#include "support/fake_server_client.h"
#include "support/temp_dir.h"

namespace kestrun_test {

using Notification = std::pair<std::string, jsonette::Json>;

// A stored account object; only the members given are written.
inline jsonette::Json stored_account(const std::string& id, const std::string& address, bool primary = true,
                                     const std::string& parent = "", const std::string& description = "") {
  return jsonette::Json::object{{"accountID", id},
                                {"emailAddress", address},
                                {"emailDescription", description},
                                {"isPrimary", primary},
                                {"parentAccountID", parent}};
}

class AccountsTest : public ::testing::Test {
 protected:
  AccountsTest() {
    center->listen_all([this](const std::string& name, const jsonette::Json& payload) {
      std::lock_guard<std::mutex> lock(mutex_);
      posted_.emplace_back(name, payload);
    });
    DBContext::check_schema_version(dir.file("kestrun.db"), false, kDatabaseKey, [] {});
    KestrunDataCenter::initialize(&core, center, dir.file("kestrun.db"), kDatabaseKey);
    open();
    libkestrun::internal::server_client_set_instance(server);
    libkestrun::internal::account_server_client_set_instance(requests);
    server->connected = true;
  }
  ~AccountsTest() override {
    // Deliveries still queued would record into members that are destroyed before the thread.
    core.post_sync([] {});
    libkestrun::internal::server_client_set_instance(nullptr);
    libkestrun::internal::account_server_client_set_instance(nullptr);
  }

  // A new manager over the same directory, loaded.
  void reopen() {
    manager.reset();
    store.reset();
    open();
  }

  // Starts over from a stored array (or any value) under the accounts key.
  void start_with(const jsonette::Json& stored) {
    manager.reset();
    libkestrun::JsonKvStore(store).set_json(libkestrun::AccountManagerImpl::kAccountsKey, stored);
    manager = std::make_shared<libkestrun::AccountManagerImpl>(center, store);
    manager->load();
  }

  // The stored array, or null.
  jsonette::Json stored() {
    return libkestrun::JsonKvStore(store)
        .get_json(libkestrun::AccountManagerImpl::kAccountsKey)
        .value_or(nullptr);
  }
  jsonette::Json stored_record(const std::string& id) {
    const jsonette::Json all = stored();
    for (const jsonette::Json& record : all.array_items()) {
      if (record["accountID"] == jsonette::Json(id)) return record;
    }
    return nullptr;
  }

  // The notifications posted so far, once every queued delivery has run; clears the record.
  std::vector<Notification> notifications() {
    core.post_sync([] {});
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(posted_, {});
  }

  // Ids of a list, in its order.
  static std::vector<std::string> ids(const libkestrun::EmailAccountList& list) {
    std::vector<std::string> result;
    for (const auto& record : *list) result.push_back(record->accountID);
    return result;
  }

  static inline const std::string kDatabaseKey = "0123456789abcdef0123456789ABCDEF";

  TempDir dir;
  brelt::UvThread core{true};
  std::shared_ptr<libkestrun::NotificationCenter> center =
      std::make_shared<libkestrun::NotificationCenter>(core);
  std::shared_ptr<libkestrun::KvStore> store;
  std::shared_ptr<libkestrun::AccountManagerImpl> manager;
  std::shared_ptr<FakeServerClient> server = std::make_shared<FakeServerClient>();
  std::shared_ptr<FakeAccountServerClient> requests = std::make_shared<FakeAccountServerClient>();

 private:
  void open() {
    store = std::make_shared<libkestrun::LeveldbStore>(dir.file("defaultsdb"));
    manager = std::make_shared<libkestrun::AccountManagerImpl>(center, store);
    manager->load();
  }

  std::mutex mutex_;
  std::vector<Notification> posted_;  // guarded by mutex_
};

}  // namespace kestrun_test
