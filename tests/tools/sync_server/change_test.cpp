// Changes: applied, acknowledged, pushed to every device of the account's user (the sender
// included), applied once per request id, and snapshot replies bounded in size.
#include <algorithm>

#include "server_fixture.h"
#include "tools/sync_server/sample_mailbox.h"

namespace sync_server_test {
namespace {

using Params = Json::object;

const char kAccount[] = "acct-example-com";

class ChangeTest : public ServerTest {
 protected:
  // Two devices of one linked user, both associated with the .com sample account.
  void two_devices() {
    const Json credentials = Params{{"uid", "user-5"}};
    first_ = signed_in(&first_state_, credentials);
    const auto& com = sync_server::sample_accounts()[0];
    ASSERT_TRUE(add_account(*first_, com.address, com.password).is_object());
    Json state;
    second_ = signed_in(&state, credentials);
    ASSERT_TRUE(second_->request("ACCOUNT_ASSOCIATE", Params{{"account_id", kAccount}})["error"].is_null());
  }

  static size_t documents_of(SyncClient& client, const std::string& id) {
    size_t count = 0;
    for (const Json& m : client.messages())
      count += m["method"] == Json("DOCUMENT") && m["params"]["doc"]["_id"] == Json(id);
    return count;
  }

  Json first_state_;
  std::unique_ptr<SyncClient> first_, second_;
};

TEST_F(ChangeTest, ChangeIsAcknowledgedAndPushedToTheSenderAndTheOtherDevice) {
  start();
  two_devices();
  Json stranger_state;
  auto stranger = signed_in(&stranger_state);
  const std::string item = std::string("item-") + kAccount + "-000";
  Json reply = first_->request("ITEM_UPDATE",
                               Params{{"doc", Params{{"_id", item}, {"acct_id", kAccount}, {"state", 3}}},
                                      {"meta", Params{{"source", "swipe"}}}});
  ASSERT_TRUE(reply["error"].is_null()) << reply.dump();
  EXPECT_EQ(reply["result"]["_id"], Json(item));
  const Json saved_at = reply["result"]["saved_at"];
  for (SyncClient* device : {first_.get(), second_.get()}) {
    Json pushed = device->wait_for_notification("DOCUMENT",
                                                [&](const Json& p) { return p["doc"]["_id"] == Json(item); });
    EXPECT_EQ(pushed["params"]["doc_type"], Json("item"));
    EXPECT_EQ(pushed["params"]["doc"]["state"], Json(3));
    EXPECT_EQ(pushed["params"]["doc"]["saved_at"], saved_at);
    EXPECT_EQ(pushed["params"]["doc"]["subject"].is_string(), true) << "the whole item, not just the change";
  }
  // The change is in the account's next snapshot, saved later than anything before.
  Json snap = snapshot(*second_, kAccount);
  EXPECT_EQ(snap["sync_state"]["item"], saved_at);
  EXPECT_EQ(documents_of(*stranger, item), 0u);
}

TEST_F(ChangeTest, EveryKindOfChangeIsApplied) {
  start();
  two_devices();
  const std::string list = std::string("list-") + kAccount + "-001";
  const std::string email = std::string("email-") + kAccount + "-000-0";
  struct Case {
    const char* method;
    Json params;
    std::string id;   // the object whose document is pushed
    std::string key;  // a member of that document
    Json value;       // and its value after the change
  };
  const std::vector<Case> cases = {
      {"ITEM_SAVE",
       Params{
           {"doc", Params{{"_id", "NEW-ITEM"}, {"acct_id", kAccount}, {"subject", "Hello"}, {"state", 2}}}},
       "NEW-ITEM", "subject", Json("Hello")},
      {"EMAIL_UPDATE", Params{{"doc", Params{{"_id", email}, {"acct_id", kAccount}, {"starred", true}}}},
       email, "starred", Json(true)},
      {"EMAIL_FLAG", Params{{"email_id", email}, {"account_id", kAccount}, {"reason", "phishing"}}, email,
       "flagged", Json("phishing")},
      {"LIST_SAVE", Params{{"doc", Params{{"_id", "NEW-LIST"}, {"acct_id", kAccount}, {"name", "Boats"}}}},
       "NEW-LIST", "name", Json("Boats")},
      {"LIST_UPDATE",
       Params{{"doc", Params{{"_id", list}, {"acct_id", kAccount}, {"name", "Trips"}}},
              {"prev_name", "Travel"}},
       list, "name", Json("Trips")},
      {"LIST_DELETE", Params{{"doc", Params{{"_id", list}, {"acct_id", kAccount}, {"name", "Trips"}}}}, list,
       "_deleted", Json(true)},
      {"AUTO_SWIPE_DECISION",
       Params{{"user_id", "user-5"}, {"count", 4}, {"action", 3}, {"auto_swipe", Params{{"_id", "RULE-1"}}}},
       "RULE-1", "state", Json(3)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    Json reply = first_->request(c.method, c.params);
    ASSERT_TRUE(reply["error"].is_null()) << reply.dump();
    Json pushed = second_->wait_for_notification("DOCUMENT", [&](const Json& p) {
      return p["doc"]["_id"] == Json(c.id) && p["doc"][c.key] == c.value;
    });
    EXPECT_TRUE(pushed.is_object());
  }
  // An update of an object that does not exist is refused.
  Json missing =
      first_->request("ITEM_UPDATE", Params{{"doc", Params{{"_id", "NO-SUCH"}, {"acct_id", kAccount}}}});
  EXPECT_EQ(missing["error"]["code"], Json("O2"));

  // Archiving all moves the inbox, and only what came before the date.
  Json archived =
      first_->request("ARCHIVE_ALL", Params{{"account_id", kAccount}, {"from_date", 4e12}, {"type", 1}});
  EXPECT_GT(archived["result"]["count"].int_value(), 0);
  Json snap = snapshot(*first_, kAccount);
  for (const Json& item : snap["docs"]["item"].array_items())
    EXPECT_NE(item["state"], Json(2)) << item["_id"].dump();
}

TEST_F(ChangeTest, RepeatedRequestIdIsAnsweredAgainButAppliedOnce) {
  start();
  two_devices();
  // An e-mail to the .org sample mailbox: stored as sent, and delivered there once.
  const auto& org = sync_server::sample_accounts()[2];
  Json state;
  auto recipient = signed_in(&state);
  ASSERT_TRUE(add_account(*recipient, org.address, org.password).is_object());
  const Json params =
      Params{{"doc", Params{{"_id", "SENT-1"},
                            {"acct_id", kAccount},
                            {"subject", "Dinner"},
                            {"conversation", "<p>Seven o'clock?</p>"},
                            {"from", Params{{"name", "Maya"}, {"address", "maya.lind@example.com"}}},
                            {"to", Json::array{Params{{"name", "Aiko"}, {"address", org.address}}}}}},
             {"type", 0},
             {"full_body", true},
             {"tz", 3600000}};
  Json first = first_->request("EMAIL_SAVE", params, "same-id");
  // The client's queue resends after a reconnection, on a new connection of the same device.
  auto again = connect();
  again->authenticate(first_state_);
  Json second = again->request("EMAIL_SAVE", params, "same-id");
  ASSERT_TRUE(first["error"].is_null()) << first.dump();
  EXPECT_EQ(second, first);

  // An unrelated request on each connection after the repeat: a push of the repeat would have
  // come before its reply.
  for (SyncClient* client : {again.get(), first_.get(), second_.get()})
    ASSERT_TRUE(client->request("USER_SNAPSHOT", Params{})["error"].is_null());
  EXPECT_EQ(documents_of(*again, "SENT-1"), 0u);
  EXPECT_EQ(documents_of(*first_, "SENT-1"), 1u);
  EXPECT_EQ(documents_of(*second_, "SENT-1"), 1u);
  size_t delivered = 0;
  for (const Json& doc : snapshot(*recipient, org.account_id)["docs"]["email"].array_items())
    delivered += doc["subject"] == Json("Dinner");
  EXPECT_EQ(delivered, 1u);
  Json sent = first_->wait_for_notification("DOCUMENT",
                                            [](const Json& p) { return p["doc"]["_id"] == Json("SENT-1"); });
  EXPECT_EQ(sent["params"]["doc"]["sent"], Json(true));

  // Several queued requests may come as one array in one frame; each is answered.
  first_->send(
      Json(Json::array{Params{{"method", "PREFERENCE_UPDATE"},
                              {"params", Params{{"preferences", Params{{"badge", 1}}}}},
                              {"id", "p1"}},
                       Params{{"method", "PUSH_REGISTER"},
                              {"params", Params{{"push_token", ""}, {"push_type", "none"}, {"app_id", "a"}}},
                              {"id", "p2"}}}));
  for (const char* id : {"p1", "p2"})
    EXPECT_TRUE(first_->wait_for([&](const Json& m) { return m["id"] == Json(id) && m["error"].is_null(); })
                    .is_object());
  Json user_state = second_->wait_for_notification(
      "USER_STATE", [](const Json& p) { return p["preferences"]["badge"] == Json(1); });
  EXPECT_TRUE(user_state.is_object());
  EXPECT_TRUE(user_state["params"]["device_secret"].is_null()) << "secrets are never pushed";
}

TEST_F(ChangeTest, DraftSaveOvertakenOnAnotherDeviceDoesNotBringBackTheOlderDraft) {
  start();
  two_devices();
  auto save = [&](SyncClient& device, const Json& version, const std::string& subject) {
    return device.request("USER_ITEM_SAVE", Params{{"_id", "DRAFT-1"},
                                                   {"user_id", "user-5"},
                                                   {"version", version},
                                                   {"type", 1},
                                                   {"data", Params{{"subject", subject}}}});
  };
  auto stored = [&]() {
    Json user = second_->request("USER_SNAPSHOT",
                                 Params{{"sync_state", Params{{"user_item", Params{{"since", 0}}}}}});
    for (const Json& doc : user["result"]["docs"]["user_item"].array_items())
      if (doc["_id"] == Json("DRAFT-1")) return doc;
    return Json();
  };
  struct Step {
    const char* name;
    Json version;
    std::string subject;
    std::string stands;  // the subject stored afterwards
  };
  const std::vector<Step> steps = {
      {"first save", Params{{"A", 2}}, "second thoughts", "second thoughts"},
      {"older version from the queue", Params{{"A", 1}}, "first thoughts", "second thoughts"},
      {"the same version again", Params{{"A", 2}}, "again", "second thoughts"},
      {"a version made elsewhere meanwhile", Params{{"B", 1}}, "from B", "from B"},
      {"a later version", Params{{"A", 3}, {"B", 1}}, "merged", "merged"},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    Json reply = save(*first_, step.version, step.subject);
    EXPECT_TRUE(reply["error"].is_null()) << reply.dump();
    EXPECT_EQ(stored()["data"]["subject"], Json(step.stands));
    EXPECT_EQ(stored()["saved_at"], reply["result"]["saved_at"]);
  }
  // The sender of the overtaken save was told what stands.
  size_t told = 0;
  for (const Json& m : first_->messages())
    told +=
        m["method"] == Json("DOCUMENT") && m["params"]["doc"]["data"]["subject"] == Json("second thoughts");
  EXPECT_GE(told, 3u);

  Json removed = first_->request(
      "USER_ITEM_REMOVE",
      Params{{"_id", "DRAFT-1"}, {"user_id", "user-5"}, {"version", Params{{"A", 4}, {"B", 1}}}});
  EXPECT_TRUE(removed["error"].is_null());
  EXPECT_EQ(stored()["removed"], Json(true));
}

// Linking gives an anonymous user its lasting id; requests applied before it are still known, so
// the queue's resend after the link does not send the e-mail a second time.
TEST_F(ChangeTest, RequestAppliedBeforeLinkingIsNotAppliedAgainAfterIt) {
  start();
  Json state;
  auto device = signed_in(&state);
  const auto& com = sync_server::sample_accounts()[0];
  ASSERT_TRUE(add_account(*device, com.address, com.password).is_object());
  const Json params = Params{{"doc", Params{{"_id", "SENT-2"},
                                            {"acct_id", kAccount},
                                            {"subject", "Before the link"},
                                            {"conversation", "<p>Hello</p>"},
                                            {"to", Json::array{Params{{"address", "ola@example.biz"}}}}}},
                             {"type", 0}};
  Json first = device->request("EMAIL_SAVE", params, "queued-1");
  ASSERT_TRUE(first["error"].is_null()) << first.dump();
  Json linked = device->request("USER_LINK", Params{{"harnvik_credentials", Params{{"uid", "user-9"}}}});
  ASSERT_TRUE(linked["error"].is_null()) << linked.dump();
  // The resend comes on the device's next connection, under the linked id.
  Json::object linked_state = state.object_items();
  linked_state["user_id"] = linked["result"]["user_id"];
  auto next = connect();
  next->authenticate(Json(linked_state));
  EXPECT_EQ(next->request("EMAIL_SAVE", params, "queued-1").dump(), first.dump());
}

// The client keeps the user snapshot's token as it comes, so a snapshot with nothing new must not
// hand back a smaller one.
TEST_F(ChangeTest, UserSnapshotTokenNeverGoesBack) {
  start();
  two_devices();
  auto user_snapshot = [&](const Json& since) {
    return first_->request("USER_SNAPSHOT",
                           Params{{"sync_state", Params{{"user_item", Params{{"since", since}}}}}})["result"];
  };
  auto save = [&](const std::string& id) {
    Json reply = first_->request("USER_ITEM_SAVE", Params{{"_id", id},
                                                          {"user_id", "user-5"},
                                                          {"version", Params{{"A", 1}}},
                                                          {"type", 1},
                                                          {"data", Params{}}});
    EXPECT_TRUE(reply["error"].is_null()) << reply.dump();
  };
  save("DRAFT-1");
  const Json first = user_snapshot(0);
  const Json token = first["sync_state"]["user_item"];
  ASSERT_GT(token.number_value(), 0);

  const Json quiet = user_snapshot(token);
  EXPECT_TRUE(quiet["docs"]["user_item"].array_items().empty());
  EXPECT_EQ(quiet["sync_state"]["user_item"], token);

  save("DRAFT-2");
  const Json later = user_snapshot(token);
  ASSERT_EQ(later["docs"]["user_item"].array_items().size(), 1u);
  EXPECT_GT(later["sync_state"]["user_item"].number_value(), token.number_value());
}

TEST_F(ChangeTest, LargeSnapshotFollowsAsDocumentsAndItsTokensCoverOnlyTheReply) {
  start(40000);
  Json state;
  auto client = signed_in(&state);
  const auto& com = sync_server::sample_accounts()[0];
  ASSERT_TRUE(add_account(*client, com.address, com.password).is_object());
  Json snap = snapshot(*client, kAccount);
  ASSERT_TRUE(snap.is_object());
  EXPECT_LT(snap.dump().size(), 45000u);
  int64_t newest_in_reply = 0;
  size_t in_reply = 0;
  for (const char* kind : {"item", "email", "list"}) {
    int64_t newest = 0;
    for (const Json& doc : snap["docs"][kind].array_items())
      newest = std::max(newest, doc["saved_at"].int64_value());
    EXPECT_EQ(snap["sync_state"][kind].int64_value(), newest) << kind;
    newest_in_reply = std::max(newest_in_reply, newest);
    in_reply += snap["docs"][kind].array_items().size();
  }
  // The initial sync notices come after the documents, so once they are in, so is everything.
  client->wait_for_notification("INITIAL_SYNC_DONE",
                                [](const Json& p) { return p["location"] == Json("ARCHIVE"); });
  size_t pushed = 0;
  for (const Json& m : client->messages()) {
    if (m["method"] != Json("DOCUMENT")) continue;
    ++pushed;
    EXPECT_GT(m["params"]["doc"]["saved_at"].int64_value(), newest_in_reply);
  }
  sync_server::SampleCounts counts = sync_server::sample_counts(kAccount);
  EXPECT_GT(pushed, 0u);
  EXPECT_EQ(in_reply + pushed, static_cast<size_t>(counts.items + counts.emails + counts.lists));
}

}  // namespace
}  // namespace sync_server_test
