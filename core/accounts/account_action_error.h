// Why an account operation failed, as its failure callback and the alert texts see it. Other
// numbers may reach the alert texts from the application; they read as "any other failure".
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
  Timeout = 7,
  MaximumReached = 8,  // 10 primary accounts on this device
  InvalidRequest = 9,
  ProviderDisabled = 10,
  ProviderUnavailable = 11,
};

}  // namespace libkestrun
