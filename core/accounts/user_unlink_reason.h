// Why this device asks the server to unregister it; sent as the text of "reason" in USER_UNLINK.
#pragma once

#include <cstdint>

namespace libkestrun {

enum class UserUnlinkReason : int32_t {
  UserInitiated = 0,
  MissingCredentials = 1,
  LocalUnlink = 2,
  LocalRoleChange = 3,
  Reregister = 4,
};

// The wire text of `reason`; "unknown" for any other value.
inline const char* user_unlink_reason_text(UserUnlinkReason reason) {
  switch (reason) {
    case UserUnlinkReason::UserInitiated:
      return "user_initiated";
    case UserUnlinkReason::MissingCredentials:
      return "missing_credentials";
    case UserUnlinkReason::LocalUnlink:
      return "local_unlink";
    case UserUnlinkReason::LocalRoleChange:
      return "local_role_change";
    case UserUnlinkReason::Reregister:
      return "reregister";
  }
  return "unknown";
}

}  // namespace libkestrun
