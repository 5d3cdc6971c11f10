#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "core/model/db_context.h"
#include "core/model/ks_convo_item.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "mail_fixture.h"

namespace kestrun_test {
namespace {

using libkestrun::internal::Draft;
using libkestrun::internal::VectorClock;

class DraftsTest : public MailTest {
 protected:
  static std::vector<std::string> rowIds(const std::vector<KSConvoItem>& rows) {
    std::vector<std::string> out;
    for (const auto& row : rows) out.push_back(row.convoItemId());
    return out;
  }
  std::shared_ptr<KSItem> storedItem(const std::string& id) {
    reader_.reset();
    return KSItem::fetch(id, &reader_);
  }
};

TEST_F(DraftsTest, ConversationRowsOrderByTimeThenId) {
  storeItem("I", 1);
  storeEmail("2-mail", "I", [](auto& row) { row.set_CREATEDAT(100); });
  storeEmail("0-early", "I", [](auto& row) { row.set_CREATEDAT(50); });
  data_.updateOrInsertDraft(draft("1-draft", std::string("I"), 100));
  data_.updateOrInsertDraft(draft("other", std::string("J"), 10));
  EXPECT_EQ(rowIds(*data_.convoItemsForItem("I")),
            (std::vector<std::string>{"0-early", "1-draft", "2-mail"}));
  EXPECT_EQ(data_.draftsForItem("I")->size(), 1u);
  EXPECT_EQ(rowIds(*data_.convoItemsForDraft("other")), std::vector<std::string>{"other"});
  EXPECT_TRUE(data_.convoItemsForDraft("missing")->empty());
}

TEST_F(DraftsTest, ARowOfTheOtherKindThrows) {
  auto message = std::make_shared<KSEmail>(&memory_);
  message->set_EMAILID("E");
  message->set_SUBJECT("before");
  const KSConvoItem mailRow(message);
  const KSConvoItem draftRow(draft("D", std::nullopt, 1));
  struct Case {
    const char* message;
    std::function<void()> call;
  };
  const Case cases[] = {
      {"Invalid type for object, get_draft", [&] { mailRow.get_draft(); }},
      {"Invalid type for object, get_email", [&] { draftRow.get_email(); }},
      {"Invalid type for object, get_shared_email", [&] { draftRow.get_shared_email(); }},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << "no throw: " << c.message;
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), c.message);
    }
  }
  // The e-mail row keeps its snapshot; a copy shares the live e-mail.
  message->set_SUBJECT("after");
  const KSConvoItem copy = mailRow;
  EXPECT_EQ(copy.subject(), "before");
  EXPECT_EQ(copy.get_shared_email(), message);
  EXPECT_EQ(draftRow.subject(), "Draft D");
}

TEST_F(DraftsTest, SavesDecideByVersion) {
  struct Case {
    const char* name;
    VectorClock::Entries stored;
    VectorClock::Entries given;
    bool local;
    bool server;
  };
  const Case cases[] = {
      {"same version", {{"D", 2}}, {{"D", 2}}, false, true},
      {"newer", {{"D", 2}}, {{"D", 3}}, true, true},
      {"older", {{"D", 2}}, {{"D", 1}}, false, false},
      {"concurrent", {{"D", 2}}, {{"E", 1}}, false, true},
      {"nothing stored", {}, {{"D", 1}}, true, true},
  };
  for (const Case& c : cases) {
    for (bool server : {false, true}) {
      data_.removeDraftRow(draft("X", std::nullopt, 1));
      if (!c.stored.empty()) {
        ASSERT_TRUE(data_.updateOrInsertDraft(draft("X", std::nullopt, 1, c.stored)));
      }
      Draft given = draft("X", std::nullopt, 2, c.given);
      given.set_subject("given");
      const bool written = server ? data_.save_from_server(given) : data_.save(given);
      EXPECT_EQ(written, server ? c.server : c.local) << c.name << (server ? " (server)" : " (local)");
      EXPECT_EQ(data_.fetchDraft("X")->get_subject() == "given", written) << c.name;
    }
  }
}

TEST_F(DraftsTest, DraftCommitsRecordTheVersionRulesVerdict) {
  data_.updateOrInsertDraft(draft("X", std::nullopt, 1, {{"D", 2}}));
  data_.updateDraft(draft("X", std::nullopt, 1, {{"D", 1}}));
  auto changes = commit();
  EXPECT_EQ(changes["Draft"][libkestrun::ConsumerChangeType::Update], std::unordered_set<std::string>{"X"});
  data_.insertDraft(draft("X", std::nullopt, 1, {{"D", 3}}));
  changes = commit();
  EXPECT_EQ(changes["Draft"][libkestrun::ConsumerChangeType::Insert], std::unordered_set<std::string>{"X"});
  EXPECT_TRUE(data_.removeDraftsForUser("U"));
  EXPECT_FALSE(data_.draftExists("missing"));
}

TEST_F(DraftsTest, ANewMessageDraftGetsOneItemOfItsOwn) {
  const Draft d = draft("N", std::nullopt, 500);
  data_.insertDraft(d);
  data_.updateItemForDraft(d);
  data_.updateItemForDraft(d);  // found through the cache
  commit();
  data_.updateItemForDraft(d);  // found through the table
  commit();
  auto item = storedItem("draft_item_N");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->accountID(), "A");
  EXPECT_EQ(item->subject(), "Draft N");
  EXPECT_EQ(item->threadTimestamp(), 500);
  EXPECT_EQ(item->modifiedAt(), 500);
  EXPECT_EQ(item->threadCount(), 1);
  EXPECT_EQ(item->threadPreview(), "draft text N");
  EXPECT_EQ(reader_.database().execScalar("SELECT COUNT(*) FROM KSITEM;"), 1);
}

TEST_F(DraftsTest, NoItemWithoutAnAccountOrAStoredConversation) {
  accounts_->primary_account_id_for_address.reset();
  data_.updateItemForDraft(draft("N", std::nullopt, 1));
  data_.updateItemForDraft(draft("R", std::string("missing"), 1));
  // An account that is not authenticated here refuses the item's document: no item either.
  accounts_->primary_account_id_for_address = std::string("A");
  accounts_->account_authenticated = false;
  data_.updateItemForDraft(draft("M", std::nullopt, 1));
  commit();
  EXPECT_EQ(reader_.database().execScalar("SELECT COUNT(*) FROM KSITEM;"), 0);
}

TEST_F(DraftsTest, RemovingAReplyDraftKeepsItsConversation) {
  storeItem("I", 1);
  const Draft d = draft("R", std::string("I"), 5);
  data_.updateOrInsertDraft(d);
  data_.updateItemForDraft(d);
  commit();
  EXPECT_TRUE(storedItem("I")->threadHasDrafts());
  data_.removeDraft("R");
  commit();
  auto item = storedItem("I");
  ASSERT_TRUE(item);
  EXPECT_FALSE(item->threadHasDrafts());
  EXPECT_FALSE(data_.fetchDraft("R"));
}

TEST_F(DraftsTest, RemovingANewMessageDraftPurgesItsItem) {
  for (bool stored : {true, false}) {
    const Draft d = draft("N", std::nullopt, 5);
    if (stored) data_.updateOrInsertDraft(d);
    data_.updateItemForDraft(d);
    commit();
    ASSERT_TRUE(storedItem("draft_item_N")) << stored;
    data_.removeDraft("N");
    auto changes = commit();
    EXPECT_FALSE(storedItem("draft_item_N")) << stored;
    EXPECT_FALSE(data_.fetchDraft("N")) << stored;
    EXPECT_EQ(changes["KSITEM"][libkestrun::ConsumerChangeType::Delete],
              std::unordered_set<std::string>{"draft_item_N"});
  }
}

TEST_F(DraftsTest, PurgeRefilesDraftsAsNewMessages) {
  storeItem("I", 1);
  storeEmail("E", "I");
  const Draft reply = draft("R", std::string("I"), 5, {{"D", 1}});
  data_.updateOrInsertDraft(reply);
  KSItem::purge(KSItem::fetch("I", &data_), &data_, false);
  commit();

  EXPECT_FALSE(storedItem("I"));
  EXPECT_FALSE(reader_.emailExists("E"));
  auto refiled = data_.fetchDraft("R");
  ASSERT_TRUE(refiled);
  EXPECT_FALSE(refiled->get_item_id());
  EXPECT_EQ(refiled->get_type(), libkestrun::EmailSendType::NewMessage);
  EXPECT_EQ(refiled->get_version(), VectorClock({{"D", 2}}));
  auto own = storedItem("draft_item_R");
  ASSERT_TRUE(own);
  EXPECT_TRUE(own->threadHasDrafts());
  auto calls = server_->calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].method, "send_command");
  EXPECT_EQ(calls[0].args[0].string_value(), "USER_ITEM_SAVE");
  EXPECT_EQ(attachments_->calls().size(), 1u);
}

TEST_F(DraftsTest, PurgeKeepingDraftsLeavesThemAlone) {
  storeItem("I", 1);
  data_.updateOrInsertDraft(draft("R", std::string("I"), 5));
  KSItem::purge(KSItem::fetch("I", &data_), &data_, true);
  commit();
  EXPECT_FALSE(storedItem("I"));
  EXPECT_EQ(data_.fetchDraft("R")->get_item_id(), std::optional<std::string>("I"));
  EXPECT_TRUE(server_->calls().empty());
}

TEST_F(DraftsTest, TheFirstLoadFoldsInStoredEmailsAndDrafts) {
  storeItem("I", 1, [](auto& row) { row.set_THREADHASEMAILS(false); });
  storeEmail("E1", "I", [](auto& row) {
    row.set_CREATEDAT(10);
    row.set_PREVIEW("first");
  });
  storeEmail("E2", "I", [](auto& row) {
    row.set_CREATEDAT(20);
    row.set_PREVIEW("second");
    row.set_READ(true);
  });
  data_.updateOrInsertDraft(draft("R", std::string("I"), 5));
  auto item = KSItem::fetch("I", &data_);
  item->foldInEmailsOnce();
  item->foldInDraftsOnce();
  item->setLoadedOnce(true);
  item->foldInEmailsOnce();
  item->foldInDraftsOnce();
  commit();
  auto stored = storedItem("I");
  EXPECT_EQ(stored->threadCount(), 3);
  EXPECT_EQ(stored->threadUnreadCount(), 1);
  EXPECT_EQ(stored->threadPreview(), "second");
  EXPECT_TRUE(stored->threadHasDrafts());
}

}  // namespace
}  // namespace kestrun_test

namespace kestrun_test {
namespace {

TEST_F(DraftsTest, AConversationAndItsEmailsAreFreedOnceTheContextLetsGo) {
  storeItem("I", 1);
  storeEmail("E", "I");
  std::weak_ptr<KSItem> item;
  std::weak_ptr<KSEmail> email;
  {
    auto fetched = KSItem::fetch("I", &data_);
    fetched->foldInEmailsOnce();
    ASSERT_EQ(fetched->emails()->size(), 1u);
    email = fetched->emails()->front();
    ASSERT_EQ(email.lock()->parentItem(), fetched);
    item = fetched;
  }
  data_.reset();
  EXPECT_TRUE(item.expired());
  EXPECT_TRUE(email.expired());
}

}  // namespace
}  // namespace kestrun_test
