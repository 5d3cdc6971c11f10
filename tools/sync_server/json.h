// Owned jansson values and the few readers the server needs. Every reader accepts any value,
// of any type or none at all, and falls back to a default: client input is never trusted.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <memory>
#include <string>

namespace sync_server {

struct JsonFree {
  void operator()(json_t* value) const { json_decref(value); }
};
// Holds one reference.
using JsonPtr = std::unique_ptr<json_t, JsonFree>;

// Null when `text` is not one JSON value. Integers too large for 64 bits read as doubles.
JsonPtr json_parse(const std::string& text);
// Compact text with keys in byte order, so equal values give equal text.
std::string json_text(const json_t* value);

// The member `key` of `object` when it has the type asked for, else the fallback.
std::string member_string(const json_t* object, const char* key, const std::string& fallback = "");
int64_t member_int(const json_t* object, const char* key, int64_t fallback = 0);
bool member_bool(const json_t* object, const char* key, bool fallback = false);
// A number of either kind, as a double.
double member_number(const json_t* object, const char* key, double fallback = 0);

// Sets `key` of `object`, taking the reference.
inline void json_put(json_t* object, const char* key, json_t* value) {
  json_object_set_new(object, key, value);
}

// A deep copy; the copy of null is null.
JsonPtr json_copy(const json_t* value);

}  // namespace sync_server
