// The item folders, counts, single values, the fetch by ids and the page boundaries, over one
// fixture of stored rows in which each row tests one condition.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "db_fixture.h"

namespace {

using libkestrun::ItemState;
using libkestrun::internal::Email;
using libkestrun::internal::Item;
using Ids = std::set<std::string>;
using kestrun_test::ids;

template <class T>
Ids as_set(const KSObjects<T>& objects) {
  auto list = kestrun_test::ids(objects);
  return Ids(list.begin(), list.end());
}

class KSItemSetsTest : public kestrun_test::DbContextTest {
 protected:
  void storeFixture() {
    inTransaction([this] {
      storeItem("in1", 100, [](Item& r) { r.set_THREADTIMESTAMP(999); });
      storeItem("in2", 300, [](Item& r) { r.set_ACCOUNTID("B"); });
      storeItem("search", 500, [](Item& r) { r.set_MASTERREV(100); });
      storeItem("promoted", 200, [](Item& r) { r.set_MASTERREV(200); });
      storeItem("noMail", 400, [](Item& r) { r.set_THREADHASEMAILS(false); });
      storeItem("draftOnly", 250, [](Item& r) {
        r.set_THREADHASEMAILS(false);
        r.set_DRAFTIDS({"D1"});
      });
      storeItem("draftWithMail", 600, [](Item& r) { r.set_DRAFTIDS({"D2"}); });
      storeItem("deleted", 700, [](Item& r) { r.set_STATE(ItemState::Deleted); });
      storeItem("hidden", 50, [](Item& r) { r.set_STATE(ItemState::ServerHidden); });
      storeItem("archived", 150, [](Item& r) { r.set_STATE(ItemState::Archive); });
      storeItem("swiped", 130, [](Item& r) {
        r.set_STATE(ItemState::Archive);
        r.set_AUTOSWIPESTATE(libkestrun::AutoSwipeRuleState::Active);
      });
      storeItem("listed", 120, [](Item& r) {
        r.set_STATE(ItemState::List);
        r.set_MLISTID("L1");
      });
      storeItem("a\"b", 10, [](Item& r) { r.set_STATE(ItemState::Later); });
      auto sent = [](Email& e) { e.set_SENT(true); };
      storeEmail("E1", "in1", sent);
      storeEmail("E2", "in1", sent);
      storeEmail("E3", "deleted", sent);
      storeEmail("E4", "search", sent);
      storeEmail("E5", "hidden", sent);
    });
  }
};

TEST_F(KSItemSetsTest, FoldersLeaveOutWhatTheirConditionsSay) {
  storeFixture();
  KestrunContext* context = &data_;
  EXPECT_EQ(as_set(KSItem::inboxItems(context)), (Ids{"in1", "in2", "promoted", "draftWithMail"}));
  // Search-only items stay in an account's inbox; items without e-mails do not.
  EXPECT_EQ(as_set(KSItem::inboxItemsForAccount("A", context)),
            (Ids{"in1", "search", "promoted", "draftWithMail"}));
  EXPECT_EQ(as_set(KSItem::itemsToPurge(context)), (Ids{"deleted", "hidden", "search"}));
  EXPECT_EQ(as_set(KSItem::laterItems(context)), (Ids{"a\"b"}));
  EXPECT_EQ(as_set(KSItem::listItemsForList("L1", context)), (Ids{"listed"}));
  EXPECT_EQ(as_set(KSItem::itemsForAccount("B", context)), (Ids{"in2"}));
  EXPECT_EQ(ids(data_.newestDraftOnlyItem()), (std::vector<std::string>{"draftOnly"}));
  EXPECT_EQ(ids(data_.oldestInboxItemForAccount("A")), (std::vector<std::string>{"in1"}));
}

TEST_F(KSItemSetsTest, CountsAndSingleValues) {
  storeFixture();
  KestrunContext* context = &data_;
  const std::vector<std::pair<const char*, std::function<int64_t()>>> cases = {
      {"countItems", [&] { return KSItem::countItems(context); }},
      {"countInboxItems", [&] { return KSItem::countInboxItems(context); }},
      {"countInboxItemsForAccount", [&] { return KSItem::countInboxItemsForAccount("A", context); }},
      {"countArchiveItems", [&] { return KSItem::countArchiveItems(context); }},
      {"countListItems", [&] { return KSItem::countListItems("L1", context); }},
      // in1 has two sent e-mails and counts once; deleted and search-only items do not count.
      {"countSentItems", [&] { return KSItem::countSentItems(context); }},
      {"countAutoSwipedItems", [&] { return KSItem::countAutoSwipedItems(context); }},
      {"countItemsWithDrafts", [&] { return KSItem::countItemsWithDrafts(context); }},
      {"oldestInboxModifiedAtForAccount",
       [&] { return KSItem::oldestInboxModifiedAtForAccount("A", context); }},
      {"oldestInboxModifiedAtForAccount none",
       [&] { return KSItem::oldestInboxModifiedAtForAccount("nobody", context); }},
      {"newestThreadTimestamp", [&] { return KSItem::newestThreadTimestamp(context); }},
  };
  const std::vector<int64_t> expected = {13, 4, 3, 2, 1, 1, 1, 2, 100, 0, 999};
  for (size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(cases[i].second(), expected[i]) << cases[i].first;
}

TEST_F(KSItemSetsTest, EmptyTableCountsNothing) {
  KestrunContext* context = &data_;
  for (int count :
       {KSItem::countItems(context), KSItem::countInboxItems(context), KSItem::countLaterItems(context),
        KSItem::countTrashItems(context), KSItem::countUnreadInboxItems(context),
        KSItem::countSentItems(context), KSItem::countItemsWithDrafts(context)}) {
    EXPECT_EQ(count, 0);
  }
  EXPECT_EQ(KSItem::newestThreadTimestamp(context), 0);
  EXPECT_EQ(KSItem::inboxPageBoundary(0, &data_), 0);
}

TEST_F(KSItemSetsTest, PageBoundaries) {
  storeFixture();
  DBContext* c = &data_;
  struct Case {
    const char* folder;
    int64_t boundary;
    int64_t expected;
  };
  const Case cases[] = {
      {"inbox at 0 is the newest", KSItem::inboxPageBoundary(0, c), 600},
      {"inbox skips the search-only item", KSItem::inboxPageBoundary(1, c), 300},
      {"inbox keeps the promoted item", KSItem::inboxPageBoundary(2, c), 200},
      {"inbox at its last row", KSItem::inboxPageBoundary(3, c), 100},
      {"inbox at its end", KSItem::inboxPageBoundary(4, c), 0},
      {"inbox past its end", KSItem::inboxPageBoundary(40, c), 0},
      {"account inbox", KSItem::inboxPageBoundaryForAccount(0, "B", c), 300},
      {"list", KSItem::listPageBoundary(0, "L1", c), 120},
      {"another list", KSItem::listPageBoundary(0, "L2", c), 0},
      {"archive", KSItem::archivePageBoundary(1, c), 130},
      {"sent leaves out state 6 (newer)", KSItem::sentPageBoundary(0, c), 100},
      {"sent leaves out state 8 (older)", KSItem::sentPageBoundary(1, c), 0},
      {"auto-swiped", KSItem::autoSwipedPageBoundary(0, c), 130},
      {"drafts", KSItem::draftsPageBoundary(0, c), 600},
      {"drafts keep draft-only items", KSItem::draftsPageBoundary(1, c), 250},
  };
  for (const Case& test : cases) EXPECT_EQ(test.boundary, test.expected) << test.folder;
}

TEST_F(KSItemSetsTest, FetchByIdsBindsEveryIdAsAnId) {
  storeFixture();
  // STATE would name a column and the quote would end an SQL string if the ids were spliced in.
  auto found = KSItem::fetchItemsWithIDs({"a\"b", "STATE", "missing", "in1"}, &data_);
  EXPECT_EQ(as_set(found), (Ids{"a\"b", "in1"}));
  EXPECT_TRUE(KSItem::fetchItemsWithIDs({}, &data_)->empty());
  // Fetched objects are the cached ones.
  EXPECT_EQ(KSItem::fetchItemsWithIDs({"in1"}, &data_)->at(0), data_.fetchItem("in1"));
}

TEST_F(KSItemSetsTest, FetchByIdsTakesMoreIdsThanOneStatementBinds) {
  std::vector<std::string> wanted;
  inTransaction([&] {
    for (int i = 0; i < 1200; ++i) {
      wanted.push_back("I" + std::to_string(i));
      storeItem(wanted.back(), i);
    }
  });
  wanted.push_back("missing");
  EXPECT_EQ(KSItem::fetchItemsWithIDs(wanted, &data_)->size(), 1200u);
}

}  // namespace
