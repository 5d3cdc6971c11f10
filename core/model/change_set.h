// What one commit changed, by table: the ids it inserted, updated and deleted. The live queries
// of the consumer center re-run for each table named here.
#pragma once

#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace libkestrun {

// The kind of one change. Commits produce 1 to 3; the live queries add 5 and 6 for rows that
// moved within a result.
enum class ConsumerChangeType : int {
  Insert = 1,
  Update = 2,
  Delete = 3,
  MovedIn = 5,
  MovedOut = 6,
};

using TableChangeSet = std::unordered_map<ConsumerChangeType, std::unordered_set<std::string>>;
// Every table that had a committed object carries all three commit keys, empty or not.
using ChangeSet = std::map<std::string, TableChangeSet>;

}  // namespace libkestrun
