#include "core/store/vector_clock.h"

#include <limits>

namespace libkestrun::internal {

bool VectorClock::operator<(const VectorClock& other) const {
  bool other_has_more = false;
  auto theirs = other.entries_.begin();
  for (const auto& [device, counter] : entries_) {
    while (theirs != other.entries_.end() && theirs->first < device) {
      other_has_more = true;
      ++theirs;
    }
    if (theirs == other.entries_.end() || theirs->first != device) return false;
    if (counter > theirs->second) return false;
    if (counter < theirs->second) other_has_more = true;
    ++theirs;
  }
  return other_has_more || theirs != other.entries_.end();
}

VectorClock VectorClock::incremented(const std::string& device_id) const {
  VectorClock next(entries_);
  auto [it, inserted] = next.entries_.try_emplace(device_id, 1);
  if (!inserted && it->second != std::numeric_limits<uint32_t>::max()) ++it->second;
  return next;
}

namespace {

uint32_t counter_from_json(const jsonette::Json& value) {
  if (!value.is_number()) return 1;
  int64_t number = value.int64_value();  // truncated toward zero, saturated, NaN as 0
  if (number > int64_t{std::numeric_limits<uint32_t>::max()}) return std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(number);  // modulo 2^32 for negative values
}

}  // namespace

void VectorClock::from_json(const jsonette::Json& value) {
  Entries entries;
  for (const auto& [device, counter] : value.object_items())
    entries.emplace(device, counter_from_json(counter));
  entries_ = std::move(entries);
}

jsonette::Json VectorClock::to_json() const {
  jsonette::Json::object members;
  for (const auto& [device, counter] : entries_) members.emplace(device, jsonette::Json(counter));
  return jsonette::Json(std::move(members));
}

}  // namespace libkestrun::internal
