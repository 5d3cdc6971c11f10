// One of the user's mail-account associations, as the user document keeps it: a plain value,
// shared by pointer and parsed afresh from the document on every read.
#pragma once

#include <cstdint>
#include <string>

#include "jsonette/json.h"

struct KSUserEmailAccountAssoc {
  KSUserEmailAccountAssoc() = default;
  // Reads each member that has the expected JSON type; a missing or mistyped member, or a value
  // that is not an object, leaves the default.
  explicit KSUserEmailAccountAssoc(const jsonette::Json& json);

  // The seven members, all present: "accountID", "emailAddress", "emailType", "associated",
  // "auto_authorize", "authorized", "has_associated".
  jsonette::Json to_json() const;

  std::string accountID;
  std::string emailAddress;
  int32_t emailType = 0;        // an EmailAccountType
  bool associated = false;      // the account is associated with this device
  bool auto_authorize = false;  // the user lets further devices associate it automatically
  bool authorized = false;      // the account is authorised for the user
  bool has_associated = false;  // authorised and associated at least once
};
