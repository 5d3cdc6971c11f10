// The outgoing request queue on a LevelDB directory: merging per-object requests, compacting
// preference updates and auto-swipe decisions, acknowledgements and their send counts, the stored
// form, restarts, a crash between the two per-object writes, and the batches it sends.
#include "core/services/offline_manager.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <memory>
#include <regex>
#include <vector>

#include "core/sync/server_client.h"
#include "services_fixtures.h"
#include "support/fake_server_client.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using kestrun_test::Posted;
using libkestrun::OfflineManager;

const char* const kRequests = "offline.manager.queued.requests";
const char* const kRequestIds = "offline.manager.queued.message.ids";
const char* const kPreferences = "offline.manager.queued.preferences";
const char* const kSwipes = "offline.manager.queued.swipes";
const char* const kAccountRequests = "offline.manager.queued.account.requests";

Json request(const std::string& method, const std::string& id, Json doc) {
  return Json::object{{"method", method}, {"id", id}, {"params", Json::object{{"doc", std::move(doc)}}}};
}
Json preference(const std::string& id, Json changes) {
  return Json::object{{"method", "PREFERENCE_UPDATE"},
                      {"id", id},
                      {"params", Json::object{{"preferences", std::move(changes)}}}};
}
Json decision(const std::string& id, const std::string& rule, int action) {
  return Json::object{
      {"method", "AUTO_SWIPE_DECISION"},
      {"id", id},
      {"params", Json::object{{"auto_swipe", Json::object{{"_id", rule}}}, {"action", action}}}};
}

// The stored text of a per-object queue holding one request.
std::string queue(const std::string& objectID, const Json& message) {
  return Json(Json::object{{objectID, message}}).dump();
}

class OfflineManagerTest : public ::testing::Test {
 protected:
  OfflineManagerTest() { libkestrun::internal::server_client_set_instance(server_); }
  ~OfflineManagerTest() override {
    manager_.reset();
    libkestrun::internal::server_client_set_instance(nullptr);
  }

  std::unique_ptr<OfflineManager> open() {
    return std::make_unique<OfflineManager>(OfflineManager::kConnectionWifi,
                                            std::make_shared<libkestrun::Defaults>(dir_.store()), tasks_,
                                            status_.get());
  }
  // The sync status manager shares the store, so it restarts too.
  void restart() {
    manager_.reset();
    status_.reset();
    dir_.reopen();
    status_ = std::make_unique<libkestrun::SyncStatusManager>(posts_.center(), dir_.store());
    manager_ = open();
  }

  kestrun_test::StoreDir dir_;
  kestrun_test::PostRecorder posts_;
  std::shared_ptr<libkestrun::LoggingTaskManager> tasks_ = std::make_shared<libkestrun::LoggingTaskManager>();
  std::unique_ptr<libkestrun::SyncStatusManager> status_ =
      std::make_unique<libkestrun::SyncStatusManager>(posts_.center(), dir_.store());
  std::shared_ptr<kestrun_test::FakeServerClient> server_ =
      std::make_shared<kestrun_test::FakeServerClient>();
  std::unique_ptr<OfflineManager> manager_ = open();
};

TEST_F(OfflineManagerTest, ANewerRequestMergesIntoTheQueuedOneAndTakesItsId) {
  manager_->addRequest(
      request("ITEM_UPDATE", "a", Json::object{{"_id", "X"}, {"state", 3}, {"modifiedAt", 1}}));
  manager_->addRequest(request("ITEM_UPDATE", "b", Json::object{{"_id", "X"}, {"state", 4}}));
  EXPECT_EQ(
      dir_.stored(kRequests),
      queue("X", request("ITEM_UPDATE", "b", Json::object{{"_id", "X"}, {"state", 4}, {"modifiedAt", 1}})));
  EXPECT_EQ(dir_.stored(kRequestIds), R"({"b":"X"})");

  manager_->acknowledgeRequest("a");
  EXPECT_EQ(dir_.stored(kRequestIds), R"({"b":"X"})");
  EXPECT_TRUE(tasks_->has_tasks());
  manager_->acknowledgeRequest("b");
  EXPECT_EQ(dir_.stored(kRequests), "absent");
  EXPECT_EQ(dir_.stored(kRequestIds), "absent");
  EXPECT_FALSE(tasks_->has_tasks());
  EXPECT_EQ(dir_.stored(kPreferences), "absent");  // the queues are written only when they change
}

TEST_F(OfflineManagerTest, AnUpdateMergedIntoAQueuedSaveStaysASaveAndADeleteWins) {
  struct Case {
    const char* first;
    const char* second;
    const char* merged;
  };
  const Case cases[] = {
      {"ITEM_SAVE", "ITEM_UPDATE", "ITEM_SAVE"},     {"EMAIL_SAVE", "EMAIL_UPDATE", "EMAIL_SAVE"},
      {"LIST_SAVE", "LIST_UPDATE", "LIST_SAVE"},     {"LIST_SAVE", "LIST_DELETE", "LIST_DELETE"},
      {"LIST_UPDATE", "LIST_DELETE", "LIST_DELETE"}, {"ITEM_UPDATE", "ITEM_SAVE", "ITEM_SAVE"},
      {"ITEM_UPDATE", "ITEM_UPDATE", "ITEM_UPDATE"}};
  for (const Case& c : cases) {
    manager_->addRequest(request(c.first, "1", Json::object{{"_id", "X"}, {"subject", "s"}}));
    manager_->addRequest(request(c.second, "2", Json::object{{"_id", "X"}, {"read", true}}));
    EXPECT_EQ(
        dir_.stored(kRequests),
        queue("X", request(c.merged, "2", Json::object{{"_id", "X"}, {"read", true}, {"subject", "s"}})))
        << c.first << " " << c.second;
    manager_->clear();
  }
}

TEST_F(OfflineManagerTest, AnEmailSaveKeptUnderAnUpdateEndsItsSendCountWhenAcknowledged) {
  status_->startedSendingMessage();
  manager_->addRequest(request("EMAIL_SAVE", "s", Json::object{{"_id", "E"}, {"subject", "Hi"}}));
  manager_->addRequest(request("EMAIL_UPDATE", "u", Json::object{{"_id", "E"}, {"read", true}}));
  posts_.take();
  manager_->acknowledgeRequest("u");
  EXPECT_EQ(posts_.take(),
            (std::vector<Posted>{{"com.kestrun.sync.sent.messages", Json::object{{"primaryCount", 1}}}}));
  EXPECT_FALSE(tasks_->has_tasks());
}

TEST_F(OfflineManagerTest, TheSameRequestAddedTwiceKeepsItsTask) {
  const Json update = request("ITEM_UPDATE", "a", Json::object{{"_id", "X"}, {"state", 3}});
  manager_->addRequest(update);
  manager_->addRequest(update);  // written again by the sender after a reconnection
  EXPECT_TRUE(tasks_->has_tasks());
  EXPECT_EQ(dir_.stored(kRequestIds), R"({"a":"X"})");
  manager_->acknowledgeRequest("a");
  EXPECT_FALSE(tasks_->has_tasks());
  EXPECT_EQ(dir_.stored(kRequests), "absent");
}

TEST_F(OfflineManagerTest, AQueuedRequestWithoutADocumentIsReplacedWhole) {
  manager_.reset();
  libkestrun::JsonKvStore(dir_.store())
      .set_json(kRequests, Json::object{{"X", Json::object{{"method", "ITEM_UPDATE"}, {"id", "old"}}}});
  manager_ = open();
  manager_->addRequest(request("ITEM_UPDATE", "new", Json::object{{"_id", "X"}, {"state", 3}}));
  EXPECT_EQ(dir_.stored(kRequests),
            queue("X", request("ITEM_UPDATE", "new", Json::object{{"_id", "X"}, {"state", 3}})));
  EXPECT_EQ(dir_.stored(kRequestIds), R"({"new":"X"})");
}

TEST_F(OfflineManagerTest, MalformedAndUnrelatedMessagesAreNotQueued) {
  const Json cases[] = {
      Json::object{{"id", "1"}, {"params", Json::object{{"doc", Json::object{{"_id", "X"}}}}}},
      request("DRAFT_SAVE", "1", Json::object{{"_id", "X"}}),
      request("ITEM_UPDATE", "", Json::object{{"_id", "X"}}),
      request("ITEM_UPDATE", "1", Json::object{{"state", 3}}),
      request("ITEM_UPDATE", "1", Json::object{{"_id", 7}}),
      Json::object{{"method", "ITEM_UPDATE"}, {"id", "1"}},
      Json("ITEM_UPDATE"),
  };
  for (const Json& message : cases) manager_->addRequest(message);
  EXPECT_EQ(dir_.stored(kRequests), "absent");
  EXPECT_FALSE(tasks_->has_tasks());
  EXPECT_FALSE(manager_->handlesMethod("DRAFT_SAVE"));
  EXPECT_TRUE(manager_->handlesMethod("LIST_DELETE"));
}

// Account-wide changes carry no document; they are kept one per request id, in order, until a
// reply acknowledges them, so a connection lost before the reply does not lose a change that is
// already made locally.
TEST_F(OfflineManagerTest, AccountWideChangesStayQueuedPerIdUntilAcknowledged) {
  auto change = [](const std::string& method, const std::string& id, const std::string& account) {
    return Json::object{
        {"method", method}, {"id", id}, {"params", Json::object{{"account_id", account}, {"from_date", 5}}}};
  };
  const Json archive = change("ARCHIVE_ALL", "r1", "A");
  const Json purge = change("PURGE_ALL_TRASH", "r2", "B");
  const Json flag = change("EMAIL_FLAG", "r3", "A");
  for (const char* method : {"ARCHIVE_ALL", "PURGE_ALL_TRASH", "EMAIL_FLAG"})
    EXPECT_TRUE(manager_->handlesMethod(method)) << method;
  manager_->addRequest(archive);
  manager_->addRequest(purge);
  manager_->addRequest(archive);  // a resend of the same request
  manager_->addRequest(flag);
  manager_->addRequest(change("ARCHIVE_ALL", "", "A"));  // no id: nothing acknowledges it
  manager_->addRequest(preference("p1", Json::object{{"a", 1}}));

  restart();
  EXPECT_TRUE(tasks_->has_tasks());
  EXPECT_EQ(manager_->getQueuedRequests(),
            (std::vector<Json>{preference("p1", Json::object{{"a", 1}}), archive, purge, flag}));
  EXPECT_EQ(dir_.stored(kRequests), "absent") << "the per-object queue is not touched";

  manager_->acknowledgeRequest("r1");
  EXPECT_EQ(dir_.stored(kAccountRequests), Json(Json::array{purge, flag}).dump());
  manager_->removeRequestsForAccount("A");
  EXPECT_EQ(dir_.stored(kAccountRequests), Json(Json::array{purge}).dump());
  manager_->acknowledgeRequest("p1");
  manager_->acknowledgeRequest("r2");
  EXPECT_EQ(dir_.stored(kAccountRequests), "[]");
  EXPECT_FALSE(tasks_->has_tasks());

  manager_->addRequest(flag);
  manager_->clear();
  EXPECT_EQ(dir_.stored(kAccountRequests), "[]");
  EXPECT_FALSE(tasks_->has_tasks());
}

TEST_F(OfflineManagerTest, PreferenceUpdatesFoldIntoOneUnderANewId) {
  manager_->addRequest(preference("p1", Json::object{{"a", 1}}));
  EXPECT_EQ(manager_->getQueuedRequests(), std::vector<Json>{preference("p1", Json::object{{"a", 1}})});

  manager_->addRequest(preference("p2", Json::object{{"b", 2}}));
  manager_->addRequest(preference("p3", Json::object{{"a", 3}}));
  std::vector<Json> queued = manager_->getQueuedRequests();
  ASSERT_EQ(queued.size(), 1u);
  const std::string id = queued[0]["id"].string_value();
  EXPECT_TRUE(
      std::regex_match(id, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")))
      << id;
  EXPECT_EQ(queued[0], preference(id, Json::object{{"a", 3}, {"b", 2}}));
  EXPECT_EQ(dir_.stored(kPreferences), Json(queued).dump());

  // The folded ids hold no task any more; the new one does until it is acknowledged.
  manager_->acknowledgeRequest(id);
  EXPECT_FALSE(tasks_->has_tasks());
  EXPECT_EQ(dir_.stored(kPreferences), "[]");
}

TEST_F(OfflineManagerTest, DecisionsComeBackOnePerRuleInRuleOrder) {
  manager_->addRequest(decision("d1", "b", 2));
  manager_->addRequest(decision("d2", "b", 5));
  manager_->addRequest(decision("d3", "a", 2));
  manager_->addRequest(decision("d4", "a", 5));
  manager_->addRequest(decision("d5", "a", 10));
  manager_->addRequest(request("ITEM_SAVE", "i1", Json::object{{"_id", "X"}}));  // sent by the other paths
  const std::vector<Json> expected = {decision("d5", "a", 10), decision("d1", "b", 2)};
  EXPECT_EQ(manager_->getQueuedRequests(), expected);
  EXPECT_EQ(dir_.stored(kSwipes), Json(expected).dump());

  manager_->acknowledgeRequest("d5");
  manager_->acknowledgeRequest("d1");
  manager_->acknowledgeRequest("i1");
  EXPECT_FALSE(tasks_->has_tasks());
  EXPECT_EQ(dir_.stored(kSwipes), "[]");
}

TEST_F(OfflineManagerTest, EmptiedObjectKeysAreErasedWhileEmptyQueuesAreStoredAsEmptyArrays) {
  manager_->addRequest(request("ITEM_UPDATE", "i1", Json::object{{"_id", "X"}}));
  manager_->addRequest(preference("p1", Json::object{{"a", 1}}));
  manager_->acknowledgeRequest("p1");
  manager_->removeRequest("");  // nothing to name: nothing happens
  manager_->removeRequest("X");
  EXPECT_EQ(dir_.stored(kRequests), "absent");
  EXPECT_EQ(dir_.stored(kRequestIds), "absent");
  EXPECT_EQ(dir_.stored(kPreferences), "[]");
  EXPECT_FALSE(tasks_->has_tasks());
}

TEST_F(OfflineManagerTest, ARestartRestoresEveryQueueAndTheTasksOfPreferencesAndDecisions) {
  const Json item = request("ITEM_UPDATE", "i1", Json::object{{"_id", "X"}, {"acct_id", "A"}});
  manager_->addRequest(item);
  manager_->addRequest(preference("p1", Json::object{{"a", 1}}));
  manager_->addRequest(decision("d1", "r", 2));
  restart();
  EXPECT_TRUE(tasks_->has_tasks());
  EXPECT_EQ(manager_->getQueuedRequests(),
            (std::vector<Json>{decision("d1", "r", 2), preference("p1", Json::object{{"a", 1}})}));
  manager_->sendRequestsForIds({"X"});
  EXPECT_EQ(server_->calls(), (std::vector<Call>{{"send_json", Json::array{Json::array{item}}}}));

  manager_->acknowledgeRequest("p1");
  manager_->acknowledgeRequest("d1");
  EXPECT_FALSE(tasks_->has_tasks());  // the restored object request holds none
  manager_->acknowledgeRequest("i1");
  EXPECT_EQ(dir_.stored(kRequests), "absent");
}

// Writes through to the store until the named key, then dies as a killed process would.
class DiesBeforeWriting : public libkestrun::KvStore {
 public:
  DiesBeforeWriting(std::shared_ptr<libkestrun::KvStore> store, std::string key)
      : store_(std::move(store)), key_(std::move(key)) {}
  std::optional<Bytes> get(const std::string& key) override { return store_->get(key); }
  void set(const std::string& key, const Bytes& value) override {
    if (key == key_) std::raise(SIGKILL);
    store_->set(key, value);
  }
  void erase(const std::string& key) override { store_->erase(key); }
  void for_each_key(const KeyFn& fn) override { store_->for_each_key(fn); }

 private:
  std::shared_ptr<libkestrun::KvStore> store_;
  std::string key_;
};

TEST_F(OfflineManagerTest, AProcessKilledBetweenTheTwoObjectWritesLeavesAQueueOneAcknowledgementEmpties) {
  manager_->addRequest(request("ITEM_UPDATE", "a", Json::object{{"_id", "X"}, {"state", 3}}));
  manager_.reset();
  status_.reset();
  dir_.close();

  const std::string path = dir_.dbPath();
  EXPECT_EXIT(
      {
        auto store = std::make_shared<DiesBeforeWriting>(std::make_shared<libkestrun::LeveldbStore>(path),
                                                         kRequestIds);
        OfflineManager dying(0, std::make_shared<libkestrun::Defaults>(store), tasks_, nullptr);
        dying.addRequest(request("ITEM_UPDATE", "b", Json::object{{"_id", "X"}, {"state", 4}}));
        std::exit(0);
      },
      ::testing::KilledBySignal(SIGKILL), "");

  dir_.reopen();
  EXPECT_EQ(dir_.stored(kRequestIds), R"({"a":"X"})");  // the index was not written
  manager_ = open();
  manager_->acknowledgeRequest("a");  // merged away: acknowledges nothing
  EXPECT_NE(dir_.stored(kRequests), "absent");
  manager_->acknowledgeRequest("b");
  EXPECT_EQ(dir_.stored(kRequests), "absent");
  EXPECT_EQ(dir_.stored(kRequestIds), "absent");
}

TEST_F(OfflineManagerTest, BatchesAreSentForObjectsAndAccountsAndStayQueued) {
  const Json x = request("ITEM_UPDATE", "1", Json::object{{"_id", "X"}, {"acct_id", "A"}});
  const Json y = request("EMAIL_SAVE", "2", Json::object{{"_id", "Y"}, {"acct_id", "A"}});
  const Json z = request("LIST_SAVE", "3", Json::object{{"_id", "Z"}, {"acct_id", "B"}});
  for (const Json& message : {x, y, z}) manager_->addRequest(message);
  status_->startedSendingMessage();
  posts_.take();

  manager_->sendRequestsForIds({"Z", "missing", "X", "Z"});
  manager_->sendRequestsForIds({"missing"});  // nothing to send: nothing is written
  manager_->sendRequestsForAccount("A");
  server_->connected = true;
  manager_->sendRequestsForAccount("A");
  EXPECT_EQ(server_->calls(), (std::vector<Call>{{"send_json", Json::array{Json::array{z, x, z}}},
                                                 {"is_connected", Json::array{}},
                                                 {"is_connected", Json::array{}},
                                                 {"send_json", Json::array{Json::array{x, y}}},
                                                 {"is_connected", Json::array{}},
                                                 {"is_connected", Json::array{}},
                                                 {"send_json", Json::array{Json::array{x, y}}}}));
  const Posted sending{"com.kestrun.sync.sending.messages", Json::object{{"primaryCount", 1}}};
  EXPECT_EQ(posts_.take(), (std::vector<Posted>{sending, sending}));

  // Removing the account's requests ends the e-mail's send count and leaves the other account's.
  manager_->addRequest(preference("p", Json::object{{"a", 1}}));
  manager_->removeRequestsForAccount("A");
  EXPECT_EQ(posts_.take(),
            (std::vector<Posted>{{"com.kestrun.sync.sent.messages", Json::object{{"primaryCount", 1}}}}));
  EXPECT_EQ(dir_.stored(kRequests), queue("Z", z));
  EXPECT_EQ(dir_.stored(kRequestIds), R"({"3":"Z"})");
  EXPECT_EQ(dir_.stored(kPreferences), Json(Json::array{preference("p", Json::object{{"a", 1}})}).dump());

  manager_->clear();
  EXPECT_EQ(dir_.stored(kRequests), "absent");
  EXPECT_EQ(dir_.stored(kPreferences), "[]");
  EXPECT_EQ(dir_.stored(kSwipes), "[]");
  EXPECT_FALSE(tasks_->has_tasks());
}

TEST_F(OfflineManagerTest, ConnectionTypes) {
  struct Case {
    int32_t type;
    bool connected, cellular, wifi;
  };
  const Case cases[] = {{0, false, false, false},
                        {1, true, true, false},
                        {2, true, false, true},
                        {3, false, false, false},
                        {-1, false, false, false}};
  for (const Case& c : cases) {
    manager_->setConnectionType(c.type);
    EXPECT_EQ(manager_->getConnectionType(), c.type);
    EXPECT_EQ(manager_->isConnected(), c.connected) << c.type;
    EXPECT_EQ(manager_->isConnectedViaCellular(), c.cellular) << c.type;
    EXPECT_EQ(manager_->isConnectedViaWifi(), c.wifi) << c.type;
  }
  manager_->resetConnectionType();
  EXPECT_EQ(manager_->getConnectionType(), 0);
}

}  // namespace
