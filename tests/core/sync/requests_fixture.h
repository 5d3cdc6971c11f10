// The request clients of the real server client against the local sync server over TLS on
// 127.0.0.1, beside the real account, user and preference managers over one store.
//
// What the client wrote and read is taken from its protocol trace ("Sending message" and
// "Received message" lines), where the values of sensitive keys read "[redacted]": where a test
// needs such a value, the server's answer shows that the real one went out.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/accounts/account_manager_impl.h"
#include "core/accounts/user_manager_impl.h"
#include "core/foundation/json_conversion.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/pref_manager.h"
#include "server_client_fixture.h"

namespace kestrun_test {

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
  std::chrono::milliseconds timeout = std::chrono::seconds(20);  // of the user and account requests
  libkestrun::internal::DeferFunction defer;                     // the anonymous registration's back-off
};

class RequestsTest : public ServerClientTest {
 protected:
  ~RequestsTest() override { stop_client(); }

  // Starts the server and connects a server client to it.
  void start(RequestTimes times = {}) {
    start_server();
    times_ = times;
    rebuild();
  }

  // New managers and a new server client over the same store, connected, as after a restart.
  void rebuild() {
    stop_client();
    clients = std::make_unique<Clients>(*this);
    managers_.accounts = clients->accounts.get();
    managers_.prefs = &clients->prefs;
    managers_.users = clients->user_manager.get();
    libkestrun::user_manager_set_instance(clients->user_manager);
    libkestrun::internal::ServerClientTimings timings;
    timings.user_requests.timeout = times_.timeout;
    timings.account_request_timeout = times_.timeout;
    timings.user_retry_defer = times_.defer;
    timings.connection.backoff_initial_ms = 10;
    timings.connection.backoff_maximum_ms = 100;
    make_client("localhost", timings);
    connect();
  }

  // Connects and waits for the connection; a registered device's has authenticated and asked for
  // its snapshots by then. A linked user connects only with the Harnvik credentials of its uid,
  // which the application hands the user manager as it starts; they are handed over here.
  void connect() {
    const size_t auths = sent_count("USER_AUTH_DEVICE");
    const size_t snapshots = sent_count("USER_SNAPSHOT");
    const bool registered = run([&] {
      libkestrun::UserManagerImpl& manager = *clients->user_manager;
      if (manager.isHarnvikLinked())
        manager.useHarnvikCredentials(std::make_shared<Uid>(manager.getUserId()));
      return manager.deviceIsRegistered();
    });
    run([&] { client_->connect(); });
    ASSERT_TRUE(wait_until([&] { return client_->is_connected(); }));
    if (registered) {
      ASSERT_TRUE(wait_until(
          [&] { return sent_count("USER_AUTH_DEVICE") > auths && sent_count("USER_SNAPSHOT") > snapshots; }));
    }
  }

  template <class F>
  auto run(F f) -> decltype(f()) {
    return run_on(thread_, f);
  }

  // Registers this device (anonymously, or with the Harnvik uid of `credentials`) and
  // authenticates the connection; the state document.
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

  // Stores the device's identity for the user manager and connects anew: the new connection
  // authenticates with it.
  void authenticate(const Json& state) {
    sync_server_test::store_identity(store_, state);
    run([&] { client_->disconnect(); });
    connect();
  }

  // The messages of the trace lines labelled `label`, in order.
  std::vector<Json> traced(const std::string& label) const {
    std::vector<Json> found;
    std::istringstream in(trace());
    const std::string marker = "|" + label + ": ";
    for (std::string line; std::getline(in, line);) {
      const size_t at = line.find(marker);
      if (at == std::string::npos) continue;
      std::string error;
      Json message = Json::parse(line.substr(at + marker.size()), error);
      if (error.empty()) found.push_back(std::move(message));
    }
    return found;
  }
  // What the client wrote to its connections, in order.
  std::vector<Json> sent() const { return traced("Sending message"); }

  // The last request of `method` written so far, null when none.
  Json last_sent(const std::string& method) const {
    Json found;
    for (const Json& message : sent()) {
      if (message["method"] == Json(method)) found = message;
    }
    return found;
  }
  size_t sent_count(const std::string& method, size_t since = 0) const {
    const std::vector<Json> all = sent();
    size_t count = 0;
    for (size_t i = since; i < all.size(); ++i) count += all[i]["method"] == Json(method);
    return count;
  }
  // The account ids of the account snapshots asked for since `since` messages were written.
  std::vector<std::string> snapshots_since(size_t since) const {
    const std::vector<Json> all = sent();
    std::vector<std::string> accounts;
    for (size_t i = since; i < all.size(); ++i) {
      if (all[i]["method"] == Json("ACCOUNT_SNAPSHOT"))
        accounts.push_back(all[i]["params"]["account_id"].string_value());
    }
    return accounts;
  }

  // Waits for an incoming message `match` accepts.
  Json wait_received(const std::function<bool(const Json&)>& match) {
    Json found;
    wait_until([&] {
      for (const Json& message : traced("Received message")) {
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

  // The managers the request clients call, built on the test's thread and destroyed on the core
  // thread after the server client.
  struct Clients {
    explicit Clients(RequestsTest& test)
        : accounts(std::make_shared<libkestrun::AccountManagerImpl>(test.center_, test.store_)),
          prefs(&test.thread_, test.center_, test.store_, accounts.get()),
          user_manager(std::make_shared<libkestrun::UserManagerImpl>(test.center_, test.store_, *accounts)) {
      accounts->load();
    }
    std::shared_ptr<libkestrun::AccountManagerImpl> accounts;
    libkestrun::PrefManager prefs;
    std::shared_ptr<libkestrun::UserManagerImpl> user_manager;
  };

  libkestrun::internal::UserServerClientImpl& users() { return client_->user_client(); }
  libkestrun::internal::AccountServerClientImpl& account_requests() { return client_->account_client(); }

  std::unique_ptr<Clients> clients;

 private:
  // Ends the server client, then the managers it called.
  void stop_client() {
    if (!client_) return;
    client_.reset();
    drain();
    // As the fixture's own teardown: the auto-swipe client points at the managers about to go.
    libkestrun::internal::auto_swipe_server_client_set_instance(nullptr);
    libkestrun::internal::server_client_set_instance(nullptr);
    libkestrun::internal::kestrun_object_server_client_set_instance(nullptr);
    run([] {
      libkestrun::internal::account_server_client_set_instance(nullptr);
      libkestrun::internal::user_server_client_set_instance(nullptr);
    });
    libkestrun::user_manager_set_instance(users_);
    managers_.accounts = &accounts_;
    managers_.prefs = prefs_.get();
    managers_.users = users_.get();
    run([&] { clients.reset(); });
  }

  RequestTimes times_;
};

}  // namespace kestrun_test
