// The owner of the sync connection, as the data model and the managers see it. The full client
// (connection set-up, incoming dispatch, sub-clients) implements this interface; the rest of the
// core reaches it through the process-wide instance and the forwarders below.
#pragma once

#include <memory>

#include <jansson.h>

#include "core/sync/server_command.h"

namespace libkestrun::internal {

class ServerClient {
 public:
  virtual ~ServerClient() = default;

  // True while the sync connection is up. Any thread.
  virtual bool is_connected() = 0;
  // Takes the command, gives it a new message id and sends it; a persistent command is also kept
  // in the offline store under its object id, replacing the stored commands it supersedes. Never
  // fails at the call. Core thread.
  virtual void send_command(std::unique_ptr<ServerCommand> command) = 0;
  // Writes `message` (a message object, or an array of them sent as one message) as it is: the
  // outgoing queue resends requests that already carry their ids. Core thread.
  virtual void send_json(const jsonette::Json& message) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h). Without one, the forwarders
// answer false and drop the command.
void server_client_set_instance(std::shared_ptr<ServerClient> client);

bool server_client_is_connected();
void server_client_send_command(std::unique_ptr<ServerCommand> command);
// Converts `message` and releases the caller's reference to it (also without an instance).
void server_client_send_json(json_t* message);

}  // namespace libkestrun::internal
