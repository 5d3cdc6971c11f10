#include "core/services/object_signer.h"

#include <cmath>

#include "core/foundation/utility.h"
#include "harnvik/strings.h"
#include "hvx/base64.h"

namespace libkestrun {

namespace {

// Truncation toward zero; values outside the signed 64-bit range (never signed in practice) and
// non-finite ones give 0 rather than undefined behaviour.
std::string numberText(double number) {
  const double whole = std::trunc(number);
  if (!(whole > -9.2e18 && whole < 9.2e18)) return "0";
  return std::to_string(static_cast<long long>(whole));
}

void appendCanonical(const jsonette::Json& value, std::string& out) {
  switch (value.type()) {
    case jsonette::Json::NUL:
      out += "null";
      return;
    case jsonette::Json::NUMBER:
      out += value.is_integer() ? std::to_string(value.int64_value()) : numberText(value.number_value());
      return;
    case jsonette::Json::BOOL:
      out += value.bool_value() ? '1' : '0';
      return;
    case jsonette::Json::STRING:
      out += value.string_value();
      return;
    case jsonette::Json::ARRAY: {
      bool first = true;
      for (const jsonette::Json& element : value.array_items()) {
        if (!first) out += ',';
        first = false;
        appendCanonical(element, out);
      }
      return;
    }
    case jsonette::Json::OBJECT: {
      bool first = true;
      for (const auto& [key, member] : value.object_items()) {  // std::map: byte order of keys
        if (!first) out += ',';
        first = false;
        out += key;
        out += ':';
        appendCanonical(member, out);
      }
      return;
    }
  }
}

}  // namespace

ObjectSigner::ObjectSigner(const std::vector<uint8_t>& key, Clock clock)
    : ObjectSigner(std::string(key.begin(), key.end()), std::move(clock)) {}

ObjectSigner::ObjectSigner(std::string key, Clock clock) : key_(std::move(key)), clock_(std::move(clock)) {
  if (!clock_) clock_ = [] { return Utility::now_ms(); };
}

std::string ObjectSigner::canonicalText(const jsonette::Json& value) {
  std::string text;
  appendCanonical(value, text);
  return text;
}

std::pair<std::string, std::string> ObjectSigner::sign(const jsonette::Json& value) const {
  std::string nonce = std::to_string(static_cast<uint64_t>(clock_()));
  std::string text = key_;
  appendCanonical(value, text);
  text += nonce;
  return {std::move(nonce), harnvik::verdane::hex_encode(CryptoHashMD5::digest(text))};
}

}  // namespace libkestrun
