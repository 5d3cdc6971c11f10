// Request transactions on a real core thread: each id ends in exactly one callback, by its reply,
// by the owner's time-out closure, or not at all when a newer request replaces it.
//
// Time-outs are short here. That a cancelled time-out never fires is shown by a later one of the
// same delay firing: the loop runs timers of one delay in the order they were started.
#include "core/sync/transaction_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include <jansson.h>

#include "brelt/uv_thread.h"
#include "core/sync/account_server_client.h"
#include "core/sync/user_server_client.h"
#include "jsonette/json.h"
#include "support/on_loop.h"
#include "support/wait.h"

namespace {

using libkestrun::internal::TransactionManager;
using Failure = KSServerClientAccountModifyFailureType;
using AccountTransactions = TransactionManager<std::function<void(json_t*)>,
                                               std::function<void(KSServerClientAccountModifyFailureType)>>;
using UserTransactions = TransactionManager<std::function<void(jsonette::Json&)>,
                                            std::function<void(KSServerClientUserModifyFailureType)>>;
using kestrun_test::run_on;
using kestrun_test::wait_until;

constexpr std::chrono::milliseconds kShort(5);

static_assert(AccountTransactions::kDefaultTimeout == std::chrono::seconds(20));

class TransactionManagerTest : public ::testing::Test {
 protected:
  // What the callbacks saw, in order: "ok:<id>:<text>", "fail:<id>:<value>", "timeout:<id>".
  void note(std::string line) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(std::move(line));
  }
  std::vector<std::string> log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  bool logged(const std::string& line) {
    auto lines = log();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  // Starts `id` the way an account client does: the time-out closure copies the id and ends the
  // record with the client's time-out value.
  void start(const std::string& id, const std::string& accountID = "A1", bool reauth = false) {
    start_on(manager_, id, accountID, reauth);
  }
  void start_on(AccountTransactions& manager, const std::string& id, const std::string& accountID,
                bool reauth) {
    manager.startTransaction(
        id, accountID, reauth,
        [this, id](json_t* result) { note("ok:" + id + ":" + json_string_value(result)); },
        [this, id](Failure f) { note("fail:" + id + ":" + std::to_string(static_cast<int>(f))); },
        [this, &manager, id] {
          std::string copy = id;
          note("timeout:" + copy);
          manager.transactionFailed(copy, Failure::Timeout);
        });
  }

  bool succeed(const std::string& id, const char* text) {
    json_t* result = json_string(text);
    bool ended = run_on(thread_, [&] { return manager_.transactionSucceeded(id, result); });
    json_decref(result);
    return ended;
  }

  brelt::UvThread thread_{true};
  AccountTransactions manager_{&thread_, kShort};
  std::mutex mutex_;
  std::vector<std::string> log_;
};

TEST_F(TransactionManagerTest, AReplyEndsTheRequestOnceAndCancelsItsTimeout) {
  // Started and answered in one turn of the loop, so its time-out cannot have fired yet.
  run_on(thread_, [&] {
    start("R1");
    json_t* result = json_string("x");
    EXPECT_TRUE(manager_.transactionSucceeded("R1", result));
    json_decref(result);
  });
  EXPECT_FALSE(succeed("R1", "again"));
  EXPECT_FALSE(run_on(thread_, [&] { return manager_.transactionFailed("R1", Failure::Refused); }));

  run_on(thread_, [&] { start("R2"); });
  ASSERT_TRUE(wait_until([&] { return logged("fail:R2:4"); }));
  EXPECT_EQ(log(), (std::vector<std::string>{"ok:R1:x", "timeout:R2", "fail:R2:4"}));
}

TEST_F(TransactionManagerTest, AReplyAfterTheTimeoutFindsNothing) {
  run_on(thread_, [&] { start("R1"); });
  ASSERT_TRUE(wait_until([&] { return logged("fail:R1:4"); }));
  EXPECT_FALSE(succeed("R1", "late"));
  EXPECT_EQ(log(), (std::vector<std::string>{"timeout:R1", "fail:R1:4"}));
}

TEST_F(TransactionManagerTest, ANewRequestUnderAPendingIdReplacesTheOldSilently) {
  run_on(thread_, [&] {
    start("R1", "OLD");
    start("R1", "NEW");
    EXPECT_EQ(manager_.idForTransaction("R1"), "NEW");
  });
  ASSERT_TRUE(wait_until([&] { return logged("fail:R1:4"); }));
  // One time-out, one end: the replaced record's timer and callbacks are gone.
  EXPECT_EQ(log(), (std::vector<std::string>{"timeout:R1", "fail:R1:4"}));
  run_on(thread_, [&] { start("R2"); });
  ASSERT_TRUE(wait_until([&] { return logged("fail:R2:4"); }));
  EXPECT_EQ(log().size(), 4u);
}

TEST_F(TransactionManagerTest, QueriesReadThePendingRecordOnly) {
  struct Case {
    const char* what;
    std::string accountID;
    bool reauth;
    bool ended;
    std::string wantID;
    bool wantReauth;
  };
  const Case cases[] = {
      {"account request", "A1", false, false, "A1", false},
      {"re-authorisation", "A1", true, false, "A1", true},
      {"account creation", "", false, false, "", false},
      {"ended re-authorisation", "A1", true, true, "", false},
  };
  AccountTransactions patient(&thread_, std::chrono::hours(1));
  int n = 0;
  for (const Case& c : cases) {
    std::string id = "Q" + std::to_string(n++);
    run_on(thread_, [&] {
      start_on(patient, id, c.accountID, c.reauth);
      if (c.ended) patient.transactionFailed(id, Failure::Other);
      EXPECT_EQ(patient.idForTransaction(id), c.wantID) << c.what;
      EXPECT_EQ(patient.transactionIsReauth(id), c.wantReauth) << c.what;
    });
  }
  EXPECT_EQ(patient.idForTransaction("never-started"), "");
  EXPECT_FALSE(patient.transactionIsReauth("never-started"));
}

TEST_F(TransactionManagerTest, CallbacksMayStartAndEndOtherTransactions) {
  UserTransactions users(&thread_, std::chrono::hours(1));
  std::atomic<int> calls{0};
  std::string seen;
  run_on(thread_, [&] {
    users.startTransaction(
        "U1",
        [&](jsonette::Json& result) {
          seen = result["name"].string_value();
          users.startTransaction(
              "U2", [&](jsonette::Json&) { ++calls; }, [&](KSServerClientUserModifyFailureType) { ++calls; },
              [] {});
          EXPECT_TRUE(users.transactionFailed("U2", KSServerClientUserModifyFailureType{}));
        },
        [&](KSServerClientUserModifyFailureType) { ADD_FAILURE() << "failure after success"; }, [] {});
    EXPECT_EQ(users.idForTransaction("U1"), "");
    EXPECT_TRUE(users.transactionSucceeded("U1", jsonette::Json::object{{"name", "device"}}));
  });
  EXPECT_EQ(seen, "device");
  EXPECT_EQ(calls.load(), 1);
}

}  // namespace
