#include "core/sync/user_server_client_impl.h"

#include <algorithm>
#include <utility>

#include "brelt/uuid.h"
#include "core/services/sanity.h"

namespace libkestrun::internal {

namespace {

using Failure = KSServerClientUserModifyFailureType;

// The error's "code", or "" when the error is not an object or the code not a string.
std::string error_code(const jsonette::Json& error) {
  if (!error.is_object()) return std::string();
  const jsonette::Json& code = error["code"];
  return code.is_string() ? code.string_value() : std::string();
}

bool refused(const std::string& code) { return code == "D3" || code == "A2"; }

}  // namespace

UserServerClientImpl::UserServerClientImpl(brelt::UvThread& thread, ServerClient* server,
                                           AccountManager* accounts, PrefManager* prefs,
                                           UserRequestTimes times, DeferFunction defer)
    : server_(server),
      accounts_(accounts),
      prefs_(prefs),
      times_(times),
      defer_(std::move(defer)),
      transactions_(&thread, times.timeout) {
  if (!defer_) {
    defer_ = [&thread](std::chrono::milliseconds delay, std::function<void()> fn) {
      return thread.defer(delay, std::move(fn));
    };
  }
}

void UserServerClientImpl::registerAnonymousDevice(const std::string& vendor_id,
                                                   const std::string& device_type,
                                                   const std::string& device_name,
                                                   UserRequestSuccess success) {
  sendAnonymousRegistration(vendor_id, device_type, device_name, std::move(success), times_.first_retry);
}

void UserServerClientImpl::sendAnonymousRegistration(const std::string& vendor_id,
                                                     const std::string& device_type,
                                                     const std::string& device_name,
                                                     UserRequestSuccess success,
                                                     std::chrono::milliseconds next_retry) {
  // Written while disconnected, each attempt would be held by the connection and time out there,
  // and every resend would join it: at reconnection a burst of registrations. It waits for the
  // connection instead, which it asks for, and goes out once when that is up.
  if (!server_->is_connected()) {
    waiting_for_connection_.push_back([this, vendor_id, device_type, device_name, success, next_retry] {
      sendAnonymousRegistration(vendor_id, device_type, device_name, success, next_retry);
    });
    sanity::log("Anonymous registration waits for the connection");
    server_->connect();
    return;
  }
  // Any failure, a time-out included, sends the registration again later with the parameters
  // built afresh; the caller hears only of the success.
  UserRequestFailure retry = [this, vendor_id, device_type, device_name, success, next_retry](Failure) {
    const std::chrono::milliseconds after = std::min(next_retry * 2, times_.longest_retry);
    anonymous_retry_ = defer_(next_retry, [this, vendor_id, device_type, device_name, success, after] {
      sendAnonymousRegistration(vendor_id, device_type, device_name, success, after);
    });
  };
  send("USER_NEW_DEVICE", newDeviceParams(vendor_id, device_type, device_name, nullptr), std::move(success),
       std::move(retry));
}

void UserServerClientImpl::handleConnected() {
  std::vector<std::function<void()>> waiting = std::move(waiting_for_connection_);
  waiting_for_connection_.clear();
  for (const auto& send_now : waiting) send_now();
}

void UserServerClientImpl::registerDevice(const HarnvikCredentials& credentials, const std::string& vendor_id,
                                          const std::string& device_type, const std::string& device_name,
                                          UserRequestSuccess success, UserRequestFailure failure) {
  send("USER_NEW_DEVICE", newDeviceParams(vendor_id, device_type, device_name, &credentials),
       std::move(success), std::move(failure));
}

void UserServerClientImpl::unregisterDevice(UserUnlinkReason reason,
                                            const std::shared_ptr<ConnectionCredentials>& credentials,
                                            UserRequestSuccess success, UserRequestFailure failure) {
  jsonette::Json::object params = credentials->to_json().object_items();
  params["reason"] = user_unlink_reason_text(reason);
  send("USER_UNLINK", params, std::move(success), std::move(failure));
}

void UserServerClientImpl::linkHarnvikAccount(const HarnvikCredentials& credentials,
                                              UserRequestSuccess success, UserRequestFailure failure) {
  send("USER_LINK", jsonette::Json::object{{"harnvik_credentials", credentials.to_json()}},
       std::move(success), std::move(failure));
}

void UserServerClientImpl::setAutoAuthEnabledForAccount(bool enabled, const std::string& account_id,
                                                        UserRequestSuccess success,
                                                        UserRequestFailure failure) {
  send("USER_SET_AUTO_AUTH", jsonette::Json::object{{"account_id", account_id}, {"auto_authorize", enabled}},
       std::move(success), std::move(failure));
}

jsonette::Json UserServerClientImpl::newDeviceParams(const std::string& vendor_id,
                                                     const std::string& device_type,
                                                     const std::string& device_name,
                                                     const HarnvikCredentials* credentials) {
  jsonette::Json::object params{{"name", device_name}, {"type", device_type}, {"vendor_id", vendor_id}};
  if (credentials) params["harnvik_credentials"] = credentials->to_json();
  // A device id left by an earlier installation that still has accounts: the server moves them
  // (and the keychain it left) to this registration.
  const std::string old_device_id = accounts_->getDeviceId();
  if (!old_device_id.empty() && accounts_->hasAccounts()) {
    params["migrate_device_id"] = old_device_id;
    jsonette::Json vault = accounts_->getKeychainVault();
    if (vault.is_object()) params["migrate_keychain"] = vault;
  }
  jsonette::Json preferences = prefs_->getChangedPreferences();
  if (preferences.is_object() && !preferences.object_items().empty()) params["preferences"] = preferences;
  return params;
}

void UserServerClientImpl::send(const std::string& method, const jsonette::Json& params,
                                UserRequestSuccess success, UserRequestFailure failure) {
  const std::string id = brelt::generate_uuid_upper();
  // Started before sending, so that even an immediate reply finds it.
  transactions_.startTransaction(id, std::move(success), std::move(failure), [this, id] {
    const std::string request = id;  // ending the record destroys this closure
    transactions_.transactionFailed(request, Failure::TimedOut);
  });
  server_->send(method, params, id, true);
}

void UserServerClientImpl::handleNewDeviceResponse(const std::string& id, const jsonette::Json& result,
                                                   const jsonette::Json& error) {
  if (result.is_object() && error.is_null()) {
    transactions_.transactionSucceeded(id, result);
    // Also for a reply that came after its time-out: the server has registered the device.
    _notify<device_registered>();
    accounts_->clearKeychainVault();
    return;
  }
  const std::string code = error_code(error);
  Failure failure = Failure::Other;
  if (refused(code)) {
    failure = Failure::Refused;
  } else if (code == "MRT") {
    failure = Failure::RegistrationRefused;
  }
  transactions_.transactionFailed(id, failure);
}

void UserServerClientImpl::handleLinkResponse(const std::string& id, const jsonette::Json& result,
                                              const jsonette::Json& error) {
  if (result.is_object() && error.is_null()) {
    transactions_.transactionSucceeded(id, result);
    return;
  }
  transactions_.transactionFailed(id, refused(error_code(error)) ? Failure::Refused : Failure::Other);
}

void UserServerClientImpl::handleSetAutoAuthResponse(const std::string& id, const jsonette::Json& result,
                                                     const jsonette::Json& error) {
  if (result.is_object() && error.is_null()) {
    transactions_.transactionSucceeded(id, result);
  } else {
    transactions_.transactionFailed(id, Failure::Other);
  }
}

void UserServerClientImpl::handleUnlinkResponse(const std::string& id, const jsonette::Json& result,
                                                const jsonette::Json& error) {
  if (error.is_null()) {
    transactions_.transactionSucceeded(id, result);
  } else if (error.is_object()) {
    transactions_.transactionFailed(id, Failure::Other);
  }
  // An error of another type is left to the request's time-out.
}

void UserServerClientImpl::handleUserState(const jsonette::Json& params) { _notify<user_state>(params); }

void UserServerClientImpl::handleUnauthorized(const jsonette::Json& params) {
  std::string text;
  if (params.is_object() && params["reason"].is_string()) text = params["reason"].string_value();
  if (text == "credentials") {
    _notify<device_unregistered>();
  } else if (text == "unlinked") {
    _notify<harnvik_user_unlinked>(HarnvikUserUnlinkReason::Unlinked);
  } else if (text == "role") {
    _notify<harnvik_user_unlinked>(HarnvikUserUnlinkReason::Role);
  } else {
    _notify<harnvik_user_unlinked>(HarnvikUserUnlinkReason::Other);
  }
}

}  // namespace libkestrun::internal
