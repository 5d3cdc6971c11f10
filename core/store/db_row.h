// The machinery shared by every row record: a typed tuple of the table's columns, one changed flag
// per column, and a callback through which the row's owner learns of each change.
//
// A column's enumerator value is at once its position in the tuple, its field index in a whole-row
// result, one less than its placeholder number, and its position in the CREATE TABLE statement;
// reading and binding rest on that.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <tuple>
#include <utility>

#include "core/store/column_codec.h"

namespace libkestrun::internal {

template <class Tuple>
struct PartialTuple {
  static constexpr size_t kSize = std::tuple_size_v<Tuple>;

  std::array<bool, kSize> changed_flags{};
  std::function<void()> change_callback;
  Tuple values{};

  // Stores a value that differs from element N, flags it and tells the owner; an equal value
  // (NaN never is one) changes nothing, so a whole document can be written into a row and only
  // the columns that really differ are saved.
  template <size_t N>
  void set(std::tuple_element_t<N, Tuple> value) {
    auto& element = std::get<N>(values);
    if (element == value) return;
    changed_flags[N] = true;
    element = std::move(value);
    if (change_callback) change_callback();
  }

  // Brings elements N down to 0 to the other row's values, flagging (and reporting, highest index
  // first) exactly those that differed. The other row's flags and callback are not read.
  template <size_t N>
  void _set_all_from(const PartialTuple& other) {
    set<N>(std::get<N>(other.values));
    if constexpr (N > 0) _set_all_from<N - 1>(other);
  }
};

template <class Tuple, size_t... I>
Tuple fetch_row_fields(CppSQLite3Query& query, std::index_sequence<I...>) {
  // Braced initialisation reads the fields in ascending order.
  return Tuple{ColumnCodec<std::tuple_element_t<I, Tuple>>::read(query, static_cast<int>(I))...};
}

// The current result row as a tuple: field i into element i. Fields beyond the tuple are ignored;
// a missing one throws the wrapper's "Invalid field index requested".
template <class Tuple>
Tuple fetch_row(CppSQLite3Query& query) {
  return fetch_row_fields<Tuple>(query, std::make_index_sequence<std::tuple_size_v<Tuple>>{});
}

// Binds element i at placeholder i + 1, for every element.
template <class Tuple>
void bind_row(CppSQLite3Statement& statement, const Tuple& values) {
  [&]<size_t... I>(std::index_sequence<I...>) {
    (ColumnCodec<std::tuple_element_t<I, Tuple>>::bind(statement, static_cast<int>(I) + 1,
                                                       std::get<I>(values)),
     ...);
  }
  (std::make_index_sequence<std::tuple_size_v<Tuple>>{});
}

template <class Tuple, class Attr>
class DbRow {
 public:
  using tuple_type = Tuple;
  using attr_type = Attr;

  DbRow() = default;
  // Reads the query's current row; the query is neither advanced nor reset.
  explicit DbRow(CppSQLite3Query& query) : row{{}, {}, fetch_row<Tuple>(query)} {}

  template <Attr A>
  const auto& get() const {
    return std::get<static_cast<size_t>(A)>(row.values);
  }
  template <Attr A>
  bool is_changed() const {
    return row.changed_flags[static_cast<size_t>(A)];
  }
  template <Attr A>
  void set(std::tuple_element_t<static_cast<size_t>(A), Tuple> value) {
    row.template set<static_cast<size_t>(A)>(std::move(value));
  }

  // Public: the owner installs the callback and clears the flags after a save.
  PartialTuple<Tuple> row;
};

// Collects the column types of a column list into a tuple (the leading void absorbs the first
// comma of the expansion).
template <class Void, class... Columns>
struct RowTuple {
  using type = std::tuple<Columns...>;
};

}  // namespace libkestrun::internal

// A row record describes its table once, as a list of COLUMN(name, type) in CREATE order; these
// expand that list into the enumeration, the tuple, the accessors and the name map.
#define KESTRUN_ROW_ENUMERATOR(name, type) name,
#define KESTRUN_ROW_TYPE(name, type) , type
#define KESTRUN_ROW_NAME(name, type) {attr_type::name, #name},
#define KESTRUN_ROW_ACCESSORS(name, type)                                                 \
  const type& get_##name() const { return this->template get<attr_type::name>(); }        \
  bool is_changed_##name() const { return this->template is_changed<attr_type::name>(); } \
  void set_##name(type value) { this->template set<attr_type::name>(std::move(value)); }

#define KESTRUN_ROW_TUPLE(COLUMNS) ::libkestrun::internal::RowTuple<void COLUMNS(KESTRUN_ROW_TYPE)>::type
