// The statement texts, byte for byte: every name quoted, every value a placeholder whose number is
// the column's position plus one.
#include <gtest/gtest.h>

#include <array>
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
  ASSERT_EQ(libkestrun::SqlSchema::create_table_statements.size(), implied.size() + 1);
  for (size_t i = 0; i < implied.size(); ++i)
    EXPECT_EQ(libkestrun::SqlSchema::create_table_statements[i], implied[i]);
  EXPECT_EQ(implied[1],
            "CREATE TABLE IF NOT EXISTS `KSLIST` ( `LISTID` TEXT, `NAME` TEXT, `LISTCOUNT` INTEGER, "
            "`ORDERKEY` INTEGER, "
            "PRIMARY KEY (LISTID) );");
}

// The five texts of a table: insert, fetch, update, exists, remove.
template <class Row>
std::array<std::string, 5> texts() {
  using Q = SqliteQuery<Row>;
  return {Q::_build_insert(), Q::_build_fetch(), Q::_build_update(), Q::_build_exists(), Q::_build_remove()};
}

// Every table's five texts as its columns give them, byte for byte. The shapes that differ: the
// draft's key is its second column (?2, and the SET list runs ?1, ?3 to ?17), and a link table,
// whose columns are all key columns, sets its key columns to themselves.
TEST(QueryStatements, EveryTableTextByteForByte) {
  struct Case {
    std::array<std::string, 5> built;
    std::array<const char*, 5> expected;
  };
  const Case cases[] = {
      {texts<Item>(),
       {"INSERT INTO `KSITEM` (`ITEMID`, `ACCOUNTID`, `AGGREGATECONVO`, `AUTOSWIPEFIELD`, "
        "`AUTOSWIPEITEMSTATE`, `AUTOSWIPESTATE`, `CREATEDAT`, `DEFERRALBUCKET`, `DEFERRALTYPE`, `DEFERREAD`, "
        "`EMAILCOUNT`, `LISTID`, `LOADEDONCE`, `MACCOUNTLISTID`, `MAUTOSWIPEID`, `MLISTID`, `MASTERREV`, "
        "`MODIFIEDAT`, `PREVIOUSSTATE`, `REMINDAT`, `SAVEDAT`, `SNOOZETYPE`, `STATE`, `SUBJECT`, `SYNCDATA`, "
        "`THREADHASATTACHMENTS`, `DRAFTIDS`, `THREADHASEMAILS`, `THREADPREVIEW`, `THREADREAD`, "
        "`THREADRECEIVERS`, `THREADSTARRED`, `THREADSTARREDCOUNT`, `THREADTIMESTAMP`, `THREADUNREADCOUNT`, "
        "`THREADUNSENTCOUNT`, `THREADSENDERS`, `TYPE`) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, "
        "?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, ?22, ?23, ?24, ?25, ?26, ?27, ?28, ?29, ?30, ?31, "
        "?32, ?33, ?34, ?35, ?36, ?37, ?38);",
        "SELECT `ITEMID`, `ACCOUNTID`, `AGGREGATECONVO`, `AUTOSWIPEFIELD`, `AUTOSWIPEITEMSTATE`, "
        "`AUTOSWIPESTATE`, `CREATEDAT`, `DEFERRALBUCKET`, `DEFERRALTYPE`, `DEFERREAD`, `EMAILCOUNT`, "
        "`LISTID`, `LOADEDONCE`, `MACCOUNTLISTID`, `MAUTOSWIPEID`, `MLISTID`, `MASTERREV`, `MODIFIEDAT`, "
        "`PREVIOUSSTATE`, `REMINDAT`, `SAVEDAT`, `SNOOZETYPE`, `STATE`, `SUBJECT`, `SYNCDATA`, "
        "`THREADHASATTACHMENTS`, `DRAFTIDS`, `THREADHASEMAILS`, `THREADPREVIEW`, `THREADREAD`, "
        "`THREADRECEIVERS`, `THREADSTARRED`, `THREADSTARREDCOUNT`, `THREADTIMESTAMP`, `THREADUNREADCOUNT`, "
        "`THREADUNSENTCOUNT`, `THREADSENDERS`, `TYPE` FROM `KSITEM` WHERE `ITEMID` = ?1",
        "UPDATE `KSITEM` SET `ACCOUNTID` = ?2, `AGGREGATECONVO` = ?3, `AUTOSWIPEFIELD` = ?4, "
        "`AUTOSWIPEITEMSTATE` = ?5, `AUTOSWIPESTATE` = ?6, `CREATEDAT` = ?7, `DEFERRALBUCKET` = ?8, "
        "`DEFERRALTYPE` = ?9, `DEFERREAD` = ?10, `EMAILCOUNT` = ?11, `LISTID` = ?12, `LOADEDONCE` = ?13, "
        "`MACCOUNTLISTID` = ?14, `MAUTOSWIPEID` = ?15, `MLISTID` = ?16, `MASTERREV` = ?17, `MODIFIEDAT` = "
        "?18, `PREVIOUSSTATE` = ?19, `REMINDAT` = ?20, `SAVEDAT` = ?21, `SNOOZETYPE` = ?22, `STATE` = ?23, "
        "`SUBJECT` = ?24, `SYNCDATA` = ?25, `THREADHASATTACHMENTS` = ?26, `DRAFTIDS` = ?27, "
        "`THREADHASEMAILS` = ?28, `THREADPREVIEW` = ?29, `THREADREAD` = ?30, `THREADRECEIVERS` = ?31, "
        "`THREADSTARRED` = ?32, `THREADSTARREDCOUNT` = ?33, `THREADTIMESTAMP` = ?34, `THREADUNREADCOUNT` = "
        "?35, `THREADUNSENTCOUNT` = ?36, `THREADSENDERS` = ?37, `TYPE` = ?38 WHERE `ITEMID` = ?1;",
        "SELECT COUNT(1) FROM `KSITEM` WHERE `ITEMID` = ?1 LIMIT 1;",
        "DELETE FROM `KSITEM` WHERE `ITEMID` = ?1;"}},
      {texts<Email>(),
       {"INSERT INTO `KSEMAIL` (`EMAILID`, `ACCOUNTID`, `BADCONVO`, `BADCONVOREASON`, `CONVERSATION`, "
        "`CONVERSATIONISHTML`, `CREATEDAT`, `FULLBODY`, `FULLBODYISHTML`, `FULLCONVERSATION`, "
        "`HASATTACHMENTS`, `HASFULLBODY`, `LOADEDONCE`, `MREPLYTOID`, `MFROMID`, `PARENTITEMID`, `PREVIEW`, "
        "`READ`, `SAVEDAT`, `SENDSTATE`, `SENT`, `SERVERSTYLINGS`, `STARRED`, `SUBJECT`, `SYNCDATA`) VALUES "
        "(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18, ?19, ?20, ?21, "
        "?22, ?23, ?24, ?25);",
        "SELECT `EMAILID`, `ACCOUNTID`, `BADCONVO`, `BADCONVOREASON`, `CONVERSATION`, `CONVERSATIONISHTML`, "
        "`CREATEDAT`, `FULLBODY`, `FULLBODYISHTML`, `FULLCONVERSATION`, `HASATTACHMENTS`, `HASFULLBODY`, "
        "`LOADEDONCE`, `MREPLYTOID`, `MFROMID`, `PARENTITEMID`, `PREVIEW`, `READ`, `SAVEDAT`, `SENDSTATE`, "
        "`SENT`, `SERVERSTYLINGS`, `STARRED`, `SUBJECT`, `SYNCDATA` FROM `KSEMAIL` WHERE `EMAILID` = ?1",
        "UPDATE `KSEMAIL` SET `ACCOUNTID` = ?2, `BADCONVO` = ?3, `BADCONVOREASON` = ?4, `CONVERSATION` = ?5, "
        "`CONVERSATIONISHTML` = ?6, `CREATEDAT` = ?7, `FULLBODY` = ?8, `FULLBODYISHTML` = ?9, "
        "`FULLCONVERSATION` = ?10, `HASATTACHMENTS` = ?11, `HASFULLBODY` = ?12, `LOADEDONCE` = ?13, "
        "`MREPLYTOID` = ?14, `MFROMID` = ?15, `PARENTITEMID` = ?16, `PREVIEW` = ?17, `READ` = ?18, `SAVEDAT` "
        "= ?19, `SENDSTATE` = ?20, `SENT` = ?21, `SERVERSTYLINGS` = ?22, `STARRED` = ?23, `SUBJECT` = ?24, "
        "`SYNCDATA` = ?25 WHERE `EMAILID` = ?1;",
        "SELECT COUNT(1) FROM `KSEMAIL` WHERE `EMAILID` = ?1 LIMIT 1;",
        "DELETE FROM `KSEMAIL` WHERE `EMAILID` = ?1;"}},
      {texts<ToEmails>(),
       {"INSERT INTO `TOEMAILS` (`CONTACTID`, `EMAILID`) VALUES (?1, ?2);",
        "SELECT `CONTACTID`, `EMAILID` FROM `TOEMAILS` WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2",
        "UPDATE `TOEMAILS` SET `CONTACTID` = ?1, `EMAILID` = ?2 WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2;",
        "SELECT COUNT(1) FROM `TOEMAILS` WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2 LIMIT 1;",
        "DELETE FROM `TOEMAILS` WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2;"}},
      {texts<CcEmails>(),
       {"INSERT INTO `CCEMAILS` (`CONTACTID`, `EMAILID`) VALUES (?1, ?2);",
        "SELECT `CONTACTID`, `EMAILID` FROM `CCEMAILS` WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2",
        "UPDATE `CCEMAILS` SET `CONTACTID` = ?1, `EMAILID` = ?2 WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2;",
        "SELECT COUNT(1) FROM `CCEMAILS` WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2 LIMIT 1;",
        "DELETE FROM `CCEMAILS` WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2;"}},
      {texts<BccEmails>(),
       {"INSERT INTO `BCCEMAILS` (`CONTACTID`, `EMAILID`) VALUES (?1, ?2);",
        "SELECT `CONTACTID`, `EMAILID` FROM `BCCEMAILS` WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2",
        "UPDATE `BCCEMAILS` SET `CONTACTID` = ?1, `EMAILID` = ?2 WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2;",
        "SELECT COUNT(1) FROM `BCCEMAILS` WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2 LIMIT 1;",
        "DELETE FROM `BCCEMAILS` WHERE `CONTACTID` = ?1 AND `EMAILID` = ?2;"}},
      {texts<Draft>(),
       {"INSERT INTO `Draft` (`user_id`, `draft_id`, `item_id`, `created_at`, `modified_at`, `version`, "
        "`base_email_id`, `type`, `eventual_email_id`, `subject`, `from`, `to`, `cc`, `bcc`, `content`, "
        "`plain_content`, `is_full_body`) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, "
        "?14, ?15, ?16, ?17);",
        "SELECT `user_id`, `draft_id`, `item_id`, `created_at`, `modified_at`, `version`, `base_email_id`, "
        "`type`, `eventual_email_id`, `subject`, `from`, `to`, `cc`, `bcc`, `content`, `plain_content`, "
        "`is_full_body` FROM `Draft` WHERE `draft_id` = ?2",
        "UPDATE `Draft` SET `user_id` = ?1, `item_id` = ?3, `created_at` = ?4, `modified_at` = ?5, `version` "
        "= ?6, `base_email_id` = ?7, `type` = ?8, `eventual_email_id` = ?9, `subject` = ?10, `from` = ?11, "
        "`to` = ?12, `cc` = ?13, `bcc` = ?14, `content` = ?15, `plain_content` = ?16, `is_full_body` = ?17 "
        "WHERE `draft_id` = ?2;",
        "SELECT COUNT(1) FROM `Draft` WHERE `draft_id` = ?2 LIMIT 1;",
        "DELETE FROM `Draft` WHERE `draft_id` = ?2;"}},
      {texts<AutoSwipe>(),
       {"INSERT INTO `KSAUTOSWIPE` (`AUTOSWIPEID`, `AUXILIARYINFO`, `COUNT`, `DEFERRALDATA`, `DEFERRALTYPE`, "
        "`FIELD`, `ITEMSTATE`, `LASTACTIONAT`, `LISTNAME`, `STATE`, `USERID`, `VALUE`) VALUES (?1, ?2, ?3, "
        "?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12);",
        "SELECT `AUTOSWIPEID`, `AUXILIARYINFO`, `COUNT`, `DEFERRALDATA`, `DEFERRALTYPE`, `FIELD`, "
        "`ITEMSTATE`, `LASTACTIONAT`, `LISTNAME`, `STATE`, `USERID`, `VALUE` FROM `KSAUTOSWIPE` WHERE "
        "`AUTOSWIPEID` = ?1",
        "UPDATE `KSAUTOSWIPE` SET `AUXILIARYINFO` = ?2, `COUNT` = ?3, `DEFERRALDATA` = ?4, `DEFERRALTYPE` = "
        "?5, `FIELD` = ?6, `ITEMSTATE` = ?7, `LASTACTIONAT` = ?8, `LISTNAME` = ?9, `STATE` = ?10, `USERID` = "
        "?11, `VALUE` = ?12 WHERE `AUTOSWIPEID` = ?1;",
        "SELECT COUNT(1) FROM `KSAUTOSWIPE` WHERE `AUTOSWIPEID` = ?1 LIMIT 1;",
        "DELETE FROM `KSAUTOSWIPE` WHERE `AUTOSWIPEID` = ?1;"}},
      {texts<List>(),
       {"INSERT INTO `KSACCOUNTLIST` (`LISTID`, `ACCOUNTID`, `CREATEDAT`, `LOADEDONCE`, `MPARENTLISTID`, "
        "`NAME`, `SAVEDAT`, `SYNCDATA`) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8);",
        "SELECT `LISTID`, `ACCOUNTID`, `CREATEDAT`, `LOADEDONCE`, `MPARENTLISTID`, `NAME`, `SAVEDAT`, "
        "`SYNCDATA` FROM `KSACCOUNTLIST` WHERE `LISTID` = ?1",
        "UPDATE `KSACCOUNTLIST` SET `ACCOUNTID` = ?2, `CREATEDAT` = ?3, `LOADEDONCE` = ?4, `MPARENTLISTID` = "
        "?5, `NAME` = ?6, `SAVEDAT` = ?7, `SYNCDATA` = ?8 WHERE `LISTID` = ?1;",
        "SELECT COUNT(1) FROM `KSACCOUNTLIST` WHERE `LISTID` = ?1 LIMIT 1;",
        "DELETE FROM `KSACCOUNTLIST` WHERE `LISTID` = ?1;"}},
      {texts<UserList>(),
       {"INSERT INTO `KSLIST` (`LISTID`, `NAME`, `LISTCOUNT`, `ORDERKEY`) VALUES (?1, ?2, ?3, ?4);",
        "SELECT `LISTID`, `NAME`, `LISTCOUNT`, `ORDERKEY` FROM `KSLIST` WHERE `LISTID` = ?1",
        "UPDATE `KSLIST` SET `NAME` = ?2, `LISTCOUNT` = ?3, `ORDERKEY` = ?4 WHERE `LISTID` = ?1;",
        "SELECT COUNT(1) FROM `KSLIST` WHERE `LISTID` = ?1 LIMIT 1;",
        "DELETE FROM `KSLIST` WHERE `LISTID` = ?1;"}},
      {texts<LocalContact>(),
       {"INSERT INTO `KSCONTACT` (`CONTACTID`, `EMAILADDRESS`, `FULLDISPLAYNAME`, `ISPRIORITYACCESS`, "
        "`NAME`, `SCORE`, `SHORTDISPLAYNAME`) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7);",
        "SELECT `CONTACTID`, `EMAILADDRESS`, `FULLDISPLAYNAME`, `ISPRIORITYACCESS`, `NAME`, `SCORE`, "
        "`SHORTDISPLAYNAME` FROM `KSCONTACT` WHERE `CONTACTID` = ?1",
        "UPDATE `KSCONTACT` SET `EMAILADDRESS` = ?2, `FULLDISPLAYNAME` = ?3, `ISPRIORITYACCESS` = ?4, `NAME` "
        "= ?5, `SCORE` = ?6, `SHORTDISPLAYNAME` = ?7 WHERE `CONTACTID` = ?1;",
        "SELECT COUNT(1) FROM `KSCONTACT` WHERE `CONTACTID` = ?1 LIMIT 1;",
        "DELETE FROM `KSCONTACT` WHERE `CONTACTID` = ?1;"}},
  };
  const char* const kinds[] = {"insert", "fetch", "update", "exists", "remove"};
  for (const Case& c : cases) {
    for (size_t i = 0; i < c.built.size(); ++i) EXPECT_EQ(c.built[i], c.expected[i]) << kinds[i];
  }
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
