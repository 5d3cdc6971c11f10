// An immutable JSON value. Copies share the value. Numbers keep 64-bit integer precision when
// they are integers and compare by value across integer and floating forms (3 == 3.0).
//
// A value is two words: null, booleans, numbers and empty strings, arrays and objects live in the
// value itself; any other string, array or object is one reference-counted heap block that copies
// share. The count is atomic, so copies of one value may be used and dropped on several threads.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace jsonette {

class JsonParser;

class Json final {
 public:
  enum Type { NUL, NUMBER, BOOL, STRING, ARRAY, OBJECT };

  using array = std::vector<Json>;
  using object = std::map<std::string, Json>;

  // Deeper input is refused by parse(), so hostile text cannot exhaust the stack.
  static constexpr int kMaxParseDepth = 256;
  // parse() refuses text whose values would take more than this many bytes per byte of text (plus
  // kParseMemorySlack), so the parsed form of a message stays within a small multiple of its size.
  static constexpr size_t kParseMemoryFactor = 16;
  static constexpr size_t kParseMemorySlack = 64 * 1024;

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

  Json(const Json& other) noexcept;
  Json(Json&& other) noexcept;
  Json& operator=(const Json& other) noexcept;
  Json& operator=(Json&& other) noexcept;
  ~Json();

  Type type() const { return type_; }
  bool is_null() const { return type() == NUL; }
  bool is_number() const { return type() == NUMBER; }
  bool is_bool() const { return type() == BOOL; }
  bool is_string() const { return type() == STRING; }
  bool is_array() const { return type() == ARRAY; }
  bool is_object() const { return type() == OBJECT; }
  // True for a number that was made or parsed as an integer.
  bool is_integer() const { return type_ == NUMBER && integral_; }

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
  struct Block;
  struct StringBlock;
  struct ArrayBlock;
  struct ObjectBlock;
  friend class JsonParser;  // sizes the blocks it builds against its budget

  bool has_block() const { return type_ >= STRING && block_ != nullptr; }
  void retain() const noexcept;
  void release() noexcept;

  Type type_ = NUL;
  bool integral_ = false;  // a NUMBER held in integer_ rather than number_
  union {
    int64_t integer_ = 0;
    double number_;
    bool boolean_;
    Block* block_;  // STRING, ARRAY, OBJECT; null for an empty one
  };
};

}  // namespace jsonette
