// The five prepared statements through which one table's rows are written and read by key:
// insert, fetch, update, exists and remove. The texts come from the row type's static description
// and are compiled once per connection; every use binds, runs and resets.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/store/cpp_sqlite3.h"
#include "core/store/db_row.h"
#include "core/store/query_builder.h"
#include "core/store/sql_text.h"
#include "core/store/statement_reset.h"

namespace libkestrun::internal {

template <class Row, class Key = std::string>
class SqliteQuery {
 public:
  using Attr = typename Row::attr_type;
  // Decides from the stored row (if any) and the new one whether the new one is written.
  using Predicate = std::function<bool(const std::optional<Row>& stored, const Row& candidate)>;

  // Five empty statements: every operation fails with "Null Virtual Machine pointer".
  SqliteQuery() = default;

  // Compiles the five statements in field order; when one fails, those already compiled are
  // finalized and the exception passes.
  explicit SqliteQuery(CppSQLite3DB& db)
      : insert_stmt(db.compileStatement(_build_insert().c_str())),
        fetch_stmt(db.compileStatement(_build_fetch().c_str())),
        update_stmt(db.compileStatement(_build_update().c_str())),
        exists_stmt(db.compileStatement(_build_exists().c_str())),
        remove_stmt(db.compileStatement(_build_remove().c_str())) {}

  // INSERT INTO `T` (`A`, `B`) VALUES (?1, ?2);
  static std::string _build_insert() {
    std::vector<std::string> names;
    std::vector<std::string> values;
    for (const auto& [column, name] : Row::column_names) {
      names.push_back(quoted(name));
      values.push_back(placeholder(column));
    }
    return "INSERT INTO " + quoted(Row::table_name) + " (" + join(names, ", ") + ") VALUES (" +
           join(values, ", ") + ");";
  }

  // SELECT `A`, `B` FROM `T` WHERE `A` = ?1
  static std::string _build_fetch() {
    QueryBuilder<Row> builder;
    builder.select_all();
    for (Attr column : Row::primary_key) builder.where(column);
    return builder.build();
  }

  // UPDATE `T` SET `B` = ?2 WHERE `A` = ?1; A table whose columns are all key columns sets its
  // key columns to themselves.
  static std::string _build_update() {
    std::vector<std::string> sets;
    std::vector<std::string> wheres;
    for (const auto& [column, name] : Row::column_names) {
      (Row::primary_key.contains(column) ? wheres : sets).push_back(condition(Row::column_names, column));
    }
    if (sets.empty()) sets = wheres;
    return "UPDATE " + quoted(Row::table_name) + " SET " + join(sets, ", ") + " WHERE " +
           join(wheres, " AND ") + ";";
  }

  // SELECT COUNT(1) FROM `T` WHERE `A` = ?1 LIMIT 1;
  static std::string _build_exists() {
    return "SELECT COUNT(1) FROM " + quoted(Row::table_name) + " WHERE " +
           join(conditions(Row::column_names, Row::primary_key), " AND ") + " LIMIT 1;";
  }

  // DELETE FROM `T` WHERE `A` = ?1;
  static std::string _build_remove() {
    return "DELETE FROM " + quoted(Row::table_name) + " WHERE " +
           join(conditions(Row::column_names, Row::primary_key), " AND ") + ";";
  }

  // The key operations bind the one key value at every key column, so they serve the tables keyed
  // by a single column. Each leaves its statement reset, also when it throws.

  bool exists(const Key& key) {
    bind_key(exists_stmt, key);
    ResetOnUnwind reset(exists_stmt);
    int count = exists_stmt.execScalar(0);
    exists_stmt.reset();
    return count > 0;
  }

  // True when a row was deleted.
  bool remove(const Key& key) {
    bind_key(remove_stmt, key);
    ResetOnUnwind reset(remove_stmt);
    int removed = remove_stmt.execDML();
    remove_stmt.reset();
    return removed > 0;
  }

  // The stored row, flags clear; empty when no row has the key.
  std::optional<Row> fetch_by_id(const Key& key) {
    bind_key(fetch_stmt, key);
    ResetOnUnwind reset(fetch_stmt);
    std::optional<Row> row;
    {
      CppSQLite3Query cursor = fetch_stmt.execQuery();
      if (!cursor.eof()) row.emplace(cursor);
    }
    fetch_stmt.reset();
    return row;
  }

  // Writes the row (update when one is stored under its id, insert otherwise) only when the
  // predicate accepts; true when it accepted, whatever the write changed.
  bool save_if(const Row& row, const Predicate& accept) {
    std::optional<Row> stored = fetch_by_id(row.id());
    if (!accept(stored, row)) return false;
    write(stored ? update_stmt : insert_stmt, row);
    return true;
  }

  // SQLite counts a matched row as changed even when no value differs, so a stored row never
  // reaches the insert.
  bool update_or_insert(const Row& row) {
    if (write(update_stmt, row) > 0) return true;
    return write(insert_stmt, row) > 0;
  }

  CppSQLite3Statement insert_stmt;
  CppSQLite3Statement fetch_stmt;
  CppSQLite3Statement update_stmt;
  CppSQLite3Statement exists_stmt;
  CppSQLite3Statement remove_stmt;

 private:
  static void bind_key(CppSQLite3Statement& statement, const Key& key) {
    for (Attr column : Row::primary_key) ColumnCodec<Key>::bind(statement, static_cast<int>(column) + 1, key);
  }

  static int write(CppSQLite3Statement& statement, const Row& row) {
    bind_row(statement, row.row.values);
    ResetOnUnwind reset(statement);
    int changed = statement.execDML();
    statement.reset();
    return changed;
  }
};

}  // namespace libkestrun::internal
