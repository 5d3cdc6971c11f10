// One compiled statement of a connection, reused for every run: bind every placeholder, run,
// reset. Bindings survive a reset. The statement is finalized when the object goes.
#pragma once

#include <sqlite3.h>

#include "core/store/cpp_sqlite3_query.h"

class CppSQLite3Statement {
 public:
  CppSQLite3Statement() = default;
  CppSQLite3Statement(sqlite3* db, sqlite3_stmt* stmt);
  // Moving hands the statement over and leaves the source empty; assigning finalizes what the
  // target held, so no statement is ever held twice or leaked.
  CppSQLite3Statement(CppSQLite3Statement&& other) noexcept;
  CppSQLite3Statement& operator=(CppSQLite3Statement&& other) noexcept;
  CppSQLite3Statement(const CppSQLite3Statement&) = delete;
  CppSQLite3Statement& operator=(const CppSQLite3Statement&) = delete;
  virtual ~CppSQLite3Statement();

  // Runs a statement that returns no rows and gives the number of rows it changed. A failed run
  // resets the statement before throwing, so it can be bound and run again.
  int execDML();
  // The returned query borrows this statement; reset once its rows have been read.
  CppSQLite3Query execQuery();
  // Column 0 of the first row as an int (`null_value` for NULL); does not reset.
  int execScalar(int null_value = 0);

  void bind(int param, const char* value);  // copied by SQLite
  // Text of `len` bytes, which may hold NUL bytes; copied by SQLite.
  void bind(int param, const char* value, int len);
  void bind(int param, int value);
  // Both 64-bit spellings, so that int64_t and sqlite3_int64 values bind without a cast.
  void bind(int param, long value);
  void bind(int param, long long value);
  void bind(int param, double value);
  void bind(int param, const unsigned char* blob, int len);  // copied by SQLite
  void bindNull(int param);
  void bind(const char* param, const char* value);
  void bind(const char* param, int value);
  void bind(const char* param, long value);
  void bind(const char* param, long long value);
  void bind(const char* param, double value);
  void bind(const char* param, const unsigned char* blob, int len);
  void bindNull(const char* param);
  int bindParameterIndex(const char* param);

  // The statement's SQL text; null when empty.
  const char* sql() const;

  void reset();
  void finalize();

 private:
  void checkDB() const;
  void checkVM() const;
  [[noreturn]] void throwAfterReset(int step_rc);

  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
};
