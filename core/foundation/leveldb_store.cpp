#include "core/foundation/leveldb_store.h"

#include <cstring>

#include <leveldb/db.h>

namespace libkestrun {

void LeveldbStore::_check(const leveldb::Status& status) {
  if (status.ok() || status.IsNotFound()) return;
  if (status.IsIOError()) throw IOError(status.ToString());
  if (status.IsCorruption()) throw CorruptionError(status.ToString());
  throw UnknownError(status.ToString());
}

LeveldbStore::LeveldbStore(const std::string& path) {
  leveldb::Options options;
  options.create_if_missing = true;
  leveldb::DB* db = nullptr;
  leveldb::Status status = leveldb::DB::Open(options, std::string(path.c_str()), &db);
  db_.reset(db);
  _check(status);
}

LeveldbStore::~LeveldbStore() = default;

std::optional<KvStore::Bytes> LeveldbStore::get(const std::string& key) {
  std::string value;
  leveldb::Status status = db_->Get(leveldb::ReadOptions(), key, &value);
  _check(status);
  if (status.IsNotFound()) return std::nullopt;
  return Bytes(value.begin(), value.end());
}

void LeveldbStore::set(const std::string& key, const Bytes& value) {
  _check(db_->Put(leveldb::WriteOptions(), key,
                  leveldb::Slice(reinterpret_cast<const char*>(value.data()), value.size())));
}

void LeveldbStore::set_synced(const std::string& key, const Bytes& value) {
  leveldb::WriteOptions options;
  options.sync = true;
  _check(db_->Put(options, key, leveldb::Slice(reinterpret_cast<const char*>(value.data()), value.size())));
}

void LeveldbStore::erase(const std::string& key) { _check(db_->Delete(leveldb::WriteOptions(), key)); }

void LeveldbStore::for_each_key(const KeyFn& fn) { walk("", "", fn); }

void LeveldbStore::for_each_key_with_prefix(const std::string& prefix, const KeyFn& fn) {
  walk(prefix, prefix, fn);
}

void LeveldbStore::walk(const std::string& start, const std::string& prefix, const KeyFn& fn) {
  std::unique_ptr<leveldb::Iterator> it(db_->NewIterator(leveldb::ReadOptions()));
  for (it->Seek(start); it->Valid(); it->Next()) {
    leveldb::Slice key = it->key();
    if (!key.starts_with(prefix)) break;
    fn(key.ToString());
  }
  _check(it->status());
}

}  // namespace libkestrun
