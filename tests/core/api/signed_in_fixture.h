// The facade of a device that is already registered with the local sync server and holds some of
// its sample accounts, connected and authenticated: what the search and draft operations need of
// a running application.
//
// The device is registered, and the accounts added on the server, over a connection of the
// test's own (`wire_`, authenticated as the same device); the device's identity and account
// records are written into the key-value store the facade is then built over, as a previous run
// of the application would have left them. The protocol trace ("sanity" in the data directory)
// shows what the facade sent and received.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "api_fixture.h"
#include "core/accounts/account_manager_impl.h"
#include "core/accounts/user_manager_impl.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/memory_store.h"
#include "core/sync/server_client.h"
#include "tests/tools/sync_server/sample_device.h"
#include "tools/sync_server/sample_mailbox.h"

namespace kestrun_test {

class SignedInApiTest : public ApiServerTest {
 protected:
  using Json = jsonette::Json;

  // Registers the device, adds `accounts` (sample account ids) for it on the server, builds the
  // facade over the stored identity and accounts, and connects it.
  void sign_in(const std::vector<std::string>& accounts) {
    wire_ = std::make_unique<sync_server_test::SyncClient>(server_->port());
    state_ = sync_server_test::sign_in_new_device(*wire_);
    ASSERT_TRUE(state_.is_object());

    Json::array records;
    for (const std::string& account_id : accounts) {
      Json added = sync_server_test::add_sample_account(*wire_, account_id);
      ASSERT_TRUE(added["error"].is_null()) << added.dump();
      records.push_back(Json::object{{"accountID", account_id},
                                     {"emailAddress", sample_account(account_id).address},
                                     {"authenticated", true}});
    }

    auto store = std::make_shared<libkestrun::MemoryStore>();
    sync_server_test::store_identity(store, state_);
    libkestrun::JsonKvStore(store).set_json(libkestrun::AccountManagerImpl::kAccountsKey, Json(records));
    libkestrun::Overrides overrides;
    overrides.kv_store = store;
    start(server_config(), overrides);

    // A request deferred until the device is authenticated: once it is answered without an
    // error, the connection is authenticated and later messages go out at once.
    on_core([this] {
      libkestrun::internal::server_client_connect();
      libkestrun::internal::server_client_send(
          "AUTO_SWIPE_RULES_GET", Json::object{{"user_id", state_["user_id"]}, {"limit", 1}, {"before", 1}},
          "probe", true);
    });
    ASSERT_TRUE(wait_until([&] { return !received("probe").is_null(); }));
    ASSERT_TRUE(received("probe")["error"].is_null()) << received("probe").dump();
  }

  static const sync_server::SampleAccount& sample_account(const std::string& account_id) {
    return sync_server_test::sample_account(account_id);
  }

  // The messages sent with `method`, in order.
  std::vector<Json> sent(const std::string& method) const {
    std::vector<Json> found;
    for (const Json& message : traced("Sending message")) {
      if (message["method"] == Json(method)) found.push_back(message);
    }
    return found;
  }

  // The server's reply to the request `id`; null while none has arrived.
  Json received(const std::string& id) const {
    for (const Json& message : traced("Received message")) {
      if (message["id"] == Json(id)) return message;
    }
    return Json();
  }

  std::unique_ptr<sync_server_test::SyncClient> wire_;
  Json state_;
};

}  // namespace kestrun_test
