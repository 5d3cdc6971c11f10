// The server client against the local sync server over TLS on 127.0.0.1, with the real managers
// it reaches (user, sync status, outgoing queue, preferences, protocol trace, the data center over
// a fresh database) over one LevelDB store, a real core thread, and every notification recorded.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "brelt/semaphore.h"
#include "brelt/uv_thread.h"
#include "core/accounts/user_manager_impl.h"
#include "core/data/consumer_center.h"
#include "core/data/data_center.h"
#include "core/foundation/defaults.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/leveldb_store.h"
#include "core/foundation/notification_center.h"
#include "core/foundation/task_manager.h"
#include "core/services/offline_manager.h"
#include "core/services/sanity.h"
#include "core/services/sync_status_manager.h"
#include "core/sync/server_client_impl.h"
#include "support/fake_managers.h"
#include "support/on_loop.h"
#include "support/recording_account_calls.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "tests/tools/sync_server/sample_device.h"
#include "tests/tools/sync_server/sync_client.h"
#include "tools/sync_server/sync_server.h"

namespace kestrun_test {

using jsonette::Json;
using libkestrun::internal::ServerClientImpl;

inline constexpr char kSampleAccount[] = "acct-example-com";

class ServerClientTest : public ::testing::Test {
 protected:
  ServerClientTest() {
    // The server in this process writes to clients that go away; the one test of the client's own
    // set-up restores the default action itself.
    signal(SIGPIPE, SIG_IGN);
    DBContext::check_schema_version(dir_.file("kestrun.db"), false, std::nullopt, [] {});
    KestrunDataCenter::initialize(&thread_, center_, dir_.file("kestrun.db"), std::nullopt);
    KestrunConsumerCenter::initialize(&thread_, dir_.file("kestrun.db"), std::nullopt);
    libkestrun::sanity::initialize(tasks_, dir_.file(""), "https://localhost:1/sanity/dump");
    center_->listen_all([this](const std::string& name, const Json& payload) {
      std::lock_guard<std::mutex> lock(mutex_);
      posted_.emplace_back(name, payload);
    });
    libkestrun::user_manager_set_instance(users_);
    libkestrun::sync_status_manager_set_instance(status_);
    libkestrun::offline_manager_set_instance(offline_);
    managers_.accounts = &accounts_;
    managers_.prefs = prefs_.get();
    managers_.users = users_.get();
  }

  ~ServerClientTest() override {
    client_.reset();
    drain();
    run_on(thread_, [] { KestrunDataCenter::getMemoryContext()->clearStore(); });
    // The auto-swipe client points at the server client and the managers below: its instance
    // goes first, and the server client then releases it on the core thread.
    libkestrun::internal::auto_swipe_server_client_set_instance(nullptr);
    libkestrun::internal::server_client_set_instance(nullptr);
    libkestrun::internal::kestrun_object_server_client_set_instance(nullptr);
    // Their transactions' timers belong to the core thread.
    run_on(thread_, [] {
      libkestrun::internal::account_server_client_set_instance(nullptr);
      libkestrun::internal::user_server_client_set_instance(nullptr);
    });
    libkestrun::offline_manager_set_instance(nullptr);
    libkestrun::sync_status_manager_set_instance(nullptr);
    libkestrun::user_manager_set_instance(nullptr);
    run_on(thread_, [&] { users_.reset(); });
    prefs_.reset();
  }

  void start_server(uint32_t max_frame_bytes = 64u << 20) {
    sync_server::ServerOptions options;
    options.state_directory = dir_.file("state");
    options.hmac_key = sync_server_test::test_key();
    options.max_frame_bytes = max_frame_bytes;
    server_ = std::make_unique<sync_server::SyncServer>(options);
    sync_server_test::trust_authority(server_->authority_pem());
  }

  // The client under test, built on this (non-core) thread and installed as the instance.
  void make_client(const std::string& host = "localhost",
                   libkestrun::internal::ServerClientTimings timings = {}) {
    libkestrun::ServerEnv env;
    env.host = host;
    env.port = server_ ? std::to_string(server_->port()) : "1";
    const std::vector<unsigned char> key = sync_server_test::test_key();
    env.signing_key.assign(key.begin(), key.end());
    client_ =
        std::make_shared<ServerClientImpl>(thread_, env, libkestrun::DEVICE_TYPE_MACOS, "com.kestrun.test",
                                           "1.0", center_, store_, &managers_, perf_, timings);
    libkestrun::internal::server_client_set_instance(client_);
  }

  // Registers a device of a new anonymous user through a connection of its own, stores its identity for
  // the user manager, adds the sample account for it and returns its state document.
  Json register_device() {
    return sync_server_test::register_with_sample_account(server_->port(), kSampleAccount, store_);
  }

  // Connects and returns once the server has taken the device's authentication: a save the
  // server refuses before it has been answered without an error.
  void connect_authenticated() {
    const std::string probe = "probe-" + std::to_string(++probes_);
    run_on(thread_, [&] {
      client_->connect();
      client_->send("ITEM_SAVE",
                    Json::object{{"doc", Json::object{{"_id", probe}, {"acct_id", kSampleAccount}}}}, probe,
                    true);
    });
    ASSERT_TRUE(wait_until([&] { return replied(probe); }));
  }

  // The trace shows an error-free reply to the request `id`.
  bool replied(const std::string& id) const {
    return trace().find("\"error\":null,\"id\":\"" + id + "\",\"result\"") != std::string::npos;
  }

  // Returns once everything queued on the core thread so far, low priority included, has run.
  void drain() {
    brelt::Semaphore done;
    thread_.post_low([&] { done.notify(); });
    done.wait();
  }

  // Names posted so far, in order.
  std::vector<std::string> names() {
    run_on(thread_, [] {});
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> found;
    for (const auto& [name, payload] : posted_) found.push_back(name);
    return found;
  }
  size_t count(const std::string& name) {
    size_t n = 0;
    for (const std::string& posted : names()) n += posted == name;
    return n;
  }
  bool wait_posted(const std::string& name) {
    return wait_until([&] { return count(name) > 0; });
  }
  Json payload_of(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [posted, payload] : posted_)
      if (posted == name) return payload;
    return Json();
  }

  std::string trace() const {
    std::ifstream in(dir_.file("sanity"));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  TempDir dir_;
  std::unique_ptr<sync_server::SyncServer> server_;
  brelt::UvThread thread_{true};
  std::shared_ptr<libkestrun::NotificationCenter> center_ =
      std::make_shared<libkestrun::NotificationCenter>(thread_);
  std::shared_ptr<libkestrun::KvStore> store_ =
      std::make_shared<libkestrun::LeveldbStore>(dir_.file("defaults"));
  std::shared_ptr<libkestrun::LoggingTaskManager> tasks_ = std::make_shared<libkestrun::LoggingTaskManager>();
  RecordingAccountCalls accounts_;
  std::shared_ptr<libkestrun::UserManagerImpl> users_ =
      std::make_shared<libkestrun::UserManagerImpl>(center_, store_, accounts_);
  std::shared_ptr<libkestrun::SyncStatusManager> status_ =
      std::make_shared<libkestrun::SyncStatusManager>(center_, store_);
  std::shared_ptr<libkestrun::OfflineManager> offline_ = std::make_shared<libkestrun::OfflineManager>(
      libkestrun::OfflineManager::kConnectionWifi, std::make_shared<libkestrun::Defaults>(store_), tasks_,
      status_.get());
  std::unique_ptr<libkestrun::PrefManager> prefs_ =
      std::make_unique<libkestrun::PrefManager>(&thread_, center_, store_, &accounts_);
  FakeManagers managers_;
  std::shared_ptr<libkestrun::PerfLogger> perf_ = std::make_shared<libkestrun::PerfLogger>("macos", "1.0");
  std::shared_ptr<ServerClientImpl> client_;

  int probes_ = 0;
  std::mutex mutex_;
  std::vector<std::pair<std::string, Json>> posted_;  // guarded by mutex_
};

}  // namespace kestrun_test
