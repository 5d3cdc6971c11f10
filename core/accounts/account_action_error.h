// Why an account operation failed, as its failure callback receives it.
#pragma once

#include <cstdint>

namespace libkestrun {

enum class AccountActionErrorType : int32_t {
  NoConnection = 1,
  RejectedByProvider = 2,
  Rejected = 3,
  AlreadyAdded = 4,
  NoSuchAccount = 5,
  ImapFoldersDisabled = 6,
  TimedOut = 7,
  AccountLimitReached = 8,
  InvalidRequest = 9,
  ProviderDisabled = 10,
  ProviderUnavailable = 11,
};

}  // namespace libkestrun
