#include "core/model/ks_user_email_account_assoc.h"

namespace {

void read_string(const jsonette::Json& json, const char* key, std::string* field) {
  if (json[key].is_string()) *field = json[key].string_value();
}

void read_bool(const jsonette::Json& json, const char* key, bool* field) {
  if (json[key].is_bool()) *field = json[key].bool_value();
}

}  // namespace

KSUserEmailAccountAssoc::KSUserEmailAccountAssoc(const jsonette::Json& json) {
  read_string(json, "accountID", &accountID);
  read_string(json, "emailAddress", &emailAddress);
  if (json["emailType"].is_number()) emailType = json["emailType"].int_value();
  read_bool(json, "associated", &associated);
  read_bool(json, "auto_authorize", &auto_authorize);
  read_bool(json, "authorized", &authorized);
  read_bool(json, "has_associated", &has_associated);
}

jsonette::Json KSUserEmailAccountAssoc::to_json() const {
  return jsonette::Json::object{{"accountID", accountID},           {"emailAddress", emailAddress},
                                {"emailType", emailType},           {"associated", associated},
                                {"auto_authorize", auto_authorize}, {"authorized", authorized},
                                {"has_associated", has_associated}};
}
