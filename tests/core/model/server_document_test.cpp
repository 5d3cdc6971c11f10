// How model objects accept, acknowledge and finish server documents, and the envelope their own
// documents start with.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "brelt/uv_thread.h"
#include "core/accounts/account_manager.h"
#include "core/foundation/notification_center.h"
#include "core/model/db_kestrun_object.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/memory_context.h"
#include "core/services/offline_manager.h"
#include "json_text.h"
#include "model_fixtures.h"
#include "support/fake_account_manager.h"
#include "support/fake_offline_manager.h"

namespace {

using kestrun_test::dump;
using kestrun_test::Call;
using kestrun_test::JsonDoc;

class ServerDocumentTest : public ::testing::Test {
 protected:
  ServerDocumentTest() {
    libkestrun::account_manager_set_instance(accounts_);
    libkestrun::offline_manager_set_instance(offline_);
    DBKestrunObject::setNotificationCenter(center_);
  }
  ~ServerDocumentTest() override {
    DBKestrunObject::setNotificationCenter(nullptr);
    libkestrun::offline_manager_set_instance(nullptr);
    libkestrun::account_manager_set_instance(nullptr);
    memory_.clearStore();
  }

  // The payloads of the bad-data notifications posted since the last call.
  std::vector<std::string> badData() {
    thread_.post_sync([] {});
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(bad_data_, {});
  }

  std::shared_ptr<KSEmail> email(int64_t savedAt) {
    auto email = std::make_shared<KSEmail>(&persistent_);
    email->set_EMAILID("E1");
    email->set_SAVEDAT(savedAt);
    return email;
  }

  // Declared before the thread, so that a delivery still queued when the test ends finds them.
  std::mutex mutex_;
  std::vector<std::string> bad_data_;
  brelt::UvThread thread_{true};
  std::shared_ptr<libkestrun::NotificationCenter> center_ =
      std::make_shared<libkestrun::NotificationCenter>(thread_);
  libkestrun::NotificationObserver observer_ = center_->observe(
      DBKestrunObject::kBadDataNotification, [this](const std::string&, const jsonette::Json& id) {
        std::lock_guard<std::mutex> lock(mutex_);
        bad_data_.push_back(id.string_value());
      });
  std::shared_ptr<kestrun_test::FakeAccountManager> accounts_ =
      std::make_shared<kestrun_test::FakeAccountManager>();
  std::shared_ptr<kestrun_test::FakeOfflineManager> offline_ =
      std::make_shared<kestrun_test::FakeOfflineManager>();
  kestrun_test::CachingContext persistent_;
  MemoryContext memory_;
};

TEST_F(ServerDocumentTest, AcceptanceRule) {
  struct Case {
    const char* name;
    int64_t stored;
    const char* document;
    bool authenticated;
    bool accepted;
    std::vector<std::string> notified;
  };
  const Case cases[] = {
      {"never confirmed, no saved_at", 0, R"({"_id": "E1", "acct_id": "A"})", true, true, {}},
      {"confirmed, no saved_at", 5, R"({"_id": "E1", "acct_id": "A"})", true, false, {}},
      {"equal saved_at", 5, R"({"_id": "E1", "acct_id": "A", "saved_at": 5})", true, false, {}},
      {"larger saved_at", 5, R"({"_id": "E1", "acct_id": "A", "saved_at": 6})", true, true, {}},
      {"smaller saved_at", 5, R"({"_id": "E1", "acct_id": "A", "saved_at": 4})", true, false, {}},
      {"saved_at as text counts as none",
       5,
       R"({"_id": "E1", "acct_id": "A", "saved_at": "9"})",
       true,
       false,
       {}},
      {"numeric acct_id", 0, R"({"_id": "E1", "acct_id": 7})", false, false, {}},
      {"no acct_id", 0, R"({"_id": "E1"})", true, false, {}},
      {"account not authenticated",
       0,
       R"({"_id": "E1", "acct_id": "A", "saved_at": 6})",
       false,
       false,
       {"E1"}},
      {"not authenticated, numeric _id", 0, R"({"_id": 3, "acct_id": "A"})", false, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    accounts_->account_authenticated = c.authenticated;
    accounts_->clear();
    JsonDoc document(c.document);
    EXPECT_EQ(email(c.stored)->shouldApplyServerDocument(document.value), c.accepted);
    EXPECT_EQ(badData(), c.notified);
  }
  // The account asked about is the document's; a numeric one is never asked about.
  accounts_->account_authenticated = true;
  accounts_->clear();
  JsonDoc numeric(R"({"_id": "E1", "acct_id": 7})");
  email(0)->shouldApplyServerDocument(numeric.value);
  JsonDoc text(R"({"_id": "E1", "acct_id": "A"})");
  email(0)->shouldApplyServerDocument(text.value);
  EXPECT_EQ(accounts_->calls(), (std::vector<Call>{{"isAccountAuthenticated", jsonette::Json::array{"A"}}}));
}

TEST_F(ServerDocumentTest, RefusedNewDocumentLeavesNothingBehindInAPersistentContext) {
  accounts_->account_authenticated = false;
  JsonDoc document(R"({"_id": "I1", "acct_id": "A", "sync_data": {"s": 1}})");
  EXPECT_EQ(KestrunContext::applyServerDocument(document.value, "item", "_id", &persistent_), nullptr);
  EXPECT_EQ(persistent_.cached("KSITEM", "I1"), nullptr);
  EXPECT_EQ(persistent_.pendingCount(), 0u);
  EXPECT_EQ(badData(), std::vector<std::string>{"I1"});

  // The memory context never asks.
  auto applied = KestrunContext::applyServerDocument(document.value, "item", "_id", &memory_);
  ASSERT_NE(applied, nullptr);
  EXPECT_EQ(std::static_pointer_cast<KSItem>(applied)->accountID(), "A");
  EXPECT_TRUE(badData().empty());
}

TEST_F(ServerDocumentTest, RefusedDocumentLeavesAnExistingObjectUntouched) {
  auto item = std::static_pointer_cast<KSItem>(persistent_.createObject("KSITEM", "I1"));
  item->setItemID("I1");
  item->setSavedAt(10);
  libkestrun::ChangeSet changes;
  persistent_.commit(changes);

  accounts_->account_authenticated = true;
  JsonDoc stale(R"({"_id": "I1", "acct_id": "A", "saved_at": 10, "sync_data": {"s": 1}})");
  EXPECT_EQ(KestrunContext::applyServerDocument(stale.value, "item", "_id", &persistent_), nullptr);
  EXPECT_EQ(persistent_.cached("KSITEM", "I1"), item);
  EXPECT_EQ(item->syncData(), "");
  EXPECT_EQ(persistent_.pendingCount(), 0u);

  JsonDoc fresh(R"({"_id": "I1", "acct_id": "A", "saved_at": 11, "state": 2, "sync_data": {"s": 1}})");
  EXPECT_EQ(KestrunContext::applyServerDocument(fresh.value, "item", "_id", &persistent_), item);
  EXPECT_EQ(item->syncData(), R"({"s":1})");
  EXPECT_EQ(persistent_.pendingCount(), 1u);
  EXPECT_EQ(offline_->calls(), (std::vector<Call>{{"removeRequest", jsonette::Json::array{"I1"}}}));
}

TEST_F(ServerDocumentTest, AcknowledgementDropsTheQueuedSaveOnlyForASavedDocument) {
  const std::pair<const char*, bool> cases[] = {
      {R"({"_id": "E1", "saved_at": 5})", true},
      {R"({"_id": "E1"})", false},
      {R"({"_id": "E1", "saved_at": "5"})", false},
      {R"({"_id": 7, "saved_at": 5})", false},
  };
  for (const auto& [text, removed] : cases) {
    SCOPED_TRACE(text);
    offline_->clear();
    JsonDoc document(text);
    email(0)->acknowledgeServerSave(document.value);
    EXPECT_EQ(offline_->calls().size(), removed ? 1u : 0u);
  }
}

TEST_F(ServerDocumentTest, SyncDataIsStoredCompactOnlyFromAnObject) {
  const std::pair<const char*, const char*> cases[] = {
      {R"({"sync_data": {"a": 1, "b": [1, 2]}})", R"({"a":1,"b":[1,2]})"},
      {R"({"sync_data": "text"})", "kept"},
      {R"({"sync_data": [1]})", "kept"},
      {R"({})", "kept"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    auto item = std::make_shared<KSItem>(&persistent_);
    item->setSyncData("kept");
    JsonDoc document(text);
    item->finishServerDocument(document.value);
    EXPECT_EQ(item->syncData(), expected);
    EXPECT_TRUE(item->loadedOnce());
  }
}

TEST_F(ServerDocumentTest, Envelope) {
  const std::pair<const char*, const char*> cases[] = {
      {"-", R"({"_id":"E1","acct_id":"A"})"},
      {"", R"({"_id":"E1","acct_id":"A"})"},
      {"not json", R"({"_id":"E1","acct_id":"A"})"},
      {R"({"a":1})", R"({"_id":"E1","acct_id":"A","sync_data":{"a":1}})"},
      {"3", R"({"_id":"E1","acct_id":"A","sync_data":3})"},
  };
  for (const auto& [sync, expected] : cases) {
    SCOPED_TRACE(sync);
    auto mail = email(0);
    mail->set_ACCOUNTID("A");
    mail->setSyncData(sync);
    EXPECT_EQ(dump(mail->DBKestrunObject::toJson()), expected);
    EXPECT_EQ(dump(mail->DBKestrunObject::changesToJson({"read"})), expected);
  }
}

}  // namespace
