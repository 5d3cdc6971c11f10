// The database context's per-table writes and reads: the key operations of every table, the
// recipient links, and the item reads that pick their statement by argument.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "db_fixture.h"

namespace {

using kestrun_test::ids;
using libkestrun::ItemState;
using libkestrun::SnoozeType;
using libkestrun::internal::Item;
using Ids = std::vector<std::string>;

using DbContextTablesTest = kestrun_test::DbContextTest;

TEST_F(DbContextTablesTest, KeyOperationsOfEveryTable) {
  libkestrun::internal::List accountList;
  accountList.set_LISTID("AL");
  libkestrun::internal::UserList list;
  list.set_LISTID("UL");
  libkestrun::internal::LocalContact contact;
  contact.set_CONTACTID("C");
  libkestrun::internal::AutoSwipe rule;
  rule.set_AUTOSWIPEID("R");
  rule.set_USERID("U");
  struct Case {
    const char* table;
    std::function<void()> insert;
    std::function<void()> update;
    std::function<bool(DBContext&)> exists;
    std::function<void()> remove;
  };
  const Case cases[] = {
      {"KSACCOUNTLIST", [&] { data_.insertAccountList(accountList); },
       [&] { data_.updateAccountList(accountList); }, [](DBContext& c) { return c.accountListExists("AL"); },
       [&] { data_.removeAccountList("AL"); }},
      {"KSLIST", [&] { data_.insertList(list); }, [&] { data_.updateList(list); },
       [](DBContext& c) { return c.listExists("UL"); }, [&] { data_.removeList("UL"); }},
      {"KSCONTACT", [&] { data_.insertContact(contact); }, [&] { data_.updateContact(contact); },
       [](DBContext& c) { return c.contactExists("C"); }, [&] { data_.removeContact("C"); }},
      {"KSAUTOSWIPE", [&] { data_.insertAutoSwipe(rule); }, [&] { data_.updateAutoSwipe(rule); },
       [](DBContext& c) { return c.autoSwipeExists("R"); }, [&] { data_.removeAutoSwipe("R"); }},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.table);
    EXPECT_FALSE(test.exists(reader_));
    test.insert();
    EXPECT_TRUE(test.exists(reader_));
    EXPECT_THROW(test.insert(), CppSQLite3Exception);  // the key is taken
    test.update();
    test.remove();
    EXPECT_FALSE(test.exists(reader_));
  }
  data_.insertAutoSwipe(rule);
  EXPECT_TRUE(data_.removeAutoSwipesForUser("U"));
  EXPECT_FALSE(data_.removeAutoSwipesForUser("U"));
  EXPECT_FALSE(reader_.autoSwipeExists("R"));
}

TEST_F(DbContextTablesTest, RecipientLinksByRole) {
  storeItem("I1", 1);
  storeEmail("E1", "I1");
  storeEmail("E2", "I1");
  data_.addToRecipient("C1", "E1");
  data_.addCcRecipient("C1", "E2");
  data_.addBccRecipient("C2", "E1");
  EXPECT_THROW(data_.addToRecipient("C1", "E1"), CppSQLite3Exception);
  EXPECT_EQ(ids(data_.emailsWithToContact("C1")), Ids{"E1"});
  EXPECT_EQ(ids(data_.emailsWithCcContact("C1")), Ids{"E2"});
  EXPECT_EQ(ids(data_.emailsWithBccContact("C2")), Ids{"E1"});
  data_.removeToRecipients("E1");
  data_.removeBccRecipients("E1");
  data_.removeCcRecipients("E1");  // E1 has none: nothing happens
  EXPECT_TRUE(data_.emailsWithToContact("C1")->empty());
  EXPECT_TRUE(data_.emailsWithBccContact("C2")->empty());
  EXPECT_EQ(ids(data_.emailsWithCcContact("C1")), Ids{"E2"});
}

TEST_F(DbContextTablesTest, ItemReadsThatPickTheirStatement) {
  inTransaction([this] {
    auto deferred = [](const std::string& account) {
      return [account](Item& r) {
        r.set_ACCOUNTID(account);
        r.set_STATE(ItemState::Later);
        r.set_DEFERRALTYPE(libkestrun::DeferralType::BySnooze);
        r.set_SNOOZETYPE(SnoozeType::Desktop);
      };
    };
    storeItem("deskA", 1, deferred("A"));
    storeItem("deskB", 2, deferred("B"));
    storeItem("filed", 3, [](Item& r) {
      r.set_LISTID("L");
      r.set_MLISTID("UL");
    });
    storeItem("unfiled", 4, [](Item& r) { r.set_LISTID("L"); });
  });
  EXPECT_EQ(ids(data_.deviceDeferredItems(SnoozeType::Desktop, "")).size(), 2u);
  EXPECT_EQ(ids(data_.deviceDeferredItems(SnoozeType::Desktop, "B")), Ids{"deskB"});
  EXPECT_TRUE(data_.deviceDeferredItems(SnoozeType::Mobile, "")->empty());
  EXPECT_EQ(ids(data_.itemsWithListIDOnly("L")), Ids{"unfiled"});
  EXPECT_EQ(ids(data_.itemsForList("UL")), Ids{"filed"});
  EXPECT_EQ(ids(data_.itemQuery("filed")), Ids{"filed"});
  EXPECT_TRUE(data_.itemQuery("none")->empty());
  EXPECT_TRUE(data_.emailQuery("none")->empty());
}

}  // namespace
