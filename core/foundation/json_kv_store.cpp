#include "core/foundation/json_kv_store.h"

namespace libkestrun {

std::optional<jsonette::Json> JsonKvStore::get_json(const std::string& key) {
  std::optional<Bytes> bytes = get(key);
  if (!bytes) return std::nullopt;
  std::string error;
  jsonette::Json value = jsonette::Json::parse(
      std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), error);
  if (!error.empty()) return std::nullopt;
  return value;
}

void JsonKvStore::set_json(const std::string& key, const jsonette::Json& value) {
  std::string text = value.dump();
  set(key, Bytes(text.begin(), text.end()));
}

}  // namespace libkestrun
