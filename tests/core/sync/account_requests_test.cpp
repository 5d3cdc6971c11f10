// The account requests and the AUTH notification against the local sync server.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "requests_fixture.h"

namespace kestrun_test {
namespace {

using libkestrun::EmailAccountType;
using Failure = KSServerClientAccountModifyFailureType;

constexpr char kAccount[] = "acct-example-com";
constexpr char kAddress[] = "maya.lind@example.com";
constexpr char kPassword[] = "sample-com-password";

class AccountRequestsTest : public RequestsTest {
 protected:
  // Adds the sample account with its password; the reply's result.
  Json add_account() {
    Outcome outcome;
    run([&] {
      account_requests().addEmailAccountWithPassword(kAddress, kPassword, EmailAccountType::Gmail, "en",
                                                     outcome.account_success(), outcome.account_failure());
    });
    EXPECT_TRUE(outcome.wait());
    return outcome.result();
  }

  // The manager's record of the account, as it is now.
  KSEmailAccount account(const std::string& id) {
    return run([&] { return *clients->accounts->emailAccountWithID(id); });
  }

  // Stores these account records and starts over from them.
  void keep_accounts(const Json& records) {
    libkestrun::JsonKvStore(store_).set_json(libkestrun::AccountManagerImpl::kAccountsKey, records);
    rebuild();
  }

  static Json stored(const std::string& id, const std::string& address, const std::string& parent = "") {
    return Json::object{{"accountID", id},
                        {"emailAddress", address},
                        {"isPrimary", parent.empty()},
                        {"parentAccountID", parent}};
  }
};

TEST_F(AccountRequestsTest, AddsSendCredentialsAndAskForTheFirstSnapshot) {
  start();
  sign_in();
  const size_t mark = sent().size();
  const Json result = add_account();
  EXPECT_EQ(result["account_id"], Json(kAccount)) << "the server took the address and the password";
  const Json params = last_sent("ACCOUNT_CREATE")["params"];
  EXPECT_EQ(params, Json(Json::object{{"credentials", Json::object{{"password", "[redacted]"}}},
                                      {"data", "[redacted]"},
                                      {"locale", "en"},
                                      {"type", 1}}));
  EXPECT_TRUE(run([&] { return account_requests().hasReceivedAuthForAccount(kAccount); }));

  Outcome outcome;
  run([&] {
    account_requests().addEmailAccountWithAccessCode("sample-net-code", EmailAccountType::Outlook, "de",
                                                     outcome.account_success(), outcome.account_failure());
  });
  ASSERT_TRUE(outcome.wait());
  EXPECT_EQ(outcome.result()["account_id"], Json("acct-example-net"));
  EXPECT_EQ(last_sent("ACCOUNT_CREATE")["params"],
            Json(Json::object{
                {"credentials", Json::object{{"access_code", "[redacted]"}}}, {"locale", "de"}, {"type", 4}}))
      << "no \"data\" without an address";

  // Each new account's first snapshot is asked for.
  ASSERT_TRUE(wait_until([&] { return snapshots_since(mark).size() >= 2; }));
  const std::vector<std::string> snapshots = snapshots_since(mark);
  EXPECT_EQ(std::vector<std::string>(snapshots.begin(), snapshots.begin() + 2),
            (std::vector<std::string>{kAccount, "acct-example-net"}));
}

TEST_F(AccountRequestsTest, EmptyArgumentsFailAtOnceAndSendNothing) {
  start();
  sign_in();
  using Request = std::function<void(libkestrun::internal::AccountServerClient&, Outcome&)>;
  const std::pair<const char*, Request> cases[] = {
      {"access code",
       [](auto& c, Outcome& o) {
         c.addEmailAccountWithAccessCode("", EmailAccountType::Gmail, "en", o.account_success(),
                                         o.account_failure());
       }},
      {"address",
       [](auto& c, Outcome& o) {
         c.addEmailAccountWithPassword("", "p", EmailAccountType::Gmail, "en", o.account_success(),
                                       o.account_failure());
       }},
      {"password",
       [](auto& c, Outcome& o) {
         c.addEmailAccountWithPassword("a@b", "", EmailAccountType::Gmail, "en", o.account_success(),
                                       o.account_failure());
       }},
      {"associate",
       [](auto& c, Outcome& o) { c.associateAccount("", o.account_success(), o.account_failure()); }},
      {"update",
       [](auto& c, Outcome& o) {
         c.updateEmailAccount("", "n", "d", o.account_success(), o.account_failure());
       }},
      {"reauthorise code",
       [](auto& c, Outcome& o) {
         c.reauthorizeEmailAccountWithAccessCode("a", "", o.account_success(), o.account_failure());
       }},
      {"reauthorise password",
       [](auto& c, Outcome& o) {
         c.reauthorizeEmailAccountWithPassword("", "p", o.account_success(), o.account_failure());
       }},
      {"add alias",
       [](auto& c, Outcome& o) {
         c.addAliasToEmailAccount("a", "", o.account_success(), o.account_failure());
       }},
      {"remove alias",
       [](auto& c, Outcome& o) {
         c.removeAliasFromEmailAccount("", "x@y", o.account_success(), o.account_failure());
       }},
      {"remove",
       [](auto& c, Outcome& o) {
         c.remove_email_account("", true, o.account_success(), o.account_failure());
       }},
  };
  for (const auto& [name, request] : cases) {
    SCOPED_TRACE(name);
    Outcome outcome;
    run([&] { request(account_requests(), outcome); });
    EXPECT_EQ(outcome.failure(), static_cast<int>(Failure::EmptyArguments));
    EXPECT_EQ(outcome.calls(), 1u);
  }
  for (const Json& message : sent())
    EXPECT_NE(message["method"].string_value().rfind("ACCOUNT_", 0), 0u) << message.dump();
}

TEST_F(AccountRequestsTest, ServerCodesBecomeFailureValues) {
  // Long enough for a loaded sanitizer run to answer; only the dropped case waits it out.
  start({std::chrono::seconds(3), {}});
  const Json state = sign_in();
  add_account();
  struct Case {
    const char* method;
    const char* code;  // nullptr: the request is dropped
    int failure;
  };
  const Case cases[] = {
      {"ACCOUNT_CREATE", "A2", 1},    {"ACCOUNT_CREATE", "A3", 1}, {"ACCOUNT_CREATE", "A10", 3},
      {"ACCOUNT_CREATE", "Z7", 0},    {"ACCOUNT_UPDATE", "A2", 1}, {"ACCOUNT_UPDATE", "A10", 3},
      {"ACCOUNT_UPDATE", "A4", 0},    {"ACCOUNT_REMOVE", "A2", 0}, {"ACCOUNT_ASSOCIATE", "A2", 0},
      {"ACCOUNT_UPDATE", nullptr, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.method) + " " + (c.code ? c.code : "dropped"));
    if (c.code) {
      server_->fail_next(c.method, 1, c.code);
    } else {
      server_->drop_next(c.method, 1);
    }
    Outcome outcome;
    run([&] {
      const std::string method = c.method;
      auto& client = account_requests();
      if (method == "ACCOUNT_CREATE") {
        client.addEmailAccountWithPassword(kAddress, kPassword, EmailAccountType::Gmail, "en",
                                           outcome.account_success(), outcome.account_failure());
      } else if (method == "ACCOUNT_UPDATE") {
        client.updateEmailAccount(kAccount, "n", "d", outcome.account_success(), outcome.account_failure());
      } else if (method == "ACCOUNT_REMOVE") {
        client.remove_email_account(kAccount, false, outcome.account_success(), outcome.account_failure());
      } else {
        client.associateAccount(kAccount, outcome.account_success(), outcome.account_failure());
      }
    });
    ASSERT_TRUE(outcome.wait());
    EXPECT_EQ(outcome.failure(), c.failure);
  }

  // "A1" on associate drops this device's association with the account first.
  run([&] {
    clients->user_manager->updateFromStateDoc(Json::object{
        {"accounts",
         Json::array{Json::object{{"account_id", kAccount}, {"associated", true}, {"authorized", 1}}}}});
  });
  ASSERT_TRUE(
      run([&] { return clients->user_manager->associatedEmailAccountForAccountID(kAccount)->associated; }));
  server_->fail_next("ACCOUNT_ASSOCIATE", 1, "A1");
  Outcome outcome;
  run([&] {
    account_requests().associateAccount(kAccount, outcome.account_success(), outcome.account_failure());
  });
  ASSERT_TRUE(outcome.wait());
  EXPECT_EQ(outcome.failure(), static_cast<int>(Failure::NoSuchAccount));
  EXPECT_FALSE(
      run([&] { return clients->user_manager->associatedEmailAccountForAccountID(kAccount)->associated; }));
  (void)state;
}

TEST_F(AccountRequestsTest, RemovalSendsAnIntegerAndForgetsTheConfirmation) {
  start();
  sign_in();
  add_account();
  for (bool global : {false, true}) {
    Outcome outcome;
    run([&] {
      account_requests().remove_email_account(kAccount, global, outcome.account_success(),
                                              outcome.account_failure());
    });
    ASSERT_TRUE(outcome.wait());
    const Json sent = last_sent("ACCOUNT_REMOVE")["params"]["global_remove"];
    EXPECT_TRUE(sent.is_integer());
    EXPECT_EQ(sent, Json(global ? 1 : 0));
    if (!global) {
      EXPECT_EQ(outcome.result()["account_id"], Json(kAccount));
      EXPECT_FALSE(run([&] { return account_requests().hasReceivedAuthForAccount(kAccount); }));
      add_account();
    }
  }
}

TEST_F(AccountRequestsTest, AliasListsChangeByOneExactEntry) {
  start();
  keep_accounts(Json::array{stored(kAccount, kAddress), stored("s1", "a@example.com", kAccount),
                            stored("s2", "B@example.com", kAccount),
                            stored("s3", "a@example.com", kAccount)});
  sign_in();
  const Json before = run([&] {
    patch::JanssonPtr aliases(clients->accounts->aliasesJsonForAccount(kAccount));
    return patch::json_from_jansson(aliases.get());
  });
  ASSERT_EQ(before.array_items().size(), 3u);

  auto aliases_after = [&](bool add, const std::string& address) {
    run([&] {
      if (add) {
        account_requests().addAliasToEmailAccount(
            kAccount, address, [](json_t*) {}, [](Failure) {});
      } else {
        account_requests().removeAliasFromEmailAccount(
            kAccount, address, [](json_t*) {}, [](Failure) {});
      }
    });
    const Json params = last_sent("ACCOUNT_UPDATE")["params"];
    EXPECT_EQ(params["account_id"], Json(kAccount));
    return params["aliases"].array_items();
  };
  auto count = [](const Json::array& list, const std::string& address) {
    return std::count(list.begin(), list.end(), Json(Json::object{{"address", address}}));
  };

  Json::array removed = aliases_after(false, "a@example.com");
  EXPECT_EQ(removed.size(), 2u);
  EXPECT_EQ(count(removed, "a@example.com"), 1) << "only the first equal entry goes";
  EXPECT_EQ(aliases_after(false, "b@example.com"), before.array_items()) << "case counts: nothing removed";
  Json::array added = aliases_after(true, "c@example.com");
  ASSERT_EQ(added.size(), 4u);
  EXPECT_EQ(added.back(), Json(Json::object{{"address", "c@example.com"}}));
}

TEST_F(AccountRequestsTest, ReauthorisationRequestsAllSnapshotsAfterItsCallbackAndRenameNone) {
  start();
  sign_in();
  add_account();
  drain();  // the reply handlers finish on the core thread after their callbacks
  const size_t mark = sent().size();
  const size_t trace_mark = trace().size();
  Outcome renamed;
  run([&] {
    account_requests().updateEmailAccount(kAccount, "Maya", "Work", renamed.account_success(),
                                          renamed.account_failure());
  });
  ASSERT_TRUE(renamed.wait());
  EXPECT_EQ(renamed.result()["name"], Json("Maya"));
  drain();
  EXPECT_EQ(sent_count("USER_SNAPSHOT", mark), 0u);
  EXPECT_TRUE(snapshots_since(mark).empty());

  Outcome reauthorised;
  run([&] {
    account_requests().reauthorizeEmailAccountWithPassword(
        kAccount, kPassword,
        [&](json_t*) {
          libkestrun::sanity::log("reauthorised");
          reauthorised.succeed(Json());
        },
        reauthorised.account_failure());
  });
  ASSERT_TRUE(reauthorised.wait());
  EXPECT_EQ(last_sent("ACCOUNT_UPDATE")["params"],
            Json(Json::object{{"account_id", kAccount},
                              {"credentials", Json::object{{"password", "[redacted]"}}}}));
  ASSERT_TRUE(wait_until([&] { return sent_count("USER_SNAPSHOT", mark) == 1; }));
  // In the trace, the callback's line comes before the request's.
  std::istringstream lines(trace().substr(trace_mark));
  std::vector<std::string> order;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("|reauthorised") != std::string::npos) order.push_back("callback");
    if (line.find("|Sending message: ") != std::string::npos &&
        line.find("\"USER_SNAPSHOT\"") != std::string::npos)
      order.push_back("snapshots");
  }
  EXPECT_EQ(order, (std::vector<std::string>{"callback", "snapshots"}));
}

TEST_F(AccountRequestsTest, AssociateReplyAfterTheTimeOutStillCountsButACreateReplyDoesNot) {
  start({std::chrono::milliseconds(100), {}});
  sign_in();
  std::vector<std::string> resets;
  run([&] {
    account_requests().accountResetListeners.push_back(
        [&](const std::string& id, std::function<void()>) { resets.push_back(id); });
  });
  server_->drop_next("ACCOUNT_ASSOCIATE", 1);
  server_->drop_next("ACCOUNT_CREATE", 1);
  Outcome associate;
  Outcome create;
  run([&] {
    account_requests().associateAccount("acct-late", associate.account_success(),
                                        associate.account_failure());
    account_requests().addEmailAccountWithPassword("x@example.org", "p", EmailAccountType::Gmail, "en",
                                                   create.account_success(), create.account_failure());
  });
  ASSERT_TRUE(associate.wait());
  ASSERT_TRUE(create.wait());
  ASSERT_EQ(associate.failure(), static_cast<int>(Failure::Timeout));
  ASSERT_EQ(create.failure(), static_cast<int>(Failure::Timeout));
  drain();  // the reply handlers finish on the core thread after their callbacks
  const size_t mark = sent().size();
  run([&] {
    patch::JanssonPtr late(
        patch::jansson_from_json(Json::object{{"account_id", "acct-late"}, {"client_reset", "t1"}}));
    account_requests().handleAccountAssociateResponse(last_sent("ACCOUNT_ASSOCIATE")["id"].string_value(),
                                                      late.get(), nullptr);
    patch::JanssonPtr created(patch::jansson_from_json(
        Json::object{{"account_id", "acct-created"}, {"new_account", true}, {"client_reset", "t2"}}));
    account_requests().handleAccountCreateResponse(last_sent("ACCOUNT_CREATE")["id"].string_value(),
                                                   created.get(), nullptr);
    // The recorded token: an AUTH that repeats it is no reset.
    for (const char* id : {"acct-late", "acct-created"}) {
      patch::JanssonPtr auth(patch::jansson_from_json(
          Json::object{{"account_id", id}, {"client_reset", id == std::string("acct-late") ? "t1" : "t2"}}));
      account_requests().handleAuthNotification(auth.get());
    }
  });
  EXPECT_EQ(associate.calls(), 1u);
  EXPECT_EQ(create.calls(), 1u);
  EXPECT_EQ(snapshots_since(mark), std::vector<std::string>{"acct-late"});
  EXPECT_EQ(run([&] { return resets; }), std::vector<std::string>{"acct-created"});
}

TEST_F(AccountRequestsTest, AuthFromAnotherDeviceReachesTheManagerUntilTheAccountIsDeleted) {
  start();
  keep_accounts(Json::array{stored(kAccount, kAddress)});
  sign_in(Json::object{{"uid", "u-two"}});
  add_account();
  std::vector<std::string> deleted;
  run([&] {
    account_requests().accountDeletedListeners.push_back(
        [&](const std::string& id) { deleted.push_back(id); });
  });

  sync_server_test::SyncClient other(server_->port());
  ASSERT_TRUE(other.wait_connected());
  Json other_state = other.request(
      "USER_NEW_DEVICE", Json::object{{"name", "other"},
                                      {"type", "macos"},
                                      {"vendor_id", "V2"},
                                      {"harnvik_credentials", Json::object{{"uid", "u-two"}}}})["result"];
  other.authenticate(other_state);
  ASSERT_TRUE(other.request("ACCOUNT_ASSOCIATE", Json::object{{"account_id", kAccount}})["error"].is_null());
  ASSERT_TRUE(other
                  .request("ACCOUNT_UPDATE", Json::object{{"account_id", kAccount},
                                                          {"name", "Renamed"},
                                                          {"description", "Home"}})["error"]
                  .is_null());
  ASSERT_TRUE(wait_until([&] { return account(kAccount).emailName == "Renamed"; }));
  EXPECT_EQ(account(kAccount).emailDescription, "Home");

  ASSERT_TRUE(
      other.request("ACCOUNT_REMOVE", Json::object{{"account_id", kAccount}, {"global_remove", 1}})["error"]
          .is_null());
  wait_received(
      [](const Json& m) { return m["method"] == Json("AUTH") && m["params"]["_deleted"] == Json(true); });
  EXPECT_EQ(run([&] { return deleted; }), std::vector<std::string>{kAccount});
  EXPECT_EQ(account(kAccount).emailName, "Renamed");
}

TEST_F(AccountRequestsTest, ChangedResetTokenResetsTheAccountOnceItsCompletionRuns) {
  start();
  sign_in();
  keep_accounts(Json::array{stored(kAccount, kAddress)});
  std::vector<std::function<void()>> completions;
  run([&] {
    account_requests().accountResetListeners.push_back(
        [&](const std::string&, std::function<void()> done) { completions.push_back(std::move(done)); });
  });
  auto auth = [&](const char* token, const char* name) {
    run([&] {
      patch::JanssonPtr params(patch::jansson_from_json(
          Json::object{{"account_id", kAccount}, {"client_reset", token}, {"name", name}}));
      account_requests().handleAuthNotification(params.get());
    });
  };
  auto resets = [&] { return run([&] { return completions.size(); }); };

  auth("r1", "First");
  EXPECT_EQ(resets(), 1u) << "a token never recorded resets";
  EXPECT_EQ(account(kAccount).emailName, "") << "and goes nowhere else";
  auth("r1", "Again");
  EXPECT_EQ(resets(), 2u) << "not recorded until the completion runs";
  const size_t mark = sent().size();
  run([&] { completions.front()(); });
  EXPECT_TRUE(wait_until([&] { return sent_count("USER_SNAPSHOT", mark) == 1; }))
      << "all snapshots asked for";
  auth("r1", "Normal");
  auth("", "Empty");
  EXPECT_EQ(resets(), 2u);
  EXPECT_EQ(account(kAccount).emailName, "Empty");
  EXPECT_TRUE(run([&] { return account_requests().hasReceivedAuthForAccount(kAccount); }));

  run([&] { account_requests().reset(); });
  EXPECT_FALSE(run([&] { return account_requests().hasReceivedAuthForAccount(kAccount); }));
  auth("r1", "After reset");
  EXPECT_EQ(resets(), 3u);
  // The mapping survives a restart.
  run([&] { completions.back()(); });
  completions.clear();
  rebuild();
  run([&] {
    account_requests().accountResetListeners.push_back(
        [&](const std::string&, std::function<void()> done) { completions.push_back(std::move(done)); });
  });
  auth("r1", "Restarted");
  EXPECT_EQ(resets(), 0u);
  EXPECT_EQ(account(kAccount).emailName, "Restarted");
}

}  // namespace
}  // namespace kestrun_test
