// A client that sends two concurrent saves of one draft and then waits to be killed: the child
// process of the command store's restart test. It stores the commands like the product does, but
// never hands the replies back to the command client, so it dies between the server applying a
// command and the client settling it.
//
// Usage: kestrun_command_sender <store directory> <port> <authority pem file>
// Prints "sent <id>" per command in sending order, then "reply <id> <saved_at>" per reply.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>

#include "brelt/auto_connect_api_client.h"
#include "brelt/uv_thread.h"
#include "core/accounts/user_manager_impl.h"
#include "core/foundation/leveldb_store.h"
#include "core/foundation/notification_center.h"
#include "core/sync/auto_auth_connection.h"
#include "core/sync/server_command_client.h"
#include "core/sync/user_item_commands.h"
#include "support/recording_account_calls.h"
#include "sync_client.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  std::ifstream pem_file(argv[3]);
  sync_server_test::trust_authority(std::string(std::istreambuf_iterator<char>(pem_file), {}));

  brelt::UvThread thread(true);
  auto center = std::make_shared<libkestrun::NotificationCenter>(thread);
  std::shared_ptr<libkestrun::KvStore> store = std::make_shared<libkestrun::LeveldbStore>(argv[1]);
  kestrun_test::RecordingAccountCalls accounts;
  auto manager = std::make_shared<libkestrun::UserManagerImpl>(center, store, accounts);

  brelt::ApiClient::Options options;
  options.version = "1.0";
  options.device = "macos";
  options.host = "localhost";
  options.port = argv[2];
  options.hmac_key = sync_server_test::test_key();

  std::unique_ptr<brelt::AutoConnectApiClient> connection;
  std::unique_ptr<libkestrun::ServerCommandClient> commands;
  thread.post_sync([&] {
    connection = std::make_unique<brelt::AutoConnectApiClient>(
        thread.get_loop(), std::make_unique<libkestrun::internal::AutoAuthConnectionFactory>(
                               *manager, nullptr, thread.get_loop(), options));
    connection->on_data = [](jsonette::Json message) {
      if (message["type"] == jsonette::Json("USER_ITEM_SAVE")) {
        std::cout << "reply " << message["id"].string_value() << " " << message["result"]["saved_at"].dump()
                  << std::endl;
      }
    };
    commands = std::make_unique<libkestrun::ServerCommandClient>(
        [&](const jsonette::Json& message) { connection->write(jsonette::Json(message)); }, store);
    using libkestrun::internal::VectorClock;
    const jsonette::Json data = jsonette::Json::object{{"subject", "plans"}, {"content", "<p>hi</p>"}};
    // The later command has the smaller id: only the order of sending keeps them apart.
    commands->send("Z0000000-0000-4000-8000-000000000001",
                   std::make_unique<libkestrun::UserItemSave>("D1", manager->getUserId(),
                                                              VectorClock({{"A", 2}}), 1, data));
    std::cout << "sent Z0000000-0000-4000-8000-000000000001" << std::endl;
    commands->send("A0000000-0000-4000-8000-000000000002",
                   std::make_unique<libkestrun::UserItemSave>("D1", manager->getUserId(),
                                                              VectorClock({{"B", 1}}), 1, data));
    std::cout << "sent A0000000-0000-4000-8000-000000000002" << std::endl;
  });
  pause();  // until killed
  return 0;
}
