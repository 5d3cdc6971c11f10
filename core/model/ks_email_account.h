// One mail account (or alias) as a plain value, shared by pointer.
#pragma once

#include <string>

#include "core/accounts/email_account_type.h"

struct KSEmailAccount {
  std::string accountID;
  // The account's own signature, HTML or plain text; empty when it has none.
  std::string emailSignature{};
  std::string emailAddress{};
  libkestrun::EmailAccountType emailType{};
};
