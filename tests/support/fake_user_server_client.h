// A recording stand-in for the user server client: records each request with its params as the
// server would receive them, and keeps the callbacks of the last request so a test can answer it
// (succeed with a result, or fail with a reason) when it chooses.
#pragma once

#include <memory>
#include <utility>

#include "core/sync/user_server_client.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeUserServerClient : public libkestrun::internal::UserServerClient, public CallLog {
 public:
  using Success = libkestrun::internal::UserRequestSuccess;
  using Failure = libkestrun::internal::UserRequestFailure;

  void registerAnonymousDevice(const std::string& vendor_id, const std::string& device_type,
                               const std::string& device_name, Success success) override {
    record("registerAnonymousDevice", {vendor_id, device_type, device_name});
    keep(std::move(success), nullptr);
  }
  void registerDevice(const libkestrun::HarnvikCredentials& credentials, const std::string& vendor_id,
                      const std::string& device_type, const std::string& device_name, Success success,
                      Failure failure) override {
    record("registerDevice", {credentials.to_json(), vendor_id, device_type, device_name});
    keep(std::move(success), std::move(failure));
  }
  void unregisterDevice(libkestrun::UserUnlinkReason reason,
                        const std::shared_ptr<libkestrun::internal::ConnectionCredentials>& credentials,
                        Success success, Failure failure) override {
    record("unregisterDevice", {libkestrun::user_unlink_reason_text(reason), credentials->to_json()});
    keep(std::move(success), std::move(failure));
  }
  void linkHarnvikAccount(const libkestrun::HarnvikCredentials& credentials, Success success,
                          Failure failure) override {
    record("linkHarnvikAccount", {credentials.to_json()});
    keep(std::move(success), std::move(failure));
  }
  void setAutoAuthEnabledForAccount(bool enabled, const std::string& account_id, Success success,
                                    Failure failure) override {
    record("setAutoAuthEnabledForAccount", {enabled, account_id});
    keep(std::move(success), std::move(failure));
  }

  // Answers the last request; call on the thread the replies come on.
  void succeed(jsonette::Json result) {
    Success success = std::exchange(success_, nullptr);
    failure_ = nullptr;
    success(result);
  }
  void fail(KSServerClientUserModifyFailureType reason) {
    Failure failure = std::exchange(failure_, nullptr);
    success_ = nullptr;
    failure(reason);
  }

 private:
  void keep(Success success, Failure failure) {
    success_ = std::move(success);
    failure_ = std::move(failure);
  }

  Success success_;
  Failure failure_;
};

}  // namespace kestrun_test
