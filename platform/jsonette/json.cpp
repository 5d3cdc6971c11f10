#include "jsonette/json.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace jsonette {

// The shared, immutable payload of a Json.
class JsonValue {
 public:
  Json::Type type = Json::NUL;
  bool boolean = false;
  bool integral = false;
  int64_t integer = 0;
  double number = 0;
  std::string text;
  Json::array items;
  Json::object members;
};

namespace {

const std::string& empty_string() {
  static const std::string s;
  return s;
}
const Json::array& empty_array() {
  static const Json::array a;
  return a;
}
const Json::object& empty_object() {
  static const Json::object o;
  return o;
}
const Json& null_json() {
  static const Json j;
  return j;
}

std::shared_ptr<JsonValue> make(Json::Type type) {
  auto v = std::make_shared<JsonValue>();
  v->type = type;
  return v;
}

std::shared_ptr<JsonValue> make_integer(int64_t i) {
  auto v = make(Json::NUMBER);
  v->integral = true;
  v->integer = i;
  v->number = static_cast<double>(i);
  return v;
}

// Compares an integer with a double by value, exactly (no rounding of the integer).
int compare_int_double(int64_t i, double d) {
  if (std::isnan(d)) return -1;
  if (d >= 9223372036854775808.0) return -1;
  if (d < -9223372036854775808.0) return 1;
  double t = std::trunc(d);
  int64_t di = static_cast<int64_t>(t);
  if (i < di) return -1;
  if (i > di) return 1;
  if (d > t) return -1;
  if (d < t) return 1;
  return 0;
}

int compare_numbers(const JsonValue& a, const JsonValue& b) {
  if (a.integral && b.integral) return a.integer < b.integer ? -1 : (a.integer > b.integer ? 1 : 0);
  if (a.integral) return compare_int_double(a.integer, b.number);
  if (b.integral) return -compare_int_double(b.integer, a.number);
  return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
}

void dump_string(const std::string& s, std::string& out) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  for (unsigned char c : s) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 0xF];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
}

void dump_number(const JsonValue& v, std::string& out) {
  if (v.integral) {
    out += std::to_string(v.integer);
    return;
  }
  if (!std::isfinite(v.number)) {
    out += "null";  // JSON has no text for infinities or NaN.
    return;
  }
  // The shortest text that reads back as the same double: 0.1 stays "0.1".
  char buf[32];
  auto result = std::to_chars(buf, buf + sizeof buf, v.number);
  out.append(buf, result.ptr);
}

void encode_utf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

class Parser {
 public:
  Parser(std::string_view in, std::string& err) : in_(in), err_(err) {}

  Json parse_document() {
    Json v = parse_value(0);
    if (!failed_) {
      skip_space();
      if (pos_ != in_.size()) fail("unexpected trailing text");
    }
    return failed_ ? Json() : v;
  }

 private:
  Json fail(const std::string& what) {
    if (!failed_) err_ = what + " at offset " + std::to_string(pos_);
    failed_ = true;
    return Json();
  }

  void skip_space() {
    while (pos_ < in_.size() &&
           (in_[pos_] == ' ' || in_[pos_] == '\t' || in_[pos_] == '\n' || in_[pos_] == '\r'))
      ++pos_;
  }

  bool consume(std::string_view word) {
    if (in_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  Json parse_value(int depth) {
    if (depth > Json::kMaxParseDepth) return fail("nesting too deep");
    skip_space();
    if (pos_ >= in_.size()) return fail("unexpected end of input");
    char c = in_[pos_];
    if (c == '{') return parse_object(depth);
    if (c == '[') return parse_array(depth);
    if (c == '"') {
      std::string s;
      if (!parse_string(s)) return Json();
      return Json(std::move(s));
    }
    if (c == '-' || (c >= '0' && c <= '9')) return parse_number();
    if (consume("true")) return Json(true);
    if (consume("false")) return Json(false);
    if (consume("null")) return Json();
    return fail(std::string("unexpected character '") + c + "'");
  }

  Json parse_object(int depth) {
    ++pos_;
    Json::object members;
    skip_space();
    if (pos_ < in_.size() && in_[pos_] == '}') {
      ++pos_;
      return Json(std::move(members));
    }
    for (;;) {
      skip_space();
      if (pos_ >= in_.size() || in_[pos_] != '"') return fail("expected member name");
      std::string key;
      if (!parse_string(key)) return Json();
      skip_space();
      if (pos_ >= in_.size() || in_[pos_] != ':') return fail("expected ':'");
      ++pos_;
      Json value = parse_value(depth + 1);
      if (failed_) return Json();
      members[std::move(key)] = std::move(value);
      skip_space();
      if (pos_ >= in_.size()) return fail("unexpected end of input in object");
      if (in_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (in_[pos_] == '}') {
        ++pos_;
        return Json(std::move(members));
      }
      return fail("expected ',' or '}'");
    }
  }

  Json parse_array(int depth) {
    ++pos_;
    Json::array items;
    skip_space();
    if (pos_ < in_.size() && in_[pos_] == ']') {
      ++pos_;
      return Json(std::move(items));
    }
    for (;;) {
      items.push_back(parse_value(depth + 1));
      if (failed_) return Json();
      skip_space();
      if (pos_ >= in_.size()) return fail("unexpected end of input in array");
      if (in_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (in_[pos_] == ']') {
        ++pos_;
        return Json(std::move(items));
      }
      return fail("expected ',' or ']'");
    }
  }

  bool parse_hex4(uint32_t& out) {
    if (pos_ + 4 > in_.size()) return false;
    out = 0;
    for (int i = 0; i < 4; ++i) {
      char c = in_[pos_++];
      out <<= 4;
      if (c >= '0' && c <= '9')
        out |= c - '0';
      else if (c >= 'a' && c <= 'f')
        out |= c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        out |= c - 'A' + 10;
      else
        return false;
    }
    return true;
  }

  bool parse_string(std::string& out) {
    ++pos_;  // opening quote
    for (;;) {
      if (pos_ >= in_.size()) return fail("unterminated string"), false;
      char c = in_[pos_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return fail("control character in string"), false;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= in_.size()) return fail("unterminated escape"), false;
      char e = in_[pos_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u': {
          uint32_t cp;
          if (!parse_hex4(cp)) return fail("bad \\u escape"), false;
          if (cp >= 0xD800 && cp <= 0xDBFF) {
            uint32_t low;
            if (!consume("\\u") || !parse_hex4(low) || low < 0xDC00 || low > 0xDFFF)
              return fail("unpaired surrogate"), false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return fail("unpaired surrogate"), false;
          }
          encode_utf8(cp, out);
          break;
        }
        default:
          return fail("bad escape"), false;
      }
    }
  }

  Json parse_number() {
    size_t start = pos_;
    bool integral = true;
    if (in_[pos_] == '-') ++pos_;
    auto digits = [&] {
      size_t s = pos_;
      while (pos_ < in_.size() && in_[pos_] >= '0' && in_[pos_] <= '9') ++pos_;
      return pos_ - s;
    };
    if (pos_ < in_.size() && in_[pos_] == '0') {
      ++pos_;
    } else if (digits() == 0) {
      return fail("bad number");
    }
    if (pos_ < in_.size() && in_[pos_] == '.') {
      integral = false;
      ++pos_;
      if (digits() == 0) return fail("bad number");
    }
    if (pos_ < in_.size() && (in_[pos_] == 'e' || in_[pos_] == 'E')) {
      integral = false;
      ++pos_;
      if (pos_ < in_.size() && (in_[pos_] == '+' || in_[pos_] == '-')) ++pos_;
      if (digits() == 0) return fail("bad number");
    }
    std::string text(in_.substr(start, pos_ - start));
    if (integral) {
      errno = 0;
      char* end = nullptr;
      long long v = std::strtoll(text.c_str(), &end, 10);
      if (errno == 0) return Json(v);
      // Out of 64-bit range: keep the magnitude as a double rather than clamping silently.
    }
    double d = std::strtod(text.c_str(), nullptr);
    // An overflow would come back as infinity, which has no JSON text: the value could not be
    // written out again.
    if (!std::isfinite(d)) return fail("number out of range");
    return Json(d);
  }

  std::string_view in_;
  std::string& err_;
  size_t pos_ = 0;
  bool failed_ = false;
};

}  // namespace

Json::Json() noexcept = default;
Json::Json(std::nullptr_t) noexcept {}
Json::Json(bool value) : ptr_(make(BOOL)) { ptr_->boolean = value; }
Json::Json(int value) : ptr_(make_integer(value)) {}
Json::Json(long value) : ptr_(make_integer(value)) {}
Json::Json(long long value) : ptr_(make_integer(value)) {}
Json::Json(unsigned value) : ptr_(make_integer(value)) {}
Json::Json(double value) : ptr_(make(NUMBER)) { ptr_->number = value; }
Json::Json(const std::string& value) : ptr_(make(STRING)) { ptr_->text = value; }
Json::Json(std::string&& value) : ptr_(make(STRING)) { ptr_->text = std::move(value); }
Json::Json(const char* value) : Json(std::string(value ? value : "")) {}
Json::Json(std::string_view value) : Json(std::string(value)) {}
Json::Json(const array& values) : ptr_(make(ARRAY)) { ptr_->items = values; }
Json::Json(array&& values) : ptr_(make(ARRAY)) { ptr_->items = std::move(values); }
Json::Json(const object& values) : ptr_(make(OBJECT)) { ptr_->members = values; }
Json::Json(object&& values) : ptr_(make(OBJECT)) { ptr_->members = std::move(values); }

Json::Type Json::type() const { return ptr_ ? ptr_->type : NUL; }
bool Json::is_integer() const { return is_number() && ptr_->integral; }

double Json::number_value() const { return is_number() ? ptr_->number : 0; }

// Out-of-range values saturate: a plain cast of a large double is undefined behaviour.
int Json::int_value() const {
  int64_t v = int64_value();
  if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

int64_t Json::int64_value() const {
  if (!is_number()) return 0;
  if (ptr_->integral) return ptr_->integer;
  double d = ptr_->number;
  if (std::isnan(d)) return 0;
  if (d >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
  if (d < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(d);
}

bool Json::bool_value() const { return is_bool() && ptr_->boolean; }
const std::string& Json::string_value() const { return is_string() ? ptr_->text : empty_string(); }
const Json::array& Json::array_items() const { return is_array() ? ptr_->items : empty_array(); }
const Json::object& Json::object_items() const { return is_object() ? ptr_->members : empty_object(); }

const Json& Json::operator[](size_t i) const {
  const array& items = array_items();
  return i < items.size() ? items[i] : null_json();
}

const Json& Json::operator[](const std::string& key) const {
  const object& members = object_items();
  auto it = members.find(key);
  return it == members.end() ? null_json() : it->second;
}

bool Json::operator==(const Json& other) const {
  if (ptr_ == other.ptr_) return true;
  if (type() != other.type()) return false;
  switch (type()) {
    case NUL:
      return true;
    case BOOL:
      return ptr_->boolean == other.ptr_->boolean;
    case NUMBER:
      return compare_numbers(*ptr_, *other.ptr_) == 0;
    case STRING:
      return ptr_->text == other.ptr_->text;
    case ARRAY:
      return ptr_->items == other.ptr_->items;
    case OBJECT:
      return ptr_->members == other.ptr_->members;
  }
  return false;
}

bool Json::operator<(const Json& other) const {
  if (ptr_ == other.ptr_) return false;
  if (type() != other.type()) return type() < other.type();
  switch (type()) {
    case NUL:
      return false;
    case BOOL:
      return ptr_->boolean < other.ptr_->boolean;
    case NUMBER:
      return compare_numbers(*ptr_, *other.ptr_) < 0;
    case STRING:
      return ptr_->text < other.ptr_->text;
    case ARRAY:
      return ptr_->items < other.ptr_->items;
    case OBJECT:
      return ptr_->members < other.ptr_->members;
  }
  return false;
}

std::string Json::dump() const {
  std::string out;
  dump(out);
  return out;
}

void Json::dump(std::string& out) const {
  switch (type()) {
    case NUL:
      out += "null";
      return;
    case BOOL:
      out += ptr_->boolean ? "true" : "false";
      return;
    case NUMBER:
      dump_number(*ptr_, out);
      return;
    case STRING:
      dump_string(ptr_->text, out);
      return;
    case ARRAY: {
      out += '[';
      bool first = true;
      for (const Json& item : ptr_->items) {
        if (!first) out += ',';
        first = false;
        item.dump(out);
      }
      out += ']';
      return;
    }
    case OBJECT: {
      out += '{';
      bool first = true;
      for (const auto& [key, value] : ptr_->members) {
        if (!first) out += ',';
        first = false;
        dump_string(key, out);
        out += ':';
        value.dump(out);
      }
      out += '}';
      return;
    }
  }
}

Json Json::parse(std::string_view in, std::string& err) {
  err.clear();
  return Parser(in, err).parse_document();
}

}  // namespace jsonette
