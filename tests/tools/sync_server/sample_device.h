// A device as an earlier run of the application leaves it: registered with the local sync server,
// holding some of the server's sample accounts, its identity in the key-value store. The tests of
// the server client and of the facade set the server's side up over a connection of their own
// (a SyncClient authenticated as that device) and then build the client under test over the store.
//
// Header only: it needs the sample mailbox and the user manager's key, which the programs that
// include it link, while sync_client.cpp is also built into programs without them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/accounts/user_manager_impl.h"
#include "core/foundation/json_kv_store.h"
#include "tests/tools/sync_server/sync_client.h"
#include "tools/sync_server/sample_mailbox.h"

namespace sync_server_test {

// Opens a connection to the server on `port` and authenticates it as the device of the state
// document `state`. The connection is up when this returns (a failure is reported to the test).
inline std::unique_ptr<SyncClient> connect_as(uint16_t port, const Json& state) {
  auto client = std::make_unique<SyncClient>(port);
  EXPECT_TRUE(client->wait_connected());
  client->authenticate(state);
  return client;
}

// Registers a new anonymous device over `client` and authenticates the connection as it; the
// device's state document (null, reported to the test, when the registration failed).
inline Json sign_in_new_device(SyncClient& client) {
  EXPECT_TRUE(client.wait_connected());
  Json state = register_device(client);
  EXPECT_TRUE(state.is_object()) << "no device registered";
  client.authenticate(state);
  return state;
}

// The server's sample account `account_id` (the first one, reported to the test, when none).
inline const sync_server::SampleAccount& sample_account(const std::string& account_id) {
  for (const sync_server::SampleAccount& sample : sync_server::sample_accounts()) {
    if (sample.account_id == account_id) return sample;
  }
  ADD_FAILURE() << "no sample account " << account_id;
  return sync_server::sample_accounts().front();
}

// Adds the sample account `account_id` with its password for the device `client` is
// authenticated as; the server's reply. With `or_associate`, an add the server refuses (the
// account is held for another user already) is followed by an association, whose reply is
// returned instead.
inline Json add_sample_account(SyncClient& client, const std::string& account_id, bool or_associate = false) {
  const sync_server::SampleAccount& sample = sample_account(account_id);
  Json reply = client.request("ACCOUNT_CREATE",
                              Json::object{{"credentials", Json::object{{"password", sample.password}}},
                                           {"data", sample.address},
                                           {"locale", "en"},
                                           {"type", sample.type}});
  if (or_associate && !reply["error"].is_null())
    reply = client.request("ACCOUNT_ASSOCIATE", Json::object{{"account_id", account_id}});
  return reply;
}

// Writes the device's identity where the user manager reads it. Written as it is: the server's
// device secret is not in the UUID form that the user manager takes from a state document.
inline void store_identity(const std::shared_ptr<libkestrun::KvStore>& store, const Json& state) {
  libkestrun::JsonKvStore(store).set_json(libkestrun::kUserDocKey,
                                          Json::object{{"user_id", state["user_id"]},
                                                       {"device_id", state["device_id"]},
                                                       {"device_secret", state["device_secret"]}});
}

// A device of a new anonymous user registered over a connection of its own, holding the sample
// account `account_id` (added, or associated where the server refuses the add), its identity
// written to `store`; its state document.
inline Json register_with_sample_account(uint16_t port, const std::string& account_id,
                                         const std::shared_ptr<libkestrun::KvStore>& store) {
  SyncClient client(port);
  Json state = sign_in_new_device(client);
  add_sample_account(client, account_id, true);
  store_identity(store, state);
  return state;
}

}  // namespace sync_server_test
