// The key-value store held in memory, for tests and for hosts that keep no files. Used from one
// thread at a time.
#pragma once

#include <map>
#include <string>

#include "core/foundation/kv_store.h"

namespace libkestrun {

class MemoryStore : public KvStore {
 public:
  using Contents = std::map<std::string, Bytes>;

  MemoryStore() = default;
  explicit MemoryStore(const Contents& contents) : contents_(contents) {}

  std::optional<Bytes> get(const std::string& key) override;
  void set(const std::string& key, const Bytes& value) override;
  void erase(const std::string& key) override;
  // Reports exactly the keys present when it began, so `fn` may change the store.
  void for_each_key(const KeyFn& fn) override;
  void for_each_key_with_prefix(const std::string& prefix, const KeyFn& fn) override;

 private:
  Contents contents_;
};

}  // namespace libkestrun
