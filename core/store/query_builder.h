// Statements over chosen columns of one table: a SELECT of chosen columns filtered by equality on
// chosen columns, and a DELETE filtered the same way. The builder is a short-lived value; the
// compiled statements are made once per connection and reused.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "core/store/cpp_sqlite3.h"
#include "core/store/db_row.h"
#include "core/store/sql_text.h"
#include "core/store/statement_reset.h"

namespace libkestrun::internal {

// A compiled SELECT that returns every matching row as a row record.
template <class Row>
class FetchSqliteQuery {
 public:
  using Attr = typename Row::attr_type;

  FetchSqliteQuery() = default;
  FetchSqliteQuery(CppSQLite3DB& db, const std::string& sql, const std::set<Attr>& where_columns)
      : statement_(db.compileStatement(sql.c_str())), where_columns_(where_columns) {}
  // The compiled statement moves over; the where set is copied and stays with the source too.
  FetchSqliteQuery(FetchSqliteQuery&& other)
      : statement_(std::move(other.statement_)), where_columns_(other.where_columns_) {}
  FetchSqliteQuery& operator=(FetchSqliteQuery&& other) {
    statement_ = std::move(other.statement_);
    where_columns_ = other.where_columns_;
    return *this;
  }

  const std::set<Attr>& where_columns() const { return where_columns_; }

  // The rows whose `column` equals `value`, in the order SQLite yields them. `column` must be the
  // statement's one where column.
  template <class Value>
  std::vector<Row> fetch_all(Attr column, const Value& value) {
    ColumnCodec<Value>::bind(statement_, static_cast<int>(column) + 1, value);
    ResetOnUnwind reset(statement_);
    std::vector<Row> rows;
    {
      CppSQLite3Query cursor = statement_.execQuery();
      while (!cursor.eof()) {
        rows.emplace_back(cursor);
        cursor.nextRow();
      }
    }
    statement_.reset();
    return rows;
  }

 private:
  CppSQLite3Statement statement_;
  std::set<Attr> where_columns_;
};

// A compiled DELETE by equality on one column.
template <class Row>
class RemoveSqliteQuery {
 public:
  using Attr = typename Row::attr_type;

  RemoveSqliteQuery() = default;
  explicit RemoveSqliteQuery(CppSQLite3Statement statement) : statement_(std::move(statement)) {}
  RemoveSqliteQuery& operator=(CppSQLite3Statement statement) {
    statement_ = std::move(statement);
    return *this;
  }

  // True when at least one row was deleted. `column` must be the statement's where column.
  template <class Value>
  bool remove_where(Attr column, const Value& value) {
    ColumnCodec<Value>::bind(statement_, static_cast<int>(column) + 1, value);
    ResetOnUnwind reset(statement_);
    int removed = statement_.execDML();
    statement_.reset();
    return removed > 0;
  }

 private:
  CppSQLite3Statement statement_;
};

template <class Row>
class QueryBuilder {
 public:
  using Attr = typename Row::attr_type;

  QueryBuilder& select_all() {
    for (const auto& [column, name] : Row::column_names) select_columns.insert(column);
    return *this;
  }

  // A column added twice counts once; columns are always listed in column order.
  QueryBuilder& where(Attr column) {
    where_columns.insert(column);
    return *this;
  }

  // SELECT `A`, `B` FROM `T` WHERE `A` = ?1 (no semicolon; without a where column the text ends
  // in a blank). Throws std::out_of_range when no column is selected.
  std::string build() const {
    std::vector<std::string> columns;
    for (Attr column : select_columns) columns.push_back(quoted(Row::column_names.at(column)));
    std::string where_part;
    if (!where_columns.empty())
      where_part = "WHERE " + join(conditions(Row::column_names, where_columns), " AND ");
    return "SELECT " + join(columns, ", ") + " FROM " + quoted(Row::table_name) + " " + where_part;
  }

  // DELETE FROM `T` WHERE `A` = ?1; Throws std::out_of_range when there is no where column.
  std::string _build_remove() const {
    return "DELETE FROM " + quoted(Row::table_name) + " WHERE " +
           join(conditions(Row::column_names, where_columns), " AND ") + ";";
  }

  FetchSqliteQuery<Row> build_stmt(CppSQLite3DB& db) const {
    return FetchSqliteQuery<Row>(db, build(), where_columns);
  }

  CppSQLite3Statement build_remove_stmt(CppSQLite3DB& db) const {
    return db.compileStatement(_build_remove().c_str());
  }

  // Only columns of the table; sets keep column order and hold a column once.
  std::set<Attr> select_columns;  // the columns to select
  std::set<Attr> where_columns;   // the columns that must equal a bound value
};

}  // namespace libkestrun::internal
