// One SQLite connection. Every failure is thrown as CppSQLite3Exception. Files are opened through
// the encrypting file layer, so a connection keyed with setKey right after open reads and writes
// only encrypted pages.
#pragma once

#include <sqlite3.h>

#include <cstdint>

#include "core/store/cpp_sqlite3_query.h"
#include "core/store/cpp_sqlite3_statement.h"
#include "core/store/cpp_sqlite3_table.h"

class CppSQLite3DB {
 public:
  CppSQLite3DB() = default;
  CppSQLite3DB(const CppSQLite3DB&) = delete;
  CppSQLite3DB& operator=(const CppSQLite3DB&) = delete;
  virtual ~CppSQLite3DB();

  // Read-write, created when missing; "file:" URIs are accepted. On failure the handle stays
  // and is closed by the destructor. An open connection is closed first (see close).
  void open(const char* file);
  // Keys the connection; belongs right after open, before anything reads the database.
  void setKey(const char* key, int len);
  // Fails while statements of the connection still exist; the connection then stays open.
  void close();

  void setBusyTimeout(int ms);

  // Runs every statement of `sql` and returns the rows changed by the last one.
  int execDML(const char* sql);
  // Compiles the first statement of `sql`; the query owns the statement.
  CppSQLite3Query execQuery(const char* sql);
  int execScalar(const char* sql, int null_value = 0);
  CppSQLite3Statement compileStatement(const char* sql);
  CppSQLite3Table getTable(const char* sql);
  bool tableExists(const char* table);

  int64_t lastRowId();
  bool isAutoCommit();

  // The raw handle, for the few callers that need SQLite's own API (null when not open).
  sqlite3* handle() const { return db_; }

 private:
  void checkDB() const;
  sqlite3_stmt* compile(const char* sql);

  sqlite3* db_ = nullptr;
  int busy_timeout_ms_ = 60000;
};
