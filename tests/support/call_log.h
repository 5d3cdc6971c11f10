// The record kept by every recording fake: one entry per call, in call order, with the method's
// name and its arguments as JSON (jansson documents converted, enumerations as their numbers), so
// a test compares the whole sequence with one table. Calls may come from any thread.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "core/foundation/json_conversion.h"
#include "jsonette/json.h"

namespace kestrun_test {

struct Call {
  std::string method;
  jsonette::Json args;  // an array

  bool operator==(const Call& other) const = default;
};

inline void PrintTo(const Call& call, std::ostream* out) { *out << call.method << call.args.dump(); }

class CallLog {
 public:
  void record(std::string method, jsonette::Json::array args = {}) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back({std::move(method), jsonette::Json(std::move(args))});
  }

  std::vector<Call> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Call> calls_;  // guarded by mutex_
};

// A document as the fake saw it at the call (null for a null pointer).
inline jsonette::Json document(const json_t* value) { return patch::json_from_jansson(value); }

template <class Enum>
int number(Enum value) {
  return static_cast<int>(value);
}

// Null when absent.
inline jsonette::Json optional(const std::optional<std::string>& value) {
  return value ? jsonette::Json(*value) : jsonette::Json(nullptr);
}
inline jsonette::Json optional(const std::optional<uint64_t>& value) {
  return value ? jsonette::Json(static_cast<long long>(*value)) : jsonette::Json(nullptr);
}

}  // namespace kestrun_test
