#include "core/foundation/scoped_kv_store.h"

namespace libkestrun {

void ScopedKvStore::for_each_key_with_prefix(const std::string& prefix, const KeyFn& fn) {
  store_->for_each_key_with_prefix(prefix_ + prefix,
                                   [&](const std::string& key) { fn(key.substr(prefix_.size())); });
}

}  // namespace libkestrun
