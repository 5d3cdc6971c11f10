// A client of the sync server for its tests: the real `brelt::ApiClient` on a core thread of its
// own, which records every message the server sends and whether the connection ended.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "brelt/api_client.h"
#include "brelt/uv_thread.h"
#include "jsonette/json.h"

namespace sync_server_test {

using jsonette::Json;

// The signing key the tests' servers and clients share.
std::vector<unsigned char> test_key();

// Makes every later TLS connection of the process trust the server authority `pem`.
void trust_authority(const std::string& pem);

class SyncClient {
 public:
  // Connects to 127.0.0.1:`port` under the name "localhost" and sends the hello.
  explicit SyncClient(uint16_t port, std::vector<unsigned char> key = test_key());
  ~SyncClient();
  SyncClient(const SyncClient&) = delete;
  SyncClient& operator=(const SyncClient&) = delete;

  // True once the handshake is done (false when the connection failed first).
  bool wait_connected();
  void send(const Json& message);
  // Sends {"method","params","id"} with a fresh id and waits for its reply; null when none came.
  Json request(const std::string& method, const Json& params, std::string id = "");
  // Sends USER_AUTH_DEVICE with the credentials of a state document.
  void authenticate(const Json& state);

  // Waits for a message that `match` accepts and returns the first one, null when none came. The
  // deadline only ends a broken test: loaded sanitizer runs are tens of times slower.
  Json wait_for(const std::function<bool(const Json&)>& match,
                std::chrono::milliseconds deadline = std::chrono::seconds(30));
  Json wait_for_notification(const std::string& method,
                             const std::function<bool(const Json&)>& match = nullptr,
                             std::chrono::milliseconds deadline = std::chrono::seconds(30));
  std::vector<Json> messages();
  // True once the server ended the connection or it failed.
  bool wait_closed();

 private:
  void record(Json message);

  brelt::UvThread thread_{true};
  std::unique_ptr<brelt::ApiClient> client_;
  std::mutex mutex_;
  std::vector<Json> messages_;
  bool connected_ = false;
  bool closed_ = false;
  int next_id_ = 0;
};

// Registers a new anonymous device and returns its state document (null on failure).
Json register_device(SyncClient& client, const std::string& name = "test mac");

}  // namespace sync_server_test
