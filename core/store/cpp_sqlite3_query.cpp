#include "core/store/cpp_sqlite3_query.h"

#include <cstring>
#include <utility>

#include "core/store/cpp_sqlite3_exception.h"

CppSQLite3Query::CppSQLite3Query(sqlite3* db, sqlite3_stmt* stmt, bool eof, bool owns_statement)
    : db_(db),
      stmt_(stmt),
      eof_(eof),
      num_cols_(sqlite3_column_count(stmt)),
      owns_statement_(owns_statement) {}

CppSQLite3Query::CppSQLite3Query(CppSQLite3Query&& other) noexcept
    : db_(other.db_),
      stmt_(std::exchange(other.stmt_, nullptr)),
      eof_(other.eof_),
      num_cols_(other.num_cols_),
      owns_statement_(other.owns_statement_) {}

CppSQLite3Query& CppSQLite3Query::operator=(CppSQLite3Query&& other) noexcept {
  if (this != &other) {
    try {
      finalize();
    } catch (...) {
    }
    db_ = other.db_;
    stmt_ = std::exchange(other.stmt_, nullptr);
    eof_ = other.eof_;
    num_cols_ = other.num_cols_;
    owns_statement_ = other.owns_statement_;
  }
  return *this;
}

CppSQLite3Query::~CppSQLite3Query() {
  try {
    finalize();
  } catch (...) {
  }
}

bool CppSQLite3Query::eof() {
  checkVM();
  return eof_;
}

void CppSQLite3Query::nextRow() {
  checkVM();
  int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return;
  if (rc == SQLITE_DONE) {
    eof_ = true;
    return;
  }
  sqlite3_stmt* stmt = std::exchange(stmt_, nullptr);
  int code = owns_statement_ ? sqlite3_finalize(stmt) : sqlite3_reset(stmt);
  if (code == SQLITE_OK) code = rc;
  throw CppSQLite3Exception(code, sqlite3_errmsg(db_));
}

int CppSQLite3Query::numFields() {
  checkVM();
  return num_cols_;
}

int CppSQLite3Query::fieldIndex(const char* name) {
  checkVM();
  if (name) {
    for (int col = 0; col < num_cols_; ++col) {
      const char* column = sqlite3_column_name(stmt_, col);
      if (column && std::strcmp(name, column) == 0) return col;
    }
  }
  throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid field name requested");
}

const char* CppSQLite3Query::fieldName(int col) {
  checkIndex(col);
  return sqlite3_column_name(stmt_, col);
}

const char* CppSQLite3Query::fieldDeclType(int col) {
  checkIndex(col);
  return sqlite3_column_decltype(stmt_, col);
}

int CppSQLite3Query::fieldDataType(int col) {
  checkIndex(col);
  return sqlite3_column_type(stmt_, col);
}

int CppSQLite3Query::fieldDataType(const char* name) { return fieldDataType(fieldIndex(name)); }

bool CppSQLite3Query::fieldIsNull(int col) { return fieldDataType(col) == SQLITE_NULL; }

bool CppSQLite3Query::fieldIsNull(const char* name) { return fieldIsNull(fieldIndex(name)); }

int CppSQLite3Query::getIntField(int col, int null_value) {
  return fieldIsNull(col) ? null_value : sqlite3_column_int(stmt_, col);
}

int CppSQLite3Query::getIntField(const char* name, int null_value) {
  return getIntField(fieldIndex(name), null_value);
}

int64_t CppSQLite3Query::getInt64Field(int col, int64_t null_value) {
  return fieldIsNull(col) ? null_value : sqlite3_column_int64(stmt_, col);
}

int64_t CppSQLite3Query::getInt64Field(const char* name, int64_t null_value) {
  return getInt64Field(fieldIndex(name), null_value);
}

double CppSQLite3Query::getFloatField(int col, double null_value) {
  return fieldIsNull(col) ? null_value : sqlite3_column_double(stmt_, col);
}

double CppSQLite3Query::getFloatField(const char* name, double null_value) {
  return getFloatField(fieldIndex(name), null_value);
}

const char* CppSQLite3Query::getStringField(int col, const char* null_value) {
  if (fieldIsNull(col)) return null_value;
  return reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
}

const char* CppSQLite3Query::getStringField(const char* name, const char* null_value) {
  return getStringField(fieldIndex(name), null_value);
}

const unsigned char* CppSQLite3Query::getBlobField(int col, int& len) {
  checkIndex(col);
  auto* blob = static_cast<const unsigned char*>(sqlite3_column_blob(stmt_, col));
  len = sqlite3_column_bytes(stmt_, col);
  return blob;
}

const unsigned char* CppSQLite3Query::getBlobField(const char* name, int& len) {
  return getBlobField(fieldIndex(name), len);
}

const char* CppSQLite3Query::fieldValue(int col) {
  checkIndex(col);
  return reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
}

const char* CppSQLite3Query::fieldValue(const char* name) { return fieldValue(fieldIndex(name)); }

void CppSQLite3Query::finalize() {
  if (!stmt_ || !owns_statement_) return;
  int rc = sqlite3_finalize(std::exchange(stmt_, nullptr));
  if (rc != SQLITE_OK) throw CppSQLite3Exception(rc, sqlite3_errmsg(db_));
}

void CppSQLite3Query::checkVM() const {
  if (!stmt_) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Null Virtual Machine pointer");
}

void CppSQLite3Query::checkIndex(int col) const {
  checkVM();
  if (col < 0 || col >= num_cols_)
    throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid field index requested");
}
