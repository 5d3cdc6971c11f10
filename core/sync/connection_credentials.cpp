#include "core/sync/connection_credentials.h"

#include <cstdio>
#include <cstdlib>

namespace libkestrun::internal {

ConnectionCredentials::ConnectionCredentials(const std::string& user_id, const std::string& device_id,
                                             const std::string& device_secret,
                                             std::shared_ptr<const HarnvikCredentials> harnvik)
    : user_id(user_id),
      device_id(device_id),
      device_secret(device_secret),
      harnvik_credentials(std::move(harnvik)) {
  if (harnvik_credentials && harnvik_credentials->getUid() != user_id) {
    std::fputs("ConnectionCredentials: Harnvik credentials of another user\n", stderr);
    std::abort();
  }
}

jsonette::Json ConnectionCredentials::to_json() const {
  jsonette::Json::object params{
      {"auth_version", 1}, {"device_id", device_id}, {"device_secret", device_secret}, {"user_id", user_id}};
  if (harnvik_credentials) params.emplace("harnvik_credentials", harnvik_credentials->to_json());
  return jsonette::Json(std::move(params));
}

}  // namespace libkestrun::internal
