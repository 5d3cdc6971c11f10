// Pushed documents, snapshots with their change tokens and counts, draft batches and rule lists,
// applied through the data center to a real database.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/foundation/memory_store.h"
#include "core/model/model_fixtures.h"
#include "server_data_fixture.h"
#include "support/fake_managers.h"

namespace {

using kestrun_test::Call;
using kestrun_test::Completion;
using kestrun_test::doc;
using kestrun_test::json;
using kestrun_test::Results;

// An e-mail of account "A" in conversation `item`, new to the device and not sent by the user.
std::string email(const std::string& id, const std::string& item) {
  return "{'_id': '" + id + "', 'acct_id': 'A', 'p_id': '" + item + "', 'created_at': 7, 'sent': false}";
}

class ServerDocumentsTest : public kestrun_test::ServerDataTest {
 protected:
  Results pushDocument(const std::string& text, const std::string& type) {
    json_t* document = doc(text);
    Results seen = complete([&](Completion done) {
      KestrunDataCenter::processDocument(document, type, nullptr, std::move(done));
    });
    json_decref(document);  // the queued task held its own reference
    return seen;
  }

  Results applySnapshot(const std::string& snapshot, const std::string& tokens = "null",
                        const std::string& account = "A") {
    Results first;
    Results second = complete([&](Completion done) {
      KestrunDataCenter::processDocumentSnapshot(
          json(snapshot), json(tokens), account, [&](Results& results) { first = results; }, std::move(done));
    });
    EXPECT_EQ(first, second);
    return first;
  }
};

TEST_F(ServerDocumentsTest, PushedDocumentsReportTheirIdAndNewMail) {
  EXPECT_EQ(pushDocument(email("E1", "I1"), "email"), (Results{"E1", "1", "1"}));
  EXPECT_TRUE(emailStored("E1"));
  // Not an object: nothing applied, the counts still come; the document listeners read no id.
  EXPECT_EQ(pushDocument("[1]", "email"), (Results{"0", "0"}));
  // Refused: an unknown type, and a document of an account this device is not signed in to.
  EXPECT_EQ(pushDocument(email("E2", "I1"), "calendar"), (Results{"0", "0"}));
  accounts_->account_authenticated = false;
  EXPECT_EQ(pushDocument(email("E3", "I1"), "email"), (Results{"0", "0"}));
  EXPECT_FALSE(emailStored("E3"));
}

TEST_F(ServerDocumentsTest, NullDocumentsAndRulesQueueNothing) {
  bool called = false;  // written on the core thread only
  const Completion mark = [&](Results&) { called = true; };
  kestrun_test::run_on(thread_, [&] {
    KestrunDataCenter::processDocument(nullptr, "email", mark, mark);
    KestrunDataCenter::processAutoSwipeGet(nullptr, mark, mark);
  });
  drain();
  EXPECT_FALSE(called);
}

// Items come before e-mails whatever the snapshot's key order, so each e-mail joins the item of
// the same snapshot; everything is written in one task: one commit, one pass of the live queries.
TEST_F(ServerDocumentsTest, SnapshotAppliesItemsBeforeEmailsInOneCommit) {
  auto recorder = kestrun_test::QueryRecorder::install();
  const Results counts =
      applySnapshot("{'email': [" + email("E1", "I1") + ", " + email("E2", "I1") +
                    ", 'not an object'], 'item': [{'_id': 'I1', 'acct_id': 'A', 'state': 2}]}");
  EXPECT_EQ(counts, (Results{"2", "1"}));
  ASSERT_EQ(recorder->calls.size(), 1u);
  EXPECT_EQ(recorder->calls[0].changes.count("KSITEM"), 1u);
  EXPECT_EQ(recorder->calls[0].changes.count("KSEMAIL"), 1u);
  auto item = storedItem("I1");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->state(), libkestrun::ItemState::Inbox);
  EXPECT_EQ(item->threadCount(), 2);
}

TEST_F(ServerDocumentsTest, SnapshotHasObjects) {
  const struct {
    const char* snapshot;
    bool expected;
  } cases[] = {
      {"{'list': [], 'item': [], 'email': []}", false},
      {"{}", false},
      {"{'item': {'_id': 'I1'}}", false},
      {"{'list': [{}]}", true},
      {"{'item': [{}]}", true},
      {"{'email': [1]}", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(KestrunDataCenter::snapshotHasObjects(json(c.snapshot)), c.expected) << c.snapshot;
}

TEST_F(ServerDocumentsTest, SnapshotStoresOnlyIntegerTokens) {
  const jsonette::Json none;
  const struct {
    const char* tokens;
    const char* account;
    std::vector<Call> expected;
  } cases[] = {
      {"{'item': 12, 'email': 0}", "A", {{"setTokens", jsonette::Json::array{"A", 12, none, none}}}},
      {"{'item': 9007199254740993, 'email': 5, 'list': 9223372036854775807}",
       "A",
       {{"setTokens", jsonette::Json::array{"A", 9007199254740993LL, 5, 9223372036854775807LL}}}},
      // Not integers, or no token at all: the stored tokens stay.
      {"{'item': 12.0, 'email': -3, 'list': '4'}",
       "A",
       {{"setTokens", jsonette::Json::array{"A", none, none, none}}}},
      {"{'item': 18446744073709551615}", "A", {{"setTokens", jsonette::Json::array{"A", none, none, none}}}},
      {"null", "A", {}},
      {"{'item': 12}", "", {}},
  };
  for (const auto& c : cases) {
    changes_->CallLog::clear();
    applySnapshot("{}", c.tokens, c.account);
    EXPECT_EQ(changes_->calls(), c.expected) << c.tokens;
  }
}

// The forwarder's store keeps the token as a JSON integer: 2^53 + 1 arrives whole and is written as
// its digits.
TEST_F(ServerDocumentsTest, TokensReachTheStoreExactly) {
  auto store = std::make_shared<libkestrun::MemoryStore>();
  auto tokens = std::make_shared<libkestrun::ChangesManager>(store);
  libkestrun::changes_manager_set_instance(tokens);
  applySnapshot("{}", "{'item': 9007199254740993}");
  EXPECT_EQ(tokens->getTokens("A").items, (uint64_t{1} << 53) + 1);
  auto bytes = store->get("kestrun.changes.manager.items.tokens");
  ASSERT_TRUE(bytes);
  EXPECT_EQ(std::string(bytes->begin(), bytes->end()), R"({"A":9007199254740993})");
}

TEST_F(ServerDocumentsTest, CountsAfterSnapshotGoToTheCountsManager) {
  // Inbox items count once they hold e-mails.
  applySnapshot(
      "{'item': [{'_id': 'I1', 'acct_id': 'A', 'state': 2}, {'_id': 'I2', 'acct_id': 'A', 'state': 2}, "
      "{'_id': 'I3', 'acct_id': 'A', 'state': 3}, {'_id': 'I4', 'acct_id': 'A', 'state': 2}], "
      "'email': [" +
      email("E1", "I1") + ", " + email("E2", "I2") + ", " + email("E3", "I3") + "]}");
  kestrun_test::FakeManagers managers;
  kestrun_test::run_on(thread_,
                       [&] { KestrunDataCenter::synchronize_counts_after_snapshot("A", &managers); });
  drain();
  EXPECT_EQ(managers.counts.calls(),
            (std::vector<Call>{{"updateActiveCountIfExact", jsonette::Json::array{"A", 2}}}));
}

TEST_F(ServerDocumentsTest, RulesReportTheEarliestLastAction) {
  const struct {
    const char* rules;
    Results expected;
  } cases[] = {
      {"[]", {"9223372036854775807"}},
      {"[1, 'rule']", {"9223372036854775807"}},
      {"{'rules': []}", {}},
      {"[{'_id': 'R1', 'user_id': 'U', 'last_action': 500}, 7, {'_id': 'R2', 'user_id': 'U', 'last_action': 300},"
       " {'_id': 'R3', 'user_id': 'U', 'last_action': 900}]",
       {"300"}},
  };
  for (const auto& c : cases) {
    json_t* rules = doc(c.rules);
    Results seen =
        complete([&](Completion done) { KestrunDataCenter::processAutoSwipeGet(rules, nullptr, done); });
    json_decref(rules);
    EXPECT_EQ(seen, c.expected) << c.rules;
  }
}

// A removal and a change of one draft in one batch end as their order says, whether or not the
// draft was stored before.
TEST_F(ServerDocumentsTest, DraftBatchesApplyInVectorOrder) {
  auto draft = [](const std::string& id, uint32_t version) {
    libkestrun::internal::Draft d;
    d.set_draft_id(id);
    d.set_user_id("U");
    d.set_created_at(5);
    d.set_modified_at(5 + version);
    d.set_version(libkestrun::internal::VectorClock({{"D", version}}));
    d.set_subject("Draft " + id);
    d.set_from(libkestrun::internal::EmailName("Me", "me@home.example"));
    return d;
  };
  auto apply = [&](std::vector<libkestrun::DraftUpdate> updates) {
    patch::semaphore done;
    kestrun_test::run_on(
        thread_, [&] { KestrunDataCenter::processServerBatch(std::move(updates), [&] { done.notify(); }); });
    done.wait();
  };
  for (bool storedBefore : {false, true}) {
    for (bool removalLast : {false, true}) {
      const std::string id = std::string("D") + (storedBefore ? "s" : "n") + (removalLast ? "r" : "c");
      if (storedBefore) apply({libkestrun::DraftUpdate(draft(id, 1))});
      const libkestrun::DraftUpdate change(draft(id, 2));
      const auto removal = libkestrun::DraftUpdate::removal(id);
      apply(removalLast ? std::vector{change, removal} : std::vector{removal, change});
      std::optional<libkestrun::internal::Draft> stored;
      inDatabase([&](DBContext& context) { stored = context.fetchDraft(id); });
      EXPECT_EQ(stored.has_value(), !removalLast) << id;
      EXPECT_EQ(storedItem("draft_item_" + id) != nullptr, !removalLast) << id;
      if (stored) {
        EXPECT_EQ(stored->get_modified_at(), 7) << id;
      }
    }
  }
}

}  // namespace
