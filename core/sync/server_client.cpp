#include "core/sync/server_client.h"

#include "core/foundation/process_instance.h"

namespace libkestrun::internal {

namespace {
ProcessInstance<ServerClient> instance;
}  // namespace

void server_client_set_instance(std::shared_ptr<ServerClient> client) { instance.set(std::move(client)); }

bool server_client_is_connected() { return instance.call(&ServerClient::is_connected); }

void server_client_send_command(std::unique_ptr<ServerCommand> command) {
  instance.call(&ServerClient::send_command, std::move(command));
}

}  // namespace libkestrun::internal
