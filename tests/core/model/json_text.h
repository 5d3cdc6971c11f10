// jansson values from and to text, for the tests of server documents.
#pragma once

#include <jansson.h>

#include <cstdlib>
#include <string>

namespace kestrun_test {

// A parsed document, released with the object.
struct JsonDoc {
  explicit JsonDoc(const std::string& text) : value(json_loads(text.c_str(), JSON_DECODE_ANY, nullptr)) {}
  ~JsonDoc() { json_decref(value); }
  JsonDoc(const JsonDoc&) = delete;
  JsonDoc& operator=(const JsonDoc&) = delete;
  json_t* value;
};

// The compact text of a new reference, which it releases.
inline std::string dump(json_t* value) {
  char* text = json_dumps(value, JSON_COMPACT);
  std::string result(text);
  std::free(text);
  json_decref(value);
  return result;
}

}  // namespace kestrun_test
