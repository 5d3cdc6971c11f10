// Owns the core's persistent key-value store ("defaultsdb" in the caches directory, or a store
// the host supplies) and gives it out; also offers value-typed reads and writes over it and the
// per-install database key. Absent keys and unparsable text are never errors.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include <jansson.h>

#include "core/foundation/kv_store.h"
#include "jsonette/json.h"

namespace libkestrun {

// The store opened at start-up could not give back what was just written to it.
class InaccessibleFsError : public std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Defaults {
 public:
  static constexpr size_t kEncryptionKeySize = 32;

  // Opens "<directory>/defaultsdb" and proves that a write made through one open of it can be read
  // back through the next; throws InaccessibleFsError when not, and the LevelDB errors as they come.
  explicit Defaults(const std::string& directory);
  // Uses `store` as it is: nothing is opened, written or checked.
  explicit Defaults(const std::shared_ptr<KvStore>& store);
  Defaults(const Defaults&) = delete;
  Defaults& operator=(const Defaults&) = delete;
  virtual ~Defaults() = default;

  // Replaces the store by a LevelDB store at `path`; on failure the exception leaves and the
  // previous store stays. Returns true.
  virtual bool open(const std::string& path);
  // A new reference owned by the caller, or null when absent or not JSON.
  virtual json_t* get_json_t(const std::string& key);
  // Null when absent or not JSON.
  virtual jsonette::Json get_json(const std::string& key);
  virtual void erase(const std::string& key);
  // `set_json_t`, then releases the caller's reference to `value` (never null).
  virtual void set_json_t_and_release(const std::string& key, json_t* value);
  // Stores jansson's compact text of `value` (never null); the caller keeps its reference.
  virtual void set_json_t(const std::string& key, json_t* value);
  virtual void set_json(const std::string& key, const jsonette::Json& value);
  // The stored bytes with `found` set; when absent, "" with `found` left as the caller set it.
  virtual std::string get_string(const std::string& key, bool& found);
  virtual void set_string(const std::string& key, const std::string& value);

  std::shared_ptr<KvStore> get_store() const { return store_; }

  // The per-install database key, read and written through get_string and set_string: the
  // stored bytes unchanged, whatever their length; when none are stored, 32 new random bytes
  // (logged), written so that they survive a crash of the machine.
  std::string get_encryption_key();

  // Set `out` only when the stored JSON has the matching type.
  void read_bool(const std::string& key, bool& out);
  // A number outside the range of int is brought to its nearest end.
  void read_int(const std::string& key, int& out);

 private:
  struct Unchecked {};
  Defaults(Unchecked, const std::string& path);

  std::shared_ptr<KvStore> store_;
};

}  // namespace libkestrun
