#include "sync_run.h"

#include <jansson.h>

#include <cstdio>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

#include "core/accounts/account_manager_impl.h"
#include "core/data/data_center.h"
#include "core/foundation/json_conversion.h"
#include "core/model/kestrun_context.h"
#include "core/model/ks_item.h"
#include "sync_stand_in.h"

namespace kestrun_run {

using jsonette::Json;

namespace {

const char kDeviceKey[] = "kestrun.run.device";          // {"user_id", "device_id", "device_secret"}
const char kTokensKey[] = "kestrun.run.sync.tokens";     // {"item", "email"}: the last snapshot's
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

// Applies the item documents, then the e-mail documents (each joins its conversation and fills in
// its summary), in one data task; returns how many of each the model took.
std::pair<int, int> apply_documents(const Json& items, const Json& emails) {
  std::pair<int, int> applied{0, 0};
  KestrunDataCenter::performSyncDataTask([&](std::vector<std::string>&, DBContext& context) {
    const struct {
      const Json& documents;
      const char* type;
      int& count;
    } kinds[] = {{items, "item", applied.first}, {emails, "email", applied.second}};
    for (const auto& kind : kinds) {
      for (const Json& document : kind.documents.array_items()) {
        std::unique_ptr<json_t, decltype(&json_decref)> doc(patch::jansson_from_json(document), &json_decref);
        if (KestrunContext::applyServerDocument(doc.get(), kind.type, "_id", &context)) ++kind.count;
      }
    }
  });
  return applied;
}

}  // namespace

bool sync_sample_account(libkestrun::Defaults& defaults,
                         const std::shared_ptr<libkestrun::NotificationCenter>& notifications,
                         const std::string& state, const std::string& address,
                         std::chrono::milliseconds deadline) {
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
    defaults.erase(kTokensKey);
    account = client.request("ACCOUNT_CREATE", create);
  }
  const std::string account_id = account["account_id"].string_value();
  if (account_id.empty()) throw std::runtime_error("ACCOUNT_CREATE answered without an account");
  std::printf("account: %s (%s), %s\n", kAccountAddress, account_id.c_str(),
              account["new_account"].bool_value() ? "added" : "already on this device");

  // The core's account manager keeps the account as the server described it, in the key-value
  // store, so that the model accepts the account's documents.
  auto accounts = std::make_shared<libkestrun::AccountManagerImpl>(notifications, defaults.get_store());
  accounts->load();
  std::unique_ptr<json_t, decltype(&json_decref)> document(patch::jansson_from_json(account), &json_decref);
  accounts->updateFromStateDoc(document.get());
  libkestrun::account_manager_set_instance(accounts);

  // The tokens of the last snapshot: documents saved since then, per kind.
  const Json tokens = defaults.get_json(kTokensKey);
  Json::object sync_state;
  for (const char* kind : {"item", "email"}) {
    const double since = tokens[kind].is_number() ? tokens[kind].number_value() : 0;
    sync_state[kind] = Json::object{{"since", since}, {"exclude_ids", Json::array{}}};
  }
  Json snapshot = client.request("ACCOUNT_SNAPSHOT",
                                 Json::object{{"account_id", account_id}, {"sync_state", sync_state}});
  const Json& items = snapshot["docs"]["item"];
  const Json& emails = snapshot["docs"]["email"];
  const auto [applied_items, applied_emails] = apply_documents(items, emails);
  std::printf(
      "snapshot: %zu item and %zu e-mail documents %s; %d items and %d e-mails applied to the database\n",
      items.array_items().size(), emails.array_items().size(),
      tokens.is_object() ? "saved since the last run" : "in all", applied_items, applied_emails);
  // A kind the reply held none of keeps its token.
  Json::object next = tokens.is_object() ? tokens.object_items() : Json::object{};
  for (const char* kind : {"item", "email"}) {
    const Json& token = snapshot["sync_state"][kind];
    if (token.is_number() && token.number_value() > 0) next[kind] = token;
  }
  defaults.set_json(kTokensKey, next);
  return true;
}

}  // namespace kestrun_run
