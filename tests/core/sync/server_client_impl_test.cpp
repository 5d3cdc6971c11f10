// The server client against the local sync server: set-up, connection statuses, the trouble
// timer, sending through the outgoing queue, dispatch by type, the notifications it handles
// itself, the trace rule, and a server that closes while the client writes.
#include "core/sync/server_client_impl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <stdexcept>

#include "server_client_fixture.h"

namespace kestrun_test {
namespace {

using libkestrun::internal::kestrun_object_server_client_archive_all;

const char* const kStarted = "com.kestrun.sync.started.connecting";
const char* const kFailed = "com.kestrun.sync.failed.connecting";
const char* const kTrouble = "com.kestrun.sync.having.trouble.connecting";
const char* const kClosed = "com.kestrun.did.close.connection";

TEST_F(ServerClientTest, SetUpPublishesTheSubClientsAndOpensNothing) {
  start_server();
  make_client();
  EXPECT_FALSE(client_->is_connected_or_connecting());
  EXPECT_TRUE(names().empty());

  // The object client is published: its forwarder reaches the outgoing queue through this client.
  kestrun_object_server_client_archive_all(kSampleAccount, 1, libkestrun::ArchiveAllType::AllInbox, false);
  std::vector<Json> queued = offline_->getQueuedRequests();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0]["method"], Json("ARCHIVE_ALL"));
}

TEST_F(ServerClientTest, AConnectedDeviceAuthenticatesAndRepliesAcknowledgeByType) {
  start_server();
  register_device();
  make_client();
  run_on(thread_, [&] { client_->connect(); });
  EXPECT_EQ(count(kStarted), 1u);
  ASSERT_TRUE(wait_until([&] { return client_->is_connected(); }));

  // Without authentication the server would refuse the save with "U1" and it would stay queued.
  client_->markAccountAsStreamable(kSampleAccount);
  run_on(thread_, [&] {
    client_->send_document("ITEM_SAVE",
                           Json::object{{"_id", "ITEM-T1"}, {"acct_id", kSampleAccount}, {"state", 2}},
                           Json(), true);
  });
  EXPECT_TRUE(wait_until([&] { return !tasks_->has_tasks(); })) << "the reply acknowledged the request";

  // An "H1" error leaves the request queued, and the trace is not uploaded for it.
  server_->fail_next("ITEM_SAVE", 1, "H1");
  run_on(thread_, [&] {
    client_->send_document("ITEM_SAVE", Json::object{{"_id", "ITEM-T2"}, {"acct_id", kSampleAccount}}, Json(),
                           true);
  });
  ASSERT_TRUE(wait_until([&] { return trace().find("\"H1\"") != std::string::npos; }));
  run_on(thread_, [] {});
  EXPECT_TRUE(tasks_->has_tasks());
  EXPECT_EQ(count(kTrouble), 0u);
}

TEST_F(ServerClientTest, AnUnresolvableHostReportsOnceOverTheBackOffAttempts) {
  libkestrun::internal::ServerClientTimings timings;
  timings.connection.backoff_initial_ms = 1;
  timings.connection.backoff_maximum_ms = 2;
  make_client("host.invalid", timings);
  run_on(thread_, [&] { client_->connect(); });
  // Watch the client go through several attempts.
  int attempts = 0;
  bool was_connecting = true;
  ASSERT_TRUE(wait_until([&] {
    const bool connecting = client_->is_connected_or_connecting();
    if (connecting && !was_connecting) ++attempts;
    was_connecting = connecting;
    return attempts >= 3;
  }));
  run_on(thread_, [&] { client_->disconnect(); });
  EXPECT_EQ(names(), (std::vector<std::string>{kStarted, kFailed}))
      << "no close for a connection that never came up";
}

TEST_F(ServerClientTest, TheTroubleTimerReportsUnansweredSnapshotsOnce) {
  start_server();
  register_device();
  // Unanswered snapshots keep the cycle open.
  server_->drop_next("USER_SNAPSHOT", 1);
  server_->drop_next("ACCOUNT_SNAPSHOT", 1);
  libkestrun::internal::ServerClientTimings timings;
  timings.trouble_ms = 20;
  make_client("localhost", timings);
  run_on(thread_, [&] { client_->connect(); });
  ASSERT_TRUE(wait_posted(kTrouble));
  run_on(thread_, [&] { client_->disconnect(); });
  ASSERT_TRUE(wait_posted(kClosed));
  EXPECT_EQ(count(kTrouble), 1u);
}

TEST_F(ServerClientTest, NukeLeavesTheClientClosedUntilAWrite) {
  start_server();
  const Json state = register_device();
  make_client();
  connect_authenticated();

  ASSERT_TRUE(server_->notify_user(state["user_id"].string_value(), "GENERIC_STATUS",
                                   R"({"status": "Mail is slow"})"));
  ASSERT_TRUE(wait_posted("com.kestrun.sync.generic.message"));
  EXPECT_EQ(payload_of("com.kestrun.sync.generic.message"),
            Json(Json::object{{"genericMessage", "Mail is slow"}}));

  ASSERT_TRUE(server_->notify_user(state["user_id"].string_value(), "NUKE", "{}"));
  ASSERT_TRUE(wait_posted(libkestrun::internal::kAppVersionWasNuked));
  ASSERT_TRUE(wait_posted(kClosed));
  run_on(thread_, [] {});
  EXPECT_FALSE(client_->is_connected_or_connecting()) << "no reconnection by back-off";

  run_on(thread_, [&] { client_->write_message(Json::object{{"method", "ping"}}); });
  EXPECT_TRUE(wait_until([&] { return client_->is_connected(); }));
}

TEST_F(ServerClientTest, MessagesFrom1500BytesAreTracedAsASummary) {
  start_server();
  const Json state = register_device();
  make_client();
  connect_authenticated();

  // A status text that makes the notification exactly `size` bytes of JSON text.
  auto status_of_size = [](size_t size, char fill) {
    auto message = [](const std::string& status) {
      return Json(Json::object{{"type", "NOTIFICATION"},
                               {"method", "GENERIC_STATUS"},
                               {"params", Json::object{{"status", status}}}});
    };
    const size_t bare = message("").dump().size();
    std::string status(size - bare, fill);
    EXPECT_EQ(message(status).dump().size(), size);
    return status;
  };
  const std::string user = state["user_id"].string_value();
  const std::string full = status_of_size(1499, 'a');
  const std::string summarised = status_of_size(1500, 'b');
  ASSERT_TRUE(server_->notify_user(user, "GENERIC_STATUS", Json(Json::object{{"status", full}}).dump()));
  ASSERT_TRUE(
      server_->notify_user(user, "GENERIC_STATUS", Json(Json::object{{"status", summarised}}).dump()));
  ASSERT_TRUE(wait_until([&] { return count("com.kestrun.sync.generic.message") == 2; }));

  const std::string written = trace();
  EXPECT_NE(written.find("Received message: "), std::string::npos);
  EXPECT_NE(written.find(full), std::string::npos);
  EXPECT_EQ(written.find(summarised), std::string::npos);
  EXPECT_NE(written.find("Received message type: NOTIFICATION size: 1500b id: \n"), std::string::npos)
      << written;
}

// The server closes the connection on a frame over its limit while the client is still writing:
// without SIGPIPE ignored the write would end this process.
TEST_F(ServerClientTest, TheServerClosingMidWriteLeavesTheProcessRunning) {
  start_server(64u << 10);
  register_device();
  // A server restarted on the same state has none of the registration's connections left to
  // write to: nothing but the client under test can meet a closed socket once the signal's
  // default action is back.
  server_.reset();
  start_server(64u << 10);
  signal(SIGPIPE, SIG_DFL);
  make_client();
  run_on(thread_, [&] { client_->connect(); });
  ASSERT_TRUE(wait_until([&] { return client_->is_connected(); }));
  const Json big = Json::object{{"method", "ping"}, {"params", std::string(1u << 20, 'x')}};
  run_on(thread_, [&] {
    for (int i = 0; i < 4; ++i) client_->write_message(big);
  });
  EXPECT_TRUE(wait_posted(kClosed));
}

// A change already made locally must reach the server even when the connection is cut before the
// reply: the queue keeps it until an answer acknowledges it.
TEST_F(ServerClientTest, AnArchiveAllCutOffBeforeItsReplyStaysQueuedUntilAcknowledged) {
  start_server();
  register_device();
  make_client();
  connect_authenticated();

  server_->drop_next("ARCHIVE_ALL", 1);
  run_on(thread_, [&] {
    kestrun_object_server_client_archive_all(kSampleAccount, 4102444800000,
                                             libkestrun::ArchiveAllType::AllInbox, true);
    // Frames are served in order: once this is answered, the archive-all has been dropped.
    client_->send("ITEM_SAVE",
                  Json::object{{"doc", Json::object{{"_id", "AFTER"}, {"acct_id", kSampleAccount}}}}, "after",
                  true);
  });
  ASSERT_TRUE(wait_until([&] {
    return offline_->getQueuedRequests().size() == 1 && count(kClosed) == 0 &&
           trace().find("\"id\":\"after\",\"result\"") != std::string::npos;
  }));
  run_on(thread_, [&] { client_->disconnect(); });
  ASSERT_TRUE(wait_posted(kClosed));
  std::vector<Json> queued = offline_->getQueuedRequests();
  ASSERT_EQ(queued.size(), 1u);
  EXPECT_EQ(queued[0]["method"], Json("ARCHIVE_ALL"));

  connect_authenticated();
  run_on(thread_, [&] { client_->send_json(Json(offline_->getQueuedRequests())); });
  ASSERT_TRUE(wait_until([&] { return !tasks_->has_tasks(); }));
  EXPECT_TRUE(offline_->getQueuedRequests().empty());
  EXPECT_TRUE(replied(queued[0]["id"].string_value())) << "the server applied it without an error";
}

// A key-value store whose writes fail on demand.
class FailingStore : public libkestrun::KvStore {
 public:
  explicit FailingStore(std::shared_ptr<libkestrun::KvStore> inner) : inner_(std::move(inner)) {}
  std::optional<Bytes> get(const std::string& key) override { return inner_->get(key); }
  void set(const std::string& key, const Bytes& value) override {
    if (failing) throw std::runtime_error("the store is full");
    inner_->set(key, value);
  }
  void erase(const std::string& key) override { inner_->erase(key); }
  void for_each_key(const KeyFn& fn) override { inner_->for_each_key(fn); }

  std::atomic<bool> failing = false;

 private:
  std::shared_ptr<libkestrun::KvStore> inner_;
};

TEST_F(ServerClientTest, AStoreFailingInADispatchIsLoggedAndLaterMessagesStillArrive) {
  auto failing = std::make_shared<FailingStore>(store_);
  offline_ = std::make_shared<libkestrun::OfflineManager>(libkestrun::OfflineManager::kConnectionWifi,
                                                          std::make_shared<libkestrun::Defaults>(failing),
                                                          tasks_, status_.get());
  libkestrun::offline_manager_set_instance(offline_);
  start_server();
  const Json state = register_device();
  make_client();
  connect_authenticated();

  run_on(thread_, [&] {
    client_->send("ITEM_SAVE",
                  Json::object{{"doc", Json::object{{"_id", "T3"}, {"acct_id", kSampleAccount}}}}, "t3",
                  false);
  });
  failing->failing = true;
  // The acknowledgement of the reply writes the queue, which throws.
  run_on(thread_, [&] {
    client_->send_json(Json(Json::array{Json(Json::object{
        {"method", "ITEM_SAVE"},
        {"id", "t3"},
        {"params", Json::object{{"doc", Json::object{{"_id", "T3"}, {"acct_id", kSampleAccount}}}}}})}));
  });
  ASSERT_TRUE(
      server_->notify_user(state["user_id"].string_value(), "GENERIC_STATUS", R"({"status": "still here"})"));
  EXPECT_TRUE(wait_posted("com.kestrun.sync.generic.message"));
  failing->failing = false;
}

}  // namespace
}  // namespace kestrun_test
