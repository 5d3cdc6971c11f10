// A display name with an e-mail address, as a draft's sender and recipients carry them.
#pragma once

#include <string>
#include <vector>

#include "jsonette/json.h"

class CppSQLite3Query;

namespace libkestrun::internal {

struct EmailName {
  std::string name;
  std::string address;

  EmailName() = default;
  EmailName(std::string name, std::string address) : name(std::move(name)), address(std::move(address)) {}

  bool operator==(const EmailName& other) const = default;

  // The name when there is one, otherwise the address.
  std::string display_name() const { return name.empty() ? address : name; }

  // {"name": ..., "address": ...}
  jsonette::Json to_json() const;

  // Members that are missing or not strings read as empty; a value that is not an object gives two
  // empty fields.
  void set_from_json(const jsonette::Json& value);
  static EmailName from_json(const jsonette::Json& value);

  // One EmailName per element of the array at object[key], in order; an element that is not an
  // object still yields an (empty) EmailName so that positions are kept.
  static std::vector<EmailName> list_from_json(const jsonette::Json& object, const std::string& key);

  // The list stored as JSON text in a result column; NULL, bad text or a non-array is empty.
  static std::vector<EmailName> list_from_field(CppSQLite3Query& query, int field);
  static std::vector<EmailName> list_from_text(const std::string& text);

  // The JSON array of the elements' objects, in order.
  static jsonette::Json list_to_json(const std::vector<EmailName>& names);
};

}  // namespace libkestrun::internal
