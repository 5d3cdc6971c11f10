#include "jsonette/json.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>

namespace jsonette {

// The heap block of a non-empty string, array or object. It has no virtual destructor: release()
// knows the kind from the value that drops the last reference.
struct Json::Block {
  std::atomic<uint32_t> refs{1};
};
struct Json::StringBlock : Json::Block {
  explicit StringBlock(std::string&& t) : text(std::move(t)) {}
  std::string text;
};
struct Json::ArrayBlock : Json::Block {
  explicit ArrayBlock(array&& a) : items(std::move(a)) {}
  array items;
};
struct Json::ObjectBlock : Json::Block {
  explicit ObjectBlock(object&& o) : members(std::move(o)) {}
  object members;
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

void dump_string(const std::string& s, std::string& out) {
  static const char kHex[] = "0123456789abcdef";
  out += '"';
  const char* p = s.data();
  const char* end = p + s.size();
  while (p < end) {
    // Plain runs go out in one append.
    const char* run = p;
    while (p < end && static_cast<unsigned char>(*p) >= 0x20 && *p != '"' && *p != '\\') ++p;
    out.append(run, p);
    if (p == end) break;
    unsigned char c = static_cast<unsigned char>(*p++);
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
      default: {
        const char escape[] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        out.append(escape, sizeof escape);
      }
    }
  }
  out += '"';
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

// A byte of the input as an error message may show it: printable ASCII as itself, anything else
// as \xNN, so text from a peer cannot put control bytes into a log line.
std::string describe_byte(char c) {
  static const char kHex[] = "0123456789abcdef";
  unsigned char u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u < 0x7F) return std::string(1, c);
  return std::string{'\\', 'x', kHex[u >> 4], kHex[u & 0xF]};
}

}  // namespace

// Recursive-descent parser. Elements of the arrays being parsed wait on one shared stack and move
// into an array of exactly their number when it closes, so no array grows by reallocation. Every
// value built is charged to a budget of bytes fixed by the size of the text.
class JsonParser {
 public:
  JsonParser(std::string_view in, std::string& err)
      : in_(in), err_(err), budget_(in.size() * Json::kParseMemoryFactor + Json::kParseMemorySlack) {}

  Json parse_document() {
    Json v = parse_value(0);
    if (!failed_) {
      skip_space();
      if (pos_ != in_.size()) fail("unexpected trailing text");
    }
    return failed_ ? Json() : v;
  }

 private:
  // What libstdc++ keeps in the string object itself; longer text takes a heap buffer.
  static constexpr size_t kInlineText = 15;
  // A map node: the tree links and colour next to the key and the value.
  static constexpr size_t kMemberCost = sizeof(std::string) + 32;

  static size_t text_cost(size_t length) { return length > kInlineText ? length + 1 : 0; }

  Json fail(const std::string& what) {
    if (!failed_) err_ = what + " at offset " + std::to_string(pos_);
    failed_ = true;
    return Json();
  }

  // Charges `cost` bytes; false (and the error set) when the budget is spent.
  bool charge(size_t cost) {
    if (cost <= budget_) {
      budget_ -= cost;
      return true;
    }
    fail("parsed value too large for its text (more than " + std::to_string(Json::kParseMemoryFactor) +
         " bytes per byte)");
    return false;
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
    if (!charge(sizeof(Json))) return Json();
    char c = in_[pos_];
    if (c == '{') return parse_object(depth);
    if (c == '[') return parse_array(depth);
    if (c == '"') {
      std::string s;
      if (!parse_string(s)) return Json();
      if (!s.empty() && !charge(sizeof(Json::StringBlock) + text_cost(s.size()))) return Json();
      return Json(std::move(s));
    }
    if (c == '-' || (c >= '0' && c <= '9')) return parse_number();
    if (consume("true")) return Json(true);
    if (consume("false")) return Json(false);
    if (consume("null")) return Json();
    return fail("unexpected character '" + describe_byte(c) + "'");
  }

  Json parse_object(int depth) {
    ++pos_;
    Json::object members;
    skip_space();
    if (pos_ < in_.size() && in_[pos_] == '}') {
      ++pos_;
      return Json(std::move(members));
    }
    if (!charge(sizeof(Json::ObjectBlock))) return Json();
    for (;;) {
      skip_space();
      if (pos_ >= in_.size() || in_[pos_] != '"') return fail("expected member name");
      std::string key;
      if (!parse_string(key)) return Json();
      if (!charge(kMemberCost + text_cost(key.size()))) return Json();
      skip_space();
      if (pos_ >= in_.size() || in_[pos_] != ':') return fail("expected ':'");
      ++pos_;
      Json value = parse_value(depth + 1);
      if (failed_) return Json();
      // Members usually come sorted; the hint makes those inserts constant time. A repeated name
      // keeps its last value.
      members.insert_or_assign(members.end(), std::move(key), std::move(value));
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
    skip_space();
    if (pos_ < in_.size() && in_[pos_] == ']') {
      ++pos_;
      return Json(Json::array());
    }
    if (!charge(sizeof(Json::ArrayBlock))) return Json();
    const size_t start = stack_.size();
    for (;;) {
      stack_.push_back(parse_value(depth + 1));
      if (failed_) return Json();
      skip_space();
      if (pos_ >= in_.size()) return fail("unexpected end of input in array");
      if (in_[pos_] == ',') {
        ++pos_;
        continue;
      }
      if (in_[pos_] == ']') {
        ++pos_;
        break;
      }
      return fail("expected ',' or ']'");
    }
    auto first = stack_.begin() + static_cast<std::ptrdiff_t>(start);
    Json::array items(std::make_move_iterator(first), std::make_move_iterator(stack_.end()));
    stack_.erase(first, stack_.end());
    return Json(std::move(items));
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

  static bool plain(char c) { return static_cast<unsigned char>(c) >= 0x20 && c != '"' && c != '\\'; }

  bool parse_string(std::string& out) {
    ++pos_;  // opening quote
    // Most strings have no escape: they are copied in one piece, into a buffer of their size.
    size_t end = pos_;
    while (end < in_.size() && plain(in_[end])) ++end;
    if (end < in_.size() && in_[end] == '"') {
      out.assign(in_.data() + pos_, end - pos_);
      pos_ = end + 1;
      return true;
    }
    for (;;) {
      size_t run = pos_;
      while (pos_ < in_.size() && plain(in_[pos_])) ++pos_;
      out.append(in_.data() + run, pos_ - run);
      if (pos_ >= in_.size()) return fail("unterminated string"), false;
      char c = in_[pos_++];
      if (c == '"') return true;
      if (c != '\\') return fail("control character in string"), false;
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
    const char* first = in_.data() + start;
    const char* last = in_.data() + pos_;
    if (integral) {
      int64_t v;
      auto [ptr, ec] = std::from_chars(first, last, v);
      if (ec == std::errc() && ptr == last) return Json(static_cast<long long>(v));
      // Out of 64-bit range: keep the magnitude as a double rather than clamping silently.
    }
    double d;
    auto [ptr, ec] = std::from_chars(first, last, d);
    if (ec == std::errc::result_out_of_range) {
      // Underflow reads as the nearest double (0 or a subnormal), as strtod gives it.
      d = std::strtod(std::string(first, last).c_str(), nullptr);
    } else if (ec != std::errc() || ptr != last) {
      return fail("bad number");
    }
    // An overflow would come back as infinity, which has no JSON text: the value could not be
    // written out again.
    if (!std::isfinite(d)) return fail("number out of range");
    return Json(d);
  }

  std::string_view in_;
  std::string& err_;
  size_t pos_ = 0;
  bool failed_ = false;
  size_t budget_;
  std::vector<Json> stack_;  // elements of the open arrays, innermost last
};

Json::Json() noexcept = default;
Json::Json(std::nullptr_t) noexcept {}
// The whole word is set first, so copies of a boolean copy no undefined bytes.
Json::Json(bool value) : type_(BOOL), integer_(0) { boolean_ = value; }
Json::Json(int value) : Json(static_cast<long long>(value)) {}
Json::Json(long value) : Json(static_cast<long long>(value)) {}
Json::Json(long long value) : type_(NUMBER), integral_(true), integer_(value) {}
Json::Json(unsigned value) : Json(static_cast<long long>(value)) {}
Json::Json(double value) : type_(NUMBER), number_(value) {}
Json::Json(const std::string& value) : Json(std::string(value)) {}
Json::Json(std::string&& value) : type_(STRING), block_(nullptr) {
  if (!value.empty()) block_ = new StringBlock(std::move(value));
}
Json::Json(const char* value) : Json(std::string(value ? value : "")) {}
Json::Json(std::string_view value) : Json(std::string(value)) {}
Json::Json(const array& values) : Json(array(values)) {}
Json::Json(array&& values) : type_(ARRAY), block_(nullptr) {
  if (!values.empty()) block_ = new ArrayBlock(std::move(values));
}
Json::Json(const object& values) : Json(object(values)) {}
Json::Json(object&& values) : type_(OBJECT), block_(nullptr) {
  if (!values.empty()) block_ = new ObjectBlock(std::move(values));
}

Json::Json(const Json& other) noexcept
    : type_(other.type_), integral_(other.integral_), integer_(other.integer_) {
  retain();
}

Json::Json(Json&& other) noexcept : type_(other.type_), integral_(other.integral_), integer_(other.integer_) {
  other.type_ = NUL;
  other.integral_ = false;
  other.integer_ = 0;
}

// Through a copy: `other` may be this value, or a part of it (`v = v[0]`) that release() frees.
Json& Json::operator=(const Json& other) noexcept { return *this = Json(other); }

Json& Json::operator=(Json&& other) noexcept {
  if (this == &other) return *this;
  release();
  type_ = other.type_;
  integral_ = other.integral_;
  integer_ = other.integer_;
  other.type_ = NUL;
  other.integral_ = false;
  other.integer_ = 0;
  return *this;
}

Json::~Json() { release(); }

void Json::retain() const noexcept {
  if (has_block()) block_->refs.fetch_add(1, std::memory_order_relaxed);
}

void Json::release() noexcept {
  if (!has_block() || block_->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  switch (type_) {
    case STRING:
      delete static_cast<StringBlock*>(block_);
      break;
    case ARRAY:
      delete static_cast<ArrayBlock*>(block_);
      break;
    case OBJECT:
      delete static_cast<ObjectBlock*>(block_);
      break;
    default:
      break;
  }
  block_ = nullptr;
}

double Json::number_value() const {
  if (type_ != NUMBER) return 0;
  return integral_ ? static_cast<double>(integer_) : number_;
}

// Out-of-range values saturate: a plain cast of a large double is undefined behaviour.
int Json::int_value() const {
  int64_t v = int64_value();
  if (v > std::numeric_limits<int>::max()) return std::numeric_limits<int>::max();
  if (v < std::numeric_limits<int>::min()) return std::numeric_limits<int>::min();
  return static_cast<int>(v);
}

int64_t Json::int64_value() const {
  if (type_ != NUMBER) return 0;
  if (integral_) return integer_;
  double d = number_;
  if (std::isnan(d)) return 0;
  if (d >= 9223372036854775808.0) return std::numeric_limits<int64_t>::max();
  if (d < -9223372036854775808.0) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(d);
}

bool Json::bool_value() const { return type_ == BOOL && boolean_; }

const std::string& Json::string_value() const {
  return type_ == STRING && block_ ? static_cast<const StringBlock*>(block_)->text : empty_string();
}

const Json::array& Json::array_items() const {
  return type_ == ARRAY && block_ ? static_cast<const ArrayBlock*>(block_)->items : empty_array();
}

const Json::object& Json::object_items() const {
  return type_ == OBJECT && block_ ? static_cast<const ObjectBlock*>(block_)->members : empty_object();
}

const Json& Json::operator[](size_t i) const {
  const array& items = array_items();
  return i < items.size() ? items[i] : null_json();
}

const Json& Json::operator[](const std::string& key) const {
  const object& members = object_items();
  auto it = members.find(key);
  return it == members.end() ? null_json() : it->second;
}

namespace {

int compare_numbers(const Json& a, const Json& b) {
  if (a.is_integer() && b.is_integer()) {
    int64_t x = a.int64_value(), y = b.int64_value();
    return x < y ? -1 : (x > y ? 1 : 0);
  }
  if (a.is_integer()) return compare_int_double(a.int64_value(), b.number_value());
  if (b.is_integer()) return -compare_int_double(b.int64_value(), a.number_value());
  double x = a.number_value(), y = b.number_value();
  // NaN would otherwise equal every double; it sorts above them, as compare_int_double puts it.
  if (std::isnan(x) || std::isnan(y))
    return static_cast<int>(std::isnan(x)) - static_cast<int>(std::isnan(y));
  return x < y ? -1 : (x > y ? 1 : 0);
}

}  // namespace

bool Json::operator==(const Json& other) const {
  if (type_ != other.type_) return false;
  switch (type_) {
    case NUL:
      return true;
    case BOOL:
      return boolean_ == other.boolean_;
    case NUMBER:
      return compare_numbers(*this, other) == 0;
    case STRING:
      return block_ == other.block_ || string_value() == other.string_value();
    case ARRAY:
      return block_ == other.block_ || array_items() == other.array_items();
    case OBJECT:
      return block_ == other.block_ || object_items() == other.object_items();
  }
  return false;
}

bool Json::operator<(const Json& other) const {
  if (type_ != other.type_) return type_ < other.type_;
  switch (type_) {
    case NUL:
      return false;
    case BOOL:
      return boolean_ < other.boolean_;
    case NUMBER:
      return compare_numbers(*this, other) < 0;
    case STRING:
      return block_ != other.block_ && string_value() < other.string_value();
    case ARRAY:
      return block_ != other.block_ && array_items() < other.array_items();
    case OBJECT:
      return block_ != other.block_ && object_items() < other.object_items();
  }
  return false;
}

std::string Json::dump() const {
  std::string out;
  dump(out);
  return out;
}

void Json::dump(std::string& out) const {
  switch (type_) {
    case NUL:
      out += "null";
      return;
    case BOOL:
      out += boolean_ ? "true" : "false";
      return;
    case NUMBER: {
      // JSON has no text for infinities or NaN.
      if (!integral_ && !std::isfinite(number_)) {
        out += "null";
        return;
      }
      // Doubles take the shortest text that reads back as the same value: 0.1 stays "0.1".
      char buf[32];
      auto result = integral_ ? std::to_chars(buf, buf + sizeof buf, integer_)
                              : std::to_chars(buf, buf + sizeof buf, number_);
      out.append(buf, result.ptr);
      // "-0" would read back as the integer 0 and lose the sign, and whole numbers past the 64-bit
      // range written as digits alone are integers that strict readers refuse.
      const bool digits_only =
          std::find_if(buf, result.ptr, [](char c) { return c == '.' || c == 'e'; }) == result.ptr;
      if (!integral_ && digits_only &&
          ((number_ == 0 && std::signbit(number_)) || std::fabs(number_) >= 0x1p63)) {
        out += ".0";
      }
      return;
    }
    case STRING:
      dump_string(string_value(), out);
      return;
    case ARRAY: {
      out += '[';
      bool first = true;
      for (const Json& item : array_items()) {
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
      for (const auto& [key, value] : object_items()) {
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
  return JsonParser(in, err).parse_document();
}

}  // namespace jsonette
