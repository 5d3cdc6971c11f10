// The sync clients' forwarders reach the process-wide instance with their arguments, and do nothing
// while no instance is set.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "core/sync/account_server_client.h"
#include "core/sync/auto_swipe_server_client.h"
#include "core/sync/kestrun_object_server_client.h"
#include "core/sync/server_client.h"
#include "core/sync/snapshot_server_client.h"
#include "support/fake_account_server_client.h"
#include "support/fake_auto_swipe_server_client.h"
#include "support/fake_kestrun_object_server_client.h"
#include "support/fake_server_client.h"
#include "support/fake_snapshot_server_client.h"

namespace {

using jsonette::Json;
using kestrun_test::Call;
using libkestrun::ArchiveAllType;
using libkestrun::EmailSendType;
using namespace libkestrun::internal;

// A jansson document for one call, released when the test ends.
struct Doc {
  explicit Doc(const char* text) : value(json_loads(text, 0, nullptr)) {}
  ~Doc() { json_decref(value); }
  json_t* value;
};

// Counts its own destruction, to see that a dropped command is released.
class ProbeCommand : public libkestrun::ServerCommand {
 public:
  explicit ProbeCommand(int* destroyed) : destroyed_(destroyed) {}
  ~ProbeCommand() override { ++*destroyed_; }
  std::string method() const override { return "PROBE"; }
  Json params() const override { return Json::object{{"n", 1}}; }
  bool should_persist() const override { return false; }
  std::string object_id() const override { return ""; }
  bool supersedes(const std::string&, const Json&) const override { return false; }
  void on_error(const Json&) override {}
  void on_result(const Json&) override {}

 private:
  int* destroyed_;
};

class SyncForwardersTest : public ::testing::Test {
 protected:
  void TearDown() override {
    kestrun_object_server_client_set_instance(nullptr);
    server_client_set_instance(nullptr);
    snapshot_server_client_set_instance(nullptr);
    auto_swipe_server_client_set_instance(nullptr);
  }
};

TEST_F(SyncForwardersTest, ObjectClientForwardersPassEveryArgument) {
  auto client = std::make_shared<kestrun_test::FakeKestrunObjectServerClient>();
  kestrun_object_server_client_set_instance(client);
  Doc item(R"({"_id": "I1", "state": 3})");
  Doc meta(R"({"meta": {"reason": 1}})");

  kestrun_object_server_client_save_item(item.value, false);
  kestrun_object_server_client_update_item(item.value, meta.value, true);
  kestrun_object_server_client_update_item(item.value, nullptr, false);
  kestrun_object_server_client_archive_all("A1", 1000, ArchiveAllType::Unstarred, false);
  kestrun_object_server_client_purge_all_trash("A1", 2000, false);
  kestrun_object_server_client_save_email(item.value, EmailSendType::ReplyAll, "E0", std::nullopt, true,
                                          false);
  kestrun_object_server_client_update_email(item.value, true);
  kestrun_object_server_client_flag_email("E1", "A1", "");
  kestrun_object_server_client_save_list(item.value, true);
  kestrun_object_server_client_update_list("L1", "old", "new", "A1", false);
  kestrun_object_server_client_delete_list("L1", "new", "A1", true);

  Json doc = Json::object{{"_id", "I1"}, {"state", 3}};
  std::vector<Call> expected = {
      {"saveItem", Json::array{doc, false}},
      {"updateItem", Json::array{doc, Json::object{{"meta", Json::object{{"reason", 1}}}}, true}},
      {"updateItem", Json::array{doc, nullptr, false}},
      // The flag of the two requests without a document has no effect, so it is not passed on.
      {"archiveAll", Json::array{"A1", 1000, 3}},
      {"purgeAllTrash", Json::array{"A1", 2000}},
      {"saveEmail", Json::array{doc, 4, "E0", nullptr, true, false}},
      {"updateEmail", Json::array{doc, true}},
      {"flagEmail", Json::array{"E1", "A1", ""}},
      {"saveList", Json::array{doc, true}},
      {"updateList", Json::array{"L1", "old", "new", "A1", false}},
      {"deleteList", Json::array{"L1", "new", "A1", true}},
  };
  EXPECT_EQ(client->calls(), expected);
}

TEST_F(SyncForwardersTest, ServerSnapshotAndAutoSwipeForwardersReachTheirInstances) {
  auto server = std::make_shared<kestrun_test::FakeServerClient>();
  auto snapshots = std::make_shared<kestrun_test::FakeSnapshotServerClient>();
  auto auto_swipe = std::make_shared<kestrun_test::FakeAutoSwipeServerClient>();
  server->connected = true;
  server_client_set_instance(server);
  snapshot_server_client_set_instance(snapshots);
  auto_swipe_server_client_set_instance(auto_swipe);

  int destroyed = 0;
  EXPECT_TRUE(server_client_is_connected());
  server_client_send_command(std::make_unique<ProbeCommand>(&destroyed));
  server_client_prime_search("A1");
  server_client_search_query("A1", "INBOX", "S1", "lunch", 3);
  server_client_search_fetch("A1", "S1", "T1", "-");
  server_client_send("PUSH_REGISTER", Json::object{{"push_type", 2}}, "r1", true);
  Doc params(R"({"account_id": "A1"})");
  server_client_send("SEARCH_PRIME", params.value, "r2", false);
  snapshot_server_client_reset_last_snapshot_sync();
  auto_swipe_server_client_send_auto_swipe_decision(10, 3, "U1", Json::object{{"_id", "R1"}});
  auto_swipe_server_client_send_auto_swipe_rules_get("U1", 1700000000000, 25, [](long long) {});

  EXPECT_EQ(server->calls(),
            (std::vector<Call>{
                {"is_connected", Json::array{}},
                {"send_command", Json::array{"PROBE", Json::object{{"n", 1}}}},
                {"prime_search", Json::array{"A1"}},
                {"search_query", Json::array{"A1", "INBOX", "S1", "lunch", 3}},
                {"search_fetch", Json::array{"A1", "S1", "T1", "-"}},
                {"send", Json::array{"PUSH_REGISTER", Json::object{{"push_type", 2}}, "r1", true}},
                {"send", Json::array{"SEARCH_PRIME", Json::object{{"account_id", "A1"}}, "r2", false}}}));
  ASSERT_EQ(server->commands().size(), 1u);
  EXPECT_EQ(destroyed, 0) << "the client owns the command it was handed";
  EXPECT_EQ(snapshots->calls(), (std::vector<Call>{{"resetLastSnapshotSync", Json::array{}}}));
  EXPECT_EQ(
      auto_swipe->calls(),
      (std::vector<Call>{{"sendAutoSwipeDecision", Json::array{10, 3, "U1", Json::object{{"_id", "R1"}}}},
                         {"sendAutoSwipeRulesGet", Json::array{"U1", 1700000000000LL, 25, true}}}));
}

TEST_F(SyncForwardersTest, WithoutAnInstanceNothingHappensAndCommandsAreReleased) {
  auto client = std::make_shared<kestrun_test::FakeKestrunObjectServerClient>();
  kestrun_object_server_client_set_instance(client);
  kestrun_object_server_client_set_instance(nullptr);
  Doc item(R"({"_id": "I1"})");

  kestrun_object_server_client_update_item(item.value, nullptr, true);
  kestrun_object_server_client_archive_all("A1", 1000, ArchiveAllType::AllInbox, true);
  snapshot_server_client_reset_last_snapshot_sync();
  auto_swipe_server_client_send_auto_swipe_decision(10, 1, "U1", nullptr);
  int destroyed = 0;
  server_client_send_command(std::make_unique<ProbeCommand>(&destroyed));

  EXPECT_FALSE(server_client_is_connected());
  EXPECT_EQ(destroyed, 1);
  EXPECT_TRUE(client->calls().empty()) << "a cleared instance is no longer called";
  EXPECT_EQ(item.value->refcount, 1u) << "the caller keeps its document";
}

TEST(AccountServerClientForwardersTest, RequestsReachTheInstanceOrFailAtOnce) {
  std::vector<int> failures;
  std::vector<Json> results;
  auto success = [&results](json_t* result) { results.push_back(kestrun_test::document(result)); };
  auto failure = [&failures](KSServerClientAccountModifyFailureType code) {
    failures.push_back(static_cast<int>(code));
  };
  account_server_client_associate_account("A", success, failure);
  EXPECT_EQ(failures, std::vector<int>{0});

  auto client = std::make_shared<kestrun_test::FakeAccountServerClient>();
  account_server_client_set_instance(client);
  account_server_client_add_email_account_with_access_code("code", libkestrun::EmailAccountType::Gmail, "en",
                                                           success, failure);
  account_server_client_add_email_account_with_password("me@x", "pw", libkestrun::EmailAccountType::ICloud,
                                                        "de", success, failure);
  account_server_client_associate_account("A", success, failure);
  account_server_client_reauthorize_email_account_with_access_code("A", "code", success, failure);
  account_server_client_reauthorize_email_account_with_password("A", "pw", success, failure);
  account_server_client_update_email_account("A", "n", "d", success, failure);
  account_server_client_add_alias_to_email_account("A", "a@x", success, failure);
  account_server_client_remove_alias_from_email_account("A", "a@x", success, failure);
  EXPECT_EQ(client->calls(),
            (std::vector<Call>{{"addEmailAccountWithAccessCode", Json::array{"code", 1, "en"}},
                               {"addEmailAccountWithPassword", Json::array{"me@x", "pw", 2, "de"}},
                               {"associateAccount", Json::array{"A"}},
                               {"reauthorizeEmailAccountWithAccessCode", Json::array{"A", "code"}},
                               {"reauthorizeEmailAccountWithPassword", Json::array{"A", "pw"}},
                               {"updateEmailAccount", Json::array{"A", "n", "d"}},
                               {"addAliasToEmailAccount", Json::array{"A", "a@x"}},
                               {"removeAliasFromEmailAccount", Json::array{"A", "a@x"}}}));
  client->reply(Json::object{{"account_id", "A"}});
  client->fail(KSServerClientAccountModifyFailureType::Timeout);
  EXPECT_EQ(results, (std::vector<Json>{Json::object{{"account_id", "A"}}}));
  EXPECT_EQ(failures, (std::vector<int>{0, 4}));
  account_server_client_set_instance(nullptr);
}

}  // namespace
