// The store on disk: one LevelDB database directory, held open (and locked against other
// openers) from construction to destruction. Every LevelDB failure is thrown with LevelDB's
// status text; an absent key is not a failure.
//
// Damage is an error, never an altered value: the database is opened with paranoid checks and
// every read verifies checksums. Damage found at open, or by a read, is mended once with
// LevelDB's repair (which keeps every record it can still read) and the database opened again. A
// write that failed (a full disk) may have left a torn record in the log, behind which LevelDB
// would later drop every write it acknowledged; so the database is reopened (recovering the log
// as it stands) before the next write is accepted.
//
// Thread safety: any thread. `mutex_` guards `db_` and `reopen_before_write_`: operations share it,
// reopening and repairing take it alone.
#pragma once

#include <functional>
#include <memory>
#include <shared_mutex>
#include <stdexcept>
#include <string>

#include "core/foundation/kv_store.h"

namespace leveldb {
class DB;
class Status;
}  // namespace leveldb

namespace libkestrun {

class LeveldbStore : public KvStore {
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

  // Opens the database directory at `path`, creating it when missing. Throws when it cannot: a
  // store never exists without its database.
  explicit LeveldbStore(const std::string& path);
  ~LeveldbStore() override;
  LeveldbStore(const LeveldbStore&) = delete;
  LeveldbStore& operator=(const LeveldbStore&) = delete;

  std::optional<Bytes> get(const std::string& key) override;
  // Not flushed to disk per write: the write survives the death of the process, not of the machine.
  void set(const std::string& key, const Bytes& value) override;
  void erase(const std::string& key) override;
  // Reads the state as of the call; every key is gathered before `fn` sees the first, so `fn` may
  // use the store. A read failure during the walk throws rather than ending it as if complete;
  // damage is repaired first, so the next walk reports what survived.
  void for_each_key(const KeyFn& fn) override;
  void for_each_key_with_prefix(const std::string& prefix, const KeyFn& fn) override;
  void sync() override;

  // Throws the exception that matches a failed status. OK passes, and so does the NotFound of a
  // missing key; a NotFound that names a file (a table or directory that is not there) is an
  // IOError.
  static void _check(const leveldb::Status& status);

 private:
  using Operation = std::function<leveldb::Status(leveldb::DB&)>;

  // Runs `op` on the open database under the shared lock; opens the database again first when it
  // is closed or, for a write, when an earlier write failed.
  leveldb::Status run(const Operation& op, bool is_write);
  // A write; a failure marks the database to be reopened before the next one.
  void write(const Operation& op);
  // A read; damage is repaired and the read tried once more.
  leveldb::Status read(const Operation& op);
  // Closes the database, repairs it when `repair`, and opens it again. Takes the lock alone.
  void reopen(bool repair);
  void walk(const std::string& start, const std::string& prefix, const KeyFn& fn);

  const std::string path_;
  std::shared_mutex mutex_;
  std::unique_ptr<leveldb::DB> db_;  // null only after a reopen failed; the next operation retries
  bool reopen_before_write_ = false;
};

}  // namespace libkestrun
