#include "faulty_vfs.h"

#include <cstring>
#include <mutex>

namespace kestrun_test {
namespace {

struct Fault {
  std::string path;
  sqlite3_int64 offset = 0;
  int amount = 0;
  int left = 0;
  int failed = 0;
};

std::mutex fault_mutex;
Fault fault;  // guarded by fault_mutex

struct FaultyFile {
  sqlite3_file base;
  sqlite3_file* real;
  char path[512];
};

sqlite3_vfs* real_vfs() { return static_cast<sqlite3_vfs*>(sqlite3_vfs_find("unix")); }
sqlite3_file* real_of(sqlite3_file* f) { return reinterpret_cast<FaultyFile*>(f)->real; }

bool should_fail(const char* path, int amount, sqlite3_int64 offset) {
  std::lock_guard<std::mutex> lock(fault_mutex);
  if (fault.left == 0 || fault.path != path || offset > fault.offset || offset + amount <= fault.offset ||
      (fault.amount != 0 && fault.amount != amount))
    return false;
  --fault.left;
  ++fault.failed;
  return true;
}

int file_close(sqlite3_file* f) { return real_of(f)->pMethods->xClose(real_of(f)); }
int file_read(sqlite3_file* f, void* buf, int amount, sqlite3_int64 offset) {
  if (should_fail(reinterpret_cast<FaultyFile*>(f)->path, amount, offset)) return SQLITE_IOERR_READ;
  return real_of(f)->pMethods->xRead(real_of(f), buf, amount, offset);
}
int file_write(sqlite3_file* f, const void* buf, int amount, sqlite3_int64 offset) {
  return real_of(f)->pMethods->xWrite(real_of(f), buf, amount, offset);
}
int file_truncate(sqlite3_file* f, sqlite3_int64 size) {
  return real_of(f)->pMethods->xTruncate(real_of(f), size);
}
int file_sync(sqlite3_file* f, int flags) { return real_of(f)->pMethods->xSync(real_of(f), flags); }
int file_size(sqlite3_file* f, sqlite3_int64* size) {
  return real_of(f)->pMethods->xFileSize(real_of(f), size);
}
int file_lock(sqlite3_file* f, int level) { return real_of(f)->pMethods->xLock(real_of(f), level); }
int file_unlock(sqlite3_file* f, int level) { return real_of(f)->pMethods->xUnlock(real_of(f), level); }
int file_check_reserved_lock(sqlite3_file* f, int* out) {
  return real_of(f)->pMethods->xCheckReservedLock(real_of(f), out);
}
int file_control(sqlite3_file* f, int op, void* arg) {
  return real_of(f)->pMethods->xFileControl(real_of(f), op, arg);
}
int file_sector_size(sqlite3_file* f) { return real_of(f)->pMethods->xSectorSize(real_of(f)); }
int file_device_characteristics(sqlite3_file* f) {
  return real_of(f)->pMethods->xDeviceCharacteristics(real_of(f));
}
int file_shm_map(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
  return real_of(f)->pMethods->xShmMap(real_of(f), region, size, extend, out);
}
int file_shm_lock(sqlite3_file* f, int offset, int n, int flags) {
  return real_of(f)->pMethods->xShmLock(real_of(f), offset, n, flags);
}
void file_shm_barrier(sqlite3_file* f) { real_of(f)->pMethods->xShmBarrier(real_of(f)); }
int file_shm_unmap(sqlite3_file* f, int delete_flag) {
  return real_of(f)->pMethods->xShmUnmap(real_of(f), delete_flag);
}
// No memory mapping: every page goes through xRead, where the faults are.
int file_fetch(sqlite3_file*, sqlite3_int64, int, void** out) {
  *out = nullptr;
  return SQLITE_OK;
}
int file_unfetch(sqlite3_file*, sqlite3_int64, void*) { return SQLITE_OK; }

const sqlite3_io_methods kMethods = {
    3,
    file_close,
    file_read,
    file_write,
    file_truncate,
    file_sync,
    file_size,
    file_lock,
    file_unlock,
    file_check_reserved_lock,
    file_control,
    file_sector_size,
    file_device_characteristics,
    file_shm_map,
    file_shm_lock,
    file_shm_barrier,
    file_shm_unmap,
    file_fetch,
    file_unfetch,
};

int vfs_open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out_flags) {
  auto* f = reinterpret_cast<FaultyFile*>(file);
  f->base.pMethods = nullptr;
  f->real = reinterpret_cast<sqlite3_file*>(f + 1);
  std::memset(f->real, 0, real_vfs()->szOsFile);
  std::memset(f->path, 0, sizeof f->path);
  if (name) std::strncpy(f->path, name, sizeof f->path - 1);
  int rc = real_vfs()->xOpen(real_vfs(), name, f->real, flags, out_flags);
  if (rc != SQLITE_OK) {
    if (f->real->pMethods) f->real->pMethods->xClose(f->real);
    return rc;
  }
  f->base.pMethods = &kMethods;
  return SQLITE_OK;
}

sqlite3_vfs make_vfs() {
  sqlite3_vfs* real = real_vfs();
  sqlite3_vfs vfs = *real;
  vfs.szOsFile = static_cast<int>(sizeof(FaultyFile)) + real->szOsFile;
  vfs.zName = "kestrun-test-faulty";
  vfs.pNext = nullptr;
  vfs.xOpen = vfs_open;
  return vfs;
}

[[maybe_unused]] const bool kRegistered = [] {
  static sqlite3_vfs vfs = make_vfs();
  return sqlite3_vfs_register(&vfs, 1) == SQLITE_OK;
}();

}  // namespace

void fail_reads(const std::string& path, sqlite3_int64 offset, int times, int amount) {
  std::lock_guard<std::mutex> lock(fault_mutex);
  fault = Fault{path, offset, amount, times, 0};
}

int clear_read_faults() {
  std::lock_guard<std::mutex> lock(fault_mutex);
  int failed = fault.failed;
  fault = Fault{};
  return failed;
}

}  // namespace kestrun_test
