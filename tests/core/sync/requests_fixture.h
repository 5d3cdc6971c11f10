// The local sync server on 127.0.0.1 and, on a core thread of the test, the request clients over
// one TLS connection to it, beside the real account, user and preference managers. Until the
// product's server client is joined here, `WireServerClient` writes the clients' requests to the
// connection as they are and hands every incoming message to the clients' handlers by its type.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "brelt/api_client.h"
#include "brelt/uv_thread.h"
#include "core/accounts/account_manager_impl.h"
#include "core/accounts/user_manager_impl.h"
#include "core/foundation/json_conversion.h"
#include "core/foundation/leveldb_store.h"
#include "core/foundation/notification_center.h"
#include "core/foundation/pref_manager.h"
#include "core/sync/account_server_client_impl.h"
#include "core/sync/preference_server_client.h"
#include "core/sync/push_server_client.h"
#include "core/sync/user_server_client_impl.h"
#include "support/fake_snapshot_server_client.h"
#include "support/on_loop.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "tests/tools/sync_server/sync_client.h"
#include "tools/sync_server/sync_server.h"

namespace kestrun_test {

using jsonette::Json;
using libkestrun::internal::ServerClient;

class WireServerClient final : public ServerClient {
 public:
  using Receiver = std::function<void(const Json&)>;

  WireServerClient(brelt::UvThread& thread, uint16_t port, Receiver receive) : thread_(thread) {
    brelt::ApiClient::Options options;
    options.version = "1.0";
    options.device = "macos";
    options.host = "localhost";
    options.port = std::to_string(port);
    options.hmac_key = sync_server_test::test_key();
    thread_.post_sync([&] {
      client_ = std::make_unique<brelt::ApiClient>(nullptr, thread_.get_loop(), options);
      client_->on_connect = [this] { connected_ = true; };
      client_->on_data = std::move(receive);
      client_->connect();
    });
  }
  ~WireServerClient() override {
    thread_.post_sync([&] { client_.reset(); });
  }

  bool is_connected() override { return connected_; }
  void connect() override {}
  void connect_and_sync() override {}
  bool schedule_disconnect(unsigned) override { return false; }
  void disconnect() override {}
  bool is_connected_or_connecting() override { return connected_; }
  void markAccountAsStreamable(const std::string&) override {}
  void stop_trouble_timer() override {}
  void write_message(const Json& message) override { client_->write(Json(message)); }
  void send_document(const std::string&, const Json&, const Json&, bool) override {}
  void send_command(std::unique_ptr<libkestrun::ServerCommand>) override {}
  void send_json(const Json& message) override { client_->write(Json(message)); }
  void send(const std::string& method, const Json& params, const std::string& id, bool write_now) override {
    Json envelope = Json::object{{"id", id}, {"method", method}, {"params", params}};
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sent_.push_back(envelope);
    }
    if (write_now) client_->write(std::move(envelope));
  }
  void prime_search(const std::string&) override {}
  void search_query(const std::string&, const std::string&, const std::string&, const std::string&,
                    int) override {}
  void search_fetch(const std::string&, const std::string&, const std::string&, const std::string&) override {
  }

  // The requests sent so far, in order.
  std::vector<Json> sent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
  }

 private:
  brelt::UvThread& thread_;
  std::unique_ptr<brelt::ApiClient> client_;  // core thread
  std::atomic<bool> connected_{false};
  std::mutex mutex_;
  std::vector<Json> sent_;  // guarded by mutex_
};

// What one request's callbacks were called with.
struct Outcome {
  void succeed(const Json& value) {
    std::lock_guard<std::mutex> lock(mutex);
    results.push_back(value);
  }
  void fail(int code) {
    std::lock_guard<std::mutex> lock(mutex);
    failures.push_back(code);
  }
  // Waits for the first callback; true when it came.
  bool wait() {
    return wait_until([&] {
      std::lock_guard<std::mutex> lock(mutex);
      return !results.empty() || !failures.empty();
    });
  }
  Json result() {
    std::lock_guard<std::mutex> lock(mutex);
    return results.empty() ? Json() : results.front();
  }
  std::optional<int> failure() {
    std::lock_guard<std::mutex> lock(mutex);
    if (failures.empty()) return std::nullopt;
    return failures.front();
  }
  size_t calls() {
    std::lock_guard<std::mutex> lock(mutex);
    return results.size() + failures.size();
  }

  libkestrun::internal::UserRequestSuccess user_success() {
    return [this](Json& result) { succeed(result); };
  }
  libkestrun::internal::UserRequestFailure user_failure() {
    return [this](KSServerClientUserModifyFailureType code) { fail(static_cast<int>(code)); };
  }
  libkestrun::internal::AccountRequestSuccess account_success() {
    return [this](json_t* result) { succeed(patch::json_from_jansson(result)); };
  }
  libkestrun::internal::AccountRequestFailure account_failure() {
    return [this](KSServerClientAccountModifyFailureType code) { fail(static_cast<int>(code)); };
  }

  std::mutex mutex;
  std::vector<Json> results;
  std::vector<int> failures;
};

struct RequestTimes {
  std::chrono::milliseconds timeout = std::chrono::seconds(20);
  libkestrun::internal::DeferFunction defer;  // the anonymous registration's back-off
};

class RequestsTest : public ::testing::Test {
 protected:
  void SetUp() override { signal(SIGPIPE, SIG_IGN); }

  ~RequestsTest() override {
    if (core) run([&] { clients.reset(); });
    wire.reset();
  }

  // Starts the server and connects the clients to it.
  void start(RequestTimes times = {}) {
    sync_server::ServerOptions options;
    options.state_directory = dir.file("server");
    options.hmac_key = sync_server_test::test_key();
    server = std::make_unique<sync_server::SyncServer>(options);
    sync_server_test::trust_authority(server->authority_pem());
    wire =
        std::make_unique<WireServerClient>(*core, server->port(), [this](Json message) { receive(message); });
    times_ = times;
    rebuild();
  }

  // New clients and managers over the same store and connection, as after a restart.
  void rebuild() {
    run([&] { clients.reset(); });
    libkestrun::internal::UserRequestTimes user_times;
    user_times.timeout = times_.timeout;
    clients = std::make_unique<Clients>(*this, times_, user_times);
  }

  template <class F>
  auto run(F f) -> decltype(f()) {
    return run_on(*core, f);
  }

  // Registers this device anonymously and authenticates the connection; the state document.
  Json sign_in(const Json& credentials = Json()) {
    Outcome outcome;
    run([&] {
      if (credentials.is_null()) {
        users().registerAnonymousDevice("V1", "macos", "test mac", outcome.user_success());
      } else {
        users().registerDevice(Uid(credentials["uid"].string_value()), "V1", "macos", "test mac",
                               outcome.user_success(), outcome.user_failure());
      }
    });
    EXPECT_TRUE(outcome.wait());
    Json state = outcome.result();
    authenticate(state);
    return state;
  }

  void authenticate(const Json& state) {
    run([&] {
      wire->send_json(Json::object{{"method", "USER_AUTH_DEVICE"},
                                   {"params", Json::object{{"auth_version", 1},
                                                           {"user_id", state["user_id"]},
                                                           {"device_id", state["device_id"]},
                                                           {"device_secret", state["device_secret"]}}}});
    });
  }

  // The last request of `method` sent so far, null when none.
  Json last_sent(const std::string& method) {
    Json found;
    for (const Json& message : wire->sent()) {
      if (message["method"] == Json(method)) found = message;
    }
    return found;
  }
  size_t sent_count(const std::string& method) {
    size_t count = 0;
    for (const Json& message : wire->sent()) count += message["method"] == Json(method);
    return count;
  }

  // Waits for an incoming message `match` accepts.
  Json wait_received(const std::function<bool(const Json&)>& match) {
    Json found;
    wait_until([&] {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const Json& message : received_) {
        if (match(message)) {
          found = message;
          return true;
        }
      }
      return false;
    });
    return found;
  }

  struct Uid final : libkestrun::HarnvikCredentials {
    explicit Uid(const std::string& uid) : HarnvikCredentials(uid) {}
    Json to_json() const override { return Json::object{{"type", 2}, {"uid", getUid()}, {"token", "t"}}; }
  };

  // The clients and the managers they call, built and destroyed together on the test's thread.
  struct Clients {
    Clients(RequestsTest& test, const RequestTimes& times, libkestrun::internal::UserRequestTimes user_times)
        : accounts(std::make_shared<libkestrun::AccountManagerImpl>(test.center, test.store)),
          prefs(test.core.get(), test.center, test.store, accounts.get()),
          user_manager(std::make_shared<libkestrun::UserManagerImpl>(test.center, test.store, *accounts)),
          users(*test.core, test.wire.get(), accounts.get(), &prefs, user_times, times.defer),
          account_requests(*test.core, test.store, accounts.get(), user_manager.get(), &snapshots,
                           test.wire.get(), times.timeout),
          preferences(test.wire.get()),
          push(test.store, 5, "com.kestrun.test", test.wire.get()) {
      accounts->load();
    }
    std::shared_ptr<libkestrun::AccountManagerImpl> accounts;
    libkestrun::PrefManager prefs;
    std::shared_ptr<libkestrun::UserManagerImpl> user_manager;
    FakeSnapshotServerClient snapshots;
    libkestrun::internal::UserServerClientImpl users;
    libkestrun::internal::AccountServerClientImpl account_requests;
    libkestrun::internal::PreferenceServerClient preferences;
    libkestrun::internal::PushServerClient push;
  };

  libkestrun::internal::UserServerClientImpl& users() { return clients->users; }
  libkestrun::internal::AccountServerClientImpl& account_requests() { return clients->account_requests; }

  TempDir dir;
  std::unique_ptr<sync_server::SyncServer> server;
  std::unique_ptr<brelt::UvThread> core = std::make_unique<brelt::UvThread>(true);
  std::shared_ptr<libkestrun::NotificationCenter> center =
      std::make_shared<libkestrun::NotificationCenter>(*core);
  std::shared_ptr<libkestrun::KvStore> store =
      std::make_shared<libkestrun::LeveldbStore>(dir.file("defaultsdb"));
  std::unique_ptr<WireServerClient> wire;
  std::unique_ptr<Clients> clients;

 private:
  // Core thread: records the message, then hands it to its client as the incoming dispatch does.
  void receive(const Json& message) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.push_back(message);
    }
    if (!clients) return;
    const std::string type = message["type"].is_string() ? message["type"].string_value() : "";
    const Json& params = message["params"];
    if (type == "NOTIFICATION") {
      const Json& method = message["method"];
      if (method == Json("USER_STATE")) users().handleUserState(params);
      if (method == Json("USER_UNAUTHORIZED")) users().handleUnauthorized(params);
      if (method == Json("AUTH")) {
        patch::JanssonPtr auth(patch::jansson_from_json(params));
        account_requests().handleAuthNotification(auth.get());
      }
      return;
    }
    const std::string id = message["id"].is_string() ? message["id"].string_value() : "";
    const Json& result = message["result"];
    const Json& error = message["error"];
    if (type == "USER_NEW_DEVICE") users().handleNewDeviceResponse(id, result, error);
    if (type == "USER_UNLINK") users().handleUnlinkResponse(id, result, error);
    if (type == "USER_LINK") users().handleLinkResponse(id, result, error);
    if (type == "USER_SET_AUTO_AUTH") users().handleSetAutoAuthResponse(id, result, error);
    patch::JanssonPtr result_json(result.is_null() ? nullptr : patch::jansson_from_json(result));
    patch::JanssonPtr error_json(error.is_null() ? nullptr : patch::jansson_from_json(error));
    if (type == "ACCOUNT_CREATE")
      account_requests().handleAccountCreateResponse(id, result_json.get(), error_json.get());
    if (type == "ACCOUNT_ASSOCIATE")
      account_requests().handleAccountAssociateResponse(id, result_json.get(), error_json.get());
    if (type == "ACCOUNT_UPDATE")
      account_requests().handleAccountUpdateResponse(id, result_json.get(), error_json.get());
    if (type == "ACCOUNT_REMOVE")
      account_requests().handleAccountRemoveResponse(id, result_json.get(), error_json.get());
  }

  RequestTimes times_;
  std::mutex mutex_;
  std::vector<Json> received_;  // guarded by mutex_
};

}  // namespace kestrun_test
