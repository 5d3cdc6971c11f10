// One mail account (or alias) as a plain value, shared by pointer.
#pragma once

#include <cstdint>
#include <string>

struct KSEmailAccount {
  std::string accountID;
  // The account's own signature, HTML or plain text; empty when it has none.
  std::string emailSignature{};
  std::string emailAddress{};
  int32_t emailType = 0;  // an EmailAccountType
};
