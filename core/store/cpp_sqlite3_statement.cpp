#include "core/store/cpp_sqlite3_statement.h"

#include <utility>

#include "core/store/cpp_sqlite3_exception.h"

CppSQLite3Statement::CppSQLite3Statement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}

CppSQLite3Statement::CppSQLite3Statement(CppSQLite3Statement&& other) noexcept
    : db_(other.db_), stmt_(std::exchange(other.stmt_, nullptr)) {}

CppSQLite3Statement& CppSQLite3Statement::operator=(CppSQLite3Statement&& other) noexcept {
  if (this != &other) {
    try {
      finalize();
    } catch (...) {
    }
    db_ = other.db_;
    stmt_ = std::exchange(other.stmt_, nullptr);
  }
  return *this;
}

CppSQLite3Statement::~CppSQLite3Statement() {
  try {
    finalize();
  } catch (...) {
  }
}

int CppSQLite3Statement::execDML() {
  checkDB();
  checkVM();
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_DONE) {
    int changes = sqlite3_changes(db_);
    rc = sqlite3_reset(stmt_);
    if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(db_));
    return changes;
  }
  if (rc == SQLITE_ROW) {
    // A row is no failure to SQLite, so its error code would say "not an error".
    sqlite3_reset(stmt_);
    throw CppSQLite3Exception(CPPSQLITE_ERROR, "Statement returns rows; run it with execQuery");
  }
  throwAfterReset(rc);
}

CppSQLite3Query CppSQLite3Statement::execQuery() {
  checkDB();
  checkVM();
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return CppSQLite3Query(db_, stmt_, false, false);
  if (rc == SQLITE_DONE) return CppSQLite3Query(db_, stmt_, true, false);
  throwAfterReset(rc);
}

int CppSQLite3Statement::execScalar(int null_value) {
  CppSQLite3Query query = execQuery();
  if (query.eof() || query.numFields() < 1)
    throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid scalar query");
  return query.getIntField(0, null_value);
}

void CppSQLite3Statement::bind(int param, const char* value) {
  checkVM();
  int rc = sqlite3_bind_text(stmt_, param, value, -1, SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, "Error binding string param");
}

void CppSQLite3Statement::bind(int param, const char* value, int len) {
  checkVM();
  int rc = sqlite3_bind_text(stmt_, param, value, len, SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, "Error binding string param");
}

void CppSQLite3Statement::bind(int param, int value) {
  checkVM();
  int rc = sqlite3_bind_int(stmt_, param, value);
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, "Error binding int param");
}

void CppSQLite3Statement::bind(int param, long value) { bind(param, static_cast<long long>(value)); }

void CppSQLite3Statement::bind(int param, long long value) {
  checkVM();
  int rc = sqlite3_bind_int64(stmt_, param, value);
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, "Error binding int param");
}

void CppSQLite3Statement::bind(int param, double value) {
  checkVM();
  int rc = sqlite3_bind_double(stmt_, param, value);
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, "Error binding double param");
}

void CppSQLite3Statement::bind(int param, const unsigned char* blob, int len) {
  checkVM();
  int rc = sqlite3_bind_blob(stmt_, param, blob, len, SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, "Error binding blob param");
}

void CppSQLite3Statement::bindNull(int param) {
  checkVM();
  int rc = sqlite3_bind_null(stmt_, param);
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, "Error binding NULL param");
}

void CppSQLite3Statement::bind(const char* param, const char* value) {
  bind(bindParameterIndex(param), value);
}
void CppSQLite3Statement::bind(const char* param, int value) { bind(bindParameterIndex(param), value); }
void CppSQLite3Statement::bind(const char* param, long value) { bind(bindParameterIndex(param), value); }
void CppSQLite3Statement::bind(const char* param, long long value) { bind(bindParameterIndex(param), value); }
void CppSQLite3Statement::bind(const char* param, double value) { bind(bindParameterIndex(param), value); }
void CppSQLite3Statement::bind(const char* param, const unsigned char* blob, int len) {
  bind(bindParameterIndex(param), blob, len);
}
void CppSQLite3Statement::bindNull(const char* param) { bindNull(bindParameterIndex(param)); }

int CppSQLite3Statement::bindParameterIndex(const char* param) {
  checkVM();
  int index = sqlite3_bind_parameter_index(stmt_, param);
  if (index == 0) {
    char* detail = sqlite3_mprintf("Parameter '%s' is not valid for this statement", param);
    throw CppSQLite3Exception(CPPSQLITE_ERROR, detail, true);
  }
  return index;
}

const char* CppSQLite3Statement::sql() const { return stmt_ ? sqlite3_sql(stmt_) : nullptr; }

void CppSQLite3Statement::reset() {
  if (!stmt_) return;
  int rc = sqlite3_reset(stmt_);
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(db_));
}

void CppSQLite3Statement::finalize() {
  if (!stmt_) return;
  int rc = sqlite3_finalize(std::exchange(stmt_, nullptr));
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(db_));
}

void CppSQLite3Statement::checkDB() const {
  if (!db_) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Database not open");
}

void CppSQLite3Statement::checkVM() const {
  if (!stmt_) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Null Virtual Machine pointer");
}

void CppSQLite3Statement::throwAfterReset(int step_rc) {
  int rc = sqlite3_reset(stmt_);
  throw CppSQLite3Exception(rc != SQLITE_OK ? rc : step_rc, sqlite3_errmsg(db_));
}
