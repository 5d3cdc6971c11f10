// The server command client over a real LevelDB store: message shape, the command store's keys,
// superseding, settling by reply, resending in sending order, and the pending commands' single
// callback.
#include "core/sync/server_command_client.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "core/foundation/json_kv_store.h"
#include "core/foundation/leveldb_store.h"
#include "core/sync/user_item_commands.h"
#include "support/temp_dir.h"

namespace {

using jsonette::Json;
using libkestrun::ServerCommand;
using libkestrun::ServerCommandClient;
using libkestrun::UserItemRemove;
using libkestrun::UserItemSave;
using libkestrun::internal::VectorClock;

// A command that writes each of its callbacks, and its destruction, to a shared log.
class ProbeCommand : public ServerCommand {
 public:
  ProbeCommand(std::string name, bool persist, std::shared_ptr<std::vector<std::string>> log)
      : name_(std::move(name)), persist_(persist), log_(std::move(log)) {}
  ~ProbeCommand() override { log_->push_back(name_ + " destroyed"); }

  std::string method() const override { return "PROBE"; }
  Json params() const override { return Json::object{{"name", name_}}; }
  bool should_persist() const override { return persist_; }
  std::string object_id() const override { return "O"; }
  bool supersedes(const std::string&, const Json&) const override { return false; }
  void on_error(const Json& error) override { log_->push_back(name_ + " error " + error.dump()); }
  void on_result(const Json& result) override { log_->push_back(name_ + " result " + result.dump()); }

 private:
  std::string name_;
  bool persist_;
  std::shared_ptr<std::vector<std::string>> log_;
};

Json save_data() { return Json::object{{"subject", "plans"}}; }

std::unique_ptr<UserItemSave> save(const VectorClock& version) {
  return std::make_unique<UserItemSave>("D1", "U1", version, 1, save_data());
}

class ServerCommandClientTest : public ::testing::Test {
 protected:
  std::unique_ptr<ServerCommandClient> open() {
    return std::make_unique<ServerCommandClient>([this](const Json& message) { written.push_back(message); },
                                                 store);
  }

  std::vector<std::string> keys() {
    std::vector<std::string> found;
    store->for_each_key([&](const std::string& key) { found.push_back(key); });
    return found;
  }

  Json stored(const std::string& key) { return json.get_json(key).value_or(Json()); }

  std::vector<std::string> written_ids() {
    std::vector<std::string> ids;
    for (const Json& message : written) ids.push_back(message["id"].string_value());
    return ids;
  }

  std::unique_ptr<ProbeCommand> probe(const std::string& name, bool persist = true) {
    return std::make_unique<ProbeCommand>(name, persist, log);
  }

  kestrun_test::TempDir dir;
  std::shared_ptr<libkestrun::KvStore> store = std::make_shared<libkestrun::LeveldbStore>(dir.file("db"));
  libkestrun::JsonKvStore json{store};
  std::vector<Json> written;
  std::shared_ptr<std::vector<std::string>> log = std::make_shared<std::vector<std::string>>();
  std::unique_ptr<ServerCommandClient> client = open();
};

TEST_F(ServerCommandClientTest, StoresDraftCommandsAndDropsTheOnesANewerVersionSupersedes) {
  client->send("M1", save(VectorClock({{"A", 1}})));
  const Json first = Json::object{{"id", "M1"},
                                  {"method", "USER_ITEM_SAVE"},
                                  {"params", Json::object{{"_id", "D1"},
                                                          {"user_id", "U1"},
                                                          {"version", Json::object{{"A", 1}}},
                                                          {"type", 1},
                                                          {"data", save_data()}}}};
  ASSERT_EQ(written, std::vector<Json>{first});
  EXPECT_EQ(keys(),
            (std::vector<std::string>{"offline_messages!messages!M1", "offline_messages!object_to_mid!D1"}));
  EXPECT_EQ(stored("offline_messages!messages!M1")["message_data"], first);
  EXPECT_EQ(stored("offline_messages!messages!M1")["object_id"], Json("D1"));
  EXPECT_EQ(stored("offline_messages!object_to_mid!D1"), Json(Json::array{"M1"}));

  // {A:2} makes {A:1} obsolete: its record and index entry go, and it is no longer pending.
  client->send("M2", save(VectorClock({{"A", 2}})));
  EXPECT_EQ(stored("offline_messages!object_to_mid!D1"), Json(Json::array{"M2"}));
  EXPECT_TRUE(stored("offline_messages!messages!M1").is_null());
  EXPECT_FALSE(client->cancelCommand("M1"));

  // A concurrent change ({B:1}) and an equal one supersede nothing; a removal {A:3,B:1} supersedes
  // all of them.
  client->send("M3", save(VectorClock({{"B", 1}})));
  client->send("M4", save(VectorClock({{"A", 2}})));
  EXPECT_EQ(stored("offline_messages!object_to_mid!D1"), Json(Json::array{"M2", "M3", "M4"}));
  client->send("M5", std::make_unique<UserItemRemove>("D1", "U1", VectorClock({{"A", 3}, {"B", 1}})));
  EXPECT_EQ(stored("offline_messages!object_to_mid!D1"), Json(Json::array{"M5"}));
  EXPECT_EQ(keys(),
            (std::vector<std::string>{"offline_messages!messages!M5", "offline_messages!object_to_mid!D1"}));
}

TEST_F(ServerCommandClientTest, AReplySettlesTheStoredCopyUnlessItsErrorMayPassLater) {
  struct Case {
    Json reply;  // without "id"
    bool settled;
    std::string callback;
  } cases[] = {
      {Json::object{{"result", Json::object{{"ok", 1}}}}, true, "result {\"ok\":1}"},
      {Json::object{{"result", 7}, {"error", nullptr}}, true, "result 7"},
      {Json::object{{"error", Json::object{{"code", "V1"}}}}, true, "error {\"code\":\"V1\"}"},
      {Json::object{{"error", Json::object{{"code", "V1.1"}}}}, true, "error {\"code\":\"V1.1\"}"},
      {Json::object{{"error", Json::object{{"code", "U1"}}}}, false, "error {\"code\":\"U1\"}"},
      {Json::object{{"error", Json::object{{"message", "busy"}}}}, false, "error {\"message\":\"busy\"}"},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string id = "R" + std::to_string(++n);
    log->clear();
    client->send(id, probe(id));
    Json::object reply = c.reply.object_items();
    reply["id"] = id;
    reply["type"] = "PROBE";
    EXPECT_TRUE(client->handleResponse(reply)) << c.reply.dump();
    EXPECT_EQ(*log, (std::vector<std::string>{id + " " + c.callback, id + " destroyed"})) << c.reply.dump();
    EXPECT_EQ(stored("offline_messages!messages!" + id).is_null(), c.settled) << c.reply.dump();
    if (c.settled) {
      EXPECT_FALSE(client->handleResponse(Json::object{{"id", id}}));  // a repeated reply finds nothing
    }
  }
  // The unsettled ones remain listed for their object; the settled ones left no trace.
  EXPECT_EQ(stored("offline_messages!object_to_mid!O"), Json(Json::array{"R5", "R6"}));
  client->handleResponse(Json::object{{"id", "R5"}, {"result", nullptr}});
  client->handleResponse(Json::object{{"id", "R6"}, {"result", nullptr}});
  EXPECT_EQ(keys(), std::vector<std::string>{});

  // A reply without a string id touches nothing.
  client->send("R7", probe("R7"));
  log->clear();
  EXPECT_FALSE(client->handleResponse(Json::object{{"id", 7}, {"result", nullptr}}));
  EXPECT_TRUE(log->empty());
  EXPECT_TRUE(stored("offline_messages!messages!R7").is_object());
}

TEST_F(ServerCommandClientTest, ResendsStoredCommandsInSendingOrderUnderTheirOldIds) {
  // Two concurrent saves of one draft; the later one has the smaller id, so the order of ids is
  // the wrong order to resend them in.
  client->send("Z-first", save(VectorClock({{"A", 2}})));
  client->send("A-second", save(VectorClock({{"B", 1}})));
  client->send("M-other", probe("other"));

  // A restart: a new client over the same store goes on numbering after the stored records.
  client.reset();
  written.clear();
  client = open();
  client->send("0-third", save(VectorClock({{"A", 2}, {"B", 2}})));  // supersedes both saves
  written.clear();
  client->send("5-fourth", probe("fourth"));
  client->resendStoredMessages();
  EXPECT_EQ(written_ids(), (std::vector<std::string>{"5-fourth", "M-other", "0-third", "5-fourth"}));

  written.clear();
  client->resendStoredMessages();
  EXPECT_EQ(written_ids(), (std::vector<std::string>{"M-other", "0-third", "5-fourth"}));
  // A resend lists its id once, however often it goes out.
  EXPECT_EQ(stored("offline_messages!object_to_mid!O"), Json(Json::array{"M-other", "5-fourth"}));
  EXPECT_EQ(stored("offline_messages!object_to_mid!D1"), Json(Json::array{"0-third"}));

  // Without the superseding save the two concurrent ones would go in the order first sent.
  ServerCommandClient fresh([&](const Json& message) { written.push_back(message); },
                            std::make_shared<libkestrun::LeveldbStore>(dir.file("other")));
  fresh.send("Z-first", save(VectorClock({{"A", 2}})));
  fresh.send("A-second", save(VectorClock({{"B", 1}})));
  written.clear();
  fresh.resendStoredMessages();
  EXPECT_EQ(written_ids(), (std::vector<std::string>{"Z-first", "A-second"}));
  EXPECT_EQ(written[1]["params"]["version"], Json(Json::object{{"B", 1}}));
}

TEST_F(ServerCommandClientTest, EachPendingCommandEndsInOneCallback) {
  // An id already pending keeps its first command; the second is destroyed but written all the same.
  client->send("P1", probe("first"));
  client->send("P1", probe("second"));
  EXPECT_EQ(*log, std::vector<std::string>{"second destroyed"});
  EXPECT_EQ(written_ids(), (std::vector<std::string>{"P1", "P1"}));
  log->clear();
  client->handleResponse(Json::object{{"id", "P1"}, {"result", 1}});
  EXPECT_EQ(*log, (std::vector<std::string>{"first result 1", "first destroyed"}));

  // cancelAll reaches the pending commands that have a stored copy, and keeps the copies.
  log->clear();
  client->send("C2", probe("stored"));
  client->send("C1", probe("unstored", false));
  client->cancelAll();
  EXPECT_EQ(*log, (std::vector<std::string>{"stored error {\"code\":\"cancel\"}", "stored destroyed"}));
  EXPECT_TRUE(stored("offline_messages!messages!C2").is_object());
  EXPECT_FALSE(client->cancelCommand("C2"));

  // A disconnection tells the rest in ascending id order; a command sent meanwhile stays pending.
  log->clear();
  client->send("C0", probe("zero", false));
  client->handleDisconnect();
  EXPECT_EQ(*log, (std::vector<std::string>{"zero error {\"code\":\"disconnect\"}",
                                            "unstored error {\"code\":\"disconnect\"}", "zero destroyed",
                                            "unstored destroyed"}));
  EXPECT_TRUE(stored("offline_messages!messages!C2").is_object());

  const std::string id = client->sendCommand(probe("fresh"));
  EXPECT_TRUE(
      std::regex_match(id, std::regex("[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}")))
      << id;
  EXPECT_TRUE(client->cancelCommand(id));
}

}  // namespace
