// A sync server in process on a fresh state directory, trusted by the test's clients.
#pragma once

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

#include "support/temp_dir.h"
#include "sync_client.h"
#include "tools/sync_server/sync_server.h"

namespace sync_server_test {

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A client that goes away mid-write is an error value for the server's TLS side, not death.
    signal(SIGPIPE, SIG_IGN);
  }

  void start(size_t max_reply_bytes = 48u << 20, int resource_idle_ms = 30000) {
    sync_server::ServerOptions options;
    options.state_directory = dir_.file("state");
    options.hmac_key = test_key();
    options.max_reply_bytes = max_reply_bytes;
    options.resource_idle_ms = resource_idle_ms;
    server_ = std::make_unique<sync_server::SyncServer>(options);
    trust_authority(server_->authority_pem());
  }

  std::unique_ptr<SyncClient> connect() {
    auto client = std::make_unique<SyncClient>(server_->port());
    EXPECT_TRUE(client->wait_connected());
    return client;
  }

  // A connection of a newly registered device, authenticated; `credentials` makes it a linked
  // user's device ({"uid": ...}), else the user is anonymous. Its state document goes to `state`.
  std::unique_ptr<SyncClient> signed_in(Json* state, const Json& credentials = Json()) {
    auto client = connect();
    Json::object params{{"name", "test mac"}, {"type", "macos"}, {"vendor_id", "V1"}};
    if (!credentials.is_null()) params["harnvik_credentials"] = credentials;
    *state = client->request("USER_NEW_DEVICE", params)["result"];
    client->authenticate(*state);
    return client;
  }

  // Adds the sample account with this address and password; the reply's result.
  static Json add_account(SyncClient& client, const std::string& address, const std::string& password) {
    return client.request("ACCOUNT_CREATE",
                          Json::object{{"credentials", Json::object{{"password", password}}},
                                       {"data", address},
                                       {"locale", "en"},
                                       {"type", 1}})["result"];
  }

  static Json snapshot(SyncClient& client, const std::string& account_id,
                       const Json& sync_state = Json::object{}) {
    return client.request("ACCOUNT_SNAPSHOT",
                          Json::object{{"account_id", account_id}, {"sync_state", sync_state}})["result"];
  }

  kestrun_test::TempDir dir_;
  std::unique_ptr<sync_server::SyncServer> server_;
};

}  // namespace sync_server_test
