// The database context's view fetchers, item searches and saved-time lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/model/item_orderings.h"
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

// A live query walks the old and the new rows with its ordering, so each fetch must return its
// rows in exactly that order, ties included: otherwise rows that kept their place come back as
// moves. Each place holds two pairs of items with equal sort keys, one pair stored in id order
// and one against it, and thread times that run against the modification times.
TEST_F(DbContextQueriesTest, ViewFetchersReturnRowsInTheirQueryOrdering) {
  using Rows = KSQueryRows;
  using Ordering =
      std::function<bool(const std::shared_ptr<KestrunObject>&, const std::shared_ptr<KestrunObject>&)>;
  struct Case {
    const char* place;
    std::function<void(Item&)> set;
    std::function<Rows(DBContext&)> fetch;
    Ordering ordering;
  };
  const Ordering byTime = KSItem::ModifiedAtDesc();
  const std::vector<Case> cases = {
      {"inbox", [](Item&) {}, [](DBContext& c) { return c.inboxItemsSinceQuery(0); }, byTime},
      {"account", [](Item& r) { r.set_ACCOUNTID("B"); },
       [](DBContext& c) { return c.inboxItemsSinceForAccountQuery(0, "B"); }, byTime},
      {"archive", [](Item& r) { r.set_STATE(ItemState::Archive); },
       [](DBContext& c) { return c.archiveItemsSinceQuery(0); }, byTime},
      {"list",
       [](Item& r) {
         r.set_STATE(ItemState::List);
         r.set_MLISTID("L1");
       },
       [](DBContext& c) { return c.listItemsSinceQuery(0, "L1"); }, byTime},
      {"lists", [](Item& r) { r.set_STATE(ItemState::List); },
       [](DBContext& c) { return c.listItemsSinceQuery(0, ""); }, byTime},
      {"sent", [](Item& r) { r.set_STATE(ItemState::Archive); },
       [](DBContext& c) { return c.sentItemsSinceQuery(0); }, byTime},
      {"swiped",
       [](Item& r) {
         r.set_AUTOSWIPESTATE(libkestrun::AutoSwipeRuleState::Active);
         r.set_EMAILCOUNT(1);
       },
       [](DBContext& c) { return c.autoSwipedItemsSinceQuery(0); }, byTime},
      {"drafts", [](Item& r) { r.set_DRAFTIDS({"D"}); },
       [](DBContext& c) { return c.itemsWithDraftsSinceQuery(0); }, byTime},
      {"trash",
       [](Item& r) {
         r.set_STATE(ItemState::Trash);
         r.set_EMAILCOUNT(1);
       },
       [](DBContext& c) { return c.trashItemsQuery(); }, byTime},
      {"spam",
       [](Item& r) {
         r.set_STATE(ItemState::Spam);
         r.set_EMAILCOUNT(1);
       },
       [](DBContext& c) { return c.spamItemsQuery(); }, byTime},
      {"later", [](Item& r) { r.set_STATE(ItemState::Later); },
       [](DBContext& c) { return c.laterItemsQuery(); }, KSItem::DeferralOrdering()},
  };
  inTransaction([&] {
    for (const Case& test : cases) {
      const std::string place = test.place;
      // Stored b before a (against id order) and c before d (in id order), so that a scan that
      // keeps either storage order on ties breaks one of the pairs.
      for (const auto& [suffix, time] :
           std::vector<std::pair<std::string, int64_t>>{{"b", 20}, {"a", 20}, {"c", 10}, {"d", 10}}) {
        const std::string id = place + "-" + suffix;
        storeItem(id, time, [&, time = time](Item& r) {
          r.set_THREADTIMESTAMP(100 - time);
          r.set_REMINDAT(time);
          test.set(r);
        });
        if (place == "sent") storeEmail(id + "-e", id, [](Email& e) { e.set_SENT(true); });
      }
    }
  });
  for (const Case& test : cases) {
    SCOPED_TRACE(test.place);
    const Rows rows = test.fetch(data_);
    ASSERT_GE(rows->size(), 4u);
    EXPECT_TRUE(std::is_sorted(rows->begin(), rows->end(), test.ordering))
        << testing::PrintToString(ids(rows));
  }
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
