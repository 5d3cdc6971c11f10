// Account status documents: counts, the spam folder, archive-all and the health alerts with
// their texts. The counts and sync status managers are the real ones over a memory store; the
// alerts are posted to a real notification centre.
#include "core/accounts/account_status_manager.h"

#include <gtest/gtest.h>
#include <jansson.h>

#include <memory>
#include <string>
#include <vector>

#include "brelt/uv_thread.h"
#include "core/foundation/memory_store.h"
#include "support/on_loop.h"
#include "support/recording_account_calls.h"

namespace kestrun_test {
namespace {

using jsonette::Json;
using libkestrun::AccountStatusManager;

class AccountStatusManagerTest : public ::testing::Test {
 protected:
  AccountStatusManagerTest() { accounts.add("A1", "me@example.com", libkestrun::EmailAccountType::Gmail); }

  // Applies the document on the core thread and returns the alerts it posted.
  std::vector<Json> process(const char* text) {
    json_t* document = json_loads(text, 0, nullptr);
    EXPECT_NE(document, nullptr) << text;
    run_on(thread, [&] { manager.processAccountStatus(document); });
    run_on(thread, [] {});  // the alerts are delivered
    json_decref(document);
    return std::exchange(alerts, {});
  }

  Json alert(const std::string& code, const std::string& message, const std::string& account) {
    std::vector<Json> posted = process(
        Json(Json::object{{"acct_id", account},
                          {"health", Json::array{Json::object{{"code", code}, {"message", message}}}}})
            .dump()
            .c_str());
    EXPECT_EQ(posted.size(), 1u);
    return posted.empty() ? Json() : posted[0];
  }

  brelt::UvThread thread{true};
  std::shared_ptr<libkestrun::NotificationCenter> center =
      std::make_shared<libkestrun::NotificationCenter>(thread);
  std::vector<Json> alerts;
  libkestrun::NotificationObserver observer =
      center->observe(libkestrun::kAccountStatusAlertReceived,
                      [this](const std::string&, const Json& payload) { alerts.push_back(payload); });
  std::shared_ptr<libkestrun::KvStore> store = std::make_shared<libkestrun::MemoryStore>();
  libkestrun::CountsManager counts{nullptr, store};
  libkestrun::SyncStatusManager sync_status{nullptr, store};
  RecordingAccountCalls accounts;
  AccountStatusManager manager{center, &accounts, &counts, &sync_status};
};

TEST_F(AccountStatusManagerTest, ADocumentWithOnlyAnAccountFinishesItsArchiveAll) {
  sync_status.archiveAllStarted("A1");
  EXPECT_TRUE(process(R"({"acct_id": "A1"})").empty());
  EXPECT_FALSE(sync_status.isArchiveAllOngoing());
  EXPECT_TRUE(accounts.calls().empty());
  EXPECT_EQ(counts.activeCountForAccount("A1"), 0);
}

TEST_F(AccountStatusManagerTest, ArchiveAllIsOngoingOnlyForTheTextOngoing) {
  const std::vector<std::pair<const char*, bool>> cases = {
      {R"({"acct_id": "A1", "archiveAll": "ongoing"})", true},
      {R"({"acct_id": "A1", "archiveAll": "complete"})", false},
      {R"({"acct_id": "A1", "archiveAll": "ongoing"})", true},
      {R"({"acct_id": "A1", "archiveAll": 1})", false},
  };
  for (const auto& [document, ongoing] : cases) {
    process(document);
    EXPECT_EQ(sync_status.isArchiveAllOngoing(), ongoing) << document;
  }
}

TEST_F(AccountStatusManagerTest, MembersOfEachKindReachTheirManagers) {
  process(R"({"acct_id": "A1", "counts": {"active": {"count": 12, "exact": true}}, "missingSpam": true})");
  process(R"({"acct_id": "A1", "missingSpam": false})");
  process(R"({"acct_id": "A1", "missingSpam": "yes", "counts": [1]})");
  EXPECT_EQ(counts.activeCountForAccount("A1"), 12);
  EXPECT_TRUE(counts.activeIsExactForAccount("A1"));
  EXPECT_EQ(accounts.calls(), (std::vector<Call>{{"setHasSpam", Json::array{"A1", false}},
                                                 {"setHasSpam", Json::array{"A1", true}}}));
  // Without a string account id nothing is applied.
  process(R"({"acct_id": 7, "missingSpam": true})");
  process(R"(["A1"])");
  EXPECT_EQ(accounts.calls().size(), 2u);
}

TEST_F(AccountStatusManagerTest, AHealthArrayGivesOneAlertPerObject) {
  std::vector<Json> posted =
      process(R"({"acct_id": "A1", "health": ["TOO_MANY_CONN", {"code": "SEND_QUOTA"}]})");
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(
      posted[0].dump(),
      R"({"account_id":"A1","message":"You've exceeded your quota of sent emails across all your devices for )"
      R"(me@example.com. Kestrun will keep trying and deliver your data as soon as possible.",)"
      R"("reauth_required":false,"title":"Email Provider Denied Access"})");
}

TEST_F(AccountStatusManagerTest, AMissingFolderAsksForReauthorisation) {
  Json payload = alert("REQUIRED_FOLDER", "", "A1");
  EXPECT_EQ(payload["title"], Json("Kestrun Unable to Sync"));
  EXPECT_EQ(
      payload["message"],
      Json("Kestrun can't find one or more of your folders for me@example.com. Please verify in your email "
           "provider's settings that \"show in IMAP\" is checked for All Mail or Archive, Sent, & Trash."));
  EXPECT_EQ(payload["reauth_required"], Json(true));
}

TEST_F(AccountStatusManagerTest, TheProvidersTextIsShownAsSent) {
  EXPECT_EQ(alert("ALERT", "Quota 100% used (%s)", "A1")["message"],
            Json("Your email provider is delivering this error for me@example.com: Quota 100% used (%s)"));
  EXPECT_EQ(alert("ALERT", "", "A1")["message"],
            Json("Your email provider is delivering this error for me@example.com: Unknown error"));
  EXPECT_EQ(alert("ALERT", "Down %d", "A9")["message"],
            Json("Your email provider is delivering this error for one of your accounts: Down %d"));
  Json generic = alert("GENERIC_ALERT", "50% of %s full", "A1");
  EXPECT_EQ(generic["title"], Json(""));
  EXPECT_EQ(generic["message"], Json("50% of %s full"));
}

TEST_F(AccountStatusManagerTest, EveryCodeHasATitleAndAMessageWithAndWithoutAnAddress) {
  struct Case {
    std::string code, title, with_address_start, without_address_start;
  };
  const std::vector<Case> cases = {
      {"TOO_MANY_CONN", "Connection Error", "Kestrun is having trouble accessing data for me@example.com:",
       "Kestrun is having trouble accessing data for one of your accounts:"},
      {"GMAIL_DOWN", "Email Provider Error", "The email provider for me@example.com is unavailable.",
       "The email provider for one of your accounts is unavailable."},
      {"PROVIDER_DOWN", "Email Provider Error", "The email provider for me@example.com is unavailable.",
       "The email provider for one of your accounts is unavailable."},
      {"STORAGE_QUOTA", "Email Provider Denied Access",
       "You've exceeded your email provider's storage limit for me@example.com.",
       "You've exceeded your email provider's storage limit for one of your accounts."},
      {"BANDWIDTH_QUOTA", "Email Provider Denied Access",
       "You've exceeded your quota of email accessed across all your devices for me@example.com.",
       "You've exceeded your quota of email accessed across all your devices for one of your accounts."},
      {"NEW_CODE", "Email Provider Error", "Something went wrong with the connection for me@example.com.",
       "Something went wrong with the connection for one of your accounts."},
      {"", "Email Provider Error", "Something went wrong with the connection for me@example.com.",
       "Something went wrong with the connection for one of your accounts."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    Json known = alert(c.code, "ignored", "A1");
    EXPECT_EQ(known["title"], Json(c.title));
    EXPECT_EQ(known["message"].string_value().rfind(c.with_address_start, 0), 0u) << known["message"].dump();
    EXPECT_EQ(known["reauth_required"], Json(false));
    Json unknown = alert(c.code, "ignored", "A9");
    EXPECT_EQ(unknown["message"].string_value().rfind(c.without_address_start, 0), 0u)
        << unknown["message"].dump();
  }
}

TEST_F(AccountStatusManagerTest, TheMissingSpamTexts) {
  EXPECT_EQ(AccountStatusManager::getAlertTitleForMissingSpam(), "Spam Unable to Sync");
  EXPECT_EQ(
      AccountStatusManager::getAlertMessageForMissingSpam(),
      "Kestrun can't find your spam folder. Please verify in your email provider's settings that \"show in "
      "IMAP\" is checked for Spam.");
}

TEST_F(AccountStatusManagerTest, TheForwarderReachesTheInstance) {
  auto installed = std::make_shared<AccountStatusManager>(center, &accounts, &counts, &sync_status);
  libkestrun::account_status_manager_process_account_status(nullptr);  // no instance: nothing
  libkestrun::account_status_manager_set_instance(installed);
  json_t* document = json_loads(R"({"acct_id": "A1", "missingSpam": true})", 0, nullptr);
  libkestrun::account_status_manager_process_account_status(document);
  libkestrun::account_status_manager_set_instance(nullptr);
  EXPECT_EQ(document->refcount, 1u);  // borrowed
  json_decref(document);
  EXPECT_EQ(accounts.calls(), (std::vector<Call>{{"setHasSpam", Json::array{"A1", false}}}));
}

}  // namespace
}  // namespace kestrun_test
