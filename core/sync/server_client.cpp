#include "core/sync/server_client.h"

#include "core/foundation/json_conversion.h"
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

void server_client_send_json(json_t* message) {
  jsonette::Json converted = patch::json_from_jansson(message);
  json_decref(message);
  instance.call(&ServerClient::send_json, converted);
}

}  // namespace libkestrun::internal
