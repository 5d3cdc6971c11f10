// The key of a model object in a cache or store: its table and its id. Ids are unique only within
// a table (an item and one of its e-mails may share one), so both are needed to name an object.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace libkestrun {

struct ObjectKey {
  std::string table;
  std::string id;

  bool operator==(const ObjectKey&) const = default;
};

struct ObjectKeyHash {
  size_t operator()(const ObjectKey& key) const {
    size_t h = std::hash<std::string>()(key.table);
    return h ^ (std::hash<std::string>()(key.id) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
  }
};

}  // namespace libkestrun
