// Fixtures that build the whole core through the facade, as the host does.
//
// ApiTest: an Api over a fresh data directory, with the host's libcurl hooks; the database keyed
// on disk by default, or in memory; no sync server (the configured one refuses connections).
// ApiServerTest: the same against the local sync server of tools/sync_server, run in this
// process over TLS on 127.0.0.1, its certification authority trusted through the test-only seam,
// its HTTPS resource URLs and signing key in the server environment.
//
// Helpers: run a closure on the core thread and get its result; wait for a notification name;
// read the protocol trace.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/api/api.h"
#include "core/foundation/notification_center.h"
#include "jsonette/json.h"
#include "support/on_loop.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "tests/tools/sync_server/sync_client.h"
#include "tools/host_http/http_bridge.h"
#include "tools/sync_server/sync_server.h"

namespace kestrun_test {

// Counts the notifications of one name from the moment it is built (through the process-wide
// notification centre, so build it after the Api) until it is destroyed.
class NotificationWaiter {
 public:
  explicit NotificationWaiter(std::string name) : name_(std::move(name)) {
    libkestrun::notification_center_listen(name_, this,
                                           [this](const std::string&, const jsonette::Json& payload) {
                                             std::lock_guard<std::mutex> lock(mutex_);
                                             payloads_.push_back(payload);
                                             changed_.notify_all();
                                           });
  }
  ~NotificationWaiter() { libkestrun::notification_center_stop_listening(name_, this); }
  NotificationWaiter(const NotificationWaiter&) = delete;
  NotificationWaiter& operator=(const NotificationWaiter&) = delete;

  // Waits until `count` notifications arrived; false after a generous deadline.
  bool wait(size_t count = 1) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return payloads_.size() >= count; });
  }
  std::vector<jsonette::Json> payloads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return payloads_;
  }

 private:
  const std::string name_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<jsonette::Json> payloads_;  // guarded by mutex_
};

class ApiTest : public ::testing::Test {
 protected:
  ApiTest() { signal(SIGPIPE, SIG_IGN); }
  ~ApiTest() override { api_.reset(); }

  // The host's settings for this data directory: a keyed database file, the desktop's device
  // type, Wi-Fi, and a sync server that refuses connections.
  libkestrun::Config config() const {
    libkestrun::Config config;
    config.server_env.host = "127.0.0.1";
    config.server_env.port = "1";
    config.server_env.signing_key.assign(32, 0x5a);
    config.database_name = "kestrun.db";
    config.in_memory_database = false;
    config.encrypt_database = true;
    config.device_type = libkestrun::DEVICE_TYPE_MACOS;
    config.bundle_id = "com.kestrun.test";
    config.app_version = "1.0";
    config.data_directory = dir_.path();
    config.resource_directory = dir_.path();
    config.connection_type = libkestrun::INTERNET_CONNECTION_WIFI;
    config.sanity_dump_url = "https://127.0.0.1:1/sanity/dump";
    config.zero_inbox_base_url = "https://127.0.0.1:1/kestrun-zero-inbox/";
    return config;
  }

  // Builds the Api with the libcurl hooks of a new bridge; throws what the constructor throws.
  void start(libkestrun::Config config, libkestrun::Overrides overrides = {}) {
    bridge_ = std::make_shared<kestrun_host::HttpBridge>(dir_.path());
    api_ = std::make_unique<libkestrun::Api>(
        std::move(config), std::move(overrides), kestrun_host::HttpBridge::download_hook(bridge_),
        kestrun_host::HttpBridge::upload_hook(bridge_), [bridge = bridge_] { bridge->stop(); });
  }
  void start() { start(config()); }
  void start_in_memory() {
    libkestrun::Config settings = config();
    settings.in_memory_database = true;
    start(std::move(settings));
  }

  // Runs `f` on the core thread and hands back its result.
  template <class F>
  auto on_core(F f) -> decltype(f()) {
    return run_on(*api_, std::move(f));
  }

  // The protocol trace the core wrote so far.
  std::string trace() const {
    std::ifstream in(dir_.file("sanity"));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The messages of the trace's lines labelled `label` ("Sending message", "Received message"), in
  // order, from the trace's `from`-th byte on.
  std::vector<jsonette::Json> traced(const std::string& label, size_t from = 0) const {
    std::vector<jsonette::Json> found;
    const std::string text = trace();
    std::istringstream lines(text.substr(std::min(from, text.size())));
    const std::string marker = "|" + label + ": ";
    for (std::string line; std::getline(lines, line);) {
      size_t at = line.find(marker);
      if (at == std::string::npos) continue;
      std::string error;
      jsonette::Json message = jsonette::Json::parse(line.substr(at + marker.size()), error);
      if (error.empty()) found.push_back(message);
    }
    return found;
  }

  TempDir dir_;
  std::shared_ptr<kestrun_host::HttpBridge> bridge_;
  std::unique_ptr<libkestrun::Api> api_;
};

class ApiServerTest : public ApiTest {
 protected:
  ApiServerTest() {
    sync_server::ServerOptions options;
    options.state_directory = dir_.file("server");
    options.hmac_key = sync_server_test::test_key();
    server_ = std::make_unique<sync_server::SyncServer>(options);
    sync_server_test::trust_authority(server_->authority_pem());
  }
  ~ApiServerTest() override {
    api_.reset();
    server_.reset();
  }

  // The server's environment: its sync port, its HTTPS endpoints and its key, under the name
  // "localhost" that its certificate carries.
  libkestrun::Config server_config() const {
    libkestrun::Config settings = config();
    libkestrun::ServerEnv& env = settings.server_env;
    env.host = "localhost";
    env.port = std::to_string(server_->port());
    const std::string base = "https://localhost:" + std::to_string(server_->resource_port());
    env.attachment_download_url = base + "/service/mail/attachment_download";
    env.body_url = base + "/service/mail/body";
    env.text_body_url = base + "/service/mail/text_body";
    env.object_download_url = base + "/s3_download";
    env.shared_link_url = base + "/s";
    env.upload_url = base + "/upload";
    const std::vector<unsigned char> key = sync_server_test::test_key();
    env.signing_key.assign(key.begin(), key.end());
    settings.zero_inbox_base_url = base + "/kestrun-zero-inbox/";
    return settings;
  }
  void start_with_server() { start(server_config()); }

  std::unique_ptr<sync_server::SyncServer> server_;
};

}  // namespace kestrun_test
