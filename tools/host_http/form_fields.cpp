#include "tools/host_http/form_fields.h"

#include <curl/curl.h>

#include <cstdlib>

#include "tools/host_http/curl_handles.h"

namespace kestrun_host {
namespace {

std::string value_text(json_t* value) {
  if (json_is_string(value)) return std::string(json_string_value(value), json_string_length(value));
  char* text = json_dumps(value, JSON_COMPACT | JSON_ENCODE_ANY);
  if (!text) return "";
  std::string result(text);
  free(text);
  return result;
}

std::string escaped(const std::string& text) {
  CurlText result(curl_easy_escape(nullptr, text.data(), static_cast<int>(text.size())));
  return result ? std::string(result.get()) : std::string();
}

}  // namespace

std::vector<std::pair<std::string, std::string>> form_fields(json_t* params) {
  std::vector<std::pair<std::string, std::string>> fields;
  if (!json_is_object(params)) return fields;
  const char* key;
  json_t* value;
  json_object_foreach(params, key, value) { fields.emplace_back(key, value_text(value)); }
  return fields;
}

std::string url_encoded(const std::vector<std::pair<std::string, std::string>>& fields) {
  std::string text;
  for (const auto& [name, value] : fields) {
    if (!text.empty()) text += '&';
    text += escaped(name) + '=' + escaped(value);
  }
  return text;
}

}  // namespace kestrun_host
