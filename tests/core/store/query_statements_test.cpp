// The statement texts, byte for byte: every name quoted, every value a placeholder whose number is
// the column's position plus one.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "core/store/auto_swipe_record.h"
#include "core/store/contact_record.h"
#include "core/store/db_schema.h"
#include "core/store/draft.h"
#include "core/store/email_record.h"
#include "core/store/item_record.h"
#include "core/store/list_records.h"
#include "core/store/query_builder.h"
#include "core/store/sqlite_query.h"
#include "record_tables.h"

namespace libkestrun::internal {
namespace {

// The records bind and read by position, so each table's CREATE text must list exactly the
// record's columns, in tuple order, with the SQL type of each column's C++ type.
TEST(QueryStatements, RecordsAgreeWithTheSchema) {
  const std::vector<std::string> implied = kestrun_test::implied_create_tables();
  ASSERT_EQ(libkestrun::DBContext::create_table_statements.size(), implied.size() + 1);
  for (size_t i = 0; i < implied.size(); ++i)
    EXPECT_EQ(libkestrun::DBContext::create_table_statements[i], implied[i]);
  EXPECT_EQ(implied[1],
            "CREATE TABLE IF NOT EXISTS `KSLIST` ( `LISTID` TEXT, `NAME` TEXT, `LISTCOUNT` INTEGER, "
            "`ORDERKEY` INTEGER, "
            "PRIMARY KEY (LISTID) );");
}

TEST(QueryStatements, UserListTable) {
  using Q = SqliteQuery<UserList>;
  EXPECT_EQ(Q::_build_insert(),
            "INSERT INTO `KSLIST` (`LISTID`, `NAME`, `LISTCOUNT`, `ORDERKEY`) VALUES (?1, ?2, ?3, ?4);");
  EXPECT_EQ(Q::_build_fetch(),
            "SELECT `LISTID`, `NAME`, `LISTCOUNT`, `ORDERKEY` FROM `KSLIST` WHERE `LISTID` = ?1");
  EXPECT_EQ(Q::_build_update(),
            "UPDATE `KSLIST` SET `NAME` = ?2, `LISTCOUNT` = ?3, `ORDERKEY` = ?4 WHERE `LISTID` = ?1;");
  EXPECT_EQ(Q::_build_exists(), "SELECT COUNT(1) FROM `KSLIST` WHERE `LISTID` = ?1 LIMIT 1;");
  EXPECT_EQ(Q::_build_remove(), "DELETE FROM `KSLIST` WHERE `LISTID` = ?1;");
}

TEST(QueryStatements, DraftKeyIsTheSecondColumn) {
  using Q = SqliteQuery<Draft>;
  EXPECT_EQ(Q::_build_exists(), "SELECT COUNT(1) FROM `Draft` WHERE `draft_id` = ?2 LIMIT 1;");
  EXPECT_EQ(Q::_build_update(),
            "UPDATE `Draft` SET `user_id` = ?1, `item_id` = ?3, `created_at` = ?4, `modified_at` = ?5, "
            "`version` = ?6, `base_email_id` = ?7, `type` = ?8, `eventual_email_id` = ?9, `subject` = ?10, "
            "`from` = ?11, `to` = ?12, `cc` = ?13, `bcc` = ?14, `content` = ?15, `plain_content` = ?16, "
            "`is_full_body` = ?17 WHERE `draft_id` = ?2;");
  EXPECT_EQ(Q::_build_remove(), "DELETE FROM `Draft` WHERE `draft_id` = ?2;");
}

TEST(QueryStatements, AllKeyColumnsTable) {
  using Q = SqliteQuery<ToEmails>;
  EXPECT_EQ(
      Q::_build_update(),
      "UPDATE `TOEMAILS` SET `CONTACTID` = ?1, `EMAILID` = ?2 WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2;");
  EXPECT_EQ(Q::_build_exists(),
            "SELECT COUNT(1) FROM `TOEMAILS` WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2 LIMIT 1;");
  EXPECT_EQ(Q::_build_remove(), "DELETE FROM `TOEMAILS` WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2;");
  EXPECT_EQ(Q::_build_fetch(),
            "SELECT `CONTACTID`, `EMAILID` FROM `TOEMAILS` WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2");
  EXPECT_EQ(SqliteQuery<BccEmails>::_build_insert(),
            "INSERT INTO `BCCEMAILS` (`CONTACTID`, `EMAILID`) VALUES (?1, ?2);");
}

TEST(QueryStatements, ItemPlaceholdersFollowColumnPositions) {
  using Q = SqliteQuery<Item>;
  const std::string insert = Q::_build_insert();
  EXPECT_EQ(insert.rfind("`DRAFTIDS`, `THREADHASEMAILS`"), insert.find("`DRAFTIDS`"));
  EXPECT_TRUE(insert.ends_with("?36, ?37, ?38);"));
  const std::string update = Q::_build_update();
  EXPECT_TRUE(update.starts_with("UPDATE `KSITEM` SET `ACCOUNTID` = ?2, "));
  EXPECT_NE(update.find("`MLISTID` = ?16, `MASTERREV` = ?17, "), std::string::npos);
  EXPECT_TRUE(update.ends_with("`TYPE` = ?38 WHERE `ITEMID` = ?1;"));
  EXPECT_EQ(Q::_build_remove(), "DELETE FROM `KSITEM` WHERE `ITEMID` = ?1;");
  EXPECT_EQ(placeholder(ItemAttr::TYPE), "?38");
  EXPECT_EQ(placeholder(DraftAttr::is_full_body), "?17");
}

// The fetch and remove statements the data-model context compiles when it opens its database.
TEST(QueryStatements, AdHocTexts) {
  EXPECT_EQ(
      QueryBuilder<Draft>().select_all().where(DraftAttr::item_id).build(),
      "SELECT `user_id`, `draft_id`, `item_id`, `created_at`, `modified_at`, `version`, `base_email_id`, "
      "`type`, `eventual_email_id`, `subject`, `from`, `to`, `cc`, `bcc`, `content`, `plain_content`, "
      "`is_full_body` FROM `Draft` WHERE `item_id` = ?3");
  const std::pair<std::string, std::string> removes[] = {
      {QueryBuilder<List>().where(ListAttr::LISTID)._build_remove(),
       "DELETE FROM `KSACCOUNTLIST` WHERE `LISTID` = ?1;"},
      {QueryBuilder<Draft>().where(DraftAttr::user_id)._build_remove(),
       "DELETE FROM `Draft` WHERE `user_id` = ?1;"},
      {QueryBuilder<AutoSwipe>().where(AutoSwipeAttr::USERID)._build_remove(),
       "DELETE FROM `KSAUTOSWIPE` WHERE `USERID` = ?11;"},
      {QueryBuilder<ToEmails>().where(ToEmailsAttr::EMAILID)._build_remove(),
       "DELETE FROM `TOEMAILS` WHERE `EMAILID` = ?2;"},
      {QueryBuilder<CcEmails>().where(CcEmailsAttr::EMAILID)._build_remove(),
       "DELETE FROM `CCEMAILS` WHERE `EMAILID` = ?2;"},
      {QueryBuilder<BccEmails>().where(BccEmailsAttr::EMAILID)._build_remove(),
       "DELETE FROM `BCCEMAILS` WHERE `EMAILID` = ?2;"},
      {QueryBuilder<Item>().where(ItemAttr::ACCOUNTID)._build_remove(),
       "DELETE FROM `KSITEM` WHERE `ACCOUNTID` = ?2;"},
      {QueryBuilder<List>().where(ListAttr::ACCOUNTID)._build_remove(),
       "DELETE FROM `KSACCOUNTLIST` WHERE `ACCOUNTID` = ?2;"},
      {QueryBuilder<Email>().where(EmailAttr::ACCOUNTID)._build_remove(),
       "DELETE FROM `KSEMAIL` WHERE `ACCOUNTID` = ?2;"},
  };
  for (const auto& [built, expected] : removes) EXPECT_EQ(built, expected);
}

TEST(QueryStatements, BuilderListsColumnsInColumnOrderOnce) {
  EXPECT_EQ(QueryBuilder<UserList>()
                .select_all()
                .where(UserListAttr::ORDERKEY)
                .where(UserListAttr::LISTID)
                .where(UserListAttr::ORDERKEY)
                .build(),
            "SELECT `LISTID`, `NAME`, `LISTCOUNT`, `ORDERKEY` FROM `KSLIST` WHERE `LISTID` = ?1 AND "
            "`ORDERKEY` = ?4");
  EXPECT_EQ(QueryBuilder<UserList>().select_all().build(),
            "SELECT `LISTID`, `NAME`, `LISTCOUNT`, `ORDERKEY` FROM `KSLIST` ");
  EXPECT_EQ(QueryBuilder<UserList>().where(UserListAttr::NAME).where(UserListAttr::LISTID)._build_remove(),
            "DELETE FROM `KSLIST` WHERE `LISTID` = ?1 AND `NAME` = ?2;");
  EXPECT_THROW(QueryBuilder<UserList>().where(UserListAttr::LISTID).build(), std::out_of_range);
  EXPECT_THROW(QueryBuilder<UserList>().select_all()._build_remove(), std::out_of_range);
  EXPECT_EQ(join({"a"}, ", "), "a");
  EXPECT_EQ(join({"a", "", "b"}, "+"), "a++b");
  EXPECT_THROW(join({}, ", "), std::out_of_range);
}

}  // namespace
}  // namespace libkestrun::internal
