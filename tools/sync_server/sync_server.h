// The local sync server: TLS 1.2 on 127.0.0.1 under a certificate of its own authority, client
// frames checked for length and signature, one zlib stream back per connection, and the protocol
// of `SyncService` over a SQLite store in the state directory; beside it, on a second port, the
// HTTPS side of `ResourceServer` over the same store. Tests run it in process; the
// program in main.cpp wraps it with a control socket.
//
// Threads: one accepts; per connection, one reads and serves its frames and one sends. Every frame
// is served under `mutex_`, which also guards the connection list; a message for a connection is
// compressed and queued under that connection's own lock (taken inside `mutex_`) and sent by its
// sending thread, so no lock is held while the network is slow. The control calls may come from
// any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/sync_peer/tls_transport.h"
#include "tools/sync_server/certificate_authority.h"
#include "tools/sync_server/resource_server.h"
#include "tools/sync_server/sync_service.h"
#include "tools/sync_server/sync_store.h"

namespace sync_server {

struct ServerOptions {
  std::string state_directory;           // made when missing; holds the database and the identity
  std::vector<unsigned char> hmac_key;   // the key every client frame is signed with
  uint16_t port = 0;                     // 0: one the system picks
  uint16_t resource_port = 0;            // the HTTPS side; 0: one the system picks
  size_t max_reply_bytes = 48u << 20;    // a snapshot reply's documents, beyond which they are pushed
  uint32_t max_frame_bytes = 64u << 20;  // a client frame above this closes its connection
  int resource_idle_ms = 30000;          // an HTTPS connection silent this long is closed
  // Conversations of three e-mails each added to the first sample account when the state is new,
  // for measuring large mailboxes.
  int generated_conversations = 0;
};

class SyncServer {
 public:
  // Starts listening at once. Throws std::runtime_error when the state directory, the identity,
  // the store or the listener cannot be set up.
  explicit SyncServer(ServerOptions options);
  // Closes every connection and joins every thread.
  ~SyncServer();
  SyncServer(const SyncServer&) = delete;
  SyncServer& operator=(const SyncServer&) = delete;

  uint16_t port() const { return listener_->port(); }
  // Where the HTTPS side (bodies, attachments, uploads) listens.
  uint16_t resource_port() const { return resources_->port(); }
  // Where the HTTPS side reads the empty-inbox pictures ("<date>.json", "<date>.jpg"): the
  // "zero-inbox" folder of the state directory, which the owner fills.
  std::string pictures_directory() const { return options_.state_directory + "/zero-inbox"; }
  // Where the HTTPS side reads files shared by link ("<attachment>/<file>"): the "shared" folder
  // of the state directory, which the owner fills.
  std::string shared_directory() const { return options_.state_directory + "/shared"; }
  // The HTTPS side, for tests' counts and holds.
  ResourceServer& resources() { return *resources_; }
  // The certificate clients add as their trust anchor.
  const std::string& authority_pem() const { return identity_.authority_pem; }

  // Control; see `SyncService`. `params` is JSON text (an object).
  bool notify_user(const std::string& user_id, const std::string& method, const std::string& params);
  std::string deliver_mail(const NewMail& mail);
  void fail_next(const std::string& method, int count, const std::string& code);
  void drop_next(const std::string& method, int count);
  std::vector<std::string> devices_of(const std::string& user_id);
  std::string device_doc(const std::string& device_id);

 private:
  struct Session;
  class Writer;

  void accept_loop();
  void read_loop(const std::shared_ptr<Session>& session);
  void write(Session& session, const std::string& text);

  ServerOptions options_;
  ServerIdentity identity_;
  std::unique_ptr<SyncStore> store_;
  std::unique_ptr<Writer> writer_;
  std::unique_ptr<SyncService> service_;
  std::unique_ptr<sync_peer::TlsListener> listener_;
  std::unique_ptr<ResourceServer> resources_;

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Session>> sessions_;  // open connections
  std::vector<std::pair<std::shared_ptr<Session>, std::thread>> readers_;
  uint64_t next_session_ = 1;
  std::thread acceptor_;
};

}  // namespace sync_server
