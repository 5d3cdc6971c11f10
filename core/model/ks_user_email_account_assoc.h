// One entry of the user document's list of account associations, as a plain value. The user
// manager converts the document's entries with the JSON constructor and to_json and decides what
// the four flags mean; this type only carries them.
#pragma once

#include <string>

#include "core/accounts/email_account_type.h"
#include "jsonette/json.h"

struct KSUserEmailAccountAssoc {
  std::string accountID;
  std::string emailAddress;
  libkestrun::EmailAccountType emailType{};
  bool associated = false;
  bool auto_authorize = false;
  bool authorized = false;
  bool has_associated = false;

  KSUserEmailAccountAssoc() = default;

  // Reads the members of a JSON object; a missing member or one of another type leaves the field at
  // its default, and a value that is not an object gives the default entry.
  explicit KSUserEmailAccountAssoc(const jsonette::Json& value);

  // An object with all seven members.
  jsonette::Json to_json() const;
};
