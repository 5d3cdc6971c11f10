#include "core/store/codec.h"

const char* kestrun_codec_vfs_name() { return nullptr; }

int kestrun_sqlite3_key(sqlite3* db, const void* key, int len) {
  return kestrun_sqlite3CodecAttach(db, 0, key, len);
}

int kestrun_sqlite3CodecAttach(sqlite3* db, int db_index, const void*, int) {
  const char* name = sqlite3_db_name(db, db_index);
  if (!name) return SQLITE_OK;
  const char* file = sqlite3_db_filename(db, name);
  return (!file || !*file) ? SQLITE_OK : SQLITE_ERROR;
}

int kestrun_sqlite3_rekey(sqlite3*, const void*, int) { return SQLITE_ERROR; }

void kestrun_sqlite3CodecGetKey(sqlite3*, int, void** key, int* len) {
  *key = nullptr;
  *len = 0;
}
