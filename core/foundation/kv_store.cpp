#include "core/foundation/kv_store.h"

namespace libkestrun {

void KvStore::for_each_key_with_prefix(const std::string& prefix, const KeyFn& fn) {
  for_each_key([&](const std::string& key) {
    if (key.compare(0, prefix.size(), prefix) == 0) fn(key);
  });
}

}  // namespace libkestrun
