// What the sync connection authenticates the device with: the registered user id, the device id
// and its secret, and the Harnvik credentials when the user is linked. Only the user manager
// builds them; the connection and the unlink request read them. Immutable after construction and
// shared by pointer, so a connection may keep them while the user manager hands out new ones.
#pragma once

#include <memory>
#include <string>

#include "core/accounts/harnvik_credentials.h"
#include "jsonette/json.h"

namespace libkestrun::internal {

class ConnectionCredentials {
 public:
  // `harnvik` may be null; when present its uid must equal `user_id` (a mismatch is a programming
  // error and ends the process: the server would authenticate the device as someone else).
  ConnectionCredentials(const std::string& user_id, const std::string& device_id,
                        const std::string& device_secret, std::shared_ptr<const HarnvikCredentials> harnvik);
  ConnectionCredentials(const ConnectionCredentials&) = delete;
  ConnectionCredentials& operator=(const ConnectionCredentials&) = delete;

  // The params of USER_AUTH_DEVICE (and the credential members of USER_UNLINK):
  // {"auth_version": 1, "device_id", "device_secret", "user_id"}, plus "harnvik_credentials" (the
  // credentials' own JSON form) only when they are present.
  jsonette::Json to_json() const;

  const std::string user_id;
  const std::string device_id;
  const std::string device_secret;
  const std::shared_ptr<const HarnvikCredentials> harnvik_credentials;
};

}  // namespace libkestrun::internal
