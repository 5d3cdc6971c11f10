// The difference between two results of one live query, as the views animate it: which rows left
// (by index into the old rows), which entered (by index into the new rows) and which stayed and
// changed visibly (both indexes).
#pragma once

#include <utility>
#include <vector>

#include "core/model/change_set.h"

namespace libkestrun {

struct ChangeSpec {
  // (Delete or MovedOut, old index), ascending old index.
  std::vector<std::pair<ConsumerChangeType, int>> removals;
  // (Insert or MovedIn, new index), ascending new index.
  std::vector<std::pair<ConsumerChangeType, int>> insertions;
  // (old index, new index), ascending new index; reported as Update.
  std::vector<std::pair<int, int>> updates;

  bool empty() const { return removals.empty() && insertions.empty() && updates.empty(); }
};

}  // namespace libkestrun
