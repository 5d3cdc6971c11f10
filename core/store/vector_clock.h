// The version of a draft: one counter per device that changed it. Comparing two versions tells
// whether one copy already contains every change of the other, or whether they were changed
// independently.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "jsonette/json.h"

namespace libkestrun::internal {

class VectorClock {
 public:
  using Entries = std::map<std::string, uint32_t>;

  VectorClock() = default;
  explicit VectorClock(Entries entries) : entries_(std::move(entries)) {}

  const Entries& entries() const { return entries_; }

  bool operator==(const VectorClock& other) const = default;

  // Happened-before: every change this clock records is in `other`, and `other` records more.
  // A partial order: two clocks may be unequal with neither before the other.
  bool operator<(const VectorClock& other) const;

  // A copy with this device's counter raised by one (added at 1 when absent). A counter at its
  // maximum stays there: wrapping to 0 would make the newer copy look older than every other.
  VectorClock incremented(const std::string& device_id) const;

  // Replaces every entry with the members of a JSON object: a number counts as its value
  // truncated toward zero (negative values wrap modulo 2^32, larger ones saturate), any other
  // member value as 1. Anything but an object leaves the clock empty.
  void from_json(const jsonette::Json& value);
  jsonette::Json to_json() const;

 private:
  Entries entries_;
};

}  // namespace libkestrun::internal
