#include "harnvik/strings.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace harnvik::verdane {

namespace lang {

uint64_t FormatArg::bits() const {
  if (kind_ == Kind::kUnsigned || size_ >= sizeof(uint64_t))
    return unsigned_ | static_cast<uint64_t>(signed_);
  uint64_t mask = (uint64_t{1} << (size_ * 8)) - 1;
  return static_cast<uint64_t>(signed_) & mask;
}

namespace {

// One conversion as parsed from the format, with its arguments resolved.
struct Spec {
  std::string flags;
  int width = -1;
  int precision = -1;
  char conversion = 0;
  const FormatArg* arg = nullptr;
};

// Walks one format, handing out arguments by position or in turn.
class Formatter {
 public:
  Formatter(const FormatArg* args, size_t count) : args_(args), count_(count) {}

  void run(const char* format, std::string& out) {
    const char* p = format;
    while (*p) {
      if (*p != '%') {
        const char* next = std::strchr(p, '%');
        if (!next) next = p + std::strlen(p);
        out.append(p, next);
        p = next;
        continue;
      }
      if (p[1] == '%') {
        out += '%';
        p += 2;
        continue;
      }
      const char* start = p;
      Spec spec;
      if (parse(p, spec) && render(spec, out)) continue;
      // Missing or mistyped argument, or a conversion we do not know: keep it as written.
      out.append(start, p);
    }
  }

 private:
  // Reads "n$" at p when present; 0 when not.
  static size_t position(const char*& p) {
    const char* q = p;
    size_t n = 0;
    while (*q >= '0' && *q <= '9') {
      n = n * 10 + static_cast<size_t>(*q - '0');
      if (n > 9999) return 0;
      ++q;
    }
    if (q == p || *q != '$' || n == 0) return 0;
    p = q + 1;
    return n;
  }

  static int number(const char*& p) {
    int n = 0;
    while (*p >= '0' && *p <= '9') {
      if (n < 100000) n = n * 10 + (*p - '0');
      ++p;
    }
    return n;
  }

  const FormatArg* take(size_t position) {
    size_t index = position ? position - 1 : next_++;
    return index < count_ ? &args_[index] : nullptr;
  }

  // A '*' width or precision: the value of an integer argument, or false.
  bool star(const char*& p, int& value) {
    ++p;
    const FormatArg* arg = take(position(p));
    if (!arg || arg->kind() == FormatArg::Kind::kText || arg->kind() == FormatArg::Kind::kFloat) return false;
    int64_t v = arg->kind() == FormatArg::Kind::kSigned
                    ? arg->signed_value()
                    : static_cast<int64_t>(std::min<uint64_t>(arg->unsigned_value(), 100000));
    value = static_cast<int>(std::max<int64_t>(std::min<int64_t>(v, 100000), -100000));
    return true;
  }

  // Parses the conversion at p (a '%'), leaving p after it; false when it is malformed or names
  // an argument that is missing. Every part is consumed even on failure.
  bool parse(const char*& p, Spec& spec) {
    ++p;
    size_t pos = position(p);
    bool ok = true;
    while (*p && std::strchr("-+ #0'", *p)) spec.flags += *p++;
    if (*p == '*') {
      ok = star(p, spec.width) && ok;
      if (spec.width < 0) {
        spec.flags += '-';
        spec.width = -spec.width;
      }
    } else if (*p >= '0' && *p <= '9') {
      spec.width = number(p);
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        ok = star(p, spec.precision) && ok;
        if (spec.precision < 0) spec.precision = -1;
      } else {
        spec.precision = number(p);
      }
    }
    while (*p && std::strchr("hlLqjzt", *p)) ++p;
    if (!*p) return false;
    spec.conversion = *p++;
    if (!ok) return false;
    spec.arg = take(pos);
    return spec.arg != nullptr;
  }

  static void pad(std::string_view body, const Spec& spec, std::string& out) {
    size_t fill =
        spec.width > 0 && static_cast<size_t>(spec.width) > body.size() ? spec.width - body.size() : 0;
    bool left = spec.flags.find('-') != std::string::npos;
    if (!left) out.append(fill, ' ');
    out.append(body);
    if (left) out.append(fill, ' ');
  }

  // Formats one number through snprintf with a conversion built only from checked parts.
  template <typename T>
  static void c_format(const Spec& spec, const char* length, char conversion, T value, std::string& out) {
    std::string f = "%" + spec.flags;
    if (spec.width >= 0) f += std::to_string(spec.width);
    if (spec.precision >= 0) f += "." + std::to_string(spec.precision);
    f += length;
    f += conversion;
    int needed = std::snprintf(nullptr, 0, f.c_str(), value);
    if (needed <= 0) return;
    size_t at = out.size();
    out.resize(at + static_cast<size_t>(needed));
    std::snprintf(out.data() + at, static_cast<size_t>(needed) + 1, f.c_str(), value);
  }

  static bool render(const Spec& spec, std::string& out) {
    const FormatArg& arg = *spec.arg;
    using Kind = FormatArg::Kind;
    switch (spec.conversion) {
      case 's':
        if (arg.kind() != Kind::kText) return false;
        pad(spec.precision >= 0 ? arg.text().substr(0, static_cast<size_t>(spec.precision)) : arg.text(),
            spec, out);
        return true;
      case 'd':
      case 'i':
        if (arg.kind() == Kind::kSigned) {
          c_format(spec, "ll", 'd', static_cast<long long>(arg.signed_value()), out);
        } else if (arg.kind() == Kind::kUnsigned) {
          c_format(spec, "ll", 'u', static_cast<unsigned long long>(arg.unsigned_value()), out);
        } else {
          return false;
        }
        return true;
      case 'u':
      case 'o':
      case 'x':
      case 'X':
        if (arg.kind() != Kind::kSigned && arg.kind() != Kind::kUnsigned) return false;
        c_format(spec, "ll", spec.conversion, static_cast<unsigned long long>(arg.bits()), out);
        return true;
      case 'c':
        if (arg.kind() != Kind::kSigned && arg.kind() != Kind::kUnsigned) return false;
        pad(std::string(1, static_cast<char>(arg.bits())), spec, out);
        return true;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (arg.kind() != Kind::kFloat) return false;
        c_format(spec, "", spec.conversion, arg.float_value(), out);
        return true;
      default:
        return false;
    }
  }

  const FormatArg* args_;
  size_t count_;
  size_t next_ = 0;
};

}  // namespace

std::string format_args(const char* format, const FormatArg* args, size_t count) {
  std::string out;
  if (format) Formatter(args, count).run(format, out);
  return out;
}

}  // namespace lang

std::string hex_encode(std::string_view bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += kHex[c >> 4];
    out += kHex[c & 0xF];
  }
  return out;
}

bool ascii_alphanumeric(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

}  // namespace harnvik::verdane
