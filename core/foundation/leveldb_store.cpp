#include "core/foundation/leveldb_store.h"

#include <mutex>
#include <vector>

#include <leveldb/db.h>
#include <leveldb/env.h>
#include <leveldb/write_batch.h>

#include "brelt/log.h"
#include "core/foundation/leveldb_repair.h"

namespace libkestrun {
namespace {

constexpr char kTag[] = "KvStore";

leveldb::Options store_options() {
  leveldb::Options options;
  options.create_if_missing = true;
  // Damage found while opening (and by repair and compaction) is an error, not a silent loss.
  options.paranoid_checks = true;
  return options;
}

leveldb::ReadOptions read_options() {
  leveldb::ReadOptions options;
  options.verify_checksums = true;
  return options;
}

// LevelDB reports a missing key as NotFound without text; NotFound with text names a file that
// could not be opened (a missing table, or a missing directory at open), which is a failure.
bool is_absent_key(const leveldb::Status& status) {
  return status.IsNotFound() && status.ToString() == leveldb::Status::NotFound(leveldb::Slice()).ToString();
}

bool is_damage(const leveldb::Status& status) {
  return status.IsCorruption() || (status.IsNotFound() && !is_absent_key(status));
}

// A database directory whose CURRENT file is lost still holds its tables and logs; opened as it
// is, LevelDB would start an empty database over them and delete them as obsolete.
bool lost_its_current_file(const std::string& path) {
  leveldb::Env* env = leveldb::Env::Default();
  if (env->FileExists(path + "/CURRENT")) return false;
  std::vector<std::string> children;
  if (!env->GetChildren(path, &children).ok()) return false;
  for (const std::string& name : children) {
    auto ends_with = [&](const char* suffix) {
      const std::string s(suffix);
      return name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0;
    };
    if (ends_with(".ldb") || ends_with(".sst") || ends_with(".log") || name.rfind("MANIFEST-", 0) == 0)
      return true;
  }
  return false;
}

void repair(const std::string& path, const std::string& why) {
  brelt::log_error(kTag, path + " is damaged (" + why + "); repairing it");
  leveldb::Status status = repair_leveldb(path, store_options());
  if (!status.ok()) brelt::log_error(kTag, path + " could not be repaired: " + status.ToString());
}

// Every status other than OK is a failure here, and the message names the directory.
[[noreturn]] void throw_open_error(const leveldb::Status& status, const std::string& path) {
  std::string message = status.ToString();
  if (message.find(path) == std::string::npos) message += " (" + path + ")";
  if (status.IsCorruption()) throw LeveldbStore::CorruptionError(message);
  if (status.IsIOError() || status.IsNotFound()) throw LeveldbStore::IOError(message);
  throw LeveldbStore::UnknownError(message);
}

// Opens the database at `path`; damage is repaired once and the open tried again.
std::unique_ptr<leveldb::DB> open_database(const std::string& path, bool repair_first) {
  if (repair_first) {
    repair(path, "found by a read");
  } else if (lost_its_current_file(path)) {
    repair(path, "its CURRENT file is missing");
  }
  leveldb::DB* db = nullptr;
  leveldb::Status status = leveldb::DB::Open(store_options(), path, &db);
  if (status.IsCorruption()) {
    delete db;
    db = nullptr;
    repair(path, status.ToString());
    status = leveldb::DB::Open(store_options(), path, &db);
  }
  std::unique_ptr<leveldb::DB> owned(db);
  if (!status.ok() || !owned) throw_open_error(status, path);
  return owned;
}

leveldb::Slice slice_of(const KvStore::Bytes& value) {
  return leveldb::Slice(reinterpret_cast<const char*>(value.data()), value.size());
}

}  // namespace

void LeveldbStore::_check(const leveldb::Status& status) {
  if (status.ok() || is_absent_key(status)) return;
  if (status.IsIOError() || status.IsNotFound()) throw IOError(status.ToString());
  if (status.IsCorruption()) throw CorruptionError(status.ToString());
  throw UnknownError(status.ToString());
}

// The name is taken up to its first NUL byte, as LevelDB would read it.
LeveldbStore::LeveldbStore(const std::string& path) : path_(path.c_str()), db_(open_database(path_, false)) {}

LeveldbStore::~LeveldbStore() = default;

leveldb::Status LeveldbStore::run(const Operation& op, bool is_write) {
  std::shared_lock shared(mutex_);
  while (!db_ || (is_write && reopen_before_write_)) {
    shared.unlock();
    {
      std::unique_lock alone(mutex_);
      if (!db_ || (is_write && reopen_before_write_)) {
        db_.reset();  // releases the directory's lock before it is taken again
        db_ = open_database(path_, false);
        reopen_before_write_ = false;
      }
    }
    shared.lock();
  }
  return op(*db_);
}

void LeveldbStore::reopen(bool repair) {
  std::unique_lock alone(mutex_);
  db_.reset();
  db_ = open_database(path_, repair);
  reopen_before_write_ = false;
}

void LeveldbStore::write(const Operation& op) {
  leveldb::Status status = run(op, true);
  if (!status.ok()) {
    std::unique_lock alone(mutex_);
    reopen_before_write_ = true;
  }
  _check(status);
}

leveldb::Status LeveldbStore::read(const Operation& op) {
  leveldb::Status status = run(op, false);
  if (!is_damage(status)) return status;
  reopen(true);
  return run(op, false);
}

std::optional<KvStore::Bytes> LeveldbStore::get(const std::string& key) {
  std::string value;
  leveldb::Status status = read([&](leveldb::DB& db) { return db.Get(read_options(), key, &value); });
  _check(status);
  if (!status.ok()) return std::nullopt;
  return Bytes(value.begin(), value.end());
}

void LeveldbStore::set(const std::string& key, const Bytes& value) {
  write([&](leveldb::DB& db) { return db.Put(leveldb::WriteOptions(), key, slice_of(value)); });
}

// A synced write, even of nothing, flushes the log with every write before it.
void LeveldbStore::sync() {
  leveldb::WriteOptions options;
  options.sync = true;
  write([&](leveldb::DB& db) {
    leveldb::WriteBatch nothing;
    return db.Write(options, &nothing);
  });
}

void LeveldbStore::erase(const std::string& key) {
  write([&](leveldb::DB& db) { return db.Delete(leveldb::WriteOptions(), key); });
}

void LeveldbStore::for_each_key(const KeyFn& fn) { walk("", "", fn); }

void LeveldbStore::for_each_key_with_prefix(const std::string& prefix, const KeyFn& fn) {
  walk(prefix, prefix, fn);
}

// The keys are gathered before `fn` sees the first, so `fn` may use the store.
void LeveldbStore::walk(const std::string& start, const std::string& prefix, const KeyFn& fn) {
  std::vector<std::string> keys;
  leveldb::Status status = run(
      [&](leveldb::DB& db) {
        std::unique_ptr<leveldb::Iterator> it(db.NewIterator(read_options()));
        for (it->Seek(start); it->Valid(); it->Next()) {
          leveldb::Slice key = it->key();
          if (!key.starts_with(prefix)) break;
          keys.push_back(key.ToString());
        }
        return it->status();
      },
      false);
  if (!status.ok()) {
    // Nothing was reported yet; the next walk finds the database mended.
    if (is_damage(status)) reopen(true);
    _check(status);
  }
  for (const std::string& key : keys) fn(key);
}

}  // namespace libkestrun
