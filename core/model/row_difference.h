// The change filters of the live queries: whether two versions of one row differ in a column the
// user sees. Columns compare with ==, the test a column setter uses to decide that a value changed.
#pragma once

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <tuple>
#include <utility>

namespace libkestrun {

namespace row_difference_detail {

template <class Tuple, size_t... I>
bool differs(const Tuple& a, const Tuple& b, std::initializer_list<size_t> ignored,
             std::index_sequence<I...>) {
  auto is_ignored = [&](size_t column) {
    return std::find(ignored.begin(), ignored.end(), column) != ignored.end();
  };
  return ((!is_ignored(I) && !(std::get<I>(a) == std::get<I>(b))) || ...);
}

}  // namespace row_difference_detail

// True when a column of the two row values, other than the `ignored` positions, differs.
template <class Tuple>
bool differs_outside(const Tuple& a, const Tuple& b, std::initializer_list<size_t> ignored) {
  return row_difference_detail::differs(a, b, ignored, std::make_index_sequence<std::tuple_size_v<Tuple>>{});
}

}  // namespace libkestrun
