#include "core/foundation/json_conversion.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

namespace patch {

namespace {

// Length of the well-formed UTF-8 sequence at the start of `s` (no overlong forms, no
// surrogates, nothing above U+10FFFF), or 0 when there is none.
size_t utf8_sequence_length(std::string_view s) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
  auto continuation = [&](size_t i) { return i < s.size() && (byte(i) & 0xC0) == 0x80; };
  unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) return continuation(1) ? 2 : 0;
  if (lead < 0xF0) {
    if (!continuation(1) || !continuation(2)) return 0;
    if (lead == 0xE0 && byte(1) < 0xA0) return 0;   // overlong
    if (lead == 0xED && byte(1) >= 0xA0) return 0;  // surrogate
    return 3;
  }
  if (lead < 0xF5) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    if (lead == 0xF0 && byte(1) < 0x90) return 0;   // overlong
    if (lead == 0xF4 && byte(1) >= 0x90) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

// `s` without the bytes that do not start a well-formed sequence.
std::string valid_utf8(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    size_t n = utf8_sequence_length(std::string_view(s).substr(i));
    if (n == 0) {
      ++i;
      continue;
    }
    out.append(s, i, n);
    i += n;
  }
  return out;
}

// jansson reads a number written without fraction or exponent as an integer, so a real whose
// text is plain digits (3.0 is written "3") arrives as one, when it fits 64 bits.
json_t* number_as_jansson(const jsonette::Json& value) {
  const std::string text = value.dump();
  if (text.find_first_of(".eE") == std::string::npos) {
    json_int_t integer = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), integer);
    if (error == std::errc() && end == text.data() + text.size()) return json_integer(integer);
  }
  return json_real(value.number_value());
}

}  // namespace

jsonette::Json json_from_jansson(const json_t* value) {
  if (!value) return jsonette::Json();
  switch (json_typeof(value)) {
    case JSON_OBJECT: {
      jsonette::Json::object members;
      auto* object = const_cast<json_t*>(value);
      for (void* it = json_object_iter(object); it; it = json_object_iter_next(object, it)) {
        members[std::string(json_object_iter_key(it), json_object_iter_key_len(it))] =
            json_from_jansson(json_object_iter_value(it));
      }
      return jsonette::Json(std::move(members));
    }
    case JSON_ARRAY: {
      jsonette::Json::array items;
      items.reserve(json_array_size(value));
      for (size_t i = 0; i < json_array_size(value); ++i)
        items.push_back(json_from_jansson(json_array_get(value, i)));
      return jsonette::Json(std::move(items));
    }
    case JSON_STRING:
      return jsonette::Json(std::string(json_string_value(value), json_string_length(value)));
    case JSON_INTEGER:
      return jsonette::Json(static_cast<long long>(json_integer_value(value)));
    case JSON_REAL:
      return jsonette::Json(json_real_value(value));
    case JSON_TRUE:
      return jsonette::Json(true);
    case JSON_FALSE:
      return jsonette::Json(false);
    case JSON_NULL:
      break;
  }
  return jsonette::Json();
}

std::string compact_text(const json_t* value) {
  char* text = json_dumps(value, JSON_COMPACT | JSON_ENCODE_ANY);
  if (text == nullptr) return "";
  std::string result(text);
  std::free(text);
  return result;
}

json_t* jansson_from_json(const jsonette::Json& value) {
  switch (value.type()) {
    case jsonette::Json::NUL:
      return json_null();
    case jsonette::Json::BOOL:
      return json_boolean(value.bool_value());
    case jsonette::Json::NUMBER:
      if (value.is_integer()) return json_integer(value.int64_value());
      if (!std::isfinite(value.number_value())) return json_null();
      return number_as_jansson(value);
    case jsonette::Json::STRING: {
      std::string text = valid_utf8(value.string_value());
      return json_stringn_nocheck(text.data(), text.size());
    }
    case jsonette::Json::ARRAY: {
      json_t* array = json_array();
      for (const auto& item : value.array_items()) json_array_append_new(array, jansson_from_json(item));
      return array;
    }
    case jsonette::Json::OBJECT: {
      json_t* object = json_object();
      for (const auto& [key, member] : value.object_items()) {
        std::string name = valid_utf8(key);
        json_object_setn_new_nocheck(object, name.data(), name.size(), jansson_from_json(member));
      }
      return object;
    }
  }
  return json_null();
}

}  // namespace patch
