// A view of another store in which every key carries a fixed prefix (plain concatenation, no
// separator). Several views may share one store; each keeps it alive.
#pragma once

#include <memory>
#include <string>

#include "core/foundation/kv_store.h"

namespace libkestrun {

class ScopedKvStore : public KvStore {
 public:
  ScopedKvStore(const std::string& prefix, const std::shared_ptr<KvStore>& store)
      : prefix_(prefix), store_(store) {}

  std::optional<Bytes> get(const std::string& key) override { return store_->get(prefix_ + key); }
  void set(const std::string& key, const Bytes& value) override { store_->set(prefix_ + key, value); }
  void erase(const std::string& key) override { store_->erase(prefix_ + key); }
  // Reports every key of the view, whatever bytes follow the prefix, without walking the keys of
  // other prefixes.
  void for_each_key(const KeyFn& fn) override { for_each_key_with_prefix("", fn); }
  void for_each_key_with_prefix(const std::string& prefix, const KeyFn& fn) override;
  void sync() override { store_->sync(); }

 private:
  std::string prefix_;
  std::shared_ptr<KvStore> store_;
};

}  // namespace libkestrun
