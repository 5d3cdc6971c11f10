// A file layer over the system's that fails chosen reads with an I/O error, as a failing disk
// would. It becomes SQLite's default file layer when the test program loads, before anything
// opens a database, so the encrypting layer that every connection goes through sits on top of
// it. It passes everything through until a fault is armed. Any thread.
#pragma once

#include <sqlite3.h>

#include <string>

namespace kestrun_test {

// The next `times` reads of the file at `path` whose range covers `offset` (and, unless it is 0,
// whose length is `amount`) fail with SQLITE_IOERR_READ. Replaces any fault armed before.
void fail_reads(const std::string& path, sqlite3_int64 offset, int times, int amount = 0);
// Disarms the fault; returns how many reads it failed.
int clear_read_faults();

}  // namespace kestrun_test
