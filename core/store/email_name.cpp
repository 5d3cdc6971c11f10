#include "core/store/email_name.h"

#include "core/store/column_codec.h"

namespace libkestrun::internal {

jsonette::Json EmailName::to_json() const {
  return jsonette::Json(jsonette::Json::object{{"name", name}, {"address", address}});
}

void EmailName::set_from_json(const jsonette::Json& value) {
  name = value["name"].string_value();
  address = value["address"].string_value();
}

EmailName EmailName::from_json(const jsonette::Json& value) {
  EmailName result;
  result.set_from_json(value);
  return result;
}

namespace {

std::vector<EmailName> list_from_array(const jsonette::Json& value) {
  std::vector<EmailName> names;
  const jsonette::Json::array& items = value.array_items();
  names.reserve(items.size());
  for (const jsonette::Json& item : items) names.push_back(EmailName::from_json(item));
  return names;
}

}  // namespace

std::vector<EmailName> EmailName::list_from_json(const jsonette::Json& object, const std::string& key) {
  return list_from_array(object[key]);
}

std::vector<EmailName> EmailName::list_from_text(const std::string& text) {
  std::string error;
  return list_from_array(jsonette::Json::parse(text, error));
}

std::vector<EmailName> EmailName::list_from_field(CppSQLite3Query& query, int field) {
  return list_from_text(read_text(query, field));
}

jsonette::Json EmailName::list_to_json(const std::vector<EmailName>& names) {
  jsonette::Json::array items;
  items.reserve(names.size());
  for (const EmailName& name : names) items.push_back(name.to_json());
  return jsonette::Json(std::move(items));
}

}  // namespace libkestrun::internal
