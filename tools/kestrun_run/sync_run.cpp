#include "sync_run.h"

#include <jansson.h>

#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

#include "core/data/data_center.h"
#include "core/foundation/semaphore.h"
#include "core/services/changes_manager.h"
#include "run_accounts.h"
#include "sync_stand_in.h"

namespace kestrun_run {

using jsonette::Json;

namespace {

const char kDeviceKey[] = "kestrun.run.device";          // {"user_id", "device_id", "device_secret"}
const char kAccountAddress[] = "maya.lind@example.com";  // a sample mailbox of the server
const char kAccountPassword[] = "sample-com-password";

Json register_device(SyncStandIn& client, libkestrun::Defaults& defaults) {
  Json state = client.request("USER_NEW_DEVICE",
                              Json::object{{"name", "make run"}, {"type", "macos"}, {"vendor_id", "run"}});
  Json device = Json::object{{"user_id", state["user_id"]},
                             {"device_id", state["device_id"]},
                             {"device_secret", state["device_secret"]}};
  defaults.set_json(kDeviceKey, device);
  std::printf("device: registered as %s (user %s); credentials kept in the key-value store\n",
              state["device_id"].string_value().c_str(), state["user_id"].string_value().c_str());
  return device;
}

void authenticate(SyncStandIn& client, const Json& device) {
  client.send(Json::object{{"method", "USER_AUTH_DEVICE"},
                           {"params", Json::object{{"auth_version", 1},
                                                   {"user_id", device["user_id"]},
                                                   {"device_id", device["device_id"]},
                                                   {"device_secret", device["device_secret"]}}}});
}

// Applies the snapshot as the core's snapshot client will: through the data center, in one task,
// lists then items then e-mails, the change tokens stored for the account when it is done.
// Returns the completion's counts: new e-mails and conversations with new mail.
std::vector<std::string> apply_snapshot(brelt::UvThread& core, const Json& snapshot,
                                        const std::string& account_id) {
  std::vector<std::string> counts;
  patch::semaphore done;
  core.post([&] {
    KestrunDataCenter::processDocumentSnapshot(
        snapshot["docs"], snapshot["sync_state"], account_id,
        [&](std::vector<std::string>& results) {
          counts = results;
          done.notify();
        },
        nullptr);
  });
  done.wait();
  return counts;
}

}  // namespace

bool sync_sample_account(brelt::UvThread& core, libkestrun::Defaults& defaults, const std::string& state,
                         const std::string& address, std::chrono::milliseconds deadline) {
  std::printf("\nsync with the local sync server at %s (this program's stand-in client)\n", address.c_str());
  std::unique_ptr<SyncStandIn> connection;
  try {
    trust_authority_file(state + "/sync-server/authority.pem");
    connection = std::make_unique<SyncStandIn>(address, deadline);
  } catch (const std::exception& e) {
    std::printf("sync server cannot be reached (%s); using sample data instead\n", e.what());
    return false;
  }
  SyncStandIn& client = *connection;

  // The change tokens live where the core keeps them; the data center stores each snapshot's.
  auto tokens = std::make_shared<libkestrun::ChangesManager>(defaults.get_store());
  libkestrun::changes_manager_set_instance(tokens);

  Json device = defaults.get_json(kDeviceKey);
  const bool known = device.is_object();
  if (known) {
    std::printf("device: %s, authenticating with the credentials kept from an earlier run\n",
                device["device_id"].string_value().c_str());
  } else {
    device = register_device(client, defaults);
  }
  authenticate(client, device);
  const Json create = Json::object{{"credentials", Json::object{{"password", kAccountPassword}}},
                                   {"data", kAccountAddress},
                                   {"locale", "en"},
                                   {"type", 1}};
  // The server answers USER_AUTH_DEVICE only when it refuses it; the next request tells.
  Json account = client.request("ACCOUNT_CREATE", create, "U1");
  if (known && account["code"] == Json("U1")) {
    std::printf("device: the server no longer knows it\n");
    authenticate(client, register_device(client, defaults));
    tokens->clear();
    account = client.request("ACCOUNT_CREATE", create);
  }
  const std::string account_id = account["account_id"].string_value();
  if (account_id.empty()) throw std::runtime_error("ACCOUNT_CREATE answered without an account");
  std::printf("account: %s (%s), %s\n", kAccountAddress, account_id.c_str(),
              account["new_account"].bool_value() ? "added" : "already on this device");

  libkestrun::account_manager_set_instance(std::make_shared<RunAccounts>(account_id, kAccountAddress));

  // The change tokens of the last snapshot: documents saved since then, per kind.
  const libkestrun::Tokens since = tokens->getTokens(account_id);
  Json::object sync_state;
  for (const auto& [kind, token] :
       {std::pair{"item", since.items}, {"email", since.emails}, {"list", since.lists}}) {
    sync_state[kind] = Json::object{{"since", static_cast<long long>(token)}, {"exclude_ids", Json::array{}}};
  }
  Json snapshot = client.request("ACCOUNT_SNAPSHOT",
                                 Json::object{{"account_id", account_id}, {"sync_state", sync_state}});
  const Json& docs = snapshot["docs"];
  std::printf("snapshot: %zu item and %zu e-mail documents %s%s\n", docs["item"].array_items().size(),
              docs["email"].array_items().size(), since.items != 0 ? "saved since the last run" : "in all",
              KestrunDataCenter::snapshotHasObjects(docs) ? "; applying them in one data task" : "");
  const std::vector<std::string> counts = apply_snapshot(core, snapshot, account_id);
  const libkestrun::Tokens stored = tokens->getTokens(account_id);
  std::printf("snapshot applied: %s new e-mails in %s conversations; change tokens item %llu, e-mail %llu\n",
              counts.at(0).c_str(), counts.at(1).c_str(), static_cast<unsigned long long>(stored.items),
              static_cast<unsigned long long>(stored.emails));
  return true;
}

}  // namespace kestrun_run
