// The user and device requests of the sync connection: registering this device (anonymously or
// with Harnvik credentials), linking it to a Harnvik account, unregistering it and switching a
// mail account's automatic authorisation; and the server's two notifications about the user,
// USER_STATE and USER_UNAUTHORIZED, turned into events.
//
// Every request is tracked as a transaction under a fresh upper-case id: its reply handler or its
// time-out ends it through exactly one of its callbacks. An anonymous registration reports no
// failure: it is sent again under a new id after a back-off that starts at one second and doubles
// up to five minutes, without end, so that the device ends up registered without a storm of
// requests against a server that refuses or does not answer. An attempt due while the connection
// is down (the first one included) waits for it and goes out once when it is up.
//
// The server client builds the one instance on the core thread during its set-up and keeps it for
// the process. Everything here runs on the core thread; the listener lists have no lock and are
// filled while the core is built. Listeners run inside the handlers, in the order they were added.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "brelt/timer_handle.h"
#include "brelt/uv_thread.h"
#include "core/accounts/account_manager.h"
#include "core/foundation/event_source.h"
#include "core/foundation/pref_manager.h"
#include "core/sync/server_client.h"
#include "core/sync/transaction_manager.h"
#include "core/sync/user_server_client.h"

namespace libkestrun::internal {

// The events of the user client.
struct harnvik_user_unlinked {
  using listener = std::function<void(HarnvikUserUnlinkReason)>;
};
// The server no longer accepts this device's credentials.
struct device_unregistered {
  using listener = std::function<void()>;
};
// A USER_NEW_DEVICE reply brought a state document.
struct device_registered {
  using listener = std::function<void()>;
};
// USER_STATE, with the notification's params.
struct user_state {
  using listener = std::function<void(jsonette::Json)>;
};

// Schedules a call after a delay on the core thread; destroying the handle cancels it.
using DeferFunction = std::function<brelt::TimerHandle(std::chrono::milliseconds, std::function<void()>)>;

struct UserRequestTimes {
  std::chrono::milliseconds timeout = std::chrono::seconds(20);  // of every request
  std::chrono::milliseconds first_retry = std::chrono::seconds(1);
  std::chrono::milliseconds longest_retry = std::chrono::minutes(5);
};

class UserServerClientImpl final
    : public UserServerClient,
      public lks::EventSource<harnvik_user_unlinked, device_unregistered, device_registered, user_state> {
 public:
  // None of the pointers is owned; each outlives the client. `defer` schedules the anonymous
  // registration's retries (the core thread's own timers when empty).
  UserServerClientImpl(brelt::UvThread& thread, ServerClient* server, AccountManager* accounts,
                       PrefManager* prefs, UserRequestTimes times = {}, DeferFunction defer = nullptr);
  UserServerClientImpl(const UserServerClientImpl&) = delete;
  UserServerClientImpl& operator=(const UserServerClientImpl&) = delete;

  void registerAnonymousDevice(const std::string& vendor_id, const std::string& device_type,
                               const std::string& device_name, UserRequestSuccess success) override;
  void registerDevice(const HarnvikCredentials& credentials, const std::string& vendor_id,
                      const std::string& device_type, const std::string& device_name,
                      UserRequestSuccess success, UserRequestFailure failure) override;
  void unregisterDevice(UserUnlinkReason reason, const std::shared_ptr<ConnectionCredentials>& credentials,
                        UserRequestSuccess success, UserRequestFailure failure) override;
  void linkHarnvikAccount(const HarnvikCredentials& credentials, UserRequestSuccess success,
                          UserRequestFailure failure) override;
  void setAutoAuthEnabledForAccount(bool enabled, const std::string& account_id, UserRequestSuccess success,
                                    UserRequestFailure failure) override;

  // Replies (result and error are null when the member is missing) and notifications (their
  // params), from the incoming dispatch.
  void handleNewDeviceResponse(const std::string& id, const jsonette::Json& result,
                               const jsonette::Json& error);
  void handleUnlinkResponse(const std::string& id, const jsonette::Json& result, const jsonette::Json& error);
  void handleLinkResponse(const std::string& id, const jsonette::Json& result, const jsonette::Json& error);
  void handleSetAutoAuthResponse(const std::string& id, const jsonette::Json& result,
                                 const jsonette::Json& error);
  void handleUserState(const jsonette::Json& params);
  void handleUnauthorized(const jsonette::Json& params);
  // The connection is up: the anonymous registrations waiting for it go out.
  void handleConnected();

 private:
  using Transactions = TransactionManager<UserRequestSuccess, UserRequestFailure>;

  void sendAnonymousRegistration(const std::string& vendor_id, const std::string& device_type,
                                 const std::string& device_name, UserRequestSuccess success,
                                 std::chrono::milliseconds next_retry);
  jsonette::Json newDeviceParams(const std::string& vendor_id, const std::string& device_type,
                                 const std::string& device_name, const HarnvikCredentials* credentials);
  void send(const std::string& method, const jsonette::Json& params, UserRequestSuccess success,
            UserRequestFailure failure);

  ServerClient* server_;
  AccountManager* accounts_;
  PrefManager* prefs_;
  UserRequestTimes times_;
  DeferFunction defer_;
  Transactions transactions_;
  brelt::TimerHandle anonymous_retry_;  // the pending resend of an anonymous registration
  // Anonymous registrations due while disconnected, sent by handleConnected.
  std::vector<std::function<void()>> waiting_for_connection_;
};

}  // namespace libkestrun::internal
