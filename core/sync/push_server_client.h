// Keeps this device's push token and registers the device for push delivery (PUSH_REGISTER).
// The token and the push type that overrides the device type's own are kept in the core's
// key-value store, so they survive restarts:
//   "device.token.key"                 the token last given
//   "device.token.push.type.override"  "adm" after a token of the Amazon push service; erased by
//                                      any other token
// One-way: a refusal by the server is not seen here.
//
// The server client builds the one instance from its own construction arguments and keeps it for
// the process. Core thread; no lock of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/foundation/json_kv_store.h"
#include "core/foundation/kv_store.h"
#include "core/sync/server_client.h"

namespace libkestrun::internal {

class PushServerClient {
 public:
  // `device_type` is the device kind as the servers number it (1 "ios", 2 "iphone", 3 "ipad",
  // 4 "android", 5 "macos"); `app_id` is sent as "app_id". `server` is not owned.
  PushServerClient(const std::shared_ptr<KvStore>& store, int32_t device_type, std::string app_id,
                   ServerClient* server);

  // Stores the token, drops the override, registers.
  void setDeviceToken(const std::string& token);
  // Stores the token and the override "adm", registers.
  void setAmazonDeviceToken(const std::string& token);
  // PUSH_REGISTER {"push_token" ("" when none is stored), "push_type", "app_id"}. The push type is
  // the stored override when it is not empty, else "gcm" for android, "apns" for the Apple mobile
  // kinds and "none" for every other kind, macos included.
  void registerForPush();

 private:
  JsonKvStore store_;
  int32_t device_type_;
  std::string app_id_;
  ServerClient* server_;
};

}  // namespace libkestrun::internal
