#include "core/sync/user_snapshot.h"

#include <optional>
#include <utility>

#include "core/store/draft.h"
#include "core/sync/user_item_commands.h"

namespace libkestrun {

namespace {

// JSON numbers are doubles or 64-bit signed integers; a sync state is never negative.
uint64_t unsigned_of(const jsonette::Json& number) {
  if (number.is_integer()) return static_cast<uint64_t>(number.int64_value());
  double value = number.number_value();
  return value > 0 ? static_cast<uint64_t>(value) : 0;
}

jsonette::Json number_of(uint64_t value) { return jsonette::Json(static_cast<long long>(value)); }

}  // namespace

jsonette::Json UserSnapshot::params() const {
  jsonette::Json::object exclude;
  for (const auto& [id, state] : exclude_ids_) exclude.emplace(id, number_of(state));
  return jsonette::Json::object{
      {"sync_state",
       jsonette::Json::object{
           {"user_item", jsonette::Json::object{{"since", number_of(since_)}, {"exclude_ids", exclude}}}}}};
}

void UserSnapshot::on_result(const jsonette::Json& result) {
  if (!result_callback) return;
  UserSnapshotResult snapshot;
  snapshot.user_id = result["user_id"].string_value();
  snapshot.sync_state = unsigned_of(result["sync_state"]["user_item"]);
  for (const jsonette::Json& document : result["docs"]["user_item"].array_items()) {
    const jsonette::Json& type = document["type"];
    if (!type.is_number() || type.number_value() != kUserItemTypeDraft) continue;
    const jsonette::Json& removed = document["removed"];
    if (removed.is_bool() && removed.bool_value()) {
      snapshot.updates.push_back(DraftUpdate::removal(document["_id"].string_value()));
    } else if (std::optional<internal::Draft> draft = internal::Draft::from_json(document)) {
      snapshot.updates.emplace_back(*draft);
    }
  }
  result_callback(std::move(snapshot));
}

}  // namespace libkestrun
