#include "core/store/cpp_sqlite3_db.h"

#include "core/store/codec.h"
#include "core/store/cpp_sqlite3_exception.h"

CppSQLite3DB::~CppSQLite3DB() {
  try {
    close();
  } catch (...) {
  }
}

void CppSQLite3DB::open(const char* file) {
  // Opening again replaces the connection; it would otherwise be lost with its file open.
  close();
  int rc = sqlite3_open_v2(file, &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI,
                           kestrun_codec_vfs_name());
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(db_));
  sqlite3_busy_timeout(db_, busy_timeout_ms_);
}

void CppSQLite3DB::setKey(const char* key, int len) {
  checkDB();
  int rc = kestrun_sqlite3_key(db_, key, len);
  // The key call leaves the connection's error message alone, so name the result itself.
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errstr(rc));
}

void CppSQLite3DB::close() {
  if (!db_) return;
  if (sqlite3_close(db_) != SQLITE_OK) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Unable to close database");
  db_ = nullptr;
}

void CppSQLite3DB::setBusyTimeout(int ms) {
  busy_timeout_ms_ = ms;
  if (db_) sqlite3_busy_timeout(db_, ms);
}

int CppSQLite3DB::execDML(const char* sql) {
  checkDB();
  char* error = nullptr;
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &error);
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, error, true);
  return sqlite3_changes(db_);
}

CppSQLite3Query CppSQLite3DB::execQuery(const char* sql) {
  sqlite3_stmt* stmt = compile(sql);
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) return CppSQLite3Query(db_, stmt, false, true);
  if (rc == SQLITE_DONE) return CppSQLite3Query(db_, stmt, true, true);
  int finalize_rc = sqlite3_finalize(stmt);
  throw CppSQLite3Exception(finalize_rc != SQLITE_OK ? finalize_rc : rc, sqlite3_errmsg(db_));
}

int CppSQLite3DB::execScalar(const char* sql, int null_value) {
  CppSQLite3Query query = execQuery(sql);
  if (query.eof() || query.numFields() < 1)
    throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid scalar query");
  return query.getIntField(0, null_value);
}

CppSQLite3Statement CppSQLite3DB::compileStatement(const char* sql) {
  checkDB();
  return CppSQLite3Statement(db_, compile(sql));
}

CppSQLite3Table CppSQLite3DB::getTable(const char* sql) {
  checkDB();
  char** results = nullptr;
  int rows = 0;
  int cols = 0;
  char* error = nullptr;
  int rc = sqlite3_get_table(db_, sql, &results, &rows, &cols, &error);
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, error, true);
  return CppSQLite3Table(results, rows, cols);
}

bool CppSQLite3DB::tableExists(const char* table) {
  char* sql = sqlite3_mprintf("select count(*) from sqlite_master where type='table' and name=%Q", table);
  int count = 0;
  try {
    count = execScalar(sql);
  } catch (...) {
    sqlite3_free(sql);
    throw;
  }
  sqlite3_free(sql);
  return count > 0;
}

int64_t CppSQLite3DB::lastRowId() {
  checkDB();
  return sqlite3_last_insert_rowid(db_);
}

bool CppSQLite3DB::isAutoCommit() {
  checkDB();
  return sqlite3_get_autocommit(db_) != 0;
}

void CppSQLite3DB::checkDB() const {
  if (!db_) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Database not open");
}

sqlite3_stmt* CppSQLite3DB::compile(const char* sql) {
  checkDB();
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr);
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(db_));
  // Text without a statement (blank, or only a comment) compiles to nothing, which SQLite would
  // later report as misuse.
  if (!stmt) throw CppSQLite3Exception(CPPSQLITE_ERROR, "No SQL statement to compile");
  return stmt;
}
