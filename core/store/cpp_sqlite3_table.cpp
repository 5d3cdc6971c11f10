#include "core/store/cpp_sqlite3_table.h"

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/store/cpp_sqlite3_exception.h"

CppSQLite3Table::CppSQLite3Table(char** results, int num_rows, int num_cols)
    : results_(results), num_rows_(num_rows), num_cols_(num_cols) {}

CppSQLite3Table::CppSQLite3Table(CppSQLite3Table&& other) noexcept
    : results_(std::exchange(other.results_, nullptr)),
      num_rows_(other.num_rows_),
      num_cols_(other.num_cols_),
      current_row_(other.current_row_) {}

CppSQLite3Table& CppSQLite3Table::operator=(CppSQLite3Table&& other) noexcept {
  if (this != &other) {
    finalize();
    results_ = std::exchange(other.results_, nullptr);
    num_rows_ = other.num_rows_;
    num_cols_ = other.num_cols_;
    current_row_ = other.current_row_;
  }
  return *this;
}

CppSQLite3Table::~CppSQLite3Table() { finalize(); }

int CppSQLite3Table::numFields() {
  checkResults();
  return num_cols_;
}

int CppSQLite3Table::numRows() {
  checkResults();
  return num_rows_;
}

void CppSQLite3Table::setRow(int row) {
  checkResults();
  if (row < 0 || row >= num_rows_) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid row index requested");
  current_row_ = row;
}

const char* CppSQLite3Table::fieldName(int col) {
  checkIndex(col);
  return results_[col];
}

int CppSQLite3Table::fieldIndex(const char* name) {
  checkResults();
  if (name) {
    for (int col = 0; col < num_cols_; ++col) {
      if (std::strcmp(name, results_[col]) == 0) return col;
    }
  }
  throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid field name requested");
}

const char* CppSQLite3Table::fieldValue(int col) {
  checkIndex(col);
  if (num_rows_ == 0) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid row index requested");
  return results_[(current_row_ + 1) * num_cols_ + col];
}

const char* CppSQLite3Table::fieldValue(const char* name) { return fieldValue(fieldIndex(name)); }

bool CppSQLite3Table::fieldIsNull(int col) { return fieldValue(col) == nullptr; }

bool CppSQLite3Table::fieldIsNull(const char* name) { return fieldIsNull(fieldIndex(name)); }

int CppSQLite3Table::getIntField(int col, int null_value) {
  const char* value = fieldValue(col);
  return value ? std::atoi(value) : null_value;
}

int CppSQLite3Table::getIntField(const char* name, int null_value) {
  return getIntField(fieldIndex(name), null_value);
}

int64_t CppSQLite3Table::getInt64Field(int col, int64_t null_value) {
  const char* value = fieldValue(col);
  return value ? std::strtoll(value, nullptr, 10) : null_value;
}

double CppSQLite3Table::getFloatField(int col, double null_value) {
  const char* value = fieldValue(col);
  return value ? std::strtod(value, nullptr) : null_value;
}

double CppSQLite3Table::getFloatField(const char* name, double null_value) {
  return getFloatField(fieldIndex(name), null_value);
}

const char* CppSQLite3Table::getStringField(int col, const char* null_value) {
  const char* value = fieldValue(col);
  return value ? value : null_value;
}

const char* CppSQLite3Table::getStringField(const char* name, const char* null_value) {
  return getStringField(fieldIndex(name), null_value);
}

void CppSQLite3Table::finalize() {
  if (results_) sqlite3_free_table(std::exchange(results_, nullptr));
}

void CppSQLite3Table::checkResults() const {
  if (!results_) throw CppSQLite3Exception(CPPSQLITE_ERROR, "Null Results pointer");
}

void CppSQLite3Table::checkIndex(int col) const {
  checkResults();
  if (col < 0 || col >= num_cols_)
    throw CppSQLite3Exception(CPPSQLITE_ERROR, "Invalid field index requested");
}
