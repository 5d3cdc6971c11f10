// The store on disk: one LevelDB database directory, held open (and locked against other
// openers) from construction to destruction. Every LevelDB failure is thrown with LevelDB's
// status text; an absent key is not a failure.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "core/foundation/kv_store.h"

namespace leveldb {
class DB;
class Status;
}  // namespace leveldb

namespace libkestrun {

class LeveldbStore final : public KvStore {
 public:
  class IOError : public std::runtime_error {
    using std::runtime_error::runtime_error;
  };
  class CorruptionError : public std::runtime_error {
    using std::runtime_error::runtime_error;
  };
  class UnknownError : public std::runtime_error {
    using std::runtime_error::runtime_error;
  };

  // Opens the database directory at `path`, creating it when missing.
  explicit LeveldbStore(const std::string& path);
  ~LeveldbStore() override;
  LeveldbStore(const LeveldbStore&) = delete;
  LeveldbStore& operator=(const LeveldbStore&) = delete;

  std::optional<Bytes> get(const std::string& key) override;
  // Not flushed to disk per write: the write survives the death of the process, not of the machine.
  void set(const std::string& key, const Bytes& value) override;
  void erase(const std::string& key) override;
  // Reads the state as of the call. A read failure during the walk throws rather than ending it
  // as if complete.
  void for_each_key(const KeyFn& fn) override;
  void for_each_key_with_prefix(const std::string& prefix, const KeyFn& fn) override;
  void set_synced(const std::string& key, const Bytes& value) override;

  // Throws the exception that matches a failed status; OK and NotFound pass.
  static void _check(const leveldb::Status& status);

 private:
  void walk(const std::string& start, const std::string& prefix, const KeyFn& fn);

  std::unique_ptr<leveldb::DB> db_;
};

}  // namespace libkestrun
