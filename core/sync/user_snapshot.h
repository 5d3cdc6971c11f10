// "USER_SNAPSHOT": asks the server for the user items (drafts) changed since a sync state and turns
// the reply into draft updates. Sent through the server command client without being stored: a
// lost snapshot is simply asked for again on the next connection.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/sync/draft_update.h"
#include "core/sync/server_command.h"
#include "jsonette/json.h"

namespace libkestrun {

struct UserSnapshotResult {
  std::string user_id;
  uint64_t sync_state = 0;  // the user-item sync state to ask from next time
  std::vector<DraftUpdate> updates;
};

class UserSnapshot final : public ServerCommand {
 public:
  using ResultCallback = std::function<void(UserSnapshotResult&&)>;

  // `exclude_ids` maps ids the server may leave out to the sync state they are known at.
  UserSnapshot(uint64_t since, std::map<std::string, uint64_t> exclude_ids)
      : since_(since), exclude_ids_(std::move(exclude_ids)) {}

  std::string method() const override { return "USER_SNAPSHOT"; }
  // {"sync_state": {"user_item": {"since", "exclude_ids": {id: state, ...}}}}
  jsonette::Json params() const override;
  bool should_persist() const override { return false; }
  std::string object_id() const override { return ""; }
  bool supersedes(const std::string&, const jsonette::Json&) const override { return false; }
  // A failed snapshot never calls the result callback; the next connection asks again.
  void on_error(const jsonette::Json&) override {}
  // Reads {"user_id", "sync_state": {"user_item"}, "docs": {"user_item": [...]}}; missing members
  // read as "", 0 and no documents. Documents of a type other than 1 (a draft) are skipped; one
  // with "removed": true is a removal, any other is read as a draft.
  void on_result(const jsonette::Json& result) override;

  // Set once, before sending; without one the reply is dropped.
  ResultCallback result_callback;

 private:
  uint64_t since_;
  std::map<std::string, uint64_t> exclude_ids_;
};

}  // namespace libkestrun
