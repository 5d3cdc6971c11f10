#include "core/sync/push_server_client.h"

#include <utility>

#include "brelt/uuid.h"

namespace libkestrun::internal {

namespace {

const char kTokenKey[] = "device.token.key";
const char kOverrideKey[] = "device.token.push.type.override";

std::string push_type_of(int32_t device_type) {
  switch (device_type) {
    case 1:  // ios
    case 2:  // iphone
    case 3:  // ipad
      return "apns";
    case 4:  // android
      return "gcm";
    default:
      return "none";
  }
}

}  // namespace

PushServerClient::PushServerClient(const std::shared_ptr<KvStore>& store, int32_t device_type,
                                   std::string app_id, ServerClient* server)
    : store_(store), device_type_(device_type), app_id_(std::move(app_id)), server_(server) {}

void PushServerClient::setDeviceToken(const std::string& token) {
  store_.set(kTokenKey, token);
  store_.erase(kOverrideKey);
  registerForPush();
}

void PushServerClient::setAmazonDeviceToken(const std::string& token) {
  store_.set(kTokenKey, token);
  store_.set(kOverrideKey, std::string("adm"));
  registerForPush();
}

void PushServerClient::registerForPush() {
  const std::string override_type = store_.get_string(kOverrideKey).value_or("");
  const std::string push_type = override_type.empty() ? push_type_of(device_type_) : override_type;
  server_->send("PUSH_REGISTER",
                jsonette::Json::object{{"app_id", app_id_},
                                       {"push_token", store_.get_string(kTokenKey).value_or("")},
                                       {"push_type", push_type}},
                brelt::generate_uuid_lower(), true);
}

}  // namespace libkestrun::internal
