#include "tools/sync_server/json.h"

namespace sync_server {

JsonPtr json_parse(const std::string& text) {
  json_error_t error;
  return JsonPtr(json_loadb(text.data(), text.size(), JSON_DECODE_ANY, &error));
}

std::string json_text(const json_t* value) {
  if (!value) return "null";
  std::unique_ptr<char, decltype(&free)> text(
      json_dumps(value, JSON_COMPACT | JSON_SORT_KEYS | JSON_ENCODE_ANY), &free);
  return text ? std::string(text.get()) : "null";
}

std::string member_string(const json_t* object, const char* key, const std::string& fallback) {
  const json_t* member = json_is_object(object) ? json_object_get(object, key) : nullptr;
  return json_is_string(member) ? std::string(json_string_value(member), json_string_length(member))
                                : fallback;
}

int64_t member_int(const json_t* object, const char* key, int64_t fallback) {
  const json_t* member = json_is_object(object) ? json_object_get(object, key) : nullptr;
  if (json_is_integer(member)) return json_integer_value(member);
  // Clients may write whole numbers as doubles; out-of-range ones fall back rather than overflow.
  if (json_is_real(member)) {
    double value = json_real_value(member);
    if (value >= -9.2e18 && value <= 9.2e18) return static_cast<int64_t>(value);
  }
  return fallback;
}

bool member_bool(const json_t* object, const char* key, bool fallback) {
  const json_t* member = json_is_object(object) ? json_object_get(object, key) : nullptr;
  return json_is_boolean(member) ? json_is_true(member) : fallback;
}

double member_number(const json_t* object, const char* key, double fallback) {
  const json_t* member = json_is_object(object) ? json_object_get(object, key) : nullptr;
  return json_is_number(member) ? json_number_value(member) : fallback;
}

JsonPtr json_copy(const json_t* value) { return JsonPtr(value ? json_deep_copy(value) : nullptr); }

}  // namespace sync_server
