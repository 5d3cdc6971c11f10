// What the controller drives and hears on the sync side: the server client with its connection, and
// the snapshot, account, user, preference, push and command clients it owns. The controller holds
// one ControllerLinks and knows nothing else of them; the real links forward each call to the one
// sub-client that does the work, and the tests stand a recording stand-in in its place.
//
// Threads: everything on the core thread, except is_connected (any thread). The listen_* calls are
// made while the core is being built, before the first connection; each appends to the event
// source of its owner, in call order. Listeners run on the core thread.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <functional>
#include <string>

#include "core/sync/account_server_client.h"
#include "core/sync/user_server_client.h"
#include "jsonette/json.h"

namespace libkestrun::internal {

class ControllerLinks {
 public:
  virtual ~ControllerLinks() = default;

  // --- Events. ---
  // The user client: a state document arrived; the user was unlinked; the device credentials
  // were refused; the device was registered.
  virtual void listen_user_state(std::function<void(jsonette::Json)> listener) = 0;
  virtual void listen_user_unlinked(std::function<void(HarnvikUserUnlinkReason)> listener) = 0;
  virtual void listen_device_unregistered(std::function<void()> listener) = 0;
  virtual void listen_device_registered(std::function<void()> listener) = 0;
  // The server client: a pushed document was applied (object id, document type); the server
  // deleted an account; a connection came up (after the server client's own handling).
  virtual void listen_document(std::function<void(std::string, std::string)> listener) = 0;
  virtual void listen_account_deleted(std::function<void(std::string)> listener) = 0;
  virtual void listen_connected(std::function<void()> listener) = 0;
  // The snapshot client: an account's snapshot was applied; snapshots were due but the last
  // completed cycle is too old to catch up from.
  virtual void listen_account_snapshot(std::function<void(std::string)> listener) = 0;
  virtual void listen_stale_data(std::function<void()> listener) = 0;
  // The account client: the server reset one account's data; the completion goes back to it.
  virtual void listen_account_reset(std::function<void(std::string, std::function<void()>)> listener) = 0;

  // --- The connection (server client). ---
  // Wakes the connection and, when already connected, asks for every snapshot again.
  virtual void connect_and_sync() = 0;
  virtual void connect() = 0;
  virtual void disconnect() = 0;
  // Starts the idle close after `ms` unless one is pending; true when one was.
  virtual bool schedule_disconnect(uint64_t ms) = 0;
  virtual bool is_connected() = 0;
  // Writes one message as it is (it already carries its id).
  virtual void write_message(const jsonette::Json& message) = 0;
  // The connection is ended, every message still held for it is forgotten, and a new one is
  // opened, which authenticates with whatever credentials hold then.
  virtual void restart_connection_dropping_held() = 0;
  // ACCOUNT_REMOVE; exactly one of the two callbacks runs, once.
  virtual void remove_email_account(const std::string& account_id, bool from_all_devices,
                                    std::function<void(json_t*)> success, AccountRequestFailure failure) = 0;

  // --- The sub-clients. ---
  virtual void reset_last_snapshot_sync() = 0;
  virtual void request_all_snapshots() = 0;
  // The same, unless snapshots are being requested already.
  virtual void request_all_snapshots_safe() = 0;
  // Forgets the account client's per-account reset tokens.
  virtual void reset_account_client() = 0;
  // Every pending server command gets its cancel callback.
  virtual void cancel_all_commands() = 0;
  // PREFERENCE_UPDATE with the changed preferences.
  virtual void send_preferences(const jsonette::Json& changes) = 0;
  // PUSH_REGISTER with the stored device token.
  virtual void register_for_push() = 0;
};

}  // namespace libkestrun::internal
