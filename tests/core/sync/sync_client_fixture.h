// What the tests of the auto-swipe and cloud search clients share: the data center over a fresh
// keyed database on a real core thread, a real user manager (over a real account manager) that
// holds the user "U1", and a recording server client in place of the connection.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "brelt/uv_thread.h"
#include "core/accounts/account_manager_impl.h"
#include "core/accounts/user_manager_impl.h"
#include "core/data/data_center.h"
#include "core/foundation/memory_store.h"
#include "core/foundation/notification_center.h"
#include "core/foundation/semaphore.h"
#include "core/sync/server_client.h"
#include "support/fake_server_client.h"
#include "support/on_loop.h"
#include "support/temp_dir.h"

namespace kestrun_test {

// Parses JSON text written with single quotes for readability; the caller releases it.
inline json_t* jansson(std::string text) {
  for (char& c : text) {
    if (c == '\'') c = '"';
  }
  json_error_t error;
  json_t* value = json_loads(text.c_str(), JSON_DECODE_ANY, &error);
  EXPECT_NE(value, nullptr) << error.text << " in " << text;
  return value;
}

class SyncClientTest : public ::testing::Test {
 protected:
  SyncClientTest() {
    libkestrun::internal::server_client_set_instance(server_);
    DBContext::check_schema_version(dir_.file("kestrun.db"), false, kKey, [] {});
    KestrunDataCenter::initialize(&thread_, center_, dir_.file("kestrun.db"), kKey);
    run_on(thread_, [&] {
      users_->updateFromStateDoc(jsonette::Json::object{{"user_id", "U1"}, {"device_id", "D1"}});
    });
  }
  ~SyncClientTest() override {
    drain();
    run_on(thread_, [] { KestrunDataCenter::getMemoryContext()->clearStore(); });
    libkestrun::internal::server_client_set_instance(nullptr);
  }

  // Returns once everything queued so far, low priority included, has run.
  void drain() {
    patch::semaphore done;
    thread_.post_low([&] { done.notify(); });
    done.wait();
  }

  template <class F>
  auto run(F f) -> decltype(f()) {
    return run_on(thread_, f);
  }

  // Reads the committed database on the core thread.
  template <class F>
  void inDatabase(F f) {
    KestrunDataCenter::performSyncDataTask(
        [&](std::vector<std::string>&, DBContext& context) { f(context); });
  }

  static inline const std::optional<std::string> kKey = std::string("a test key of the store");

  brelt::UvThread thread_{true};
  std::shared_ptr<libkestrun::NotificationCenter> center_ =
      std::make_shared<libkestrun::NotificationCenter>(thread_);
  TempDir dir_;
  libkestrun::AccountManagerImpl accounts_{center_, std::make_shared<libkestrun::MemoryStore>()};
  std::shared_ptr<libkestrun::UserManagerImpl> users_ = std::make_shared<libkestrun::UserManagerImpl>(
      center_, std::make_shared<libkestrun::MemoryStore>(), accounts_);
  std::shared_ptr<FakeServerClient> server_ = std::make_shared<FakeServerClient>();
};

}  // namespace kestrun_test
