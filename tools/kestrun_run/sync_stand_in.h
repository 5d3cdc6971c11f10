// The run program's own stand-in for the core's server client, which is not built yet; it goes
// once that client exists. It speaks just enough of the sync protocol (docs/sync-protocol.md) to
// the local sync server to bring one sample account's conversations into the local database:
// one connection (brelt::ApiClient on a thread of its own), requests answered by id, and nothing
// of what the real client does (reconnection, a queue of tracked requests, pushed documents).
//
// Every wait is bounded by the deadline given at construction; a request that gets no answer in
// time, a connection that fails or ends, and an error reply all throw std::runtime_error.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "brelt/api_client.h"
#include "brelt/uv_thread.h"
#include "jsonette/json.h"

namespace kestrun_run {

// Makes every later TLS connection of the process trust the certification authority stored as
// PEM in `path` (the sync server's authority.pem). Throws when the file holds no certificate.
void trust_authority_file(const std::string& path);

class SyncStandIn {
 public:
  // Connects to `address` ("127.0.0.1:PORT"), under the name "localhost" that the server's
  // certificate carries, signing with the server's development key; waits for the handshake.
  SyncStandIn(const std::string& address, std::chrono::milliseconds deadline);
  ~SyncStandIn();
  SyncStandIn(const SyncStandIn&) = delete;
  SyncStandIn& operator=(const SyncStandIn&) = delete;

  // Sends {"method", "params", "id"} and returns the reply's "result"; an error reply throws
  // with its code, unless the code is `tolerated`, which returns the whole reply's "error".
  jsonette::Json request(const std::string& method, const jsonette::Json& params,
                         const std::string& tolerated = "");
  // Sends a message that gets no reply.
  void send(const jsonette::Json& message);

 private:
  // Waits until `ready` holds (with the mutex held) or the connection closed or the deadline
  // passed; throws in the last two cases, naming `what`.
  void wait(const std::function<bool()>& ready, const std::string& what);

  const std::chrono::milliseconds deadline_;
  brelt::UvThread thread_{true};
  std::unique_ptr<brelt::ApiClient> client_;  // lives on thread_
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_:
  std::vector<jsonette::Json> messages_;  // everything the server sent, in order
  bool connected_ = false;
  bool closed_ = false;
  int next_id_ = 0;  // touched by the calling thread only
};

}  // namespace kestrun_run
