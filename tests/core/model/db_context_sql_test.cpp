// Every fixed statement of the database context: its exact text, and that it compiles and runs
// on a keyed database file.
#include "core/model/db_context_sql.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "core/model/db_context.h"
#include "support/temp_dir.h"

namespace {

using libkestrun::DbSql;

const std::vector<std::pair<DbSql, std::string>>& expected_texts() {
  static const std::vector<std::pair<DbSql, std::string>> kTexts = {
      {DbSql::FetchAccountList, "SELECT * FROM KSACCOUNTLIST WHERE LISTID=?;"},
      {DbSql::AccountListsForAccount, "SELECT * FROM KSACCOUNTLIST WHERE ACCOUNTID=?;"},
      {DbSql::AccountListsForList, "SELECT * FROM KSACCOUNTLIST WHERE MPARENTLISTID=?;"},
      {DbSql::FetchContact, "SELECT * FROM KSCONTACT WHERE CONTACTID=?;"},
      {DbSql::ContactForEmailAddress, "SELECT * FROM KSCONTACT WHERE EMAILADDRESS=? LIMIT 1;"},
      {DbSql::ContactsForEmailAddress, "SELECT * FROM KSCONTACT WHERE EMAILADDRESS=?;"},
      {DbSql::PriorityContacts, "SELECT * FROM KSCONTACT WHERE ISPRIORITYACCESS=1 ORDER BY NAME ASC;"},
      {DbSql::NonPriorityContactsMatching,
       "SELECT * FROM KSCONTACT WHERE ISPRIORITYACCESS=0 AND (EMAILADDRESS LIKE ? OR NAME LIKE ?) ORDER BY "
       "NAME ASC;"},
      {DbSql::ContactsMatching,
       "SELECT * FROM KSCONTACT WHERE EMAILADDRESS LIKE ? OR NAME LIKE ? ORDER BY SCORE DESC;"},
      {DbSql::ContactsByScore, "SELECT * FROM KSCONTACT ORDER BY SCORE DESC;"},
      {DbSql::ToContactsForEmail,
       "SELECT * FROM KSCONTACT WHERE CONTACTID IN (SELECT CONTACTID FROM TOEMAILS WHERE EMAILID=?);"},
      {DbSql::CcContactsForEmail,
       "SELECT * FROM KSCONTACT WHERE CONTACTID IN (SELECT CONTACTID FROM CCEMAILS WHERE EMAILID=?);"},
      {DbSql::BccContactsForEmail,
       "SELECT * FROM KSCONTACT WHERE CONTACTID IN (SELECT CONTACTID FROM BCCEMAILS WHERE EMAILID=?);"},
      {DbSql::EmailsWithBccContact,
       "SELECT * FROM KSEMAIL WHERE EMAILID IN (SELECT EMAILID FROM BCCEMAILS WHERE CONTACTID=?);"},
      {DbSql::EmailsWithCcContact,
       "SELECT * FROM KSEMAIL WHERE EMAILID IN (SELECT EMAILID FROM CCEMAILS WHERE CONTACTID=?);"},
      {DbSql::EmailsWithToContact,
       "SELECT * FROM KSEMAIL WHERE EMAILID IN (SELECT EMAILID FROM TOEMAILS WHERE CONTACTID=?);"},
      {DbSql::EmailsFromContact, "SELECT * FROM KSEMAIL WHERE MFROMID=?;"},
      {DbSql::EmailsWithReplyToContact, "SELECT * FROM KSEMAIL WHERE MREPLYTOID=?;"},
      {DbSql::EmailsWithParentItem, "SELECT * FROM KSEMAIL WHERE PARENTITEMID=?;"},
      {DbSql::EmailsForItem, "SELECT * FROM KSEMAIL WHERE PARENTITEMID=?;"},
      {DbSql::EmailsForAccount, "SELECT * FROM KSEMAIL WHERE ACCOUNTID=?;"},
      {DbSql::EmailsForItemByDate, "SELECT * FROM KSEMAIL WHERE PARENTITEMID=? ORDER BY CREATEDAT ASC;"},
      {DbSql::ItemsInState, "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MASTERREV!=?;"},
      {DbSql::InboxItemsForAccount,
       "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND ACCOUNTID=?;"},
      {DbSql::ItemsForAccount, "SELECT * FROM KSITEM WHERE ACCOUNTID=?;"},
      {DbSql::ListItemsForList,
       "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MLISTID=? AND MASTERREV!=?;"},
      {DbSql::ItemsForAccountList, "SELECT * FROM KSITEM WHERE MACCOUNTLISTID=?;"},
      {DbSql::ItemsWithListIDOnly,
       "SELECT * FROM KSITEM WHERE LISTID=? AND (MLISTID IS NULL OR MLISTID='');"},
      {DbSql::ItemsToPurge, "SELECT * FROM KSITEM WHERE STATE=? OR STATE=? OR MASTERREV=?;"},
      {DbSql::OldestInboxItemForAccount,
       "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND ACCOUNTID=? ORDER BY MODIFIEDAT ASC "
       "LIMIT 1;"},
      {DbSql::NewestItem, "SELECT * FROM KSITEM ORDER BY THREADTIMESTAMP DESC LIMIT 1;"},
      {DbSql::NewestDraftOnlyItem,
       "SELECT * FROM KSITEM WHERE STATE!=? AND STATE!=? AND THREADHASEMAILS=0 AND DRAFTIDS!='[]' ORDER BY "
       "MODIFIEDAT DESC LIMIT 1;"},
      {DbSql::ItemsForList, "SELECT * FROM KSITEM WHERE MLISTID=?;"},
      {DbSql::ItemsForAutoSwipe, "SELECT * FROM KSITEM WHERE MAUTOSWIPEID=?;"},
      {DbSql::ItemsForAutoSwipeByDate, "SELECT * FROM KSITEM WHERE MAUTOSWIPEID=? ORDER BY MODIFIEDAT DESC;"},
      {DbSql::DeviceDeferredItems, "SELECT * FROM KSITEM WHERE STATE=? AND DEFERRALTYPE=? AND SNOOZETYPE=?;"},
      {DbSql::DeviceDeferredItemsForAccount,
       "SELECT * FROM KSITEM WHERE STATE=? AND DEFERRALTYPE=? AND SNOOZETYPE=? AND ACCOUNTID=?;"},
      {DbSql::ItemQuery, "SELECT * FROM KSITEM WHERE ITEMID=?;"},
      {DbSql::CountItems, "SELECT COUNT(*) FROM KSITEM;"},
      {DbSql::CountItemsInState,
       "SELECT COUNT(*) FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MASTERREV!=?;"},
      {DbSql::CountInboxItemsForAccount,
       "SELECT COUNT(*) FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND ACCOUNTID=? AND MASTERREV!=?;"},
      {DbSql::CountUnreadInboxItems,
       "SELECT COUNT(*) FROM KSITEM WHERE STATE=? AND THREADREAD=0 AND THREADHASEMAILS=1 AND MASTERREV!=?;"},
      {DbSql::CountListItems,
       "SELECT COUNT(*) FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MLISTID=? AND MASTERREV!=?;"},
      {DbSql::CountSentItems,
       "SELECT COUNT(*) FROM KSITEM WHERE STATE!=? AND STATE!=? AND MASTERREV!=? AND ITEMID IN (SELECT "
       "PARENTITEMID FROM KSEMAIL WHERE SENT=1 GROUP BY PARENTITEMID);"},
      {DbSql::CountAutoSwipedItems,
       "SELECT COUNT(*) FROM KSITEM WHERE AUTOSWIPESTATE=? AND THREADHASEMAILS=1 AND MASTERREV!=?;"},
      {DbSql::CountItemsWithDrafts,
       "SELECT COUNT(*) FROM KSITEM WHERE STATE!=? AND STATE!=? AND DRAFTIDS!='[]' AND MASTERREV!=?;"},
      {DbSql::FetchList, "SELECT * FROM KSLIST WHERE LISTID=?;"},
      {DbSql::ListsMatchingName, "SELECT * FROM KSLIST WHERE NAME LIKE ?;"},
      {DbSql::FetchAutoSwipe, "SELECT * FROM KSAUTOSWIPE WHERE AUTOSWIPEID=?;"},
      {DbSql::ActiveAutoSwipesForUser,
       "SELECT * FROM KSAUTOSWIPE WHERE STATE=? AND USERID=? ORDER BY COUNT DESC, AUTOSWIPEID DESC;"},
      {DbSql::OrphanAutoSwipes,
       "SELECT * FROM KSAUTOSWIPE WHERE AUTOSWIPEID NOT IN (SELECT MAUTOSWIPEID FROM KSITEM);"},
      {DbSql::SearchActiveAutoSwipes,
       "SELECT * FROM KSAUTOSWIPE WHERE STATE=? AND USERID=? AND (AUXILIARYINFO LIKE ? OR VALUE LIKE ?) "
       "ORDER BY COUNT DESC, AUTOSWIPEID DESC;"},
      {DbSql::InboxItemsModifiedSince,
       "SELECT * FROM KSITEM WHERE STATE=? AND MODIFIEDAT>=? AND THREADHASEMAILS=1 AND MASTERREV!=? ORDER BY "
       "MODIFIEDAT DESC;"},
      {DbSql::UnreadInboxItemsModifiedAfter,
       "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND ( THREADREAD=0 OR DEFERREAD=0 ) AND "
       "MODIFIEDAT>? AND MASTERREV!=? ORDER BY MODIFIEDAT DESC;"},
      {DbSql::InboxItems,
       "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MASTERREV!=? ORDER BY MODIFIEDAT DESC "
       "LIMIT ?;"},
      {DbSql::LaterItems,
       "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MASTERREV!=? ORDER BY DEFERRALBUCKET "
       "ASC, REMINDAT ASC, ITEMID ASC;"},
      {DbSql::ArchiveItemsSince,
       "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MODIFIEDAT>=? AND MASTERREV!=? ORDER BY "
       "MODIFIEDAT DESC, ITEMID ASC;"},
      {DbSql::InboxItemsSince,
       "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MODIFIEDAT>=? AND MASTERREV!=? ORDER BY "
       "MODIFIEDAT DESC, ITEMID ASC;"},
      {DbSql::ListItemsSinceForList,
       "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MODIFIEDAT>=? AND MLISTID=? AND "
       "MASTERREV!=? ORDER BY MODIFIEDAT DESC, ITEMID ASC;"},
      {DbSql::ListItemsSince,
       "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MODIFIEDAT>=? AND MASTERREV!=? ORDER BY "
       "MODIFIEDAT DESC, ITEMID ASC;"},
      {DbSql::InboxItemsSinceForAccount,
       "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MODIFIEDAT>=? AND ACCOUNTID=? AND "
       "MASTERREV!=? ORDER BY MODIFIEDAT DESC, ITEMID ASC;"},
      {DbSql::SentItemsSince,
       "SELECT * FROM KSITEM WHERE STATE!=? AND STATE!=? AND MODIFIEDAT>=? AND MASTERREV!=? AND ITEMID IN "
       "(SELECT PARENTITEMID FROM KSEMAIL WHERE SENT=1 GROUP BY PARENTITEMID) ORDER BY MODIFIEDAT "
       "DESC, ITEMID ASC;"},
      {DbSql::AutoSwipedItemsSince,
       "SELECT * FROM KSITEM WHERE AUTOSWIPESTATE=? AND EMAILCOUNT > 0 AND MODIFIEDAT>=? AND MASTERREV!=? "
       "ORDER BY MODIFIEDAT DESC, ITEMID ASC;"},
      {DbSql::ItemsWithDraftsSince,
       "SELECT * FROM KSITEM WHERE STATE!=? AND STATE!=? AND DRAFTIDS!='[]' AND MODIFIEDAT>=? AND "
       "MASTERREV!=? ORDER BY MODIFIEDAT DESC, ITEMID ASC;"},
      {DbSql::TrashItems,
       "SELECT * FROM KSITEM WHERE STATE=? AND EMAILCOUNT > 0 AND MASTERREV!=? ORDER BY MODIFIEDAT DESC, "
       "ITEMID ASC;"},
      {DbSql::SpamItems,
       "SELECT * FROM KSITEM WHERE STATE=? AND EMAILCOUNT > 0 AND MASTERREV!=? ORDER BY MODIFIEDAT DESC, "
       "ITEMID ASC;"},
      {DbSql::Lists, "SELECT * FROM KSLIST ORDER BY ORDERKEY ASC;"},
      {DbSql::NonEmptyLists, "SELECT * FROM KSLIST WHERE LISTCOUNT > 0 ORDER BY ORDERKEY ASC;"},
      {DbSql::ListsMatchingNameQuery, "SELECT * FROM KSLIST WHERE NAME LIKE ? ORDER BY ORDERKEY ASC;"},
      {DbSql::QuickSearch,
       "SELECT * FROM KSITEM WHERE STATE!=? AND STATE!=? AND STATE!=? AND STATE!=? AND (SUBJECT LIKE ? OR "
       "THREADRECEIVERS LIKE ? OR THREADSENDERS LIKE ?) ORDER BY MODIFIEDAT DESC LIMIT ?;"},
      {DbSql::QuickSearchForAccount,
       "SELECT * FROM KSITEM WHERE ACCOUNTID=? AND STATE!=? AND STATE!=? AND STATE!=? AND STATE!=? AND "
       "(SUBJECT LIKE ? OR THREADRECEIVERS LIKE ? OR THREADSENDERS LIKE ?) ORDER BY MODIFIEDAT DESC LIMIT "
       "?;"},
      {DbSql::FullSearch,
       "SELECT * FROM KSITEM WHERE STATE!=? AND STATE!=? AND STATE!=? AND STATE!=? AND (SUBJECT LIKE ? OR "
       "THREADRECEIVERS LIKE ? OR THREADSENDERS LIKE ? OR ITEMID IN (SELECT PARENTITEMID FROM KSEMAIL WHERE "
       "CONVERSATION LIKE ? OR (HASFULLBODY=1 AND FULLBODY LIKE ?))) ORDER BY MODIFIEDAT DESC LIMIT ?;"},
      {DbSql::FullSearchForAccount,
       "SELECT * FROM KSITEM WHERE ACCOUNTID=? AND STATE!=? AND STATE!=? AND STATE!=? AND STATE!=? AND "
       "(SUBJECT LIKE ? OR THREADRECEIVERS LIKE ? OR THREADSENDERS LIKE ? OR ITEMID IN (SELECT PARENTITEMID "
       "FROM KSEMAIL WHERE CONVERSATION LIKE ? OR (HASFULLBODY=1 AND FULLBODY LIKE ?))) ORDER BY MODIFIEDAT "
       "DESC LIMIT ?;"},
      {DbSql::ItemSavedTimes, "SELECT SAVEDAT, ITEMID FROM KSITEM WHERE ACCOUNTID=? AND SAVEDAT>?;"},
      {DbSql::EmailSavedTimes, "SELECT SAVEDAT, EMAILID FROM KSEMAIL WHERE ACCOUNTID=? AND SAVEDAT>?;"},
      {DbSql::AccountListSavedTimes,
       "SELECT SAVEDAT, LISTID FROM KSACCOUNTLIST WHERE ACCOUNTID=? AND SAVEDAT>?;"},
  };
  return kTexts;
}

TEST(DbContextSqlTest, EveryTextIsExactAndRunsOnAKeyedDatabase) {
  kestrun_test::TempDir dir;
  const std::string path = dir.file("kestrun.db");
  const std::string key = "0123456789abcdef0123456789ABCDEF";
  DBContext::check_schema_version(path, false, key, [] {});
  CppSQLite3DB db;
  db.open(path.c_str());
  DBContext::set_key(db, key);

  const auto& texts = libkestrun::db_sql_texts();
  ASSERT_EQ(texts.size(), expected_texts().size());
  for (size_t i = 0; i < texts.size(); ++i) {
    const auto& [id, sql] = expected_texts()[i];
    SCOPED_TRACE(sql);
    EXPECT_EQ(texts[i].id, id);
    EXPECT_EQ(static_cast<size_t>(texts[i].id), i);
    EXPECT_EQ(texts[i].sql, sql);
    // Every statement compiles and runs with each placeholder bound (LIMIT refuses NULL).
    CppSQLite3Statement statement = db.compileStatement(texts[i].sql);
    const auto placeholders = std::count(sql.begin(), sql.end(), '?');
    for (int p = 1; p <= placeholders; ++p) statement.bind(p, 1);
    EXPECT_NO_THROW(statement.execQuery());
  }

  // The context itself prepares them all over the keyed connection.
  DBContext context;
  EXPECT_NO_THROW(context.open(path, key));
}

}  // namespace
