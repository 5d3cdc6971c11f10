#include <gtest/gtest.h>

#include <string>

#include "core/foundation/utility.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "mail_fixture.h"

namespace kestrun_test {
namespace {

using libkestrun::ItemState;

// Conversations in the memory context: an item "I" and e-mail documents filed under it.
class SummaryTest : public MailTest {
 protected:
  SummaryTest() : item_(std::static_pointer_cast<KSItem>(memory_.createObject("KSITEM", "I"))) {}

  std::shared_ptr<KSEmail> email(const std::string& id, const std::string& keys) {
    return applyEmail("{'_id': '" + id + "', 'acct_id': 'A', 'p_id': 'I', " + keys + "}", &memory_);
  }

  std::string senders() { return dump(item_->threadSendersJson()); }

  std::shared_ptr<KSItem> item_;
};

TEST_F(SummaryTest, AnOlderEmailChangesCountsPeopleAndTextButNotThePreview) {
  email("E1",
        "'created_at': 200, 'preview': 'newer', 'conversation': 'one.', 'from': {'address': 'bob@x.example', "
        "'name': 'Bob'}, 'to': [{'address': 'carol@x.example', 'name': 'Carol'}]");
  email("E2",
        "'created_at': 100, 'preview': 'older', 'conversation': 'two.', 'starred': true, 'read': true,"
        " 'from': {'address': 'dan@x.example', 'name': 'Dan'}");
  EXPECT_EQ(item_->threadPreview(), "newer");
  EXPECT_EQ(item_->threadTimestamp(), 200);
  EXPECT_EQ(item_->modifiedAt(), 200);
  EXPECT_EQ(item_->threadCount(), 2);
  EXPECT_EQ(item_->threadUnreadCount(), 1);
  EXPECT_FALSE(item_->threadRead());
  EXPECT_EQ(item_->threadStarredCount(), 1);
  EXPECT_TRUE(item_->threadStarred());
  EXPECT_TRUE(item_->threadHasEmails());
  EXPECT_EQ(item_->aggregateConvo(), "one.two.");
  json_t* all = item_->allParticipants();
  EXPECT_NE(json_object_get(all, "bob@x.example"), nullptr);
  EXPECT_NE(json_object_get(all, "dan@x.example"), nullptr);
  EXPECT_NE(json_object_get(all, "carol@x.example"), nullptr);
  json_decref(all);
  ASSERT_EQ(item_->emails()->size(), 2u);
}

TEST_F(SummaryTest, PreviewTurnsBreaksAndTabsIntoBlanks) {
  email("E1", "'created_at': 1, 'preview': 'one\\r\\ntwo\\tthree'");
  EXPECT_EQ(item_->threadPreview(), "one  two three");
}

TEST_F(SummaryTest, AKnownSenderOnlyMovesItsSentTime) {
  email("E1", "'created_at': 200, 'from': {'address': 'bob@x.example', 'name': 'Bob'}");
  email("E2", "'created_at': 100, 'from': {'address': 'bob@x.example', 'name': 'Bobby'}");
  EXPECT_EQ(senders(),
            R"({"bob@x.example":{"full_display_name":"Bob","is_current_user":false,)"
            R"("is_original_participant":true,"name":"Bob","sent_at":100,"short_display_name":"Bob"}})");
}

TEST_F(SummaryTest, TheFirstMessagesPeopleAreTheOriginalParticipants) {
  email("E1",
        "'created_at': 1, 'from': {'address': 'bob@x.example', 'name': 'Bob'},"
        " 'to': [{'address': 'carol@x.example', 'name': 'Carol'}], 'cc': [{'address': 'me@home.example'}]");
  email("E2",
        "'created_at': 2, 'from': {'address': 'dan@x.example', 'name': 'Dan'}, 'to': [{'address': "
        "'eve@x.example'}]");
  EXPECT_EQ(dump(item_->originalSender()), R"({"address":"bob@x.example","name":"Bob"})");
  EXPECT_EQ(
      dump(item_->originalRecipients()),
      R"([{"address":"carol@x.example","name":"Carol"},{"address":"me@home.example","name":"me@home.example"}])");
  json_t* receivers = item_->threadReceiversJson();
  json_t* own = json_object_get(receivers, "me@home.example");
  EXPECT_EQ(std::string(json_string_value(json_object_get(own, "short_display_name"))), "Me");
  EXPECT_TRUE(json_is_true(json_object_get(own, "is_current_user")));
  json_decref(receivers);
}

TEST_F(SummaryTest, AggregateTextIsCutOnACharacterWithinItsLimit) {
  // 999 bytes, then a three-byte character across the 1,000-byte limit.
  email("E1", "'created_at': 1, 'conversation': '" + std::string(999, 'a') + "\xE2\x82\xAC'");
  EXPECT_EQ(item_->aggregateConvo(), std::string(999, 'a'));
  email("E2", "'created_at': 2, 'conversation': 'more'");
  EXPECT_EQ(item_->aggregateConvo().size(), 999u + 1u);
  json_t* text = json_stringn(item_->aggregateConvo().data(), item_->aggregateConvo().size());
  EXPECT_NE(text, nullptr);
  json_decref(text);
}

TEST_F(SummaryTest, ReadAndStarredCountsNeverGoBelowZero) {
  auto message = email("E1", "'created_at': 1, 'read': true");
  ASSERT_EQ(item_->threadUnreadCount(), 0);
  // A drifted summary: the row says unread although no e-mail is.
  item_->setThreadRead(false);
  struct Step {
    bool read;
    bool starred;
    int unread;
    bool threadRead;
    int starredCount;
    bool threadStarred;
  };
  const Step steps[] = {
      {true, false, 0, true, 0, false},  // read again at 0: stays 0, and the thread reads as read
      {false, true, 1, false, 1, true},  // unread and starred
      {true, false, 0, true, 0, false},  // back
      {true, false, 0, true, 0, false},
  };
  for (const Step& step : steps) {
    message->clearChangedFields();
    // Every step reports a change of both flags, as a drifted writer might.
    message->set_READ(!step.read);
    message->set_READ(step.read);
    message->set_STARRED(!step.starred);
    message->set_STARRED(step.starred);
    item_->updateThreadFromEmail(*message);
    EXPECT_EQ(item_->threadUnreadCount(), step.unread);
    EXPECT_EQ(item_->threadRead(), step.threadRead);
    EXPECT_EQ(item_->threadStarredCount(), step.starredCount);
    EXPECT_EQ(item_->threadStarred(), step.threadStarred);
  }
}

TEST_F(SummaryTest, UnsentEmailsNameTheirNumberInThePreview) {
  for (const char* id : {"E1", "E2", "E3"}) email(id, "'created_at': 1, 'send_state': 1, 'preview': 'p'");
  EXPECT_EQ(item_->threadUnsentCount(), 3);
  EXPECT_EQ(item_->previewText(), "3 unsent messages");
  auto first = KSEmail::fetch("E1", &memory_);
  json_t* acknowledged = doc("{'_id': 'E1', 'saved_at': 5}");
  KestrunContext::applyDocumentFields(first, acknowledged);
  json_decref(acknowledged);
  EXPECT_EQ(item_->threadUnsentCount(), 2);
}

TEST_F(SummaryTest, PreviewTextByState) {
  item_->setThreadPreview("thread");
  item_->setState(ItemState::Later);
  item_->setSnoozeType(libkestrun::SnoozeType::Desktop);
  EXPECT_EQ(item_->previewText(), "Deferred to Desktop");
  item_->setState(ItemState::List);
  EXPECT_EQ(item_->previewText(), "thread");
  item_->setState(ItemState::Inbox);
  EXPECT_EQ(item_->previewText(), "thread");
  item_->setThreadPreview("");
  EXPECT_EQ(item_->previewText(), "This message has no content.");
  item_->setSubject("");
  EXPECT_EQ(item_->threadSubject(), "(No Subject)");
}

TEST_F(SummaryTest, Banner) {
  using Rule = libkestrun::AutoSwipeRuleState;
  struct Case {
    ItemState state;
    Rule rule;
    ItemState ruleState;
    bool banner;
  };
  const Case cases[] = {
      {ItemState::Later, Rule::None, ItemState::None, true},
      {ItemState::List, Rule::None, ItemState::None, true},
      {ItemState::Spam, Rule::None, ItemState::None, true},
      {ItemState::Inbox, Rule::None, ItemState::None, false},
      {ItemState::Inbox, Rule::Suggested, ItemState::None, true},
      {ItemState::Archive, Rule::Active, ItemState::Archive, true},
      {ItemState::Inbox, Rule::Active, ItemState::Archive, false},
      {ItemState::Trash, Rule::SwipedByOtherUser, ItemState::Trash, true},
      {ItemState::Archive, Rule::Ignored, ItemState::Archive, false},
  };
  for (const Case& c : cases) {
    item_->setState(c.state);
    item_->setAutoSwipeState(c.rule);
    item_->setAutoSwipeItemState(c.ruleState);
    EXPECT_EQ(item_->shouldShowBanner(), c.banner)
        << static_cast<int>(c.state) << " " << static_cast<int>(c.rule) << " "
        << static_cast<int>(c.ruleState);
  }
}

TEST_F(SummaryTest, DraftsOfANewConversation) {
  auto d = draft("D1", std::nullopt, 50);
  d.set_plain_content(std::string(98, 'x') + "\xE2\x82\xAC");
  d.set_cc({libkestrun::internal::EmailName("Bob again", "bob@x.example"), {"Cy", "cy@x.example"}});
  item_->addDraft(d);
  item_->addDraft(d);
  EXPECT_EQ(item_->threadCount(), 1);
  EXPECT_TRUE(item_->threadHasDrafts());
  EXPECT_EQ(item_->threadPreview(), std::string(98, 'x'));
  EXPECT_EQ(senders(),
            R"({"me@home.example":{"full_display_name":"Note to self","is_original_participant":true,)"
            R"("name":"Me","sent_at":50,"short_display_name":"Me"}})");
  EXPECT_EQ(dump(item_->originalRecipients()),
            R"([{"address":"bob@x.example","name":"Bob"},{"address":"cy@x.example","name":"Cy"}])");
}

TEST_F(SummaryTest, RemovingADraftTheCacheDoesNotHoldChangesNothing) {
  libkestrun::internal::Item row;
  row.set_ITEMID("J");
  row.set_DRAFTIDS({"X"});
  row.set_EMAILCOUNT(1);
  memory_.insertItem(row);
  auto item = KSItem::fetch("J", &memory_);
  item->removeDraft("X");
  EXPECT_EQ(item->changedColumnCount(), 0u);
  EXPECT_EQ(item->threadCount(), 1);
}

TEST_F(SummaryTest, RemovingADraftShowsTheNewestRemainingMessage) {
  email("E1", "'created_at': 100, 'preview': 'mail'");
  item_->addDraft(draft("D1", std::string("I"), 300));
  EXPECT_EQ(item_->threadPreview(), "draft text D1");
  item_->removeDraft("D1");
  EXPECT_EQ(item_->threadPreview(), "mail");
  EXPECT_EQ(item_->threadCount(), 1);
  EXPECT_FALSE(item_->threadHasDrafts());
}

TEST_F(SummaryTest, RemovingADraftComparesTheNewestOfEachKind) {
  // The caches are in arrival order, not in time order.
  email("E2", "'created_at': 300, 'preview': 'new mail'");
  email("E1", "'created_at': 100, 'preview': 'old mail'");
  item_->addDraft(draft("D1", std::string("I"), 200));
  item_->addDraft(draft("D2", std::string("I"), 400));
  EXPECT_EQ(item_->threadPreview(), "draft text D2");
  item_->removeDraft("D2");
  EXPECT_EQ(item_->threadPreview(), "new mail");
}

TEST_F(SummaryTest, SearchScoreCountsTermsAndRecency) {
  email("E1", "'created_at': 1, 'conversation': 'apple pie apple', 'subject': 'x'");
  item_->setSubject("apple news");
  item_->populateSearchContentsInMemoryProperties();
  EXPECT_EQ(item_->searchContents().find("apple news"), 0u);
  const int64_t now = libkestrun::Utility::now_ms();
  const int64_t day = 24 * 60 * 60 * 1000;
  struct Case {
    int64_t modifiedAt;
    std::vector<std::string> terms;
    int32_t low;
    int32_t high;
  };
  const Case cases[] = {
      // aggregate 2 + subject 5 - 18 = -11; three days old adds nothing.
      {now - 3 * day, {"apple"}, -11, -11},
      {now - 3 * day, {"pear"}, -18, -18},
      {now - 3 * day, {"apple", ""}, -11, -11},
      // Between one and two days old adds 1.
      {now - 36 * 60 * 60 * 1000, {"pear"}, -17, -17},
      // Changed now or in the future: the most recent, finite and bounded.
      {now, {"pear"}, 0, 2 * 24 * 60 * 60},
      {now + day, {"pear"}, 0, 2 * 24 * 60 * 60},
  };
  for (const Case& c : cases) {
    item_->setModifiedAt(c.modifiedAt);
    item_->scoreItemForSearchTerms(c.terms);
    EXPECT_GE(item_->searchMatchScore(), c.low) << c.modifiedAt - now;
    EXPECT_LE(item_->searchMatchScore(), c.high) << c.modifiedAt - now;
  }
  EXPECT_EQ(KSItem::countOccurrences("aaaa", "aa"), 2);
}

TEST_F(SummaryTest, CloudSearchEmailsBuildASearchOnlyItem) {
  auto message = std::make_shared<KSEmail>(&memory_);
  message->set_EMAILID("S1");
  message->set_PARENTITEMID("P");
  message->set_ACCOUNTID("A");
  message->set_CREATEDAT(77);
  message->set_SUBJECT("Found");
  message->updateParentItem("search-1", &memory_);
  auto item = KSItem::fetch("P", &memory_);
  ASSERT_TRUE(item);
  EXPECT_EQ(item->masterRev(), KSItem::searchOnlyMasterRev());
  EXPECT_EQ(item->searchID(), "search-1");
  EXPECT_EQ(item->subject(), "Found");
  EXPECT_EQ(item->threadCount(), 1);
  message->updateParentItem("search-2", &memory_);
  EXPECT_EQ(item->searchID(), "search-2");
  EXPECT_EQ(item->threadCount(), 1);
}

}  // namespace
}  // namespace kestrun_test
