#include "tools/sync_server/object_signature.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace sync_server {

std::string canonical_text(const json_t* value) {
  switch (json_typeof(value)) {
    case JSON_NULL:
      return "null";
    case JSON_TRUE:
      return "1";
    case JSON_FALSE:
      return "0";
    case JSON_INTEGER:
      return std::to_string(json_integer_value(value));
    case JSON_REAL: {
      double number = std::trunc(json_real_value(value));
      if (!(number > -9.2e18 && number < 9.2e18)) return "0";
      return std::to_string(static_cast<long long>(number));
    }
    case JSON_STRING:
      return std::string(json_string_value(value), json_string_length(value));
    case JSON_ARRAY: {
      std::string text;
      for (size_t i = 0; i < json_array_size(value); ++i) {
        if (i > 0) text += ',';
        text += canonical_text(json_array_get(value, i));
      }
      return text;
    }
    case JSON_OBJECT: {
      std::vector<std::string> keys;
      const char* key;
      json_t* member;
      json_object_foreach(const_cast<json_t*>(value), key, member) keys.emplace_back(key);
      std::sort(keys.begin(), keys.end());
      std::string text;
      for (const std::string& name : keys) {
        if (&name != &keys.front()) text += ',';
        text += name + ":" + canonical_text(json_object_get(value, name.c_str()));
      }
      return text;
    }
  }
  return "";
}

std::string object_signature(const std::vector<unsigned char>& key, const json_t* signed_object,
                             const std::string& nonce) {
  std::string text(key.begin(), key.end());
  text += canonical_text(signed_object) + nonce;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr) != 1)
    throw std::runtime_error("MD5 failed");
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 15];
  }
  return hex;
}

}  // namespace sync_server
