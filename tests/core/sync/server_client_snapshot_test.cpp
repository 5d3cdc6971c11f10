// Snapshot cycles through the real server client against the local sync server: the initial sync
// of the sample mailbox into an empty keyed store, the next cycles' requests and new-mail counts,
// a snapshot that the store cannot take, and stored commands resent once the drafts are in. The sample
// account is added to the real account manager as an account add leaves it (authenticated), so the store
// accepts its documents.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/sync/offline_scope.h"
#include "core/sync/server_command_client.h"
#include "core/sync/user_item_commands.h"
#include "server_account_fixture.h"

namespace kestrun_test {
namespace {

using libkestrun::internal::SnapshotServerClientImpl;

const char* const kUpdating = "com.kestrun.sync.updating.accounts";
const char* const kCompleted = "com.kestrun.sync.intial.sync.completed";
const char* const kChecking = "com.kestrun.sync.checking.for.messages";
const char* const kNewMessages = "com.kestrun.sync.received.new.messages";
const char* const kTrouble = "com.kestrun.sync.having.trouble.connecting";

using ServerClientSnapshotTest = ServerAccountTest;

TEST_F(ServerClientSnapshotTest, InitialSyncHoldsTheServersMailboxAndLaterCyclesCountNewMail) {
  start_server();
  register_with_account();
  make_client();
  connect();
  ASSERT_TRUE(wait_posted(kCompleted));
  EXPECT_EQ(statuses(),
            (std::vector<std::string>{"com.kestrun.sync.started.connecting", kUpdating, kCompleted}));

  // Lists, conversations and e-mails: the server's ids in the server's versions.
  const Json server = server_documents();
  ASSERT_FALSE(server["docs"]["email"].array_items().empty());
  EXPECT_EQ(stored(), expected(server));
  const Json& tokens = server["sync_state"];
  EXPECT_EQ(changes_->getTokens(kSampleAccount),
            (libkestrun::Tokens{static_cast<uint64_t>(tokens["item"].number_value()),
                                static_cast<uint64_t>(tokens["email"].number_value()),
                                static_cast<uint64_t>(tokens["list"].number_value())}));
  EXPECT_TRUE(store_->get(SnapshotServerClientImpl::kLastSnapshotSyncKey).has_value());

  // Mail pushed while connected is stored with versions above the tokens: the next cycle asks
  // from 30 below each token and names those objects as held.
  const std::string pushed =
      server_->deliver_mail({kSampleAccount, "Ola", "ola@example.biz", "While connected", "<p>Hello</p>"});
  const std::map<std::string, SavedTimes> with_pushed = expected(server_documents());
  ASSERT_EQ(with_pushed.at("item").count(pushed), 1u);
  ASSERT_TRUE(wait_until([&] { return stored() == with_pushed; }));
  ASSERT_TRUE(wait_posted(kNewMessages)) << "the pushed e-mail is new mail";
  const libkestrun::Tokens held = changes_->getTokens(kSampleAccount);
  const std::map<std::string, SavedTimes> before = stored();
  clear_posted();
  run_on(thread_, [&] { client_->connect_and_sync(); });
  ASSERT_TRUE(wait_posted(kNewMessages));
  EXPECT_EQ(statuses(), (std::vector<std::string>{kChecking, kNewMessages}));
  EXPECT_EQ(payload_of(kNewMessages), Json(Json::object{{"primaryCount", 0}, {"secondaryCount", 0}}));
  const Json request = snapshot_requests().back();
  const std::map<std::string, uint64_t> token_of = {
      {"item", held.items}, {"email", held.emails}, {"list", held.lists}};
  for (const char* kind : kKinds) {
    const uint64_t token = token_of.at(kind);
    EXPECT_EQ(request["sync_state"][kind]["since"].number_value(), token > 30 ? token - 30.0 : 0.0) << kind;
    SavedTimes newer;
    for (const auto& [id, saved] : before.at(kind))
      if (saved > token) newer[id] = saved;
    EXPECT_EQ(saved_times_of(request["sync_state"][kind]["exclude_ids"]), newer) << kind;
  }
  EXPECT_EQ(before.at("item").count(pushed), 1u);
  EXPECT_EQ(request["sync_state"]["item"]["exclude_ids"][pushed].number_value(),
            static_cast<double>(before.at("item").at(pushed)));

  // Two e-mails of one new conversation arrive while the client is offline.
  disconnect();
  const std::string item =
      server_->deliver_mail({kSampleAccount, "Ola", "ola@example.biz", "While away", "<p>One</p>"});
  ASSERT_FALSE(item.empty());
  ASSERT_EQ(
      server_->deliver_mail({kSampleAccount, "Ola", "ola@example.biz", "While away", "<p>Two</p>", item}),
      item);
  clear_posted();
  connect();
  ASSERT_TRUE(wait_posted(kNewMessages));
  EXPECT_EQ(payload_of(kNewMessages), Json(Json::object{{"primaryCount", 2}, {"secondaryCount", 1}}));
  EXPECT_EQ(stored(), expected(server_documents()));
}

TEST_F(ServerClientSnapshotTest, ASnapshotTheStoreCannotTakeIsRetriedAndMovesNoToken) {
  start_server();
  register_with_account();
  libkestrun::internal::ServerClientTimings timings;
  timings.snapshot.retry = std::chrono::milliseconds(1);
  make_client("localhost", timings);
  // Every commit that writes an e-mail fails, as with a full disk.
  exec("CREATE TEMP TRIGGER refuse_email BEFORE INSERT ON KSEMAIL BEGIN SELECT RAISE(ABORT, 'full'); END;");
  connect();
  ASSERT_TRUE(wait_posted(kTrouble));
  EXPECT_EQ(statuses(),
            (std::vector<std::string>{"com.kestrun.sync.started.connecting", kUpdating, kTrouble}));
  EXPECT_EQ(snapshot_requests().size(), 5u) << "the first request and four retries";
  EXPECT_EQ(changes_->getTokens(kSampleAccount), libkestrun::Tokens{}) << "the server resends it all";
  EXPECT_TRUE(stored()["email"].empty());

  // Once the store takes it, the next cycle brings the whole mailbox.
  exec("DROP TRIGGER refuse_email;");
  clear_posted();
  run_on(thread_, [&] { client_->connect_and_sync(); });
  ASSERT_TRUE(wait_posted(kCompleted));
  EXPECT_EQ(stored(), expected(server_documents()));
}

// A key-value store that lets a test look at the rest of the program at the moment of a write.
class WatchedStore : public libkestrun::KvStore {
 public:
  explicit WatchedStore(std::shared_ptr<libkestrun::KvStore> inner) : inner_(std::move(inner)) {}
  std::optional<Bytes> get(const std::string& key) override { return inner_->get(key); }
  void set(const std::string& key, const Bytes& value) override {
    if (on_set) on_set(key);
    inner_->set(key, value);
  }
  void erase(const std::string& key) override { inner_->erase(key); }
  void for_each_key(const KeyFn& fn) override { inner_->for_each_key(fn); }

  // Called on the writing thread; set while nothing writes.
  std::function<void(const std::string& key)> on_set;

 private:
  std::shared_ptr<libkestrun::KvStore> inner_;
};

// A draft saved while offline waits in the command store; after the next connection it goes out
// again only once the user snapshot's drafts are in the store.
TEST_F(ServerClientSnapshotTest, StoredCommandsAreResentOnceTheSnapshotsDraftsAreApplied) {
  start_server();
  register_with_account();
  std::vector<std::string> server_drafts;
  {
    sync_server_test::SyncClient raw(server_->port());
    ASSERT_TRUE(raw.wait_connected());
    raw.authenticate(state_);
    const Json reply =
        raw.request("USER_SNAPSHOT",
                    Json::object{{"sync_state", Json::object{{"user_item", Json::object{{"since", 0}}}}}});
    for (const Json& doc : reply["result"]["docs"]["user_item"].array_items())
      server_drafts.push_back(doc["_id"].string_value());
  }
  ASSERT_FALSE(server_drafts.empty());

  // Saved while no server can be reached: stored, not delivered.
  auto watched = std::make_shared<WatchedStore>(store_);
  store_ = watched;
  make_client("host.invalid");
  const Json data = Json::object{{"subject", "Offline"},
                                 {"content", "<p>Written on a train</p>"},
                                 {"created_at", 1},
                                 {"modified_at", 1}};
  run_on(thread_, [&] {
    client_->send_command(std::make_unique<libkestrun::UserItemSave>(
        "D-OFFLINE", state_["user_id"].string_value(), libkestrun::internal::VectorClock(), 1, data));
    client_->disconnect();
  });
  client_.reset();
  drain();
  const std::vector<libkestrun::OfflineItem> stored_commands =
      libkestrun::OfflineScope(libkestrun::ServerCommandClient::kScope, store_).get_items();
  ASSERT_EQ(stored_commands.size(), 1u);
  const std::string message_id = stored_commands[0].message_id;

  // The next start: at the moment the stored command is written again, which drafts are in? The
  // check runs on the core thread and owns what it uses, as the store outlives this test's body.
  auto present_at_resend = std::make_shared<std::vector<size_t>>();  // core thread
  run_on(thread_, [&] {
    watched->on_set = [server_drafts, message_id, present_at_resend](const std::string& key) {
      if (key.find("!messages!" + message_id) == std::string::npos) return;
      DBContext* context = KestrunDataCenter::getDBContext();
      size_t present = 0;
      for (const std::string& id : server_drafts) present += context->draftExists(id);
      present_at_resend->push_back(present);
    };
  });
  make_client();
  connect();
  ASSERT_TRUE(wait_until([&] { return replied(message_id); })) << "the server took the draft";
  EXPECT_TRUE(run_on(thread_, [&] {
    return libkestrun::OfflineScope(libkestrun::ServerCommandClient::kScope, store_).get_items().empty();
  }));
  const std::vector<size_t> seen = run_on(thread_, [&] { return *present_at_resend; });
  ASSERT_FALSE(seen.empty());
  for (size_t present : seen) EXPECT_EQ(present, server_drafts.size());
}

}  // namespace
}  // namespace kestrun_test
