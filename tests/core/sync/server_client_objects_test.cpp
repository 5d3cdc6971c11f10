// Object requests through the real server client and its outgoing queue against the local sync
// server, once the account's snapshot is in: what reaches the server's store, what stays queued
// until the server acknowledges it, and a request queued without a write.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/foundation/json_conversion.h"
#include "core/sync/kestrun_object_server_client.h"
#include "server_account_fixture.h"

namespace kestrun_test {
namespace {

using libkestrun::internal::kestrun_object_server_client_save_item;
using libkestrun::internal::kestrun_object_server_client_save_list;

class ServerClientObjectsTest : public ServerAccountTest {
 protected:
  // A device whose sample account is synced (and so streamable).
  void synced() {
    start_server();
    register_with_account();
    make_client();
    connect();
    ASSERT_TRUE(wait_posted("com.kestrun.sync.intial.sync.completed"));
  }

  // Writes the object's queued request again, as a new connection does; nothing when none is
  // queued.
  void resend(const std::string& doc_id) {
    run_on(thread_, [&] { offline_->sendRequestsForIds({doc_id}); });
  }
  bool server_holds(const char* kind, const std::string& id) {
    const Json server = server_documents();
    for (const Json& doc : server["docs"][kind].array_items())
      if (doc["_id"] == Json(id)) return true;
    return false;
  }
  bool sent(const std::string& id) {
    for (const std::string& line : split_lines(trace()))
      if (line.find("Sending message: ") != std::string::npos && line.find(id) != std::string::npos)
        return true;
    return false;
  }
  size_t h1_replies() {
    size_t n = 0;
    for (const std::string& line : split_lines(trace())) n += line.find("\"H1\"") != std::string::npos;
    return n;
  }
  static std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
};

TEST_F(ServerClientObjectsTest, SavesReachTheServerAndStayQueuedUntilAcknowledged) {
  synced();
  struct Case {
    const char* kind;
    std::string id;
    std::function<void(json_t*)> save;
  };
  const Case cases[] = {
      {"item", "ITEM-NEW", [](json_t* doc) { kestrun_object_server_client_save_item(doc, true); }},
      {"list", "LIST-NEW", [](json_t* doc) { kestrun_object_server_client_save_list(doc, true); }},
  };
  for (const Case& c : cases) {
    patch::JanssonPtr doc(patch::jansson_from_json(
        Json::object{{"_id", c.id}, {"acct_id", kSampleAccount}, {"name", "Later"}, {"state", 2}}));
    // An "H1" answer leaves the request queued.
    server_->fail_next(std::string(c.kind) == "item" ? "ITEM_SAVE" : "LIST_SAVE", 1, "H1");
    const size_t refusals = h1_replies();
    run_on(thread_, [&] { c.save(doc.get()); });
    ASSERT_TRUE(wait_until([&] { return h1_replies() > refusals; })) << c.kind;
    drain();
    EXPECT_TRUE(tasks_->has_tasks()) << c.kind << ": still queued";
    EXPECT_FALSE(server_holds(c.kind, c.id)) << c.kind;

    // Written again, it is applied and acknowledged.
    resend(c.id);
    ASSERT_TRUE(wait_until([&] { return !tasks_->has_tasks(); })) << c.kind;
    EXPECT_TRUE(server_holds(c.kind, c.id)) << c.kind;
  }
}

TEST_F(ServerClientObjectsTest, ASaveWithoutAWriteSendsNothingAndSurvivesARestart) {
  synced();
  patch::JanssonPtr doc(patch::jansson_from_json(
      Json::object{{"_id", "ITEM-LATER"}, {"acct_id", kSampleAccount}, {"state", 2}}));
  run_on(thread_, [&] { kestrun_object_server_client_save_item(doc.get(), false); });
  // A request written after it is answered; frames go out in order.
  connect_authenticated();
  EXPECT_FALSE(sent("ITEM-LATER"));
  EXPECT_TRUE(tasks_->has_tasks());

  // A new start reads the queue from the store, and its next write brings the save to the server.
  run_on(thread_, [&] { client_->disconnect(); });
  offline_ = std::make_shared<libkestrun::OfflineManager>(libkestrun::OfflineManager::kConnectionWifi,
                                                          std::make_shared<libkestrun::Defaults>(store_),
                                                          tasks_, status_.get());
  libkestrun::offline_manager_set_instance(offline_);
  EXPECT_FALSE(server_holds("item", "ITEM-LATER"));
  connect_authenticated();
  resend("ITEM-LATER");
  EXPECT_TRUE(wait_until([&] { return server_holds("item", "ITEM-LATER"); }));
}

}  // namespace
}  // namespace kestrun_test
