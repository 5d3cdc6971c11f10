#include "core/sync/offline_scope.h"

#include <algorithm>
#include <utility>

#include "core/foundation/scoped_kv_store.h"

namespace libkestrun {

namespace {

// Records written before sequence numbers existed sort first, by id, as they always did.
int64_t sequence_of(const jsonette::Json& record) {
  const jsonette::Json& seq = record["seq"];
  return seq.is_number() ? seq.int64_value() : 0;
}

OfflineItem item_of(const std::string& message_id, const jsonette::Json& record) {
  return OfflineItem{record["object_id"].string_value(), message_id, record["message_data"]};
}

}  // namespace

OfflineScope::OfflineScope(const std::string& name, const std::shared_ptr<KvStore>& store)
    : object_index_(std::make_shared<ScopedKvStore>(name + "!object_to_mid!", store)),
      messages_(std::make_shared<ScopedKvStore>(name + "!messages!", store)) {
  messages_.for_each_key([&](const std::string& message_id) {
    if (std::optional<jsonette::Json> record = record_of(message_id))
      last_sequence_ = std::max(last_sequence_, sequence_of(*record));
  });
}

jsonette::Json::array OfflineScope::index_of(const std::string& object_id) {
  std::optional<jsonette::Json> index = object_index_.get_json(object_id);
  return index && index->is_array() ? index->array_items() : jsonette::Json::array{};
}

std::optional<jsonette::Json> OfflineScope::record_of(const std::string& message_id) {
  return messages_.get_json(message_id);
}

void OfflineScope::add_item(const std::string& object_id, const std::string& message_id,
                            const jsonette::Json& message) {
  jsonette::Json::array index = index_of(object_id);
  const jsonette::Json id(message_id);
  bool listed = std::find(index.begin(), index.end(), id) != index.end();
  if (!listed) index.push_back(id);

  // A message stored again (a resend) keeps its place among the others.
  std::optional<jsonette::Json> earlier = record_of(message_id);
  int64_t sequence =
      earlier && earlier->is_object() && sequence_of(*earlier) > 0 ? sequence_of(*earlier) : ++last_sequence_;
  messages_.set_json(message_id, jsonette::Json::object{{"object_id", object_id},
                                                        {"message_data", message},
                                                        {"seq", static_cast<long long>(sequence)}});
  if (!listed) object_index_.set_json(object_id, index);
}

void OfflineScope::remove_item(const std::string& message_id) {
  std::optional<jsonette::Json> record = record_of(message_id);
  if (!record) return;
  if (record->is_object()) {
    const std::string object_id = (*record)["object_id"].string_value();
    jsonette::Json::array kept;
    for (const jsonette::Json& id : index_of(object_id)) {
      if (id.is_string() && id.string_value() != message_id) kept.push_back(id);
    }
    if (kept.empty()) {
      object_index_.erase(object_id);
    } else {
      object_index_.set_json(object_id, kept);
    }
  }
  messages_.erase(message_id);
}

std::vector<OfflineItem> OfflineScope::get_items_for_object(const std::string& object_id) {
  std::vector<OfflineItem> items;
  for (const jsonette::Json& id : index_of(object_id)) {
    const std::string message_id = id.string_value();
    std::optional<jsonette::Json> record = record_of(message_id);
    if (record && record->is_object()) items.push_back(item_of(message_id, *record));
  }
  return items;
}

std::vector<OfflineItem> OfflineScope::get_items() {
  std::vector<std::pair<int64_t, OfflineItem>> numbered;
  messages_.for_each_key([&](const std::string& message_id) {
    std::optional<jsonette::Json> record = record_of(message_id);
    if (record && record->is_object())
      numbered.emplace_back(sequence_of(*record), item_of(message_id, *record));
  });
  // Stable: records without a number keep the store's order of their ids.
  std::stable_sort(numbered.begin(), numbered.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<OfflineItem> items;
  items.reserve(numbered.size());
  for (auto& entry : numbered) items.push_back(std::move(entry.second));
  return items;
}

}  // namespace libkestrun
