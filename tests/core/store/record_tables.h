// Test support: the CREATE TABLE text that each row record implies (its columns in tuple order,
// each with the SQL type of its C++ type), and a database file holding the store's tables.
#pragma once

#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "core/store/auto_swipe_record.h"
#include "core/store/contact_record.h"
#include "core/store/cpp_sqlite3.h"
#include "core/store/db_schema.h"
#include "core/store/draft.h"
#include "core/store/email_record.h"
#include "core/store/item_record.h"
#include "core/store/list_records.h"
#include "core/store/sql_text.h"
#include "support/temp_dir.h"

namespace kestrun_test {

template <class T>
const char* sql_type() {
  if constexpr (std::is_same_v<T, bool>) return "BOOLEAN";
  if constexpr (std::is_same_v<T, double>) return "REAL";
  if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) return "INTEGER";
  return "TEXT";
}

template <class Row>
std::string implied_create_table() {
  using Tuple = typename Row::tuple_type;
  std::vector<std::string> columns;
  [&]<size_t... I>(std::index_sequence<I...>) {
    ((columns.push_back(
         libkestrun::internal::quoted(Row::column_names.at(static_cast<typename Row::attr_type>(I))) + " " +
         sql_type<std::tuple_element_t<I, Tuple>>())),
     ...);
  }
  (std::make_index_sequence<std::tuple_size_v<Tuple>>{});
  std::vector<std::string> key;
  for (auto column : Row::primary_key) key.push_back(Row::column_names.at(column));
  return "CREATE TABLE IF NOT EXISTS " + libkestrun::internal::quoted(Row::table_name) + " ( " +
         libkestrun::internal::join(columns, ", ") + ", PRIMARY KEY (" +
         libkestrun::internal::join(key, ", ") + ") );";
}

// In the schema's table order.
inline std::vector<std::string> implied_create_tables() {
  using namespace libkestrun::internal;
  return {implied_create_table<List>(),         implied_create_table<UserList>(),
          implied_create_table<LocalContact>(), implied_create_table<Email>(),
          implied_create_table<Item>(),         implied_create_table<AutoSwipe>(),
          implied_create_table<BccEmails>(),    implied_create_table<CcEmails>(),
          implied_create_table<ToEmails>(),     implied_create_table<Draft>()};
}

// A value of every column type that differs from its default and from its neighbours'.
template <class T>
T sample(size_t i) {
  const std::string n = std::to_string(i);
  if constexpr (std::is_same_v<T, std::string>) {
    return "v" + n + " \"quoted\" \\ \n\t é";
  } else if constexpr (std::is_same_v<T, std::optional<std::string>>) {
    return "opt" + n;
  } else if constexpr (std::is_same_v<T, bool>) {
    return true;
  } else if constexpr (std::is_same_v<T, double>) {
    return -1.25 - static_cast<double>(i);
  } else if constexpr (std::is_enum_v<T>) {
    return static_cast<T>(90 + i);  // named or not
  } else if constexpr (std::is_same_v<T, int>) {
    return -1000 - static_cast<int>(i);
  } else if constexpr (std::is_same_v<T, long long>) {
    return -(1LL << 40) - static_cast<long long>(i);
  } else if constexpr (std::is_same_v<T, std::set<std::string>>) {
    return {"z" + n, "a\"" + n};
  } else if constexpr (std::is_same_v<T, libkestrun::internal::VectorClock>) {
    return libkestrun::internal::VectorClock({{"desk", 3000000000u}, {"ph\"one" + n, 0}});
  } else if constexpr (std::is_same_v<T, libkestrun::internal::EmailName>) {
    return libkestrun::internal::EmailName("Ann \"" + n + "\"", "ann@x");
  } else {
    return {libkestrun::internal::EmailName("B" + n, "b@x"), libkestrun::internal::EmailName(),
            libkestrun::internal::EmailName("", "c\\@x")};
  }
}

template <class Row>
Row filled_row() {
  Row row;
  [&]<size_t... I>(std::index_sequence<I...>) {
    ((std::get<I>(row.row.values) = sample<std::tuple_element_t<I, typename Row::tuple_type>>(I)), ...);
  }
  (std::make_index_sequence<std::tuple_size_v<typename Row::tuple_type>>{});
  return row;
}

// A database file in a fresh directory with the store's schema; keyed with a fixed per-install
// key when asked, as the core keys its connections. Further connections to the same file open
// with open_another.
class RecordDatabase {
 public:
  explicit RecordDatabase(bool keyed = false) : keyed_(keyed) {
    open_another(db);
    libkestrun::SqlSchema::create_tables(db);
  }

  void open_another(CppSQLite3DB& other) const {
    other.open(path().c_str());
    if (keyed_) libkestrun::SqlSchema::set_key(other, key());
  }

  std::string path() const { return dir_.file("kestrun.db"); }
  static std::string key() { return std::string("0123456789abcdef0123456789ABCDEF", 32); }

 private:
  TempDir dir_;
  bool keyed_;

 public:
  CppSQLite3DB db;  // after dir_, so the file closes before its directory goes
};

}  // namespace kestrun_test
