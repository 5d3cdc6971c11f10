// The signed-in user's Harnvik account credentials, handed by the application to the core. The
// core keeps them in memory only (the user manager) and puts their JSON form into the device
// registration, the link request and the connection's device authentication; they never reach
// the key-value store or the protocol trace.
//
// Immutable after construction and shared by pointer: the user manager, the connection
// credentials and a pending request may hold the same object; the last holder destroys it.
#pragma once

#include <cstdint>
#include <string>

#include "jsonette/json.h"

namespace libkestrun {

class HarnvikCredentials {
 public:
  explicit HarnvikCredentials(const std::string& uid) : uid_(uid) {}
  HarnvikCredentials(const HarnvikCredentials&) = delete;
  HarnvikCredentials& operator=(const HarnvikCredentials&) = delete;
  virtual ~HarnvikCredentials() = default;

  // The Harnvik user id; a linked user's id at the sync server is the same text.
  std::string getUid() const { return uid_; }

  // The object the server reads under "harnvik_credentials".
  virtual jsonette::Json to_json() const = 0;

 private:
  const std::string uid_;
};

// An OAuth 1 token pair. `type` names the consumer that issued it; the desktop application
// always uses 2.
class HarnvikCredentialsOAuth1 final : public HarnvikCredentials {
 public:
  HarnvikCredentialsOAuth1(int32_t type, const std::string& uid, const std::string& token,
                           const std::string& token_secret)
      : HarnvikCredentials(uid), type_(type), token_(token), token_secret_(token_secret) {}

  // {"token", "token_secret", "type", "uid"}, all strings, never omitting one: "type" is the
  // consumer's wire name, "" for a type outside 0 to 4.
  jsonette::Json to_json() const override;

 private:
  const int32_t type_;
  const std::string token_;
  const std::string token_secret_;
};

}  // namespace libkestrun
