// One mail account, or one alias of an account, as a plain value shared by pointer. The account
// manager keeps these in memory and in its key-value store (through to_json and the JSON
// constructor); the compose window offers them as senders and the reply logic picks one. Values are
// copied freely and carry no change tracking and no lock.
//
// This header is also read by the foundation (the preference manager reads accountID and
// emailSignature), so it includes nothing above the foundation; the draft-name form of an account
// is defined with the model.
#pragma once

#include <memory>
#include <string>

#include "core/accounts/email_account_type.h"
#include "jsonette/json.h"

namespace libkestrun::internal {
struct EmailName;
}

struct KSEmailAccount {
  std::string accountID;
  std::string emailAddress;
  // The sender name shown with the address.
  std::string emailName;
  // The user's label for the account; empty when the address serves as its label.
  std::string emailDescription;
  // The account's own signature, HTML or plain text; empty when it has none.
  std::string emailSignature;
  // The provider kind; numbers outside the known kinds are kept as read.
  libkestrun::EmailAccountType emailType{};
  // The server holds working credentials for the account.
  bool authenticated = false;
  bool isDefault = false;
  // False once the account's status reports that its spam folder is missing.
  bool hasSpam = true;
  // A primary account; false for an alias (secondary account).
  bool isPrimary = false;
  // For an alias, the id of its primary account.
  std::string parentAccountID;

  KSEmailAccount() = default;

  // Reads the members of a JSON object; a missing member or one of another type leaves the field at
  // its default. An account stored without "isPrimary" is primary (older stores did not write it).
  // A value that is not an object gives the default account.
  explicit KSEmailAccount(const jsonette::Json& value);

  // An object with all eleven members, the JSON constructor's inverse.
  jsonette::Json to_json() const;

  // The name and address as a draft's sender carries them.
  libkestrun::internal::EmailName emailNameRepresentation() const;

  // The order of the account lists: the default account first, then primary accounts before
  // aliases, then by label (emailDescription, or emailAddress when that is empty) compared as
  // bytes, a prefix before the longer label. Both pointers must be non-null.
  struct NaturalOrder {
    bool operator()(const std::shared_ptr<KSEmailAccount>& a, const std::shared_ptr<KSEmailAccount>& b) const;
  };
};
