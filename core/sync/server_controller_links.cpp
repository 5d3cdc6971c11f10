#include "core/sync/server_controller_links.h"

#include <utility>

namespace libkestrun::internal {

void ServerControllerLinks::listen_user_state(std::function<void(jsonette::Json)> listener) {
  c_.user.listen<user_state>(std::move(listener));
}

void ServerControllerLinks::listen_user_unlinked(std::function<void(HarnvikUserUnlinkReason)> listener) {
  c_.user.listen<harnvik_user_unlinked>(std::move(listener));
}

void ServerControllerLinks::listen_device_unregistered(std::function<void()> listener) {
  c_.user.listen<device_unregistered>(std::move(listener));
}

void ServerControllerLinks::listen_device_registered(std::function<void()> listener) {
  c_.user.listen<device_registered>(std::move(listener));
}

void ServerControllerLinks::listen_document(std::function<void(std::string, std::string)> listener) {
  c_.server.document_listeners.push_back(
      [listener = std::move(listener)](const std::string& object_id, const std::string& doc_type) {
        listener(object_id, doc_type);
      });
}

void ServerControllerLinks::listen_account_deleted(std::function<void(std::string)> listener) {
  c_.server.account_deleted_listeners.push_back(
      [listener = std::move(listener)](const std::string& account_id) { listener(account_id); });
}

void ServerControllerLinks::listen_connected(std::function<void()> listener) {
  c_.server.connected_listeners.push_back(std::move(listener));
}

void ServerControllerLinks::listen_account_snapshot(std::function<void(std::string)> listener) {
  c_.snapshots.account_snapshot_listeners.push_back(
      [listener = std::move(listener)](const std::string& account_id) { listener(account_id); });
}

void ServerControllerLinks::listen_stale_data(std::function<void()> listener) {
  c_.snapshots.stale_data_listeners.push_back(std::move(listener));
}

void ServerControllerLinks::listen_account_reset(
    std::function<void(std::string, std::function<void()>)> listener) {
  c_.accounts.accountResetListeners.push_back(
      [listener = std::move(listener)](const std::string& account_id, std::function<void()> done) {
        listener(account_id, std::move(done));
      });
}

void ServerControllerLinks::connect_and_sync() { c_.server.connect_and_sync(); }
void ServerControllerLinks::connect() { c_.server.connect(); }
void ServerControllerLinks::disconnect() { c_.server.disconnect(); }

bool ServerControllerLinks::schedule_disconnect(uint64_t ms) {
  return c_.server.schedule_disconnect(static_cast<unsigned>(ms));
}

bool ServerControllerLinks::is_connected() { return c_.server.is_connected(); }
void ServerControllerLinks::write_message(const jsonette::Json& message) { c_.server.write_message(message); }
void ServerControllerLinks::restart_connection_dropping_held() { c_.server.restart_dropping_held(); }

void ServerControllerLinks::remove_email_account(const std::string& account_id, bool from_all_devices,
                                                 std::function<void(json_t*)> success,
                                                 AccountRequestFailure failure) {
  c_.accounts.remove_email_account(account_id, from_all_devices, std::move(success), std::move(failure));
}

void ServerControllerLinks::reset_last_snapshot_sync() { c_.snapshots.resetLastSnapshotSync(); }
void ServerControllerLinks::request_all_snapshots() { c_.snapshots.requestAllSnapshots(); }
void ServerControllerLinks::request_all_snapshots_safe() { c_.snapshots.request_all_snapshots_safe(); }
void ServerControllerLinks::reset_account_client() { c_.accounts.reset(); }
void ServerControllerLinks::cancel_all_commands() { c_.server.cancel_all_commands(); }
void ServerControllerLinks::send_preferences(const jsonette::Json& changes) {
  c_.preferences.sendPreferences(changes);
}
void ServerControllerLinks::register_for_push() { c_.push.registerForPush(); }

}  // namespace libkestrun::internal
