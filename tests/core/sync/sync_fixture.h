// The sync client's parts against the local sync server in process over TLS on 127.0.0.1: a real
// user manager over LevelDB on a core thread, the protocol trace in a scratch directory, and a
// recorder of what a connection delivers. Operations run on the core thread, as in the product.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "brelt/uv_thread.h"
#include "client_options.h"
#include "core/accounts/user_manager_impl.h"
#include "core/foundation/leveldb_store.h"
#include "core/foundation/notification_center.h"
#include "core/foundation/task_manager.h"
#include "core/services/sanity.h"
#include "core/sync/auto_auth_connection.h"
#include "support/on_loop.h"
#include "support/recording_account_calls.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "sync_client.h"
#include "tools/sync_server/sync_server.h"

namespace kestrun_test {

using jsonette::Json;

// What one connection delivered, readable from the test's thread.
class Delivered {
 public:
  void attach(libkestrun::internal::JsonConnection& connection) {
    connection.on_connect = [this] { update([&] { connected_ = true; }); };
    connection.on_data = [this](Json message) { update([&] { messages_.push_back(std::move(message)); }); };
    auto closed = [this] { update([&] { closed_ = true; }); };
    connection.on_end = closed;
    connection.on_read_error = [closed](brelt::Error) { closed(); };
    connection.on_write_error = [closed](brelt::Error) { closed(); };
  }

  // The first message `match` accepts; null when none came before the deadline or the end.
  Json wait_for(const std::function<bool(const Json&)>& match) {
    Json found;
    wait_until([&] {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const Json& message : messages_) {
        if (match(message)) {
          found = message;
          return true;
        }
      }
      return closed_;
    });
    return found;
  }
  Json wait_for_reply(const std::string& id) {
    return wait_for([&](const Json& m) { return m["id"] == Json(id); });
  }
  bool has_reply(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Json& message : messages_) {
      if (message["id"] == Json(id)) return true;
    }
    return false;
  }

 private:
  template <class F>
  void update(F f) {
    std::lock_guard<std::mutex> lock(mutex_);
    f();
  }

  std::mutex mutex_;
  std::vector<Json> messages_;
  bool connected_ = false;
  bool closed_ = false;
};

// A request that only an authenticated device gets a result for.
inline Json snapshot_request(const std::string& id) {
  return Json::object{
      {"method", "USER_SNAPSHOT"},
      {"id", id},
      {"params", Json::object{{"sync_state",
                               Json::object{{"user_item", Json::object{{"since", 0},
                                                                       {"exclude_ids", Json::object{}}}}}}}}};
}

class SyncServerTest : public ::testing::Test {
 protected:
  SyncServerTest() {
    signal(SIGPIPE, SIG_IGN);
    libkestrun::sanity::initialize(tasks, trace_dir.path(), "https://localhost:1/sanity/dump");
    sync_server::ServerOptions options;
    options.state_directory = server_dir.file("state");
    options.hmac_key = sync_server_test::test_key();
    server = std::make_unique<sync_server::SyncServer>(options);
    sync_server_test::trust_authority(server->authority_pem());
  }

  ~SyncServerTest() override {
    run([&] { manager.reset(); });
  }

  template <class F>
  auto run(F f) -> decltype(f()) {
    return run_on(thread, f);
  }

  // A device registered at the server; `uid` makes it a linked user's. The state document with
  // the secret.
  Json register_device(const std::string& uid = "") {
    sync_server_test::SyncClient client(server->port());
    EXPECT_TRUE(client.wait_connected());
    Json::object params{{"name", "test mac"}, {"type", "macos"}, {"vendor_id", "V1"}};
    if (!uid.empty()) params["harnvik_credentials"] = Json::object{{"uid", uid}};
    return client.request("USER_NEW_DEVICE", params)["result"];
  }

  // Makes `state` this installation's stored identity.
  void store_identity(const Json& state) {
    libkestrun::JsonKvStore(store).set_json(libkestrun::kUserDocKey,
                                            Json::object{{"user_id", state["user_id"]},
                                                         {"device_id", state["device_id"]},
                                                         {"device_secret", state["device_secret"]}});
  }

  std::string trace() const {
    std::ifstream in(trace_dir.file("sanity"));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> trace_lines_containing(const std::string& text) const {
    std::vector<std::string> found;
    std::ifstream in(trace_dir.file("sanity"));
    for (std::string line; std::getline(in, line);) {
      if (line.find(text) != std::string::npos) found.push_back(line);
    }
    return found;
  }

  TempDir trace_dir;
  TempDir server_dir;
  TempDir data_dir;
  std::shared_ptr<libkestrun::LoggingTaskManager> tasks = std::make_shared<libkestrun::LoggingTaskManager>();
  std::unique_ptr<sync_server::SyncServer> server;
  brelt::UvThread thread{true};
  std::shared_ptr<libkestrun::NotificationCenter> center =
      std::make_shared<libkestrun::NotificationCenter>(thread);
  std::shared_ptr<libkestrun::KvStore> store =
      std::make_shared<libkestrun::LeveldbStore>(data_dir.file("defaultsdb"));
  RecordingAccountCalls accounts;
  std::shared_ptr<libkestrun::UserManagerImpl> manager =
      std::make_shared<libkestrun::UserManagerImpl>(center, store, accounts);
};

}  // namespace kestrun_test
