// The fixed SQL of the database context: every statement it runs besides the key operations of
// its row queries and its removals by column, named after the operation that runs it. The texts
// are part of the store's format as much as the schema is (their conditions and orders decide
// what each folder shows), so they live in one table that the context compiles at open and the
// tests read.
#pragma once

#include <array>
#include <cstddef>

namespace libkestrun {

enum class DbSql : int {
  FetchAccountList,
  AccountListsForAccount,
  AccountListsForList,
  FetchContact,
  ContactForEmailAddress,
  ContactsForEmailAddress,
  PriorityContacts,
  NonPriorityContactsMatching,
  ContactsMatching,
  ContactsByScore,
  ToContactsForEmail,
  CcContactsForEmail,
  BccContactsForEmail,
  EmailsWithBccContact,
  EmailsWithCcContact,
  EmailsWithToContact,
  EmailsFromContact,
  EmailsWithReplyToContact,
  EmailsWithParentItem,
  EmailsForItem,
  EmailsForAccount,
  EmailsForItemByDate,
  ItemsInState,
  InboxItemsForAccount,
  ItemsForAccount,
  ListItemsForList,
  ItemsForAccountList,
  ItemsWithListIDOnly,
  ItemsToPurge,
  OldestInboxItemForAccount,
  NewestItem,
  NewestDraftOnlyItem,
  ItemsForList,
  ItemsForAutoSwipe,
  ItemsForAutoSwipeByDate,
  DeviceDeferredItems,
  DeviceDeferredItemsForAccount,
  ItemQuery,
  CountItems,
  CountItemsInState,
  CountInboxItemsForAccount,
  CountUnreadInboxItems,
  CountListItems,
  CountSentItems,
  CountAutoSwipedItems,
  CountItemsWithDrafts,
  FetchList,
  ListsMatchingName,
  FetchAutoSwipe,
  ActiveAutoSwipesForUser,
  OrphanAutoSwipes,
  SearchActiveAutoSwipes,
  InboxItemsModifiedSince,
  UnreadInboxItemsModifiedAfter,
  InboxItems,
  LaterItems,
  ArchiveItemsSince,
  InboxItemsSince,
  ListItemsSinceForList,
  ListItemsSince,
  InboxItemsSinceForAccount,
  SentItemsSince,
  AutoSwipedItemsSince,
  ItemsWithDraftsSince,
  TrashItems,
  SpamItems,
  Lists,
  NonEmptyLists,
  ListsMatchingNameQuery,
  QuickSearch,
  QuickSearchForAccount,
  FullSearch,
  FullSearchForAccount,
  ItemSavedTimes,
  EmailSavedTimes,
  AccountListSavedTimes,
};

inline constexpr size_t kDbSqlCount = static_cast<size_t>(DbSql::AccountListSavedTimes) + 1;

struct DbSqlText {
  DbSql id;
  const char* sql;
};

// One entry per statement, in enumerator order. Some texts appear twice: each operation keeps a
// statement of its own.
const std::array<DbSqlText, kDbSqlCount>& db_sql_texts();

}  // namespace libkestrun
