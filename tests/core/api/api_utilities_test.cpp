// The e-mails a reply answers, printable pages and the small utilities of the facade, over a
// whole core with a keyed database.
#include <gtest/gtest.h>

#include <cctype>
#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "api_fixture.h"
#include "core/data/data_center.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/memory_context.h"
#include "localization/localization.h"

namespace kestrun_test {
namespace {

using libkestrun::EmailSendType;

class ApiUtilitiesTest : public ApiTest {
 protected:
  ApiUtilitiesTest() {
    Localization::instance().set_current_locale("en");
    start();
  }
  ~ApiUtilitiesTest() override { Localization::instance().set_current_locale(""); }

  // Conversation "I", subject "Lunch plans", with e-mails "E1" and "E2" (the newer).
  static void store_conversation() {
    KestrunDataCenter::performSyncDataTask([](std::vector<std::string>&, DBContext& context) {
      auto item = std::static_pointer_cast<KSItem>(context.createObject("KSITEM", "I"));
      item->setItemID("I");
      item->setAccountID("A");
      item->setState(libkestrun::ItemState::Inbox);
      item->setSubject("Lunch plans");
      for (const auto& [id, time] : {std::pair<std::string, int64_t>{"E1", 1000}, {"E2", 2000}}) {
        auto email = std::static_pointer_cast<KSEmail>(context.createObject("KSEMAIL", id));
        email->set_EMAILID(id);
        email->set_ACCOUNTID("A");
        email->set_PARENTITEMID("I");
        email->set_CREATEDAT(time);
        email->set_SUBJECT("Lunch plans");
        email->set_CONVERSATION("Body of " + id);
        item->addEmail(email);
      }
    });
  }

  static std::vector<std::string> ids(const std::vector<std::shared_ptr<KSEmail>>& emails) {
    std::vector<std::string> result;
    for (const auto& email : emails) result.push_back(email->get_EMAILID());
    return result;
  }
};

TEST_F(ApiUtilitiesTest, RepliesAndPagesComeFromTheStoredConversation) {
  store_conversation();
  struct Case {
    EmailSendType type;
    std::vector<std::string> visible;
    std::unordered_set<std::string> opened;
    std::vector<std::string> expected;
  };
  const std::vector<Case> cases = {
      {EmailSendType::Reply, {"E1", "E2"}, {}, {"E2"}},      // none opened: the newest
      {EmailSendType::Reply, {"E1", "E2"}, {"E1"}, {"E1"}},  // the one opened
      {EmailSendType::Forward, {"E1", "E2"}, {"E1", "E2"}, {"E2"}},
      {EmailSendType::NewMessage, {"E1", "E2"}, {"E1", "E2"}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ids(api_->emails_to_reply_to_from_item_id("I", c.type, c.visible, c.opened)), c.expected)
        << static_cast<int>(c.type) << " " << c.opened.size();
  }

  std::string conversation = api_->print_conversation("I");
  EXPECT_NE(conversation.find("Lunch plans"), std::string::npos);
  EXPECT_NE(conversation.find("Body of E1"), std::string::npos);
  EXPECT_NE(conversation.find("Body of E2"), std::string::npos);
  std::string email = api_->print_email("E2");
  EXPECT_NE(email.find("Lunch plans"), std::string::npos);
  EXPECT_EQ(email.find("Body of E1"), std::string::npos);
}

TEST_F(ApiUtilitiesTest, AnIdNamingNoStoredObjectGivesAnEmptyResult) {
  store_conversation();
  EXPECT_TRUE(api_->emails_to_reply_to_from_item_id("missing", EmailSendType::Reply, {"E1"}, {"E1"}).empty());
  EXPECT_EQ(api_->print_conversation("missing"), "");
  EXPECT_EQ(api_->print_email("missing"), "");
  // An e-mail id is not a conversation id, nor the other way round.
  EXPECT_EQ(api_->print_conversation("E1"), "");
  EXPECT_EQ(api_->print_email("I"), "");
}

TEST_F(ApiUtilitiesTest, UniqueIdsAreNewUpperCaseUuids) {
  std::set<std::string> seen;
  for (int i = 0; i < 100; ++i) {
    std::string id = api_->generate_unique_id();
    ASSERT_EQ(id.size(), 36u) << id;
    for (size_t at : {8u, 13u, 18u, 23u}) EXPECT_EQ(id[at], '-') << id;
    EXPECT_EQ(id[14], '4') << id;  // version 4
    for (char c : id) EXPECT_TRUE(c == '-' || std::isdigit(c) || (c >= 'A' && c <= 'F')) << id;
    seen.insert(id);
  }
  EXPECT_EQ(seen.size(), 100u);
}

TEST_F(ApiUtilitiesTest, SmallUtilities) {
  EXPECT_EQ(api_->default_date_value(), 0);
  EXPECT_EQ(api_->harnvik_locale(), "en");
  EXPECT_TRUE(api_->is_valid_email_address("jane@example.com"));
  EXPECT_FALSE(api_->is_valid_email_address("jane at example"));
  EXPECT_EQ(api_->generate_short_name_from_name("Smith, Jane"), "Jane");
  EXPECT_EQ(api_->generate_short_name_from_name("Dr. Jane Smith"), "Jane");
}

TEST_F(ApiUtilitiesTest, AMemoryWarningDropsTheSearchResults) {
  KestrunDataCenter::performMemoryDataTask(
      [](std::vector<std::string>&, MemoryContext& context) {
        auto item = std::static_pointer_cast<KSItem>(context.createObject("KSITEM", "S"));
        item->setItemID("S");
      },
      KSDataTaskBlockPrioritySync, {}, {});
  ASSERT_EQ(on_core([] { return MemoryContext::allItems()->size(); }), 1u);
  api_->memory_warning();
  EXPECT_EQ(on_core([] { return MemoryContext::allItems()->size(); }), 0u);
}

}  // namespace
}  // namespace kestrun_test
