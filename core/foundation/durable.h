// One value of type T kept as JSON under one key. It is read once, at construction, and then
// served from memory; every change rewrites the whole stored value. No lock: it is used from one
// thread at a time or under its owner's lock.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "core/foundation/json_kv_store.h"

namespace libkestrun {

template <class T>
class Durable {
 public:
  // Holds `fallback` when the key is absent, does not parse or holds another JSON type; for a
  // map, the members that convert.
  Durable(const std::string& key, const std::shared_ptr<KvStore>& store, const T& fallback)
      : key_(key), store_(store), value_(store_.get_default<T>(key_, fallback)) {}

  const T& get() const { return value_; }

  // Writes first, so a failed write leaves the held value as it was.
  Durable& operator=(T value) {
    store_.set(key_, value);
    value_ = std::move(value);
    return *this;
  }

  // The map operations change a copy and write it before keeping it, so a failed write leaves
  // the held map as it was.
  template <class V>
  requires is_string_map<T>::value void set(const std::string& entry, V&& entry_value) {
    T changed = value_;
    changed[entry] = static_cast<typename T::mapped_type>(std::forward<V>(entry_value));
    *this = std::move(changed);
  }

  // 1 when an entry was removed (and the map written), otherwise 0 and nothing written.
  size_t erase(const std::string& entry) requires is_string_map<T>::value {
    if (value_.find(entry) == value_.end()) return 0;
    T changed = value_;
    changed.erase(entry);
    *this = std::move(changed);
    return 1;
  }

  void clear() requires is_string_map<T>::value { *this = T(); }

 private:
  std::string key_;
  JsonKvStore store_;
  T value_;
};

}  // namespace libkestrun
