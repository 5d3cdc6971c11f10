// The core's byte-level key-value store. Keys compare byte by byte; values are bytes whose
// meaning belongs to the caller. An empty value is present, unlike an absent key. Stores are
// shared objects passed around as std::shared_ptr<KvStore>; none takes a lock of its own.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace libkestrun {

class KvStore {
 public:
  using Bytes = std::vector<unsigned char>;
  using KeyFn = std::function<void(const std::string&)>;

  virtual ~KvStore() = default;

  // A copy of the stored bytes, or nothing when the key is absent.
  virtual std::optional<Bytes> get(const std::string& key) = 0;
  virtual void set(const std::string& key, const Bytes& value) = 0;
  // An absent key is no error.
  virtual void erase(const std::string& key) = 0;
  // Calls `fn` once per key, in ascending byte order, on the calling thread, before returning.
  virtual void for_each_key(const KeyFn& fn) = 0;

  // Calls `fn` with every key that begins with `prefix` (the prefix included), in ascending byte
  // order. Stores that can seek override it; this form walks every key.
  virtual void for_each_key_with_prefix(const std::string& prefix, const KeyFn& fn);
  // Returns once every earlier write would survive a crash of the machine, for the few values
  // whose loss cannot be recovered from. Stores without a disk behind them have nothing to do.
  virtual void sync() {}
};

}  // namespace libkestrun
