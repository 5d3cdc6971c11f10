#include "core/accounts/harnvik_credentials.h"

namespace libkestrun {

namespace {

const char* consumer_name(int32_t type) {
  switch (type) {
    case 0:
      return "oauth1_android";
    case 1:
      return "oauth1_desktop_dev";
    case 2:
      return "oauth1_desktop_prod";
    case 3:
      return "oauth1_ios";
    case 4:
      return "oauth1_ipad";
    default:
      return "";
  }
}

}  // namespace

jsonette::Json HarnvikCredentialsOAuth1::to_json() const {
  return jsonette::Json::object{
      {"token", token_}, {"token_secret", token_secret_}, {"type", consumer_name(type_)}, {"uid", getUid()}};
}

}  // namespace libkestrun
