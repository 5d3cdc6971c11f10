// Pushed documents through the server client: an account's documents wait for its snapshot and
// are then applied in arrival order, or are dropped with the connection; drafts are applied at
// once; a new inbox e-mail reports new mail and reaches the document listeners; and a task still
// queued when the client goes never reaches them.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "core/foundation/json_conversion.h"
#include "server_account_fixture.h"

namespace kestrun_test {
namespace {

const char* const kNewMessages = "com.kestrun.sync.received.new.messages";

// An e-mail of the sample account, new to the device and not sent by the user.
Json email(const std::string& id) {
  return Json::object{
      {"_id", id}, {"acct_id", kSampleAccount}, {"p_id", "I1"}, {"created_at", 7}, {"sent", false}};
}

class ServerClientDocumentsTest : public ServerAccountTest {
 protected:
  // Records what the document listeners hear, readable from the test's thread.
  void listen() {
    client_->document_listeners.push_back([this](const std::string& id, const std::string& type) {
      // The connection's probe save comes back as a document of its own.
      if (id.rfind("probe-", 0) == 0) return;
      std::lock_guard<std::mutex> lock(heard_mutex_);
      heard_.push_back(type + " " + id);
    });
  }
  std::vector<std::string> heard() {
    std::lock_guard<std::mutex> lock(heard_mutex_);
    return heard_;
  }

  // A device of the sample account, connected and authenticated, whose account snapshot the
  // server leaves unanswered: the account is not streamable.
  void connect_without_snapshot() {
    start_server();
    register_with_account();
    server_->drop_next("ACCOUNT_SNAPSHOT", 1);
    make_client();
    listen();
    connect_authenticated();
  }

  // Returns once `n` pushed documents, the probe's aside, have been received (and traced).
  bool wait_documents(size_t n) {
    return wait_until([&] {
      size_t found = 0;
      std::istringstream in(trace());
      for (std::string line; std::getline(in, line);)
        found += line.find("Received message: ") != std::string::npos &&
                 line.find("\"DOCUMENT\"") != std::string::npos && line.find("probe-") == std::string::npos;
      return found >= n;
    });
  }

  bool item_stored(const std::string& id) { return stored()["item"].count(id) == 1; }

  std::mutex heard_mutex_;
  std::vector<std::string> heard_;  // guarded by heard_mutex_
};

TEST_F(ServerClientDocumentsTest, AnAccountsDocumentsWaitForItsSnapshotAndArriveInOrder) {
  connect_without_snapshot();
  const std::string first =
      server_->deliver_mail({kSampleAccount, "Ola", "ola@example.biz", "One", "<p>1</p>"});
  const std::string second =
      server_->deliver_mail({kSampleAccount, "Ola", "ola@example.biz", "Two", "<p>2</p>"});
  ASSERT_TRUE(wait_documents(4));
  drain();
  EXPECT_TRUE(heard().empty());
  EXPECT_FALSE(item_stored(first));

  // What the applied snapshot does for its account.
  client_->markAccountAsStreamable(kSampleAccount);
  ASSERT_TRUE(wait_until([&] { return heard().size() == 4; }));
  const std::vector<std::string> got = heard();
  EXPECT_EQ(got[0], "item " + first);
  EXPECT_EQ(got[1].rfind("email ", 0), 0u);
  EXPECT_EQ(got[2], "item " + second);
  EXPECT_EQ(got[3].rfind("email ", 0), 0u);
  EXPECT_TRUE(item_stored(second));
  // Each new inbox e-mail is new mail in one conversation.
  EXPECT_EQ(count(kNewMessages), 2u);
  EXPECT_EQ(payload_of(kNewMessages), Json(Json::object{{"primaryCount", 1}}));
}

TEST_F(ServerClientDocumentsTest, DocumentsHeldWhenTheConnectionEndsAreDropped) {
  connect_without_snapshot();
  const std::string item =
      server_->deliver_mail({kSampleAccount, "Ola", "ola@example.biz", "One", "<p>1</p>"});
  ASSERT_TRUE(wait_documents(2));
  run_on(thread_, [&] { client_->disconnect(); });
  ASSERT_TRUE(wait_posted("com.kestrun.did.close.connection"));
  drain();

  client_->markAccountAsStreamable(kSampleAccount);
  drain();
  drain();  // the data tasks such documents would queue come after
  EXPECT_TRUE(heard().empty());
  EXPECT_FALSE(item_stored(item));
}

TEST_F(ServerClientDocumentsTest, DraftsAreAppliedAtOnceAndRemovedByTheirRemoval) {
  connect_without_snapshot();
  const std::string user = state_["user_id"].string_value();
  auto draft_stored = [&] {
    return run_on(thread_, [] { return KestrunDataCenter::getDBContext()->draftExists("D1"); });
  };
  const Json draft = Json::object{
      {"_id", "D1"},
      {"user_id", user},
      {"version", Json::object{}},
      {"data", Json::object{
                   {"subject", "Plans"}, {"content", "<p>Soon</p>"}, {"created_at", 1}, {"modified_at", 1}}}};
  ASSERT_TRUE(server_->notify_user(user, "DOCUMENT",
                                   Json(Json::object{{"doc", draft}, {"doc_type", "draft"}}).dump()));
  ASSERT_TRUE(wait_until(draft_stored)) << "not held: drafts belong to no account";

  const Json removal = Json::object{{"_id", "D1"}, {"removed", true}};
  ASSERT_TRUE(server_->notify_user(user, "DOCUMENT",
                                   Json(Json::object{{"doc", removal}, {"doc_type", "draft"}}).dump()));
  ASSERT_TRUE(wait_until([&] { return !draft_stored(); }));
}

TEST_F(ServerClientDocumentsTest, ATaskQueuedBeforeTheClientWentCallsNoListener) {
  add_sample_account();
  make_client();
  std::vector<std::string> heard;  // the core thread's, read once it is idle
  std::atomic<int> applied = 0;
  client_->document_listeners.push_back([&](const std::string& id, const std::string& type) {
    heard.push_back(id + " " + type);
    ++applied;
  });
  run_on(thread_, [&] { client_->processDocument(email("E1"), "email"); });
  ASSERT_TRUE(wait_until([&] { return applied == 1; }));

  // The destructor's work runs at once on the core thread; the document's task comes after it.
  std::atomic<bool> later = false;
  run_on(thread_, [&] {
    client_->processDocument(email("E2"), "email");
    libkestrun::internal::server_client_set_instance(nullptr);
    client_.reset();
    patch::JanssonPtr third(patch::jansson_from_json(email("E3")));
    KestrunDataCenter::processDocument(third.get(), "email", nullptr,
                                       [&](std::vector<std::string>&) { later = true; });
  });
  ASSERT_TRUE(wait_until([&] { return later.load(); }));
  run_on(thread_, [] {});
  EXPECT_EQ(heard, std::vector<std::string>{"E1 email"});
}

}  // namespace
}  // namespace kestrun_test
