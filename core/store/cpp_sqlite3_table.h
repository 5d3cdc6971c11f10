// A whole result held in memory (sqlite3_get_table), read row by row with setRow.
#pragma once

#include <cstdint>

class CppSQLite3Table {
 public:
  CppSQLite3Table() = default;
  // Takes the result array of sqlite3_get_table.
  CppSQLite3Table(char** results, int num_rows, int num_cols);
  CppSQLite3Table(CppSQLite3Table&& other) noexcept;
  CppSQLite3Table& operator=(CppSQLite3Table&& other) noexcept;
  CppSQLite3Table(const CppSQLite3Table&) = delete;
  CppSQLite3Table& operator=(const CppSQLite3Table&) = delete;
  virtual ~CppSQLite3Table();

  int numFields();
  int numRows();
  void setRow(int row);

  const char* fieldName(int col);
  int fieldIndex(const char* name);
  // Every value is text (null for NULL) in the current row.
  const char* fieldValue(int col);
  const char* fieldValue(const char* name);
  bool fieldIsNull(int col);
  bool fieldIsNull(const char* name);
  int getIntField(int col, int null_value = 0);
  int getIntField(const char* name, int null_value = 0);
  int64_t getInt64Field(int col, int64_t null_value = 0);
  double getFloatField(int col, double null_value = 0.0);
  double getFloatField(const char* name, double null_value = 0.0);
  const char* getStringField(int col, const char* null_value = "");
  const char* getStringField(const char* name, const char* null_value = "");

  void finalize();

 private:
  void checkResults() const;
  void checkIndex(int col) const;

  char** results_ = nullptr;  // header row of names, then the values; from sqlite3_get_table
  int num_rows_ = 0;
  int num_cols_ = 0;
  int current_row_ = 0;
};
