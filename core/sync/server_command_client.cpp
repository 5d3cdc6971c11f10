#include "core/sync/server_command_client.h"

#include <utility>
#include <vector>

#include "brelt/uuid.h"
#include "core/sync/json_server_command.h"

namespace libkestrun {

namespace {

// Errors after which the server will never accept the command: keeping it would resend it forever.
bool settles(const jsonette::Json& error) {
  if (error.is_null()) return true;
  const jsonette::Json& code = error["code"];
  return code.is_string() && (code.string_value() == "V1" || code.string_value() == "V1.1");
}

}  // namespace

ServerCommandClient::ServerCommandClient(Writer writer, const std::shared_ptr<KvStore>& store)
    : writer_(std::move(writer)), offline_(kScope, store) {}

void ServerCommandClient::send(const std::string& message_id, std::unique_ptr<ServerCommand> command) {
  const jsonette::Json message = jsonette::Json::object{
      {"id", message_id}, {"method", command->method()}, {"params", command->params()}};
  if (command->should_persist()) {
    const std::string object_id = command->object_id();
    // Read before storing: the list holds only earlier messages (and this one on a resend).
    std::vector<OfflineItem> earlier = offline_.get_items_for_object(object_id);
    offline_.add_item(object_id, message_id, message);
    for (const OfflineItem& item : earlier) {
      if (item.message_id == message_id) continue;
      if (command->supersedes(item.message_data["method"].string_value(), item.message_data["params"])) {
        offline_.remove_item(item.message_id);
        cancelCommand(item.message_id);
      }
    }
  }
  pending_.emplace(message_id, std::move(command));  // an id already pending keeps its command
  writer_(message);
}

std::string ServerCommandClient::sendCommand(std::unique_ptr<ServerCommand> command) {
  std::string message_id = brelt::generate_uuid_upper();
  send(message_id, std::move(command));
  return message_id;
}

void ServerCommandClient::resendStoredMessages() {
  for (const OfflineItem& item : offline_.get_items()) {
    send(item.message_id,
         std::make_unique<JsonServerCommand>(item.object_id, item.message_data["method"].string_value(),
                                             item.message_data["params"]));
  }
}

bool ServerCommandClient::handleResponse(const jsonette::Json& message) {
  const jsonette::Json& id = message["id"];
  if (!id.is_string()) return false;
  const std::string message_id = id.string_value();
  const jsonette::Json& error = message["error"];
  if (settles(error)) offline_.remove_item(message_id);

  auto found = pending_.find(message_id);
  if (found == pending_.end()) return false;
  std::unique_ptr<ServerCommand> command = std::move(found->second);
  pending_.erase(found);
  if (error.is_null()) {
    command->on_result(message["result"]);
  } else {
    command->on_error(error);
  }
  return true;
}

bool ServerCommandClient::cancelCommand(const std::string& message_id) {
  auto found = pending_.find(message_id);
  if (found == pending_.end()) return false;
  std::unique_ptr<ServerCommand> command = std::move(found->second);
  pending_.erase(found);
  command->on_cancel();
  return true;
}

void ServerCommandClient::cancelAll() {
  for (const OfflineItem& item : offline_.get_items()) cancelCommand(item.message_id);
}

void ServerCommandClient::handleDisconnect() {
  // Emptied first: a command sent from a callback is pending on the next connection.
  std::map<std::string, std::unique_ptr<ServerCommand>> disconnected = std::move(pending_);
  pending_.clear();
  for (auto& entry : disconnected) entry.second->on_disconnect();
  for (auto& entry : disconnected) entry.second.reset();
}

}  // namespace libkestrun
