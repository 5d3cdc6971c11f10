#include "core/model/ks_user_email_account_assoc.h"

using jsonette::Json;

namespace {

void read_string(const Json& object, const char* key, std::string& field) {
  if (object[key].is_string()) field = object[key].string_value();
}

void read_bool(const Json& object, const char* key, bool& field) {
  if (object[key].is_bool()) field = object[key].bool_value();
}

}  // namespace

KSUserEmailAccountAssoc::KSUserEmailAccountAssoc(const Json& value) {
  if (!value.is_object()) return;
  read_string(value, "accountID", accountID);
  read_string(value, "emailAddress", emailAddress);
  if (value["emailType"].is_number())
    emailType = static_cast<libkestrun::EmailAccountType>(value["emailType"].int_value());
  read_bool(value, "associated", associated);
  read_bool(value, "auto_authorize", auto_authorize);
  read_bool(value, "authorized", authorized);
  read_bool(value, "has_associated", has_associated);
}

Json KSUserEmailAccountAssoc::to_json() const {
  return Json::object{
      {"accountID", accountID},
      {"emailAddress", emailAddress},
      {"emailType", static_cast<int>(emailType)},
      {"associated", associated},
      {"auto_authorize", auto_authorize},
      {"authorized", authorized},
      {"has_associated", has_associated},
  };
}
