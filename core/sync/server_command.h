// A request that knows its own method, parameters and reaction to the server's reply. The server
// client gives each one a message id, writes it as {"id", "method", "params"} and hands the reply
// back to it; a command that asks to persist is kept in the offline store under its object id until
// the server settles it, and is dropped when a newer command of the same object supersedes it.
//
// Commands are owned by the client through a std::unique_ptr<ServerCommand> and called on the core
// thread only.
#pragma once

#include <string>

#include "jsonette/json.h"

namespace libkestrun {

class ServerCommand {
 public:
  virtual ~ServerCommand() = default;

  virtual std::string method() const = 0;
  virtual jsonette::Json params() const = 0;
  // Keep a stored copy until the server has settled the command.
  virtual bool should_persist() const = 0;
  // The object the command concerns; read only when should_persist() is true.
  virtual std::string object_id() const = 0;
  // True when this command makes obsolete a stored message (method, params) of the same object.
  virtual bool supersedes(const std::string& method, const jsonette::Json& params) const = 0;

  // The client sets no time-out of its own; the three end states report as errors by default.
  virtual void on_timeout() { on_error(jsonette::Json::object{{"code", "timeout"}}); }
  // The connection closed before the reply.
  virtual void on_disconnect() { on_error(jsonette::Json::object{{"code", "disconnect"}}); }
  virtual void on_cancel() { on_error(jsonette::Json::object{{"code", "cancel"}}); }
  // The reply's "error" member, or one of the objects above.
  virtual void on_error(const jsonette::Json& error) = 0;
  // The reply's "result" member.
  virtual void on_result(const jsonette::Json& result) = 0;
};

}  // namespace libkestrun
