#include "core/foundation/memory_store.h"

#include <vector>

namespace libkestrun {

std::optional<KvStore::Bytes> MemoryStore::get(const std::string& key) {
  auto it = contents_.find(key);
  if (it == contents_.end()) return std::nullopt;
  return it->second;
}

void MemoryStore::set(const std::string& key, const Bytes& value) { contents_[key] = value; }

void MemoryStore::erase(const std::string& key) { contents_.erase(key); }

void MemoryStore::for_each_key(const KeyFn& fn) { for_each_key_with_prefix("", fn); }

void MemoryStore::for_each_key_with_prefix(const std::string& prefix, const KeyFn& fn) {
  std::vector<std::string> keys;
  for (auto it = contents_.lower_bound(prefix); it != contents_.end(); ++it) {
    if (it->first.compare(0, prefix.size(), prefix) != 0) break;
    keys.push_back(it->first);
  }
  for (const auto& key : keys) fn(key);
}

}  // namespace libkestrun
