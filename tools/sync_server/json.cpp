#include "tools/sync_server/json.h"

namespace sync_server {

namespace {

// jansson refuses integers beyond 64 bits, while clients write large doubles without a fraction
// (a "before" of 2^63 comes as 9223372036854775808). Such numbers are given a ".0" so they read as
// the doubles they are; every other number keeps its type.
std::string widen_big_integers(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      out += c;
      if (c == '\\' && i + 1 < text.size())
        out += text[++i];
      else if (c == '"')
        in_string = false;
      continue;
    }
    if (c == '"') in_string = true;
    if (c != '-' && !(c >= '0' && c <= '9')) {
      out += c;
      continue;
    }
    size_t end = i + (c == '-' ? 1 : 0);
    while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
    const bool fraction = end < text.size() && (text[end] == '.' || text[end] == 'e' || text[end] == 'E');
    const size_t digits = end - i - (c == '-' ? 1 : 0);
    out.append(text, i, end - i);
    // 19 digits may still fit; jansson decides those, and longer ones never fit.
    if (!fraction && digits >= 19 && (digits > 19 || text.compare(end - 19, 19, "9223372036854775807") > 0))
      out += ".0";
    i = end - 1;
  }
  return out;
}

}  // namespace

JsonPtr json_parse(const std::string& text) {
  json_error_t error;
  JsonPtr value(json_loadb(text.data(), text.size(), JSON_DECODE_ANY, &error));
  if (value) return value;
  const std::string widened = widen_big_integers(text);
  return JsonPtr(json_loadb(widened.data(), widened.size(), JSON_DECODE_ANY, &error));
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
