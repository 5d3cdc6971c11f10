// The controller's links over the real sync side: each call goes to the one client that does the
// work, and each listen_* call appends to that client's own listener list or event source. The
// server client owns the connection; the sub-clients are the ones its set-up built.
//
// Ownership: nothing is owned; the server client and every sub-client outlive the links.
// Threads: as ControllerLinks (the core thread, is_connected from any thread).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/sync/account_server_client_impl.h"
#include "core/sync/controller_links.h"
#include "core/sync/preference_server_client.h"
#include "core/sync/push_server_client.h"
#include "core/sync/server_client_impl.h"
#include "core/sync/snapshot_server_client_impl.h"
#include "core/sync/user_server_client_impl.h"

namespace libkestrun::internal {

struct ServerControllerClients {
  ServerClientImpl& server;
  SnapshotServerClientImpl& snapshots;
  AccountServerClientImpl& accounts;
  UserServerClientImpl& user;
  PreferenceServerClient& preferences;
  PushServerClient& push;
};

class ServerControllerLinks final : public ControllerLinks {
 public:
  explicit ServerControllerLinks(ServerControllerClients clients) : c_(clients) {}

  void listen_user_state(std::function<void(jsonette::Json)> listener) override;
  void listen_user_unlinked(std::function<void(HarnvikUserUnlinkReason)> listener) override;
  void listen_device_unregistered(std::function<void()> listener) override;
  void listen_device_registered(std::function<void()> listener) override;
  void listen_document(std::function<void(std::string, std::string)> listener) override;
  void listen_account_deleted(std::function<void(std::string)> listener) override;
  void listen_connected(std::function<void()> listener) override;
  void listen_account_snapshot(std::function<void(std::string)> listener) override;
  void listen_stale_data(std::function<void()> listener) override;
  void listen_account_reset(std::function<void(std::string, std::function<void()>)> listener) override;

  void connect_and_sync() override;
  void connect() override;
  void disconnect() override;
  bool schedule_disconnect(uint64_t ms) override;
  bool is_connected() override;
  void write_message(const jsonette::Json& message) override;
  void restart_connection_dropping_held() override;
  void remove_email_account(const std::string& account_id, bool from_all_devices,
                            std::function<void(json_t*)> success, AccountRequestFailure failure) override;

  void reset_last_snapshot_sync() override;
  void request_all_snapshots() override;
  void request_all_snapshots_safe() override;
  void reset_account_client() override;
  void cancel_all_commands() override;
  void send_preferences(const jsonette::Json& changes) override;
  void register_for_push() override;

 private:
  ServerControllerClients c_;
};

}  // namespace libkestrun::internal
