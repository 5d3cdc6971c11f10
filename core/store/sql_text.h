// The pieces every statement text of the store is made of. Names are always quoted with grave
// accents and values always travel through numbered placeholders, so no value and no keyword-like
// column name (`from`, `to`) can change a statement's meaning.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

namespace libkestrun::internal {

// "?" and the column's position plus one: a column has the same placeholder in every statement of
// its table.
template <class Attr>
std::string placeholder(Attr column) {
  return "?" + std::to_string(static_cast<int>(column) + 1);
}

// The parts with the separator between neighbours. Throws std::out_of_range for no parts.
std::string join(const std::vector<std::string>& parts, const std::string& separator);

// A name between grave accents.
inline std::string quoted(const std::string& name) { return "`" + name + "`"; }

// `NAME` = ?n
template <class Attr>
std::string condition(const std::map<Attr, std::string>& names, Attr column) {
  return quoted(names.at(column)) + " = " + placeholder(column);
}

// The conditions on the columns, in column order.
template <class Attr>
std::vector<std::string> conditions(const std::map<Attr, std::string>& names, const std::set<Attr>& columns) {
  std::vector<std::string> parts;
  for (Attr column : columns) parts.push_back(condition(names, column));
  return parts;
}

}  // namespace libkestrun::internal
