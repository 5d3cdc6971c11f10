// A stored command carried back onto the wire: the method and params exactly as they were first
// sent, under the object they concern. It persists (its record is rewritten as it stands),
// supersedes nothing and ignores the reply: the reply settles the stored copy, which is all a
// resent draft command needs.
#pragma once

#include <string>

#include "core/sync/server_command.h"
#include "jsonette/json.h"

namespace libkestrun {

class JsonServerCommand final : public ServerCommand {
 public:
  JsonServerCommand(const std::string& object_id, const std::string& method, const jsonette::Json& params)
      : object_id_(object_id), method_(method), params_(params) {}

  std::string method() const override { return method_; }
  jsonette::Json params() const override { return params_; }
  bool should_persist() const override { return true; }
  std::string object_id() const override { return object_id_; }
  bool supersedes(const std::string&, const jsonette::Json&) const override { return false; }
  void on_error(const jsonette::Json&) override {}
  void on_result(const jsonette::Json&) override {}

 private:
  std::string object_id_;
  std::string method_;
  jsonette::Json params_;
};

}  // namespace libkestrun
