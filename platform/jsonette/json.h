// An immutable JSON value. Copies share the value. Numbers keep 64-bit integer precision when
// they are integers and compare by value across integer and floating forms (3 == 3.0).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace jsonette {

class JsonValue;

class Json final {
 public:
  enum Type { NUL, NUMBER, BOOL, STRING, ARRAY, OBJECT };

  using array = std::vector<Json>;
  using object = std::map<std::string, Json>;

  // Deeper input is refused by parse(), so hostile text cannot exhaust the stack.
  static constexpr int kMaxParseDepth = 256;

  Json() noexcept;
  Json(std::nullptr_t) noexcept;
  Json(bool value);
  Json(int value);
  Json(long value);
  Json(long long value);
  Json(unsigned value);
  Json(double value);
  Json(const std::string& value);
  Json(std::string&& value);
  Json(const char* value);
  Json(std::string_view value);
  Json(const array& values);
  Json(array&& values);
  Json(const object& values);
  Json(object&& values);

  // Any map whose keys build strings and whose values build Json values.
  template <class M, std::enable_if_t<
                         std::is_constructible_v<std::string, decltype(std::declval<M>().begin()->first)> &&
                             std::is_constructible_v<Json, decltype(std::declval<M>().begin()->second)>,
                         int> = 0>
  Json(const M& m) : Json(object(m.begin(), m.end())) {}

  // Any sequence (vector, set, ...) of values that build Json values.
  template <class V,
            std::enable_if_t<std::is_constructible_v<Json, decltype(*std::declval<V>().begin())> &&
                                 !std::is_same_v<V, std::string> && !std::is_same_v<V, std::string_view> &&
                                 !std::is_same_v<V, array> && !std::is_same_v<V, object>,
                             int> = 0>
  Json(const V& v) : Json(array(v.begin(), v.end())) {}

  // Pointers other than text would otherwise silently convert to bool.
  Json(void*) = delete;

  Type type() const;
  bool is_null() const { return type() == NUL; }
  bool is_number() const { return type() == NUMBER; }
  bool is_bool() const { return type() == BOOL; }
  bool is_string() const { return type() == STRING; }
  bool is_array() const { return type() == ARRAY; }
  bool is_object() const { return type() == OBJECT; }
  // True for a number that was made or parsed as an integer.
  bool is_integer() const;

  // Content accessors: a value of another kind gives 0, false, "", [] or {}.
  double number_value() const;
  int int_value() const;
  int64_t int64_value() const;
  bool bool_value() const;
  const std::string& string_value() const;
  const array& array_items() const;
  const object& object_items() const;

  // Element of an array, or null when out of range or not an array.
  const Json& operator[](size_t i) const;
  // Member of an object, or null.
  const Json& operator[](const std::string& key) const;

  bool operator==(const Json& other) const;
  bool operator!=(const Json& other) const { return !(*this == other); }
  bool operator<(const Json& other) const;

  // Compact JSON text.
  std::string dump() const;
  void dump(std::string& out) const;

  // The value of `in`, with `err` cleared; or null with a non-empty `err`. Never throws.
  static Json parse(std::string_view in, std::string& err);

 private:
  std::shared_ptr<JsonValue> ptr_;
};

}  // namespace jsonette
