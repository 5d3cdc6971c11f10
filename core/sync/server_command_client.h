// Sends server commands and hands each reply to the command that asked for it.
//
// Every command goes out as {"id", "method", "params"} under a message id (upper-case UUID text
// unless the caller gives one) and stays pending until the reply with that id, a cancellation or
// the next disconnection; each of these calls exactly one of the command's callbacks and destroys
// it. A command that persists is also kept in the command store ("offline_messages", see
// offline_scope.h) under its object id until a reply settles it: an error-free reply, or an error
// of code "V1" or "V1.1" (the server will never accept it); other errors keep it for the next
// resend. Sending a persistent command drops (and cancels, when pending) the stored commands of
// the same object that it supersedes. After each reconnection `resendStoredMessages` sends every
// stored command again under its old id, in the order they were first sent.
//
// Ownership: the client owns its pending commands; destroying it destroys them without calls.
// Threads: the core thread only; no lock. A callback may send a new command.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "core/foundation/kv_store.h"
#include "core/sync/offline_scope.h"
#include "core/sync/server_command.h"
#include "jsonette/json.h"

namespace libkestrun {

class ServerCommandClient {
 public:
  // Puts one message on the sync connection.
  using Writer = std::function<void(const jsonette::Json& message)>;

  // The scope name of the command store.
  static constexpr const char* kScope = "offline_messages";

  ServerCommandClient(Writer writer, const std::shared_ptr<KvStore>& store);
  ServerCommandClient(const ServerCommandClient&) = delete;
  ServerCommandClient& operator=(const ServerCommandClient&) = delete;

  // Sends `command` under `message_id`. When a command of that id is already pending it stays
  // pending and `command` is destroyed; the message is stored and written all the same.
  void send(const std::string& message_id, std::unique_ptr<ServerCommand> command);
  // Sends `command` under a new id and returns the id.
  std::string sendCommand(std::unique_ptr<ServerCommand> command);
  // Sends every stored command again under its own id, oldest first.
  void resendStoredMessages();
  // Offered every incoming message: settles the stored copy and calls the pending command of the
  // reply's "id". Messages without a string "id" are ignored. True when a pending command took the
  // reply, so the caller knows it needs no other handler.
  bool handleResponse(const jsonette::Json& message);
  // Cancels the pending command of that id (its on_cancel runs); the stored copy stays. False when
  // none was pending.
  bool cancelCommand(const std::string& message_id);
  // Cancels the pending commands that have a stored copy; the stored copies stay.
  void cancelAll();
  // The connection closed: every pending command hears on_disconnect, in ascending id order. The
  // stored copies stay.
  void handleDisconnect();

 private:
  Writer writer_;
  std::map<std::string, std::unique_ptr<ServerCommand>> pending_;
  OfflineScope offline_;
};

}  // namespace libkestrun
