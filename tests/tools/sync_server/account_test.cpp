// Users and accounts: adding a sample account, its snapshot against the sample mailbox, tokens,
// the first sync's notifications and associating the account with a second device.
#include <map>
#include <set>

#include "server_fixture.h"
#include "tools/sync_server/sample_mailbox.h"

namespace sync_server_test {
namespace {

using Params = Json::object;

const sync_server::SampleAccount& sample(const std::string& account_id) {
  for (const auto& account : sync_server::sample_accounts())
    if (account.account_id == account_id) return account;
  throw std::runtime_error("no sample account " + account_id);
}

TEST_F(ServerTest, SampleAccountIsAddedAndItsSnapshotHoldsTheWholeMailbox) {
  start();
  Json state;
  auto client = signed_in(&state);
  const auto& com = sample("acct-example-com");
  Json account = add_account(*client, com.address, com.password);
  ASSERT_TRUE(account.is_object());
  EXPECT_EQ(account["account_id"], Json(com.account_id));
  EXPECT_EQ(account["data"], Json(com.address));
  EXPECT_EQ(account["new_account"], Json(true));
  EXPECT_FALSE(account["client_reset"].string_value().empty());

  Json snap = snapshot(*client, com.account_id);
  ASSERT_TRUE(snap.is_object());
  EXPECT_EQ(snap["account_id"], Json(com.account_id));
  sync_server::SampleCounts counts = sync_server::sample_counts(com.account_id);
  EXPECT_EQ(snap["docs"]["item"].array_items().size(), static_cast<size_t>(counts.items));
  EXPECT_EQ(snap["docs"]["email"].array_items().size(), static_cast<size_t>(counts.emails));
  EXPECT_EQ(snap["docs"]["list"].array_items().size(), static_cast<size_t>(counts.lists));
  EXPECT_EQ(counts.items, 100);
  EXPECT_GT(counts.emails, counts.items);
  EXPECT_GT(counts.attachments, 0);

  // Every object carries its save time; saves are unique, and the token of a kind is its latest.
  std::set<int64_t> saves;
  for (const char* kind : {"item", "email", "list"}) {
    int64_t latest = 0;
    for (const Json& doc : snap["docs"][kind].array_items()) {
      EXPECT_EQ(doc["acct_id"], Json(com.account_id));
      int64_t saved_at = doc["saved_at"].int64_value();
      EXPECT_TRUE(saves.insert(saved_at).second);
      latest = std::max(latest, saved_at);
    }
    EXPECT_EQ(snap["sync_state"][kind].int64_value(), latest) << kind;
  }

  // The account's counts follow, and agree with the snapshot.
  std::map<int, int> by_state;
  for (const Json& item : snap["docs"]["item"].array_items()) ++by_state[item["state"].int_value()];
  Json status = client->wait_for_notification("ACCOUNT_STATUS");
  EXPECT_EQ(status["params"]["acct_id"], Json(com.account_id));
  const Json& numbers = status["params"]["counts"];
  EXPECT_EQ(numbers["active"], Json(Params{{"count", by_state[2]}, {"exact", true}}));
  EXPECT_EQ(numbers["completed"]["count"], Json(by_state[3]));
  EXPECT_EQ(numbers["deleted"]["count"], Json(by_state[4]));
  int listed = 0;
  for (const Json& list : numbers["lists"].array_items()) listed += list["count"].int_value();
  EXPECT_EQ(listed, by_state[5]);

  // A new account's first snapshot is followed by its initial sync of the inbox, then the archive.
  Json inbox = client->wait_for_notification("INITIAL_SYNC_DONE");
  EXPECT_EQ(inbox["params"], Json(Params{{"acct_id", com.account_id}, {"location", "INBOX"}}));
  Json archive = client->wait_for_notification(
      "INITIAL_SYNC_DONE", [](const Json& p) { return p["location"] == Json("ARCHIVE"); });
  EXPECT_TRUE(archive.is_object());

  // With the tokens, as the client sends them (30 lower, the newest objects excluded by their
  // save time), nothing comes again.
  Params sync_state;
  for (const char* kind : {"item", "email", "list"}) {
    const int64_t token = snap["sync_state"][kind].int64_value();
    Params exclude;
    for (const Json& doc : snap["docs"][kind].array_items())
      if (doc["saved_at"].int64_value() > token - 30) exclude[doc["_id"].string_value()] = doc["saved_at"];
    sync_state[kind] = Params{{"since", static_cast<double>(token - 30)}, {"exclude_ids", exclude}};
  }
  Json again = snapshot(*client, com.account_id, sync_state);
  for (const char* kind : {"item", "email", "list"}) {
    EXPECT_TRUE(again["docs"][kind].array_items().empty()) << kind;
    EXPECT_EQ(again["sync_state"][kind].int64_value(), 0) << "no token moves without objects";
  }

  // Adding it once more is not new; the user snapshot holds the account's sample drafts.
  EXPECT_EQ(add_account(*client, com.address, com.password)["new_account"], Json(false));
  Json user =
      client->request("USER_SNAPSHOT", Params{{"sync_state", Params{{"user_item", Params{{"since", 0}}}}}});
  EXPECT_EQ(user["result"]["docs"]["user_item"].array_items().size(), static_cast<size_t>(counts.drafts));
  EXPECT_EQ(user["result"]["user_id"], state["user_id"]);
}

TEST_F(ServerTest, AccountCredentialsAreChecked) {
  start();
  Json state;
  auto client = signed_in(&state);
  const auto& net = sample("acct-example-net");
  struct Case {
    const char* name;
    Json params;
    std::string code;  // empty: added
  };
  const std::vector<Case> cases = {
      {"access code", Params{{"credentials", Params{{"access_code", net.access_code}}}}, ""},
      {"password, address in another case",
       Params{{"credentials", Params{{"password", net.password}}}, {"data", "JON.FERRIS@example.NET"}}, ""},
      {"wrong password", Params{{"credentials", Params{{"password", "nope"}}}, {"data", net.address}}, "A2"},
      {"unknown address", Params{{"credentials", Params{{"password", "x"}}}, {"data", "who@example.biz"}},
       "A3"},
      {"unknown access code", Params{{"credentials", Params{{"access_code", "nope"}}}}, "A2"},
      {"both forms", Params{{"credentials", Params{{"access_code", "a"}, {"password", "b"}}}}, "P1"},
      {"neither form", Params{{"credentials", Params{}}}, "P1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Json reply = client->request("ACCOUNT_CREATE", c.params);
    if (c.code.empty()) {
      EXPECT_EQ(reply["result"]["account_id"], Json(net.account_id)) << reply.dump();
    } else {
      EXPECT_EQ(reply["error"]["code"], Json(c.code)) << reply.dump();
      EXPECT_TRUE(reply["result"].is_null());
    }
  }
}

TEST_F(ServerTest, LinkedUsersSecondDeviceSharesTheAccountAndRemovalReachesBoth) {
  start();
  const Json credentials =
      Params{{"uid", "user-77"}, {"type", "oauth1"}, {"token", "t"}, {"token_secret", "s"}};
  Json first_state, second_state;
  auto first = signed_in(&first_state, credentials);
  const auto& org = sample("acct-example-org");
  ASSERT_TRUE(add_account(*first, org.address, org.password).is_object());
  auto second = signed_in(&second_state, credentials);
  EXPECT_EQ(second_state["user_id"], Json("user-77"));
  EXPECT_NE(second_state["device_id"], first_state["device_id"]);
  ASSERT_EQ(second_state["accounts"].array_items().size(), 1u);
  EXPECT_EQ(second_state["accounts"][0]["associated"], Json(false));

  // A second device must associate the account before it may read it.
  EXPECT_EQ(snapshot(*second, org.account_id).is_null(), true);
  Json associated = second->request("ACCOUNT_ASSOCIATE", Params{{"account_id", org.account_id}});
  EXPECT_EQ(associated["result"]["account_id"], Json(org.account_id));
  EXPECT_EQ(associated["result"]["client_reset"].string_value().empty(), false);
  EXPECT_EQ(snapshot(*second, org.account_id)["docs"]["item"].array_items().size(), 100u);

  Json removed =
      first->request("ACCOUNT_REMOVE", Params{{"account_id", org.account_id}, {"global_remove", 1}});
  EXPECT_TRUE(removed["error"].is_null());
  for (SyncClient* client : {first.get(), second.get()}) {
    Json auth =
        client->wait_for_notification("AUTH", [](const Json& p) { return p["_deleted"] == Json(true); });
    EXPECT_EQ(auth["params"]["account_id"], Json(org.account_id));
  }
  EXPECT_EQ(second->request("ACCOUNT_SNAPSHOT", Params{{"account_id", org.account_id}})["error"]["code"],
            Json("U0"));
}

TEST_F(ServerTest, AutoSwipeRulesComeInPagesNewestFirst) {
  start();
  Json state;
  auto client = signed_in(&state);
  const auto& com = sample("acct-example-com");
  ASSERT_TRUE(add_account(*client, com.address, com.password).is_object());
  const int64_t total = sync_server::sample_counts(com.account_id).rules;

  std::vector<int64_t> seen;
  double before = 9223372036854775807.0;
  for (int page = 0; page < 10; ++page) {
    Json reply = client->request("AUTO_SWIPE_RULES_GET",
                                 Params{{"user_id", state["user_id"]}, {"limit", 3}, {"before", before}});
    const Json& result = reply["result"];
    ASSERT_TRUE(reply["error"].is_null()) << reply.dump();
    ASSERT_EQ(result["user_id"], state["user_id"]);
    if (page == 0) {
      int64_t counted = 0;
      for (const auto& [place, count] : result["user"].object_items()) counted += count.int64_value();
      EXPECT_GT(counted, 0) << "the counts cover every rule, not just the page";
    }
    const auto& rules = result["rules"].array_items();
    EXPECT_LE(rules.size(), 3u);
    if (rules.empty()) break;
    for (const Json& rule : rules) {
      EXPECT_EQ(rule["user_id"], state["user_id"]);
      if (!seen.empty()) {
        EXPECT_LT(rule["last_action"].int64_value(), seen.back());
      }
      seen.push_back(rule["last_action"].int64_value());
    }
    before = static_cast<double>(seen.back());
  }
  EXPECT_EQ(static_cast<int64_t>(seen.size()), total);
}

}  // namespace
}  // namespace sync_server_test
