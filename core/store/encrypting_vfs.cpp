#include "core/store/encrypting_vfs.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace libkestrun::internal {
namespace {

constexpr char kVfsName[] = "kestrun-encrypting";
constexpr sqlite3_int64 kPendingByte = 0x40000000;

bool is_page_size(int n) { return n >= 512 && n <= 65536 && (n & (n - 1)) == 0; }

uint32_t big_endian32(const void* p) {
  const auto* b = static_cast<const uint8_t*>(p);
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}

struct JournalState {
  DatabaseCodec* database = nullptr;
  // A journal record is written and read as its 4-byte page number, then the page image right
  // after it, then a checksum; the page number says which keystream the image gets.
  sqlite3_int64 last_write4 = -1;
  uint32_t write_pgno = 0;
  sqlite3_int64 last_read4 = -1;
  uint32_t read_pgno = 0;
};

struct CodecFile {
  sqlite3_file base;
  sqlite3_file* real;
  DatabaseCodec* database;  // main database files only
  JournalState* journal;    // rollback journals only
};

sqlite3_vfs* base_of(sqlite3_vfs* vfs) { return static_cast<sqlite3_vfs*>(vfs->pAppData); }

sqlite3_file* real_of(sqlite3_file* file) { return reinterpret_cast<CodecFile*>(file)->real; }

// Journal headers start on sector boundaries (multiples of 32 bytes at least) and records follow
// them in steps of page size + 8, so a page image always starts 4 bytes past a multiple of 8. A
// header written right after a record's checksum would otherwise pass for a page image: its magic
// is still zero until the journal is synced, and encrypting it would cut the rollback short.
bool is_record(int amount, sqlite3_int64 offset, sqlite3_int64 last4, uint32_t pgno) {
  return is_page_size(amount) && offset % 8 == 4 && last4 == offset - 4 && pgno != 0 &&
         pgno != kPendingByte / amount + 1;
}

int file_close(sqlite3_file* file) {
  auto* f = reinterpret_cast<CodecFile*>(file);
  int rc = f->real->pMethods ? f->real->pMethods->xClose(f->real) : SQLITE_OK;
  delete f->database;
  delete f->journal;
  f->database = nullptr;
  f->journal = nullptr;
  return rc;
}

int file_read(sqlite3_file* file, void* buf, int amount, sqlite3_int64 offset) {
  auto* f = reinterpret_cast<CodecFile*>(file);
  if (f->database) return f->database->read_database(buf, amount, offset);
  int rc = f->real->pMethods->xRead(f->real, buf, amount, offset);
  JournalState* journal = f->journal;
  if (!journal || rc != SQLITE_OK || !journal->database) return rc;
  if (amount == 4) {
    journal->last_read4 = offset;
    journal->read_pgno = big_endian32(buf);
  } else if (is_record(amount, offset, journal->last_read4, journal->read_pgno)) {
    return journal->database->decrypt_journal_page(journal->read_pgno, buf, amount);
  }
  return rc;
}

int file_write(sqlite3_file* file, const void* buf, int amount, sqlite3_int64 offset) {
  auto* f = reinterpret_cast<CodecFile*>(file);
  if (f->database) return f->database->write_database(buf, amount, offset);
  JournalState* journal = f->journal;
  if (journal && journal->database && journal->database->reads_encrypted()) {
    if (amount == 4) {
      journal->last_write4 = offset;
      journal->write_pgno = big_endian32(buf);
    } else if (is_record(amount, offset, journal->last_write4, journal->write_pgno)) {
      return journal->database->write_journal_page(f->real, journal->write_pgno, buf, amount, offset);
    }
  }
  return f->real->pMethods->xWrite(f->real, buf, amount, offset);
}

int file_truncate(sqlite3_file* file, sqlite3_int64 size) {
  return real_of(file)->pMethods->xTruncate(real_of(file), size);
}
int file_sync(sqlite3_file* file, int flags) { return real_of(file)->pMethods->xSync(real_of(file), flags); }
int file_size(sqlite3_file* file, sqlite3_int64* size) {
  return real_of(file)->pMethods->xFileSize(real_of(file), size);
}
int file_lock(sqlite3_file* file, int level) { return real_of(file)->pMethods->xLock(real_of(file), level); }
int file_unlock(sqlite3_file* file, int level) {
  return real_of(file)->pMethods->xUnlock(real_of(file), level);
}
int file_check_reserved_lock(sqlite3_file* file, int* out) {
  return real_of(file)->pMethods->xCheckReservedLock(real_of(file), out);
}
// Pragmas that a keyed database cannot follow fail with a message instead of being half done.
int refuse_pragma(sqlite3_file* file, char** args) {
  auto* f = reinterpret_cast<CodecFile*>(file);
  if (!f->database || !args[1]) return SQLITE_NOTFOUND;
  // SQLite ignores pragmas it does not know, so a key given this way would leave the file in the
  // clear without a word. Nor can they be served here: this call sees the file, not the connection,
  // and comes while the pragma is being compiled, so it could neither reserve the nonce bytes nor
  // run the rewrite of a rekey. Keys go through the key calls.
  for (const char* name : {"key", "hexkey", "rekey", "hexrekey"}) {
    if (sqlite3_stricmp(args[1], name) == 0) {
      args[0] = sqlite3_mprintf("pragma %s is not available: key the connection through its key call", name);
      return SQLITE_ERROR;
    }
  }
  if (!f->database->keyed() || !args[2]) return SQLITE_NOTFOUND;
  if (sqlite3_stricmp(args[1], "journal_mode") == 0 && sqlite3_stricmp(args[2], "wal") == 0) {
    args[0] = sqlite3_mprintf("an encrypted database cannot use write-ahead logging");
    return SQLITE_ERROR;
  }
  // Pages are encrypted one by one, and a page size change would rewrite them in pieces.
  sqlite3_int64 size = 0;
  if (sqlite3_stricmp(args[1], "page_size") == 0 &&
      f->real->pMethods->xFileSize(f->real, &size) == SQLITE_OK && size > 0) {
    args[0] = sqlite3_mprintf("the page size of an encrypted database cannot change");
    return SQLITE_ERROR;
  }
  return SQLITE_NOTFOUND;
}

int file_control(sqlite3_file* file, int op, void* arg) {
  if (op == SQLITE_FCNTL_PRAGMA) {
    int rc = refuse_pragma(file, static_cast<char**>(arg));
    if (rc != SQLITE_NOTFOUND) return rc;
  }
  return real_of(file)->pMethods->xFileControl(real_of(file), op, arg);
}
int file_sector_size(sqlite3_file* file) { return real_of(file)->pMethods->xSectorSize(real_of(file)); }
int file_device_characteristics(sqlite3_file* file) {
  return real_of(file)->pMethods->xDeviceCharacteristics(real_of(file));
}
int file_shm_map(sqlite3_file* file, int region, int size, int extend, void volatile** out) {
  return real_of(file)->pMethods->xShmMap(real_of(file), region, size, extend, out);
}
int file_shm_lock(sqlite3_file* file, int offset, int n, int flags) {
  return real_of(file)->pMethods->xShmLock(real_of(file), offset, n, flags);
}
void file_shm_barrier(sqlite3_file* file) { real_of(file)->pMethods->xShmBarrier(real_of(file)); }
int file_shm_unmap(sqlite3_file* file, int delete_flag) {
  return real_of(file)->pMethods->xShmUnmap(real_of(file), delete_flag);
}
int file_fetch(sqlite3_file* file, sqlite3_int64 offset, int amount, void** out) {
  return real_of(file)->pMethods->xFetch(real_of(file), offset, amount, out);
}
int file_unfetch(sqlite3_file* file, sqlite3_int64 offset, void* p) {
  return real_of(file)->pMethods->xUnfetch(real_of(file), offset, p);
}

// A mapping handed to a keyed database would give SQLite the encrypted bytes; with none, SQLite
// reads the page through xRead.
int file_fetch_nothing(sqlite3_file*, sqlite3_int64, int, void** out) {
  *out = nullptr;
  return SQLITE_OK;
}

// A keyed database offers no shared memory (so no WAL) and no memory mapping: both would hand
// SQLite the bytes on disk without passing them through the cipher. Its fetch calls stay, since a
// connection that turned memory mapping on before it was keyed keeps calling them.
constexpr sqlite3_io_methods io_methods(bool keyed) {
  return {
      .iVersion = 3,
      .xClose = file_close,
      .xRead = file_read,
      .xWrite = file_write,
      .xTruncate = file_truncate,
      .xSync = file_sync,
      .xFileSize = file_size,
      .xLock = file_lock,
      .xUnlock = file_unlock,
      .xCheckReservedLock = file_check_reserved_lock,
      .xFileControl = file_control,
      .xSectorSize = file_sector_size,
      .xDeviceCharacteristics = file_device_characteristics,
      .xShmMap = keyed ? nullptr : file_shm_map,
      .xShmLock = keyed ? nullptr : file_shm_lock,
      .xShmBarrier = keyed ? nullptr : file_shm_barrier,
      .xShmUnmap = keyed ? nullptr : file_shm_unmap,
      .xFetch = keyed ? file_fetch_nothing : file_fetch,
      .xUnfetch = file_unfetch,
  };
}

constexpr sqlite3_io_methods kMethods = io_methods(false);
constexpr sqlite3_io_methods kKeyedMethods = io_methods(true);

bool is_ours(sqlite3_file* file) {
  return file && (file->pMethods == &kMethods || file->pMethods == &kKeyedMethods);
}

int vfs_open(sqlite3_vfs* vfs, sqlite3_filename name, sqlite3_file* file, int flags, int* out_flags) {
  auto* f = reinterpret_cast<CodecFile*>(file);
  f->base.pMethods = nullptr;
  f->real = reinterpret_cast<sqlite3_file*>(f + 1);
  f->database = nullptr;
  f->journal = nullptr;

  DatabaseCodec* owner = nullptr;
  if (flags & (SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_WAL)) {
    sqlite3_file* database = sqlite3_database_file_object(name);
    if (is_ours(database)) owner = reinterpret_cast<CodecFile*>(database)->database;
    // A write-ahead log would hold whole pages outside the encryption.
    if ((flags & SQLITE_OPEN_WAL) && owner && owner->keyed()) return SQLITE_CANTOPEN;
  }

  sqlite3_vfs* base = base_of(vfs);
  std::memset(f->real, 0, base->szOsFile);
  int rc = base->xOpen(base, name, f->real, flags, out_flags);
  if (rc != SQLITE_OK) {
    if (f->real->pMethods) f->real->pMethods->xClose(f->real);
    return rc;
  }
  if (flags & SQLITE_OPEN_MAIN_DB) {
    f->database = new (std::nothrow) DatabaseCodec(file, f->real);
  } else if (flags & SQLITE_OPEN_MAIN_JOURNAL) {
    f->journal = new (std::nothrow) JournalState{owner};
  }
  if (((flags & SQLITE_OPEN_MAIN_DB) && !f->database) ||
      ((flags & SQLITE_OPEN_MAIN_JOURNAL) && !f->journal)) {
    f->real->pMethods->xClose(f->real);
    return SQLITE_NOMEM;
  }
  f->base.pMethods = &kMethods;
  return SQLITE_OK;
}

int vfs_delete(sqlite3_vfs* vfs, const char* name, int sync_dir) {
  return base_of(vfs)->xDelete(base_of(vfs), name, sync_dir);
}
int vfs_access(sqlite3_vfs* vfs, const char* name, int flags, int* out) {
  return base_of(vfs)->xAccess(base_of(vfs), name, flags, out);
}
int vfs_full_pathname(sqlite3_vfs* vfs, const char* name, int n, char* out) {
  return base_of(vfs)->xFullPathname(base_of(vfs), name, n, out);
}
void* vfs_dl_open(sqlite3_vfs* vfs, const char* name) { return base_of(vfs)->xDlOpen(base_of(vfs), name); }
void vfs_dl_error(sqlite3_vfs* vfs, int n, char* out) { base_of(vfs)->xDlError(base_of(vfs), n, out); }
void (*vfs_dl_sym(sqlite3_vfs* vfs, void* handle, const char* symbol))(void) {
  return base_of(vfs)->xDlSym(base_of(vfs), handle, symbol);
}
void vfs_dl_close(sqlite3_vfs* vfs, void* handle) { base_of(vfs)->xDlClose(base_of(vfs), handle); }
int vfs_randomness(sqlite3_vfs* vfs, int n, char* out) {
  return base_of(vfs)->xRandomness(base_of(vfs), n, out);
}
int vfs_sleep(sqlite3_vfs* vfs, int micros) { return base_of(vfs)->xSleep(base_of(vfs), micros); }
int vfs_current_time(sqlite3_vfs* vfs, double* out) { return base_of(vfs)->xCurrentTime(base_of(vfs), out); }
int vfs_get_last_error(sqlite3_vfs* vfs, int n, char* out) {
  return base_of(vfs)->xGetLastError ? base_of(vfs)->xGetLastError(base_of(vfs), n, out) : 0;
}
int vfs_current_time_int64(sqlite3_vfs* vfs, sqlite3_int64* out) {
  return base_of(vfs)->xCurrentTimeInt64(base_of(vfs), out);
}

}  // namespace

void DatabaseCodec::set_key(std::shared_ptr<PageCipher> key) {
  read_key_ = key;
  write_key_ = std::move(key);
  if (keyed()) file_->pMethods = &kKeyedMethods;
}

void DatabaseCodec::set_write_key(std::shared_ptr<PageCipher> key) {
  write_key_ = std::move(key);
  if (keyed()) file_->pMethods = &kKeyedMethods;
}

bool DatabaseCodec::file_is_empty() const {
  sqlite3_int64 size = 0;
  return real_->pMethods->xFileSize(real_, &size) == SQLITE_OK && size == 0;
}

bool DatabaseCodec::note_header(const uint8_t* page1) {
  int page_size = (page1[16] << 8) | page1[17];
  if (page_size == 1) page_size = 65536;
  const int reserve = page1[20];
  if (!is_page_size(page_size) || reserve > page_size - 480) return false;  // SQLite's own limit
  page_size_ = page_size;
  reserve_ = reserve;
  return true;
}

int DatabaseCodec::load_geometry() {
  if (page_size_) return SQLITE_OK;
  uint8_t header[24];
  int rc = real_->pMethods->xRead(real_, header, sizeof header, 0);
  if (rc == SQLITE_IOERR_SHORT_READ) return SQLITE_NOTFOUND;
  if (rc != SQLITE_OK) return rc;
  return note_header(header) ? SQLITE_OK : SQLITE_NOTFOUND;
}

uint8_t* DatabaseCodec::work(int size) {
  // Called from inside SQLite, where an exception must not pass.
  try {
    if (work_.size() < static_cast<size_t>(size)) work_.resize(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return work_.data();
}

int DatabaseCodec::read_database(void* buf, int amount, sqlite3_int64 offset) {
  if (!encrypts(read_key_)) return real_->pMethods->xRead(real_, buf, amount, offset);
  // A read of part of one page (the header, the change counter at the start of every read
  // transaction): the page is read once and decrypted only as far as the read reaches.
  const bool part_of_a_page = page_size_ && (offset % page_size_ != 0 || amount % page_size_ != 0);
  if (part_of_a_page && reserve_ < page_size_) return read_part_of_page(buf, amount, offset);

  int rc = real_->pMethods->xRead(real_, buf, amount, offset);
  if (rc != SQLITE_OK && rc != SQLITE_IOERR_SHORT_READ) return rc;
  auto* bytes = static_cast<uint8_t*>(buf);
  // A read past the end comes back zero-filled; only the bytes that came from the file are pages.
  int available = amount;
  if (rc == SQLITE_IOERR_SHORT_READ) {
    sqlite3_int64 size = 0;
    if (real_->pMethods->xFileSize(real_, &size) != SQLITE_OK) return SQLITE_IOERR_READ;
    available = static_cast<int>(std::clamp<sqlite3_int64>(size - offset, 0, amount));
  }
  if (offset == 0 && is_page_size(amount) && available >= 24) note_header(bytes);
  // A file without a valid header is not ours to decrypt; SQLite rejects its bytes. A header that
  // could not be read is an I/O error: passing the bytes on undecrypted would make the file look
  // damaged.
  const int geometry = load_geometry();
  if (geometry != SQLITE_OK && geometry != SQLITE_NOTFOUND) return SQLITE_IOERR_READ;
  if (geometry != SQLITE_OK || reserve_ >= page_size_) return rc;
  // Whole pages. A connection that met the file before its first page was written still reads
  // page 1 in its default page size, which may span several of the file's pages or pass its end.
  if (offset % page_size_ == 0 && amount % page_size_ == 0) {
    for (int done = 0; done + page_size_ <= available; done += page_size_) {
      const auto pgno = static_cast<uint32_t>((offset + done) / page_size_ + 1);
      if (!read_key_->decrypt_page(pgno, bytes + done, page_size_, reserve_, page_size_))
        return SQLITE_IOERR_READ;
    }
    return rc;
  }
  // The first read of the file (its header) came before its geometry was known.
  return read_part_of_page(buf, amount, offset);
}

int DatabaseCodec::read_part_of_page(void* buf, int amount, sqlite3_int64 offset) {
  const sqlite3_int64 page_start = offset / page_size_ * page_size_;
  const int in_page = static_cast<int>(offset - page_start);
  if (in_page + amount > page_size_) return SQLITE_IOERR_READ;
  uint8_t* page = work(page_size_);
  if (!page) return SQLITE_IOERR_NOMEM;
  int rc = real_->pMethods->xRead(real_, page, page_size_, page_start);
  if (rc != SQLITE_OK) {
    std::memset(buf, 0, amount);
    return rc == SQLITE_IOERR_SHORT_READ ? rc : SQLITE_IOERR_READ;
  }
  const auto pgno = static_cast<uint32_t>(page_start / page_size_ + 1);
  if (!read_key_->decrypt_page(pgno, page, page_size_, reserve_, in_page + amount)) return SQLITE_IOERR_READ;
  std::memcpy(buf, page + in_page, amount);
  return SQLITE_OK;
}

int DatabaseCodec::write_database(const void* buf, int amount, sqlite3_int64 offset) {
  if (!encrypts(write_key_)) return real_->pMethods->xWrite(real_, buf, amount, offset);
  // SQLite writes database files in whole pages; anything else would reach the disk in the clear.
  if (!is_page_size(amount) || offset % amount != 0) return SQLITE_IOERR_WRITE;
  const auto pgno = static_cast<uint32_t>(offset / amount + 1);
  const auto* plain = static_cast<const uint8_t*>(buf);
  // Page 1 announcing another page size means the file is being rewritten in pieces of the old
  // size; encrypting those pieces would leave pages that no read could decrypt.
  if (pgno == 1 && (!note_header(plain) || page_size_ != amount)) return SQLITE_IOERR_WRITE;
  if (load_geometry() != SQLITE_OK || reserve_ >= amount) return SQLITE_IOERR_WRITE;
  uint8_t* out = work(amount);
  if (!out) return SQLITE_IOERR_NOMEM;
  if (!write_key_->encrypt_page(pgno, plain, out, amount, reserve_)) return SQLITE_IOERR_WRITE;
  return real_->pMethods->xWrite(real_, out, amount, offset);
}

int DatabaseCodec::write_journal_page(sqlite3_file* journal, uint32_t pgno, const void* buf, int amount,
                                      sqlite3_int64 offset) {
  if (load_geometry() != SQLITE_OK || reserve_ >= amount) return SQLITE_IOERR_WRITE;
  uint8_t* out = work(amount);
  if (!out) return SQLITE_IOERR_NOMEM;
  if (!read_key_->encrypt_page(pgno, static_cast<const uint8_t*>(buf), out, amount, reserve_)) {
    return SQLITE_IOERR_WRITE;
  }
  return journal->pMethods->xWrite(journal, out, amount, offset);
}

int DatabaseCodec::decrypt_journal_page(uint32_t pgno, void* buf, int amount) {
  if (!encrypts(read_key_)) return SQLITE_OK;
  if (load_geometry() != SQLITE_OK || reserve_ >= amount) return SQLITE_IOERR_READ;
  return read_key_->decrypt_page(pgno, static_cast<uint8_t*>(buf), amount, reserve_, amount)
             ? SQLITE_OK
             : SQLITE_IOERR_READ;
}

sqlite3_vfs* encrypting_vfs() {
  static sqlite3_vfs vfs;
  static std::once_flag once;
  std::call_once(once, [] {
    sqlite3_initialize();
    sqlite3_vfs* base = sqlite3_vfs_find(nullptr);
    vfs.iVersion = 2;
    vfs.szOsFile = static_cast<int>(sizeof(CodecFile)) + base->szOsFile;
    vfs.mxPathname = base->mxPathname;
    vfs.zName = kVfsName;
    vfs.pAppData = base;
    vfs.xOpen = vfs_open;
    vfs.xDelete = vfs_delete;
    vfs.xAccess = vfs_access;
    vfs.xFullPathname = vfs_full_pathname;
    vfs.xDlOpen = vfs_dl_open;
    vfs.xDlError = vfs_dl_error;
    vfs.xDlSym = vfs_dl_sym;
    vfs.xDlClose = vfs_dl_close;
    vfs.xRandomness = vfs_randomness;
    vfs.xSleep = vfs_sleep;
    vfs.xCurrentTime = vfs_current_time;
    vfs.xGetLastError = vfs_get_last_error;
    vfs.xCurrentTimeInt64 = vfs_current_time_int64;
    sqlite3_vfs_register(&vfs, 0);
  });
  return &vfs;
}

DatabaseCodec* database_codec(sqlite3_file* file) {
  return is_ours(file) ? reinterpret_cast<CodecFile*>(file)->database : nullptr;
}

}  // namespace libkestrun::internal
