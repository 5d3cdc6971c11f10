// The snapshot client's cycle on its own. The main connection is a real authenticated connection to
// the local sync server under a thin server client that records what is sent; the test hands each
// reply to the snapshot client on the core thread, as the dispatcher does. The cycle through the
// real server client is in server_client_snapshot_test.cpp.
#include "core/sync/snapshot_server_client_impl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "client_options.h"
#include "core/data/data_center.h"
#include "core/foundation/memory_store.h"
#include "core/foundation/notification_center.h"
#include "core/foundation/semaphore.h"
#include "core/services/counts_manager.h"
#include "support/fake_account_manager.h"
#include "support/fake_sync_status_manager.h"
#include "support/fake_user_manager.h"
#include "support/on_loop.h"
#include "support/wait.h"
#include "tools/sync_server/server_fixture.h"

namespace {

using jsonette::Json;
using kestrun_test::run_on;
using kestrun_test::wait_until;
using libkestrun::internal::BackgroundFetchResult;
using libkestrun::internal::SnapshotServerClientImpl;

constexpr int64_t kStale = 561600000;

// Records every request and user snapshot in `sent`, and writes the requests to `main` when given.
class MainConnection final : public libkestrun::internal::ServerClient {
 public:
  MainConnection(std::mutex& mutex, std::vector<Json>& sent) : mutex_(mutex), sent_(sent) {}

  sync_server_test::SyncClient* main = nullptr;
  // The commands sent, kept for the test to answer; guarded by the mutex.
  std::vector<std::unique_ptr<libkestrun::ServerCommand>> commands;

  void send(const std::string& method, const Json& params, const std::string& id, bool) override {
    Json envelope = Json::object{{"method", method}, {"params", params}, {"id", id}};
    record(envelope);
    if (main) main->send(envelope);
  }
  void send_command(std::unique_ptr<libkestrun::ServerCommand> command) override {
    record(Json::object{{"method", command->method()},
                        {"state", command->params()["sync_state"]["user_item"]["since"]}});
    std::lock_guard<std::mutex> lock(mutex_);
    commands.push_back(std::move(command));
  }
  void connect() override {}
  void connect_and_sync() override {}
  bool schedule_disconnect(unsigned) override { return false; }
  void disconnect() override {}
  bool is_connected() override { return main != nullptr; }
  bool is_connected_or_connecting() override { return main != nullptr; }
  void markAccountAsStreamable(const std::string&) override {}
  void stop_trouble_timer() override {}
  void write_message(const Json&) override {}
  void send_document(const std::string&, const Json&, const Json&, bool) override {}
  void send_json(const Json&) override {}
  void prime_search(const std::string&) override {}
  void search_query(const std::string&, const std::string&, const std::string&, const std::string&,
                    int) override {}
  void search_fetch(const std::string&, const std::string&, const std::string&, const std::string&) override {
  }

 private:
  void record(Json message) {
    std::lock_guard<std::mutex> lock(mutex_);
    sent_.push_back(std::move(message));
  }
  std::mutex& mutex_;
  std::vector<Json>& sent_;
};

class SnapshotClientTest : public sync_server_test::ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    DBContext::check_schema_version(dir_.file("kestrun.db"), false, std::nullopt, [] {});
    KestrunDataCenter::initialize(&thread_, center_, dir_.file("kestrun.db"), std::nullopt);
    libkestrun::changes_manager_set_instance(changes_);
  }
  void TearDown() override {
    run_on(thread_, [&] { client_.reset(); });
    libkestrun::changes_manager_set_instance(nullptr);
  }

  // A new user holding the example.com sample account (`account`) as its primary account, and a
  // client without main connection whose background connections sign in as that user's device.
  void start_for_background_sync(const std::string& account) {
    start();
    Json state;
    auto main = signed_in(&state);
    ASSERT_EQ(add_account(*main, "maya.lind@example.com", "sample-com-password")["account_id"],
              Json(account));
    accounts_.primary_account_ids = {account};
    users_.credentials = std::make_shared<libkestrun::internal::ConnectionCredentials>(
        state["user_id"].string_value(), state["device_id"].string_value(),
        state["device_secret"].string_value(), nullptr);
    make_client(nullptr, 0, kestrun_test::client_options(server_->port()));
  }

  // A client whose main connection is `main` (null: requests are only recorded); `options` are
  // those its background connection is made from.
  void make_client(sync_server_test::SyncClient* main, int64_t now = 0,
                   brelt::ApiClient::Options options = {}) {
    SnapshotServerClientImpl::Neighbours n;
    n.accounts = &accounts_;
    n.changes = changes_.get();
    n.status = &status_;
    n.users = &users_;
    connection_.main = main;
    n.server = &connection_;
    SnapshotServerClientImpl::Timing timing;
    timing.retry = std::chrono::milliseconds(1);
    if (now) timing.now = [now] { return now; };
    run_on(thread_, [&] {
      client_ = std::make_unique<SnapshotServerClientImpl>(store_, n, options, thread_, timing);
      client_->stale_data_listeners.push_back([this] {
        std::lock_guard<std::mutex> lock(mutex_);
        sent_.push_back("stale");
      });
    });
  }

  std::vector<Json> sent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
  }
  std::vector<std::string> statuses() {
    std::vector<std::string> names;
    for (const auto& call : status_.calls())
      if (call.method == "postStatus") names.push_back(call.args[0].string_value());
    return names;
  }

  // Waits for the reply to the `n`th request sent and hands it over as the dispatcher would.
  Json dispatch_reply(sync_server_test::SyncClient& main, size_t n) {
    if (!wait_until([&] { return sent().size() > n; })) return Json();
    std::string id = sent()[n]["id"].string_value();
    Json reply = main.wait_for([&](const Json& m) { return m["id"] == Json(id); });
    run_on(thread_, [&] { client_->handleSnapshotResponse(id, reply["result"], reply["error"]); });
    return reply;
  }

  brelt::UvThread thread_{true};
  std::shared_ptr<libkestrun::NotificationCenter> center_ =
      std::make_shared<libkestrun::NotificationCenter>(thread_);
  std::shared_ptr<libkestrun::MemoryStore> store_ = std::make_shared<libkestrun::MemoryStore>();
  kestrun_test::FakeAccountManager accounts_;
  std::shared_ptr<libkestrun::ChangesManager> changes_ =
      std::make_shared<libkestrun::ChangesManager>(std::make_shared<libkestrun::MemoryStore>());
  kestrun_test::FakeSyncStatusManager status_;
  kestrun_test::FakeUserManager users_;
  std::unique_ptr<SnapshotServerClientImpl> client_;
  std::mutex mutex_;
  std::vector<Json> sent_;
  MainConnection connection_{mutex_, sent_};
};

TEST_F(SnapshotClientTest, SinceIsThirtyBelowTheTokenAndNeverNegative) {
  start();
  const std::pair<uint64_t, double> cases[] = {{0, 0}, {20, 0}, {1000, 970}};
  accounts_.primary_account_ids = {"A0", "A20", "A1000"};
  for (const auto& [token, since] : cases)
    changes_->setTokens("A" + std::to_string(token), token, token, token);
  make_client(nullptr);
  run_on(thread_, [&] { client_->requestAllSnapshots(); });
  std::vector<Json> got = sent();
  ASSERT_EQ(got.size(), 4u);
  for (size_t i = 0; i < 3; ++i) {
    const Json& state = got[i]["params"]["sync_state"];
    EXPECT_EQ(got[i]["method"], Json("ACCOUNT_SNAPSHOT"));
    for (const char* kind : {"item", "email", "list"})
      EXPECT_EQ(state[kind]["since"].number_value(), cases[i].second) << cases[i].first << kind;
  }
  EXPECT_EQ(got[3]["method"], Json("USER_SNAPSHOT"));
  // Two accounts without tokens: updating accounts is the larger status, posted once.
  EXPECT_EQ(statuses(), (std::vector<std::string>{"com.kestrun.sync.updating.accounts"}));
}

// Id to "saved_at" of the documents of one kind in a snapshot reply.
std::map<std::string, uint64_t> saved_times(const Json& docs) {
  std::map<std::string, uint64_t> times;
  for (const Json& doc : docs.array_items())
    times[doc["_id"].string_value()] = static_cast<uint64_t>(doc["saved_at"].number_value());
  return times;
}

TEST_F(SnapshotClientTest, ANewAccountsInitialSyncFillsTheStoreAndWaitsForInboxAndArchive) {
  start();
  Json state;
  auto main = signed_in(&state);
  const std::string account = "acct-example-com";
  ASSERT_EQ(add_account(*main, "maya.lind@example.com", "sample-com-password")["account_id"], Json(account));
  make_client(main.get());

  run_on(thread_, [&] { client_->requestInitialSnapshot(account, true); });
  Json reply = dispatch_reply(*main, 0);
  const Json& docs = reply["result"]["docs"];
  ASSERT_FALSE(docs["email"].array_items().empty());
  // Applied, but still waiting for the server's initial sync of both locations.
  ASSERT_TRUE(wait_until([&] { return changes_->getTokens(account).emails != 0; }));
  const Json& tokens = reply["result"]["sync_state"];
  EXPECT_EQ(changes_->getTokens(account),
            (libkestrun::Tokens{static_cast<uint64_t>(tokens["item"].number_value()),
                                static_cast<uint64_t>(tokens["email"].number_value()),
                                static_cast<uint64_t>(tokens["list"].number_value())}));
  auto done = [&](const char* location) {
    run_on(thread_, [&] {
      client_->handleInitialSyncDone(Json::object{{"acct_id", account}, {"location", location}});
    });
  };
  done("SENT");
  done("INBOX");
  EXPECT_EQ(run_on(thread_, [&] { return client_->lastSnapshotSync(); }), 0u);
  done("ARCHIVE");
  EXPECT_GT(run_on(thread_, [&] { return client_->lastSnapshotSync(); }), 0u);
  EXPECT_EQ(statuses(), (std::vector<std::string>{"com.kestrun.sync.initial.sync.started",
                                                  "com.kestrun.sync.intial.sync.completed"}));
  EXPECT_TRUE(store_->get(SnapshotServerClientImpl::kLastSnapshotSyncKey).has_value());

  // The store holds the server's account lists, in the server's versions.
  DBContext* context = KestrunDataCenter::getDBContext();
  run_on(thread_, [&] {
    EXPECT_EQ(context->accountListSavedTimesSince(account, 0, 1 << 20), saved_times(docs["list"]));
  });
}

TEST_F(SnapshotClientTest, OnlyACycleOlderThanTheStalePeriodIsRefused) {
  start();
  struct Case {
    const char* what;
    int64_t age;  // now minus the last sync
    bool stale;
  };
  const Case cases[] = {
      {"exactly the stale period", kStale, false},
      {"one millisecond more", kStale + 1, true},
      {"last sync one millisecond ahead of the clock", -1, false},
  };
  accounts_.primary_account_ids = {"A1"};
  const int64_t last = 1700000000000;
  for (const Case& c : cases) {
    store_->set(SnapshotServerClientImpl::kLastSnapshotSyncKey,
                {'1', '7', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0'});
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sent_.clear();
    }
    make_client(nullptr, last + c.age);
    run_on(thread_, [&] { client_->requestAllSnapshots(); });
    std::vector<Json> got = sent();
    if (c.stale) {
      EXPECT_EQ(got, (std::vector<Json>{"stale"})) << c.what;
    } else {
      ASSERT_EQ(got.size(), 2u) << c.what;
      EXPECT_EQ(got[0]["method"], Json("ACCOUNT_SNAPSHOT")) << c.what;
    }
    run_on(thread_, [&] { client_.reset(); });
  }
}

TEST_F(SnapshotClientTest, FiveFailuresMakeTroubleAndU0InvalidatesTheAccount) {
  start();
  Json state;
  auto main = signed_in(&state);
  Json account = add_account(*main, "maya.lind@example.com", "sample-com-password");
  ASSERT_EQ(account["account_id"], Json("acct-example-com"));
  accounts_.primary_account_ids = {"acct-example-com"};
  make_client(main.get());

  server_->fail_next("ACCOUNT_SNAPSHOT", 5, "S1");
  run_on(thread_, [&] { client_->requestAllSnapshots(); });
  // Requests 0, 2, 3, 4, 5 are the account's (1 is the user snapshot): five in all.
  for (size_t n : {0u, 2u, 3u, 4u, 5u}) ASSERT_EQ(dispatch_reply(*main, n)["error"]["code"], Json("S1")) << n;
  EXPECT_EQ(statuses().back(), "com.kestrun.sync.having.trouble.connecting");
  EXPECT_EQ(sent().size(), 6u);
  EXPECT_GT(run_on(thread_, [&] { return client_->lastSnapshotSync(); }), 0u);

  // An account this device does not have: "U0".
  accounts_.primary_account_ids = {"acct-unknown"};
  run_on(thread_, [&] { client_->requestAllSnapshots(); });
  EXPECT_EQ(dispatch_reply(*main, 6)["error"]["code"], Json("U0"));
  bool invalidated = false;
  for (const auto& call : accounts_.calls())
    invalidated |= call.method == "invalidateAccount" && call.args[0] == Json("acct-unknown");
  EXPECT_TRUE(invalidated);
  EXPECT_EQ(sent().size(), 8u);  // the request and the user snapshot; no retry
}

TEST_F(SnapshotClientTest, ABackgroundSyncAskedForWhileOneIsPendingReplacesIt) {
  start();
  make_client(nullptr);
  std::vector<int> results;
  run_on(thread_, [&] {
    client_->requestBackgroundSnapshots([&](int r) { results.push_back(10 + r); });
    client_->requestBackgroundSnapshots([&](int r) { results.push_back(20 + r); });
    EXPECT_TRUE(client_->hasPendingBackgroundSync());
    client_->completeBackgroundSync(-1);
    client_->completeBackgroundSync(-2);
  });
  EXPECT_EQ(results, (std::vector<int>{10 - 3, 20 - 1}));
}

// New objects count for a background sync only once their snapshot is in the store: a snapshot
// that never applies (the store refuses it on every retry) ends the cycle with 2, not 1.
TEST_F(SnapshotClientTest, ABackgroundSnapshotThatFailsToApplyBringsNothingNew) {
  const std::string account = "acct-example-com";
  ASSERT_NO_FATAL_FAILURE(start_for_background_sync(account));
  auto exec = [&](const char* sql) {
    run_on(thread_, [&] { KestrunDataCenter::getDBContext()->database().execDML(sql); });
  };

  std::mutex mutex;
  std::vector<BackgroundFetchResult> results;
  auto background_sync = [&] {
    run_on(thread_, [&] {
      client_->requestBackgroundSnapshots([&](BackgroundFetchResult result) {
        std::lock_guard<std::mutex> lock(mutex);
        results.push_back(result);
      });
    });
  };
  auto completed = [&](size_t n) {
    return wait_until([&] {
      std::lock_guard<std::mutex> lock(mutex);
      return results.size() >= n;
    });
  };

  // Every commit that writes an account list fails, as with a full disk.
  exec(
      "CREATE TEMP TRIGGER refuse_list BEFORE INSERT ON KSACCOUNTLIST BEGIN SELECT RAISE(ABORT, 'full'); "
      "END;");
  background_sync();
  ASSERT_TRUE(completed(1));
  EXPECT_EQ(changes_->getTokens(account), libkestrun::Tokens{});

  // The same snapshot taken by the store does bring new objects.
  exec("DROP TRIGGER refuse_list;");
  background_sync();
  ASSERT_TRUE(completed(2));
  EXPECT_NE(changes_->getTokens(account), libkestrun::Tokens{});
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(results, (std::vector<BackgroundFetchResult>{2, 1}));
}

// The background connection carries no account status, so the conversations its snapshot brings
// move the counts an earlier status reported, as any other change does.
TEST_F(SnapshotClientTest, ABackgroundSnapshotMovesTheReportedCounts) {
  const std::string account = "acct-example-com";
  ASSERT_NO_FATAL_FAILURE(start_for_background_sync(account));
  auto counts =
      std::make_shared<libkestrun::CountsManager>(center_, std::make_shared<libkestrun::MemoryStore>());
  // The last status seen over the main connection: an empty inbox, as an estimate.
  counts->updateCounts(Json::object{{"active", Json::object{{"count", 0}, {"exact", false}}}}, account);

  // The store takes documents only of accounts signed in on this device.
  auto signed_in_accounts = std::make_shared<kestrun_test::FakeAccountManager>();
  signed_in_accounts->account_authenticated = true;
  libkestrun::account_manager_set_instance(signed_in_accounts);
  libkestrun::counts_manager_set_instance(counts);
  std::atomic<bool> completed = false;
  run_on(thread_,
         [&] { client_->requestBackgroundSnapshots([&](BackgroundFetchResult) { completed = true; }); });
  const bool ended = wait_until([&] { return completed.load(); });
  libkestrun::counts_manager_set_instance(nullptr);
  libkestrun::account_manager_set_instance(nullptr);
  ASSERT_TRUE(ended);

  int inbox = 0;
  run_on(thread_, [&] {
    inbox = KestrunDataCenter::getDBContext()->database().execScalar(
        "SELECT COUNT(*) FROM KSITEM WHERE STATE=2 AND ACCOUNTID='acct-example-com';");
  });
  EXPECT_GT(inbox, 0);
  EXPECT_EQ(counts->activeCountForAccount(account), inbox);
}

// The server client destroys this client from a closure that overtakes the data tasks waiting at
// low priority, a snapshot's among them: its completion then finds the client gone and does nothing.
TEST_F(SnapshotClientTest, ASnapshotAppliedAfterTheClientIsGoneCallsNothing) {
  start();
  make_client(nullptr);
  run_on(thread_, [&] {
    client_->requestInitialSnapshot("A1", false);
    client_->handleSnapshotResponse(sent()[0]["id"].string_value(),
                                    Json::object{{"account_id", "A1"}, {"docs", Json::object{}}}, Json());
    client_.reset();
  });
  patch::semaphore applied;
  KestrunDataCenter::performLowPriorityDataTask(
      nullptr, [&](std::vector<std::string>&) { applied.notify(); }, nullptr);
  applied.wait();
  run_on(thread_, [] {});
  EXPECT_EQ(statuses(), (std::vector<std::string>{"com.kestrun.sync.initial.sync.started"}));
}

// Likewise the drafts of a user snapshot, whose data task completes after the client is gone, and
// a cycle asked for from another thread just before it went: neither touches anything of it.
TEST_F(SnapshotClientTest, WorkQueuedBeforeTheClientWentTouchesNothing) {
  start();
  make_client(nullptr);
  run_on(thread_, [&] {
    client_->requestAllSnapshots();
    std::unique_ptr<libkestrun::ServerCommand> snapshot;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ASSERT_EQ(connection_.commands.size(), 1u);
      snapshot = std::move(connection_.commands.front());
    }
    snapshot->on_result(Json::object{{"sync_state", Json::object{{"user_item", 7}}}});
    client_->request_all_snapshots_safe();
    client_.reset();
  });
  // The task that applies the drafts, then whatever its completion queued.
  run_on(thread_, [] {});
  run_on(thread_, [] {});
  EXPECT_FALSE(store_->get(SnapshotServerClientImpl::kUserItemSyncStateKey).has_value())
      << "the next sync state is not recorded";
  EXPECT_EQ(sent().size(), 1u) << "no second cycle";
}

}  // namespace
