// A forward-only cursor over the rows of a stepped statement. A query made by
// CppSQLite3DB::execQuery owns its statement; one made by CppSQLite3Statement::execQuery borrows
// the statement of that object. A fresh query is already on its first row, or at eof.
#pragma once

#include <sqlite3.h>

#include <cstdint>

class CppSQLite3Query {
 public:
  CppSQLite3Query() = default;
  CppSQLite3Query(sqlite3* db, sqlite3_stmt* stmt, bool eof, bool owns_statement);
  // Moving hands the statement over; the source holds none afterwards. Assigning finalizes a
  // statement the target owned.
  CppSQLite3Query(CppSQLite3Query&& other) noexcept;
  CppSQLite3Query& operator=(CppSQLite3Query&& other) noexcept;
  CppSQLite3Query(const CppSQLite3Query&) = delete;
  CppSQLite3Query& operator=(const CppSQLite3Query&) = delete;
  virtual ~CppSQLite3Query();

  bool eof();
  // On a failed step the query lets go of its statement: an owned one is finalized, a borrowed
  // one is reset and stays usable by its CppSQLite3Statement.
  void nextRow();
  int numFields();

  int fieldIndex(const char* name);
  const char* fieldName(int col);
  const char* fieldDeclType(int col);
  int fieldDataType(int col);
  int fieldDataType(const char* name);
  bool fieldIsNull(int col);
  bool fieldIsNull(const char* name);

  // Each getter returns `null_value` for an SQL NULL. Texts and blobs belong to SQLite and stay
  // valid until the next step, reset or finalize.
  int getIntField(int col, int null_value = 0);
  int getIntField(const char* name, int null_value = 0);
  int64_t getInt64Field(int col, int64_t null_value = 0);
  int64_t getInt64Field(const char* name, int64_t null_value = 0);
  double getFloatField(int col, double null_value = 0.0);
  double getFloatField(const char* name, double null_value = 0.0);
  const char* getStringField(int col, const char* null_value = "");
  const char* getStringField(const char* name, const char* null_value = "");
  const unsigned char* getBlobField(int col, int& len);
  const unsigned char* getBlobField(const char* name, int& len);
  // The column's text as SQLite converts it; null for NULL.
  const char* fieldValue(int col);
  const char* fieldValue(const char* name);

  void finalize();

 private:
  void checkVM() const;
  void checkIndex(int col) const;

  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
  bool eof_ = true;
  int num_cols_ = 0;
  bool owns_statement_ = false;
};
