// Binding the arguments of a database-context statement: each value goes to the next placeholder,
// from 1 on. Texts bind as text, ints and enumerations as 32-bit integers, int64_t values (times,
// the search-only marker) as 64-bit integers.
#pragma once

#include <cstdint>
#include <string>

#include "core/store/column_codec.h"
#include "core/store/cpp_sqlite3.h"

namespace libkestrun {

// int64_t is not always long long; both bind as 64-bit integers.
template <class T>
using BoundType = std::conditional_t<std::is_same_v<T, int64_t>, long long, T>;

template <class... Values>
CppSQLite3Statement& bind_values(CppSQLite3Statement& statement, const Values&... values) {
  int index = 0;
  (internal::ColumnCodec<BoundType<Values>>::bind(statement, ++index, values), ...);
  return statement;
}

// The pattern of a search by LIKE: anything, the text, anything. The text's own "%" and "_" stay
// wildcards.
inline std::string like_pattern(const std::string& text) { return "%%" + text + "%%"; }

}  // namespace libkestrun
