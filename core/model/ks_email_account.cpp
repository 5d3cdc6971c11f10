#include "core/model/ks_email_account.h"

#include "core/model/ks_user_email_account_assoc.h"
#include "core/store/email_name.h"

using jsonette::Json;
using libkestrun::EmailAccountType;

namespace {

// Each reader stores the member only when it has the expected JSON type, so a stored value of
// another shape never overwrites a field with 0, false or "".
void read_string(const Json& object, const std::string& key, std::string& field) {
  const Json& value = object[key];
  if (value.is_string()) field = value.string_value();
}

void read_bool(const Json& object, const std::string& key, bool& field) {
  const Json& value = object[key];
  if (value.is_bool()) field = value.bool_value();
}

void read_type(const Json& object, const std::string& key, EmailAccountType& field) {
  const Json& value = object[key];
  if (value.is_number()) field = static_cast<EmailAccountType>(value.int_value());
}

const std::string& label(const KSEmailAccount& account) {
  return account.emailDescription.empty() ? account.emailAddress : account.emailDescription;
}

}  // namespace

KSEmailAccount::KSEmailAccount(const Json& value) {
  if (!value.is_object()) return;
  isPrimary = true;
  read_string(value, "accountID", accountID);
  read_string(value, "emailAddress", emailAddress);
  read_string(value, "emailName", emailName);
  read_string(value, "emailDescription", emailDescription);
  read_string(value, "emailSignature", emailSignature);
  read_type(value, "emailType", emailType);
  read_bool(value, "authenticated", authenticated);
  read_bool(value, "isDefault", isDefault);
  read_bool(value, "hasSpam", hasSpam);
  read_bool(value, "isPrimary", isPrimary);
  read_string(value, "parentAccountID", parentAccountID);
}

Json KSEmailAccount::to_json() const {
  return Json::object{
      {"accountID", accountID},
      {"emailAddress", emailAddress},
      {"emailName", emailName},
      {"emailDescription", emailDescription},
      {"emailSignature", emailSignature},
      {"emailType", static_cast<int>(emailType)},
      {"authenticated", authenticated},
      {"isDefault", isDefault},
      {"hasSpam", hasSpam},
      {"isPrimary", isPrimary},
      {"parentAccountID", parentAccountID},
  };
}

libkestrun::internal::EmailName KSEmailAccount::emailNameRepresentation() const {
  return libkestrun::internal::EmailName(emailName, emailAddress);
}

bool KSEmailAccount::NaturalOrder::operator()(const std::shared_ptr<KSEmailAccount>& a,
                                              const std::shared_ptr<KSEmailAccount>& b) const {
  if (a->isDefault != b->isDefault) return a->isDefault;
  if (a->isPrimary != b->isPrimary) return a->isPrimary;
  // std::string compares as unsigned bytes (char_traits<char>::compare uses memcmp semantics).
  return label(*a).compare(label(*b)) < 0;
}

KSUserEmailAccountAssoc::KSUserEmailAccountAssoc(const Json& value) {
  if (!value.is_object()) return;
  read_string(value, "accountID", accountID);
  read_string(value, "emailAddress", emailAddress);
  read_type(value, "emailType", emailType);
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
