// Conversions between jansson's json_t (model objects, change and server documents) and
// jsonette::Json (messages, notification payloads, stored values). They walk the value once and
// never throw: a part that one side cannot hold is mended or dropped where it stands, never by
// nulling the whole value.
//   - Integers stay 64-bit integers, in both directions. A real whose text has no fraction or
//     exponent (3.0 is written "3") arrives in jansson as an integer, as jansson reads such text;
//     other reals stay reals, and so does an integer beyond 64 bits, which jsonette holds as a real.
//   - Strings and object keys keep U+0000 (both libraries hold length-counted text).
//   - Bytes that are not valid UTF-8 are dropped on the way into jansson, which only holds UTF-8.
//   - A real that is not finite becomes null on the way into jansson, which cannot hold it.
#pragma once

#include <jansson.h>

#include <memory>
#include <string>

#include "jsonette/json.h"

namespace patch {

// Null for a null pointer. Does not take ownership of `value`.
jsonette::Json json_from_jansson(const json_t* value);

// A new jansson value owned by the caller (one reference).
json_t* jansson_from_json(const jsonette::Json& value);

// The compact JSON text of `value` (any value, a string quoted and escaped); "" when it cannot
// be written.
std::string compact_text(const json_t* value);

// Owns one reference to a jansson value and releases it, also when an exception passes by.
struct JanssonRelease {
  void operator()(json_t* value) const { json_decref(value); }
};
using JanssonPtr = std::unique_ptr<json_t, JanssonRelease>;

}  // namespace patch
