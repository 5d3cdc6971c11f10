// A recording stand-in for the sync side the controller drives: every call is recorded, the
// connection state is a flag, the account removal keeps its callbacks for the test to answer, and
// the test raises the events through the listeners the controller registered (on the core thread,
// as the real clients do).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/sync/controller_links.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeControllerLinks : public libkestrun::internal::ControllerLinks, public CallLog {
 public:
  using Cause = libkestrun::internal::HarnvikUserUnlinkReason;

  void listen_user_state(std::function<void(jsonette::Json)> l) override { add("user_state", user_state, l); }
  void listen_user_unlinked(std::function<void(Cause)> l) override { add("user_unlinked", user_unlinked, l); }
  void listen_device_unregistered(std::function<void()> l) override {
    add("device_unregistered", device_unregistered, l);
  }
  void listen_device_registered(std::function<void()> l) override {
    add("device_registered", device_registered, l);
  }
  void listen_document(std::function<void(std::string, std::string)> l) override {
    add("document", document, l);
  }
  void listen_account_deleted(std::function<void(std::string)> l) override {
    add("account_deleted", account_deleted, l);
  }
  void listen_connected(std::function<void()> l) override { add("connected", connected, l); }
  void listen_account_snapshot(std::function<void(std::string)> l) override {
    add("account_snapshot", account_snapshot, l);
  }
  void listen_stale_data(std::function<void()> l) override { add("stale_data", stale_data, l); }
  void listen_account_reset(std::function<void(std::string, std::function<void()>)> l) override {
    add("account_reset", account_reset, l);
  }

  void connect_and_sync() override { record("connect_and_sync"); }
  void connect() override { record("connect"); }
  void disconnect() override { record("disconnect"); }
  bool schedule_disconnect(uint64_t ms) override {
    record("schedule_disconnect", {static_cast<double>(ms)});
    return false;
  }
  bool is_connected() override { return connected_flag; }
  void write_message(const jsonette::Json& message) override { record("write_message", {message}); }
  void restart_connection_dropping_held() override { record("restart_connection_dropping_held"); }
  void remove_email_account(const std::string& accountID, bool fromAllDevices,
                            std::function<void(json_t*)> success,
                            libkestrun::internal::AccountRequestFailure failure) override {
    record("remove_email_account", {accountID, fromAllDevices});
    removal_success = std::move(success);
    removal_failure = std::move(failure);
  }
  void reset_last_snapshot_sync() override { record("reset_last_snapshot_sync"); }
  void request_all_snapshots() override { record("request_all_snapshots"); }
  void request_all_snapshots_safe() override { record("request_all_snapshots_safe"); }
  void reset_account_client() override { record("reset_account_client"); }
  void cancel_all_commands() override { record("cancel_all_commands"); }
  void send_preferences(const jsonette::Json& changes) override { record("send_preferences", {changes}); }
  void register_for_push() override { record("register_for_push"); }

  // The order in which the controller subscribed.
  std::vector<std::string> subscriptions;

  std::vector<std::function<void(jsonette::Json)>> user_state;
  std::vector<std::function<void(Cause)>> user_unlinked;
  std::vector<std::function<void()>> device_unregistered;
  std::vector<std::function<void()>> device_registered;
  std::vector<std::function<void(std::string, std::string)>> document;
  std::vector<std::function<void(std::string)>> account_deleted;
  std::vector<std::function<void()>> connected;
  std::vector<std::function<void(std::string)>> account_snapshot;
  std::vector<std::function<void()>> stale_data;
  std::vector<std::function<void(std::string, std::function<void()>)>> account_reset;

  bool connected_flag = true;
  std::function<void(json_t*)> removal_success;
  libkestrun::internal::AccountRequestFailure removal_failure;

 private:
  template <class F>
  void add(const char* name, std::vector<F>& list, F listener) {
    subscriptions.push_back(name);
    list.push_back(std::move(listener));
  }
};

// Calls every listener of `list` with `args`.
template <class F, class... Args>
void raise(const std::vector<F>& list, Args&&... args) {
  for (const auto& listener : list) listener(args...);
}

}  // namespace kestrun_test
