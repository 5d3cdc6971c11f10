// Small string helpers of the platform framework.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace harnvik::verdane {

namespace lang {

// One argument of str_printf, with the kind of value it carries so that each conversion can be
// checked against it. Text is borrowed: it must outlive the str_printf call (it always does).
class FormatArg {
 public:
  enum class Kind { kText, kSigned, kUnsigned, kFloat };

  FormatArg(const char* text) : kind_(Kind::kText), text_(text ? text : "(null)") {}
  FormatArg(const std::string& text) : kind_(Kind::kText), text_(text) {}
  FormatArg(std::string_view text) : kind_(Kind::kText), text_(text) {}
  template <std::integral T>
  requires(!std::same_as<T, bool>) FormatArg(T value) : size_(sizeof(T)) {
    if constexpr (std::is_signed_v<T>) {
      kind_ = Kind::kSigned;
      signed_ = value;
    } else {
      kind_ = Kind::kUnsigned;
      unsigned_ = value;
    }
  }
  FormatArg(double value) : kind_(Kind::kFloat), float_(value) {}

  Kind kind() const { return kind_; }
  std::string_view text() const { return text_; }
  int64_t signed_value() const { return signed_; }
  uint64_t unsigned_value() const { return unsigned_; }
  double float_value() const { return float_; }
  // The integer's bits read as unsigned at its own width, as printf's %x of an int shows them.
  uint64_t bits() const;

 private:
  Kind kind_;
  std::string_view text_;
  int64_t signed_ = 0;
  uint64_t unsigned_ = 0;
  double float_ = 0;
  size_t size_ = 0;
};

std::string format_args(const char* format, const FormatArg* args, size_t count);

// printf-style formatting into a std::string, type-checked at run time: formats often come from
// translations, so each conversion is matched against the argument it names. A conversion may
// name its argument by position ("%2$s", as translations reorder them) or take the next one.
// %s takes text; %d %i %u %o %x %X %c take any integer, shown at its own width whatever the
// length modifier says; %f %e %g %a take a floating value. A conversion whose argument is missing
// or of another kind, %n, and any malformed conversion are copied to the result as written.
template <typename... Args>
std::string str_printf(const char* format, const Args&... args) {
  if constexpr (sizeof...(Args) == 0) {
    return format_args(format, nullptr, 0);
  } else {
    const FormatArg list[] = {FormatArg(args)...};
    return format_args(format, list, sizeof...(Args));
  }
}

}  // namespace lang

// Lower-case hexadecimal text of the bytes.
std::string hex_encode(std::string_view bytes);

// True for ASCII letters and digits only.
bool ascii_alphanumeric(char c);

}  // namespace harnvik::verdane
