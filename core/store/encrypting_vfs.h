// The encrypting file layer: an SQLite VFS over the default one. A database file opened through it
// encrypts every page on write and decrypts it on read once its connection is keyed; its rollback
// journal holds page images encrypted the same way. Unkeyed files pass through unchanged.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "core/store/codec_key.h"

namespace libkestrun::internal {

// The keys and page geometry of one open database file (one per connection, like a pager).
class DatabaseCodec {
 public:
  DatabaseCodec(sqlite3_file* file, sqlite3_file* real) : file_(file), real_(real) {}

  // Keys both directions. A key with no_key set lets pages pass unchanged.
  void set_key(std::shared_ptr<PageCipher> key);
  // While a rekey rewrites the file, pages are written under `key` and still read (and journaled)
  // under the old one; keep_write_key or restore_write_key ends that.
  void set_write_key(std::shared_ptr<PageCipher> key);
  void keep_write_key() { read_key_ = write_key_; }
  void restore_write_key() { write_key_ = read_key_; }
  const PageCipher* write_key() const { return write_key_.get(); }
  bool keyed() const { return encrypts(read_key_) || encrypts(write_key_); }

  // The file layer's I/O on the database file and on its rollback journal.
  int read_database(void* buf, int amount, sqlite3_int64 offset);
  int write_database(const void* buf, int amount, sqlite3_int64 offset);
  int write_journal_page(sqlite3_file* journal, uint32_t pgno, const void* buf, int amount,
                         sqlite3_int64 offset);
  int decrypt_journal_page(uint32_t pgno, void* buf, int amount);
  // Pages read (and journaled) are encrypted.
  bool reads_encrypted() const { return encrypts(read_key_); }
  // A database that has no page yet, so its reserved bytes can still be chosen.
  bool file_is_empty() const;

 private:
  static bool encrypts(const std::shared_ptr<PageCipher>& key) { return key && !key->key().no_key; }
  // Page size and reserved bytes from the clear bytes 16..23 of page 1 (on disk when not known).
  bool note_header(const uint8_t* page1);
  // SQLITE_OK once known; SQLITE_NOTFOUND when the file has no valid header (too short, or not
  // a database); an I/O error code when the header could not be read.
  int load_geometry();
  // Reads the page that holds [offset, offset + amount) and decrypts it only that far.
  int read_part_of_page(void* buf, int amount, sqlite3_int64 offset);
  // Null when memory runs out.
  uint8_t* work(int size);

  sqlite3_file* file_;  // the file SQLite holds; its methods change once it is keyed
  sqlite3_file* real_;  // the default VFS's file underneath
  std::shared_ptr<PageCipher> read_key_;
  std::shared_ptr<PageCipher> write_key_;
  int page_size_ = 0;  // 0 while not known
  int reserve_ = 0;
  // Sized for the current page size at every use, so a page size change cannot overflow it.
  std::vector<uint8_t> work_;
};

// Registers the layer (not as the default VFS) on first use.
sqlite3_vfs* encrypting_vfs();

// The codec of a database file opened through the layer, or null for any other file.
DatabaseCodec* database_codec(sqlite3_file* file);

}  // namespace libkestrun::internal
