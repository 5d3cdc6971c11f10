// Sends the user's locally changed preferences to the sync server (PREFERENCE_UPDATE), so that
// the user's other devices receive them with their next user state. One-way: the outgoing queue
// keeps the request until the server acknowledges it and resends it after a reconnection; nothing
// here waits for or reads the reply.
//
// The server client builds the one instance during its set-up and keeps it for the process. Core
// thread; stateless.
#pragma once

#include "core/sync/server_client.h"
#include "jsonette/json.h"

namespace libkestrun::internal {

class PreferenceServerClient {
 public:
  // `server` is not owned and outlives the client.
  explicit PreferenceServerClient(ServerClient* server) : server_(server) {}

  // PREFERENCE_UPDATE {"preferences": preferences} under a fresh lower-case id.
  void sendPreferences(const jsonette::Json& preferences);

 private:
  ServerClient* server_;
};

}  // namespace libkestrun::internal
