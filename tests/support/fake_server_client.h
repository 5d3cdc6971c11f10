// A recording stand-in for the sync connection's owner: records each call and keeps the commands
// it is handed, in order, so a test can read their method and params.
#pragma once

#include <memory>
#include <vector>

#include "core/sync/server_client.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeServerClient : public libkestrun::internal::ServerClient, public CallLog {
 public:
  void connect() override { record("connect"); }
  void connect_and_sync() override { record("connect_and_sync"); }
  bool schedule_disconnect(unsigned ms) override {
    record("schedule_disconnect", {static_cast<int>(ms)});
    return false;
  }
  void disconnect() override { record("disconnect"); }
  bool is_connected() override {
    record("is_connected");
    return connected;
  }
  bool is_connected_or_connecting() override {
    record("is_connected_or_connecting");
    return connected;
  }
  void markAccountAsStreamable(const std::string& account_id) override {
    record("markAccountAsStreamable", {account_id});
  }
  void stop_trouble_timer() override { record("stop_trouble_timer"); }
  void write_message(const jsonette::Json& message) override { record("write_message", {message}); }
  void send(const std::string& method, const jsonette::Json& params, const std::string& id,
            bool write_now) override {
    record("send", {method, params, id, write_now});
  }
  void send_document(const std::string& method, const jsonette::Json& doc, const jsonette::Json& extra,
                     bool write_now) override {
    record("send_document", {method, doc, extra, write_now});
  }
  void send_command(std::unique_ptr<libkestrun::ServerCommand> command) override {
    record("send_command", {command->method(), command->params()});
    std::lock_guard<std::mutex> lock(commands_mutex_);
    commands_.push_back(std::move(command));
  }

  void send_json(const jsonette::Json& message) override { record("send_json", {message}); }
  void prime_search(const std::string& accountID) override { record("prime_search", {accountID}); }
  void search_query(const std::string& accountID, const std::string& folder, const std::string& searchID,
                    const std::string& text, int numAccounts) override {
    record("search_query", {accountID, folder, searchID, text, numAccounts});
  }
  void search_fetch(const std::string& accountID, const std::string& searchID, const std::string& threadID,
                    const std::string& syncData) override {
    record("search_fetch", {accountID, searchID, threadID, syncData});
  }

  // The commands sent so far; read once the calls are done.
  const std::vector<std::unique_ptr<libkestrun::ServerCommand>>& commands() const { return commands_; }

  bool connected = false;  // the answer of is_connected; set before installing

 private:
  std::mutex commands_mutex_;
  std::vector<std::unique_ptr<libkestrun::ServerCommand>> commands_;  // guarded by commands_mutex_
};

}  // namespace kestrun_test
