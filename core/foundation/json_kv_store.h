// A store over another store that also reads and writes keys as JSON values and as typed values
// converted through JSON. A value is stored as the bytes of its compact JSON text; a missing key,
// text that does not parse and a value of the wrong JSON type all read as nothing, never as an
// error. Integers are stored as JSON integers, so counters and tokens keep all 64 bits; an
// unsigned 64-bit value past the signed range is stored as its exact digits and reads back whole.
#pragma once

#include <charconv>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>

#include "core/foundation/kv_store.h"
#include "jsonette/json.h"

namespace libkestrun {

// Unsigned integers that a JSON integer value (64-bit signed) cannot hold whole.
template <class T>
inline constexpr bool is_wide_unsigned_v =
    std::is_integral_v<T>&& std::is_unsigned_v<T> && !std::is_same_v<T, bool> && sizeof(T) >= sizeof(int64_t);

class JsonKvStore : public KvStore {
 public:
  explicit JsonKvStore(const std::shared_ptr<KvStore>& store) : store_(store) {}

  // The byte operations, unchanged: both sides see the same keys and bytes.
  std::optional<Bytes> get(const std::string& key) override { return store_->get(key); }
  void set(const std::string& key, const Bytes& value) override { store_->set(key, value); }
  void erase(const std::string& key) override { store_->erase(key); }
  void for_each_key(const KeyFn& fn) override { store_->for_each_key(fn); }
  void for_each_key_with_prefix(const std::string& prefix, const KeyFn& fn) override {
    store_->for_each_key_with_prefix(prefix, fn);
  }
  void sync() override { store_->sync(); }

  // The parsed value, whatever its JSON type (a stored null is a present null).
  std::optional<jsonette::Json> get_json(const std::string& key);
  void set_json(const std::string& key, const jsonette::Json& value);

  std::optional<std::string> get_string(const std::string& key) { return get<std::string>(key); }
  std::optional<bool> get_bool(const std::string& key) { return get<bool>(key); }
  std::optional<double> get_double(const std::string& key) { return get<double>(key); }

  // Stores the text as a JSON string (quoted), not as raw bytes.
  void set(const std::string& key, const std::string& value) { set_json(key, jsonette::Json(value)); }
  template <class T>
  requires(!std::is_convertible_v<T, std::string> &&
           !std::is_same_v<T, Bytes>) void set(const std::string& key, const T& value) {
    if constexpr (is_wide_unsigned_v<T>) {
      // Past the range of a JSON integer value the digits are written as they are, so that the
      // value reads back whole.
      if (value > static_cast<T>(std::numeric_limits<int64_t>::max())) {
        const std::string digits = std::to_string(value);
        set(key, Bytes(digits.begin(), digits.end()));
        return;
      }
    }
    set_json(key, _to_json(value));
  }

  template <class T>
  std::optional<T> get(const std::string& key) {
    if constexpr (is_wide_unsigned_v<T>) {
      if (std::optional<T> whole = exact_unsigned<T>(key)) return whole;
    }
    std::optional<jsonette::Json> json = get_json(key);
    if (!json) return std::nullopt;
    return _json_get<T>(*json);
  }

  template <class T>
  T get_default(const std::string& key, const T& fallback) {
    std::optional<T> value = get<T>(key);
    return value ? std::move(*value) : fallback;
  }

  // One JSON value as T: numbers only as numbers, booleans only as booleans, strings only as
  // strings. A number read as an integer is truncated toward zero; one outside T's range reads
  // as nothing. A map keeps the members that convert and drops the others.
  template <class T>
  static std::optional<T> _json_get(const jsonette::Json& json);

  template <class T>
  static jsonette::Json _to_json(const T& value);

 private:
  template <class T>
  static std::optional<T> integer_from(const jsonette::Json& json);
  // The stored text read as the digits of a T, exactly; nothing when it is not plain digits.
  template <class T>
  std::optional<T> exact_unsigned(const std::string& key);

  std::shared_ptr<KvStore> store_;
};

template <class T>
struct is_string_map : std::false_type {};
template <class V>
struct is_string_map<std::map<std::string, V>> : std::true_type {};

template <class T>
std::optional<T> JsonKvStore::integer_from(const jsonette::Json& json) {
  if (!json.is_number()) return std::nullopt;
  using limits = std::numeric_limits<T>;
  if (json.is_integer()) {
    int64_t i = json.int64_value();
    if constexpr (std::is_signed_v<T>) {
      if (i < static_cast<int64_t>(limits::min()) || i > static_cast<int64_t>(limits::max()))
        return std::nullopt;
    } else {
      if (i < 0 || static_cast<uint64_t>(i) > static_cast<uint64_t>(limits::max())) return std::nullopt;
    }
    return static_cast<T>(i);
  }
  double d = std::trunc(json.number_value());
  // The bounds are powers of two, exact as doubles: min() and max() + 1.
  const double below = static_cast<double>(limits::min());
  const double above = std::ldexp(1.0, limits::digits);
  if (!(d >= below && d < above)) return std::nullopt;  // also refuses NaN
  return static_cast<T>(d);
}

template <class T>
std::optional<T> JsonKvStore::exact_unsigned(const std::string& key) {
  std::optional<Bytes> bytes = get(key);
  if (!bytes || bytes->empty() || (bytes->size() > 1 && (*bytes)[0] == '0')) return std::nullopt;
  const char* first = reinterpret_cast<const char*>(bytes->data());
  const char* last = first + bytes->size();
  T value{};
  auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last) return std::nullopt;
  return value;
}

template <class T>
std::optional<T> JsonKvStore::_json_get(const jsonette::Json& json) {
  if constexpr (std::is_same_v<T, jsonette::Json>) {
    return json;
  } else if constexpr (std::is_same_v<T, bool>) {
    if (!json.is_bool()) return std::nullopt;
    return json.bool_value();
  } else if constexpr (std::is_integral_v<T>) {
    return integer_from<T>(json);
  } else if constexpr (std::is_floating_point_v<T>) {
    if (!json.is_number()) return std::nullopt;
    return static_cast<T>(json.number_value());
  } else if constexpr (std::is_same_v<T, std::string>) {
    if (!json.is_string()) return std::nullopt;
    return json.string_value();
  } else {
    static_assert(is_string_map<T>::value, "no JSON conversion for this type");
    if (!json.is_object()) return std::nullopt;
    T result;
    for (const auto& [name, member] : json.object_items()) {
      auto value = _json_get<typename T::mapped_type>(member);
      if (value) result.emplace(name, std::move(*value));
    }
    return result;
  }
}

template <class T>
jsonette::Json JsonKvStore::_to_json(const T& value) {
  if constexpr (std::is_same_v<T, jsonette::Json> || std::is_same_v<T, bool> || std::is_floating_point_v<T> ||
                std::is_same_v<T, std::string>) {
    return jsonette::Json(value);
  } else if constexpr (std::is_integral_v<T>) {
    if constexpr (std::is_unsigned_v<T> && sizeof(T) >= sizeof(int64_t)) {
      // Above the range of a JSON integer: the nearest number is the best that can be kept.
      if (value > static_cast<T>(std::numeric_limits<int64_t>::max()))
        return jsonette::Json(static_cast<double>(value));
    }
    return jsonette::Json(static_cast<long long>(value));
  } else {
    static_assert(is_string_map<T>::value, "no JSON conversion for this type");
    jsonette::Json::object members;
    for (const auto& [name, member] : value) members.emplace(name, _to_json(member));
    return jsonette::Json(std::move(members));
  }
}

}  // namespace libkestrun
