// The database context's view fetchers, item searches and saved-time lists.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db_fixture.h"

namespace {

using kestrun_test::ids;
using libkestrun::ItemState;
using libkestrun::internal::Email;
using libkestrun::internal::Item;
using Ids = std::vector<std::string>;

using DbContextQueriesTest = kestrun_test::DbContextTest;

TEST_F(DbContextQueriesTest, QuickSearchIgnoresTrailingNewlinesAndLeavesOutHiddenStates) {
  inTransaction([this] {
    for (int i = 0; i < 20; ++i) {
      storeItem("I" + std::to_string(i), 100 + i, [](Item& r) { r.set_SUBJECT("hello"); });
    }
    // Newer than every other item, and left out all the same.
    for (ItemState hidden :
         {ItemState::Trash, ItemState::Spam, ItemState::Deleted, ItemState::ServerHidden}) {
      const int state = static_cast<int>(hidden);
      storeItem("hidden" + std::to_string(state), 1000 + state, [hidden](Item& r) { r.set_STATE(hidden); });
    }
    storeItem("news", 50, [](Item& r) { r.set_SUBJECT("good news"); });
  });
  // An empty text matches everything: the 15 newest that are not trash, spam, 6 or 8.
  Ids newest;
  for (int i = 19; i >= 5; --i) newest.push_back("I" + std::to_string(i));
  EXPECT_EQ(ids(data_.quickSearchItems("", "")), newest);

  EXPECT_EQ(ids(data_.quickSearchItems("news", "")), Ids{"news"});
  EXPECT_EQ(ids(data_.quickSearchItems("news\n\n", "")), Ids{"news"});
  EXPECT_EQ(ids(data_.quickSearchItems("NEWS", "")), Ids{"news"});
  // The text's own "%" is a wildcard.
  EXPECT_EQ(ids(data_.quickSearchItems("go%ws", "")), Ids{"news"});
  EXPECT_TRUE(data_.quickSearchItems("news", "B")->empty());
}

TEST_F(DbContextQueriesTest, FullSearchReadsConversationsAndStoredFullBodies) {
  inTransaction([this] {
    storeItem("withBody", 3);
    storeItem("bodyNotStored", 2);
    storeItem("inConversation", 1, [](Item& r) { r.set_ACCOUNTID("B"); });
    storeEmail("E1", "withBody", [](Email& e) {
      e.set_FULLBODY("a zebra");
      e.set_HASFULLBODY(true);
    });
    storeEmail("E2", "bodyNotStored", [](Email& e) { e.set_FULLBODY("a zebra"); });
    storeEmail("E3", "inConversation", [](Email& e) { e.set_CONVERSATION("the zebra said"); });
  });
  EXPECT_EQ(ids(data_.fullSearchItems("zebra", "")), (Ids{"withBody", "inConversation"}));
  EXPECT_EQ(ids(data_.fullSearchItems("zebra", "B")), Ids{"inConversation"});
  EXPECT_TRUE(data_.quickSearchItems("zebra", "")->empty());
}

TEST_F(DbContextQueriesTest, ViewFetchersTakeTheirTimeBounds) {
  inTransaction([this] {
    storeItem("unread", 500, [](Item& r) { r.set_THREADREAD(false); });
    storeItem("older", 400);
    storeItem("list1", 500, [](Item& r) {
      r.set_STATE(ItemState::List);
      r.set_MLISTID("L1");
    });
    storeItem("list2", 600, [](Item& r) {
      r.set_STATE(ItemState::List);
      r.set_MLISTID("L2");
    });
  });
  EXPECT_EQ(ids(data_.inboxItemsModifiedSince(500)), Ids{"unread"});
  EXPECT_TRUE(data_.unreadInboxItemsModifiedAfter(500)->empty());
  EXPECT_EQ(ids(data_.unreadInboxItemsModifiedAfter(499)), Ids{"unread"});
  EXPECT_TRUE(data_.inboxItems(0)->empty());
  EXPECT_EQ(ids(data_.inboxItems(1)), Ids{"unread"});
  EXPECT_EQ(ids(data_.inboxItemsSinceQuery(0)), (Ids{"unread", "older"}));
  EXPECT_EQ(ids(data_.listItemsSinceQuery(0, "")), (Ids{"list2", "list1"}));
  EXPECT_EQ(ids(data_.listItemsSinceQuery(0, "L1")), Ids{"list1"});
  EXPECT_EQ(ids(data_.inboxItemsSinceForAccountQuery(450, "A")), Ids{"unread"});
}

TEST_F(DbContextQueriesTest, SentItemsComeOnceHoweverManyOfTheirEmailsWereSent) {
  inTransaction([this] {
    storeItem("I1", 1);
    for (const char* id : {"E1", "E2", "E3"}) storeEmail(id, "I1", [](Email& e) { e.set_SENT(true); });
  });
  EXPECT_EQ(ids(data_.sentItemsSinceQuery(0)), Ids{"I1"});
  EXPECT_EQ(ids(data_.emailsForItemByDateQuery("I1")).size(), 3u);
}

TEST_F(DbContextQueriesTest, SavedTimeListsStopAtTheirLimit) {
  inTransaction([this] {
    for (int i = 0; i < 3000; ++i) {
      storeItem("I" + std::to_string(i), 0, [i](Item& r) { r.set_SAVEDAT(1000 + i); });
    }
    storeItem("otherAccount", 0, [](Item& r) {
      r.set_ACCOUNTID("B");
      r.set_SAVEDAT(5000);
    });
    storeEmail("E1", "I1", [](Email& e) { e.set_SAVEDAT(7); });
    storeEmail("E2", "I1", [](Email& e) { e.set_SAVEDAT(8); });
    libkestrun::internal::List list;
    list.set_LISTID("L1");
    list.set_ACCOUNTID("A");
    list.set_SAVEDAT(9);
    data_.insertAccountList(list);
  });
  EXPECT_EQ(data_.itemSavedTimesSince("A", 0, 2048).size(), 2048u);
  EXPECT_TRUE(data_.itemSavedTimesSince("A", 0, 0).empty());
  auto newest = data_.itemSavedTimesSince("A", 3998, 2048);
  EXPECT_EQ(newest, (DBContext::SavedTimes{{"I2999", 3999}}));
  EXPECT_EQ(data_.emailSavedTimesSince("A", 7, 10), (DBContext::SavedTimes{{"E2", 8}}));
  EXPECT_EQ(data_.accountListSavedTimesSince("A", 0, 10), (DBContext::SavedTimes{{"L1", 9}}));
  EXPECT_TRUE(data_.accountListSavedTimesSince("B", 0, 10).empty());
}

}  // namespace
