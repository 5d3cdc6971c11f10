// Page encryption of SQLite database files. SQLite here has no codec hooks, so the pages are
// encrypted by a file layer (an SQLite VFS over the default one) that every CppSQLite3DB opens
// its files through; these calls key that layer for one connection. The names carry a prefix so
// that they cannot clash with an SQLite library that brings key calls of its own.
#pragma once

#include <sqlite3.h>

// The name of the encrypting VFS, registered (not as the default) on first use.
const char* kestrun_codec_vfs_name();

// Keys the main database of `db`, which must have been opened through the encrypting VFS. The key
// selects the cipher by an optional prefix: "aes128:", "aes256:", "rc4:", else AES-128 over the
// whole key. An empty key leaves pages as they are. A new database gets the cipher's reserved
// bytes per page; an existing one keeps its own. In-memory databases are never encrypted, but
// keying them succeeds. SQLITE_BUSY inside a transaction. The connection's error state is left
// as it was.
int kestrun_sqlite3_key(sqlite3* db, const void* key, int len);

// Keys database `db_index` of `db` (0 main, 1 temp, 2.. attached) as kestrun_sqlite3_key does.
// ATTACH reads the schema of an existing file before this call can reach it, so an attached file
// can be keyed only while it is new; ATTACH gives it no key of its own.
int kestrun_sqlite3CodecAttach(sqlite3* db, int db_index, const void* key, int len);

// Re-encrypts the main database under a new key by rewriting every page (an empty key decrypts
// it). SQLITE_BUSY inside a transaction, SQLITE_READONLY on a read-only database.
int kestrun_sqlite3_rekey(sqlite3* db, const void* key, int len);

// The key of the main database as it was parsed (prefix, then the key bytes used), or null and 0
// when it has none. The pointer stays valid until the connection is rekeyed or closed.
void kestrun_sqlite3CodecGetKey(sqlite3* db, int db_index, void** key, int* len);
