#include "core/store/codec.h"

#include <memory>
#include <new>

#include "core/store/encrypting_vfs.h"

using libkestrun::internal::CodecKey;
using libkestrun::internal::DatabaseCodec;
using libkestrun::internal::PageCipher;

namespace {

class ConnectionLock {
 public:
  explicit ConnectionLock(sqlite3* db) : mutex_(sqlite3_db_mutex(db)) { sqlite3_mutex_enter(mutex_); }
  ~ConnectionLock() { sqlite3_mutex_leave(mutex_); }
  ConnectionLock(const ConnectionLock&) = delete;
  ConnectionLock& operator=(const ConnectionLock&) = delete;

 private:
  sqlite3_mutex* mutex_;
};

bool in_memory(sqlite3* db, const char* schema) {
  const char* file = sqlite3_db_filename(db, schema);
  return !file || !*file;
}

DatabaseCodec* codec_of(sqlite3* db, const char* schema) {
  sqlite3_file* file = nullptr;
  if (sqlite3_file_control(db, schema, SQLITE_FCNTL_FILE_POINTER, &file) != SQLITE_OK) return nullptr;
  return libkestrun::internal::database_codec(file);
}

std::shared_ptr<PageCipher> make_cipher(const void* key, int len) {
  try {
    return std::make_shared<PageCipher>(CodecKey::parse(key, len));
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

// Statement journals and temporary tables, indexes and sorts then stay in memory, so that no page
// of a keyed database reaches the disk outside the encrypted file and journal.
int keep_temporary_files_in_memory(sqlite3* db) {
  return sqlite3_exec(db, "PRAGMA temp_store = MEMORY;", nullptr, nullptr, nullptr);
}

}  // namespace

const char* kestrun_codec_vfs_name() { return libkestrun::internal::encrypting_vfs()->zName; }

int kestrun_sqlite3_key(sqlite3* db, const void* key, int len) {
  return kestrun_sqlite3CodecAttach(db, 0, key, len);
}

int kestrun_sqlite3CodecAttach(sqlite3* db, int db_index, const void* key, int len) {
  if (!db) return SQLITE_MISUSE;
  ConnectionLock lock(db);
  const char* schema = sqlite3_db_name(db, db_index);
  if (!schema) return SQLITE_OK;
  if (sqlite3_txn_state(db, schema) != SQLITE_TXN_NONE) return SQLITE_BUSY;
  if (in_memory(db, schema)) return SQLITE_OK;
  // A file opened past the encrypting layer would silently stay in the clear.
  DatabaseCodec* codec = codec_of(db, schema);
  if (!codec) return SQLITE_MISUSE;
  std::shared_ptr<PageCipher> cipher = make_cipher(key, len);
  if (!cipher) return SQLITE_NOMEM;
  const bool encrypts = !cipher->key().no_key;
  int reserve = cipher->key().reserve();
  codec->set_key(std::move(cipher));
  if (!encrypts) return SQLITE_OK;
  // Only a new file takes the cipher's reserved bytes; an existing one keeps its own, also through
  // a later VACUUM, so that its journal images always match the file's page layout.
  if (codec->file_is_empty()) sqlite3_file_control(db, schema, SQLITE_FCNTL_RESERVE_BYTES, &reserve);
  return keep_temporary_files_in_memory(db);
}

int kestrun_sqlite3_rekey(sqlite3* db, const void* key, int len) {
  if (!db) return SQLITE_MISUSE;
  ConnectionLock lock(db);
  if (sqlite3_txn_state(db, "main") != SQLITE_TXN_NONE) return SQLITE_BUSY;
  if (sqlite3_db_readonly(db, "main") == 1) return SQLITE_READONLY;
  if (in_memory(db, "main")) return SQLITE_OK;
  DatabaseCodec* codec = codec_of(db, "main");
  if (!codec) return SQLITE_MISUSE;
  std::shared_ptr<PageCipher> cipher = make_cipher(key, len);
  if (!cipher) return SQLITE_NOMEM;
  // A plain file gets reserved bytes for its nonces while it is rewritten; without them every
  // rewrite of a page would use the same keystream again. Its journal holds plain pages, so no
  // journal image depends on the layout that changes.
  if (!codec->reads_encrypted() && !cipher->key().no_key) {
    int reserve = cipher->key().reserve();
    sqlite3_file_control(db, "main", SQLITE_FCNTL_RESERVE_BYTES, &reserve);
  }
  codec->set_write_key(std::move(cipher));
  int rc = keep_temporary_files_in_memory(db);
  // VACUUM reads every page under the old key and writes it back under the new one; its journal
  // keeps the old pages under the old key, so a crash part-way rolls back to the old key.
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "VACUUM;", nullptr, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    codec->keep_write_key();
  } else {
    codec->restore_write_key();
  }
  return rc;
}

void kestrun_sqlite3CodecGetKey(sqlite3* db, int, void** key, int* len) {
  *key = nullptr;
  *len = 0;
  if (!db) return;
  ConnectionLock lock(db);
  DatabaseCodec* codec = codec_of(db, "main");
  const PageCipher* cipher = codec ? codec->write_key() : nullptr;
  if (!cipher || cipher->key().no_key) return;
  *key = const_cast<uint8_t*>(cipher->key().text.data());
  *len = cipher->key().stored_length;
}
