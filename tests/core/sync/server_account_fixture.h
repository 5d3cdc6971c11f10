// The server client with the sample account in the real account manager, authenticated as an
// account add leaves it (the store refuses documents of other accounts), the real change tokens,
// and readers of what the store and the server hold for the account.
#pragma once

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/accounts/account_manager_impl.h"
#include "core/foundation/json_conversion.h"
#include "core/foundation/memory_store.h"
#include "core/services/changes_manager.h"
#include "server_client_fixture.h"

namespace kestrun_test {

inline const char* const kKinds[] = {"item", "email", "list"};

using SavedTimes = DBContext::SavedTimes;

// Id to "saved_at" of the documents of one kind.
inline SavedTimes saved_times(const Json& docs) {
  SavedTimes times;
  for (const Json& doc : docs.array_items())
    times[doc["_id"].string_value()] = static_cast<uint64_t>(doc["saved_at"].number_value());
  return times;
}
inline SavedTimes saved_times_of(const Json& exclude_ids) {
  SavedTimes times;
  for (const auto& [id, saved] : exclude_ids.object_items())
    times[id] = static_cast<uint64_t>(saved.number_value());
  return times;
}

class ServerAccountTest : public ServerClientTest {
 protected:
  ServerAccountTest() {
    libkestrun::changes_manager_set_instance(changes_);
    libkestrun::account_manager_set_instance(account_manager_);
    managers_.accounts = account_manager_.get();
  }
  ~ServerAccountTest() override {
    client_.reset();
    drain();
    libkestrun::account_manager_set_instance(nullptr);
    libkestrun::changes_manager_set_instance(nullptr);
  }

  // The sample account in the account manager, authenticated, as its add leaves it.
  void add_sample_account() {
    run_on(thread_, [&] {
      account_manager_->load();
      patch::JanssonPtr account(patch::jansson_from_json(
          Json::object{{"account_id", kSampleAccount}, {"data", "maya.lind@example.com"}, {"type", 1}}));
      account_manager_->updateFromStateDoc(account.get());
    });
    clear_posted();
  }

  // A registered device whose account manager holds the sample account.
  void register_with_account() {
    state_ = register_device();
    add_sample_account();
  }

  // Everything the server holds for the sample account, asked for over a connection of its own.
  Json server_documents() {
    sync_server_test::SyncClient raw(server_->port());
    EXPECT_TRUE(raw.wait_connected());
    raw.authenticate(state_);
    Json::object sync_state;
    for (const char* kind : kKinds)
      sync_state[kind] = Json::object{{"since", 0}, {"exclude_ids", Json::object{}}};
    return raw.request("ACCOUNT_SNAPSHOT",
                       Json::object{{"account_id", kSampleAccount}, {"sync_state", sync_state}})["result"];
  }

  // The store's rows of the sample account, per kind, as id to "saved_at".
  std::map<std::string, SavedTimes> stored() {
    return run_on(thread_, [] {
      DBContext* context = KestrunDataCenter::getDBContext();
      return std::map<std::string, SavedTimes>{
          {"item", context->itemSavedTimesSince(kSampleAccount, 0, 1 << 20)},
          {"email", context->emailSavedTimesSince(kSampleAccount, 0, 1 << 20)},
          {"list", context->accountListSavedTimesSince(kSampleAccount, 0, 1 << 20)}};
    });
  }
  std::map<std::string, SavedTimes> expected(const Json& server) {
    std::map<std::string, SavedTimes> times;
    for (const char* kind : kKinds) times[kind] = saved_times(server["docs"][kind]);
    return times;
  }

  // The params of every account snapshot request the client sent, from the protocol trace.
  std::vector<Json> snapshot_requests() {
    const std::string label = "Sending message: ";
    std::vector<Json> found;
    std::istringstream in(trace());
    for (std::string line; std::getline(in, line);) {
      const size_t at = line.find(label);
      if (at == std::string::npos || line.find("\"ACCOUNT_SNAPSHOT\"") == std::string::npos) continue;
      std::string error;
      Json message = Json::parse(line.substr(at + label.size()), error);
      if (message["method"] == Json("ACCOUNT_SNAPSHOT")) found.push_back(message["params"]);
    }
    return found;
  }

  // Runs `sql` on the store's connection.
  void exec(const std::string& sql) {
    run_on(thread_, [&] { KestrunDataCenter::getDBContext()->database().execDML(sql.c_str()); });
  }

  // The sync statuses posted so far, in order.
  std::vector<std::string> statuses() {
    std::vector<std::string> found;
    for (const std::string& name : names())
      if (name.rfind("com.kestrun.sync.", 0) == 0) found.push_back(name);
    return found;
  }

  // Forgets what was posted so far.
  void clear_posted() {
    run_on(thread_, [] {});
    std::lock_guard<std::mutex> lock(mutex_);
    posted_.clear();
  }

  void connect() {
    run_on(thread_, [&] { client_->connect(); });
  }
  void disconnect() {
    run_on(thread_, [&] { client_->disconnect(); });
    ASSERT_TRUE(wait_posted("com.kestrun.did.close.connection"));
  }

  std::shared_ptr<libkestrun::ChangesManager> changes_ =
      std::make_shared<libkestrun::ChangesManager>(std::make_shared<libkestrun::MemoryStore>());
  std::shared_ptr<libkestrun::AccountManagerImpl> account_manager_ =
      std::make_shared<libkestrun::AccountManagerImpl>(center_, store_);
  Json state_;
};

}  // namespace kestrun_test
