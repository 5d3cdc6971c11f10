// The local sync server inside the run program's own process (tools/sync_server), and the core's
// configuration that points at it. The server's certification authority, made at its first start,
// is added to the network library's default TLS context, the seam through which test programs
// trust their servers; the core and its configuration add no anchor of their own.
#pragma once

#include <memory>
#include <string>

#include "core/api/config.h"
#include "tools/sync_server/sync_server.h"

namespace kestrun_run {

class LocalServer {
 public:
  // Starts the server on 127.0.0.1 (ports picked by the system) over a fresh state in
  // `state_directory`, which holds the sample mailbox, and trusts its authority. Throws
  // std::runtime_error when it cannot start.
  explicit LocalServer(const std::string& state_directory);

  // Host, port, the HTTPS resource URLs, the signing key; the database "kestrun.db", encrypted, in
  // `data_directory` (also the resource directory); the desktop device type and Wi-Fi. The
  // protocol trace's uploads and the daily pictures go to the server's HTTPS side, so nothing
  // leaves the machine.
  libkestrun::Config config(const std::string& data_directory) const;

  uint16_t port() const { return server_->port(); }

  // Closes every connection and joins the server's threads.
  void stop() { server_.reset(); }

 private:
  std::unique_ptr<sync_server::SyncServer> server_;
};

}  // namespace kestrun_run
