// The result sets of the folder views, the ordered user lists, the local item searches and the
// save times that a snapshot request sends.
#include <algorithm>
#include <mutex>

#include "core/model/db_context.h"
#include "core/model/db_context_bind.h"
#include "core/model/ks_item.h"
#include "core/model/ks_list.h"
#include "core/store/statement_reset.h"

using libkestrun::bind_values;
using libkestrun::DbSql;
using libkestrun::ItemState;

namespace {

constexpr int64_t kSearchOnly = KSItem::kSearchOnlyMasterRev;
constexpr int kQuickSearchLimit = 15;
constexpr int kFullSearchLimit = 25;

// The text up to its last character that is not a newline (all of it when there is none), so
// that a search typed with Return matches the same items as one without.
std::string without_trailing_newlines(const std::string& text) {
  const size_t last = text.find_last_not_of('\n');
  return last == std::string::npos ? text : text.substr(0, last + 1);
}

}  // namespace

KSObjects<KSItem> DBContext::inboxItemsModifiedSince(int64_t time) {
  return fetchObjects<KSItem>(
      "KSITEM", bind_values(sql(DbSql::InboxItemsModifiedSince), ItemState::Inbox, time, kSearchOnly));
}
KSObjects<KSItem> DBContext::unreadInboxItemsModifiedAfter(int64_t time) {
  return fetchObjects<KSItem>(
      "KSITEM", bind_values(sql(DbSql::UnreadInboxItemsModifiedAfter), ItemState::Inbox, time, kSearchOnly));
}
KSObjects<KSItem> DBContext::inboxItems(int limit) {
  return fetchObjects<KSItem>("KSITEM",
                              bind_values(sql(DbSql::InboxItems), ItemState::Inbox, kSearchOnly, limit));
}
KSQueryRows DBContext::laterItemsQuery() {
  return fetchObjects<KestrunObject>("KSITEM",
                                     bind_values(sql(DbSql::LaterItems), ItemState::Later, kSearchOnly));
}
KSQueryRows DBContext::archiveItemsSinceQuery(int64_t time) {
  return fetchObjects<KestrunObject>(
      "KSITEM", bind_values(sql(DbSql::ArchiveItemsSince), ItemState::Archive, time, kSearchOnly));
}
KSQueryRows DBContext::inboxItemsSinceQuery(int64_t time) {
  return fetchObjects<KestrunObject>(
      "KSITEM", bind_values(sql(DbSql::InboxItemsSince), ItemState::Inbox, time, kSearchOnly));
}
KSQueryRows DBContext::listItemsSinceQuery(int64_t time, const std::string& listID) {
  if (listID.empty()) {
    return fetchObjects<KestrunObject>(
        "KSITEM", bind_values(sql(DbSql::ListItemsSince), ItemState::List, time, kSearchOnly));
  }
  return fetchObjects<KestrunObject>(
      "KSITEM", bind_values(sql(DbSql::ListItemsSinceForList), ItemState::List, time, listID, kSearchOnly));
}
KSQueryRows DBContext::inboxItemsSinceForAccountQuery(int64_t time, const std::string& accountID) {
  return fetchObjects<KestrunObject>("KSITEM", bind_values(sql(DbSql::InboxItemsSinceForAccount),
                                                           ItemState::Inbox, time, accountID, kSearchOnly));
}
KSQueryRows DBContext::sentItemsSinceQuery(int64_t time) {
  return fetchObjects<KestrunObject>("KSITEM", bind_values(sql(DbSql::SentItemsSince), ItemState::Deleted,
                                                           ItemState::ServerHidden, time, kSearchOnly));
}
KSQueryRows DBContext::autoSwipedItemsSinceQuery(int64_t time) {
  return fetchObjects<KestrunObject>(
      "KSITEM", bind_values(sql(DbSql::AutoSwipedItemsSince), libkestrun::AutoSwipeRuleState::Active, time,
                            kSearchOnly));
}
KSQueryRows DBContext::itemsWithDraftsSinceQuery(int64_t time) {
  return fetchObjects<KestrunObject>(
      "KSITEM", bind_values(sql(DbSql::ItemsWithDraftsSince), ItemState::Deleted, ItemState::ServerHidden,
                            time, kSearchOnly));
}
KSQueryRows DBContext::trashItemsQuery() {
  return fetchObjects<KestrunObject>("KSITEM",
                                     bind_values(sql(DbSql::TrashItems), ItemState::Trash, kSearchOnly));
}
KSQueryRows DBContext::spamItemsQuery() {
  return fetchObjects<KestrunObject>("KSITEM",
                                     bind_values(sql(DbSql::SpamItems), ItemState::Spam, kSearchOnly));
}

// The statement orders by ORDERKEY; the list order also breaks its ties.
KSQueryRows DBContext::listsQuery() {
  KSQueryRows rows = fetchObjects<KestrunObject>("KSLIST", sql(DbSql::Lists));
  std::sort(rows->begin(), rows->end(), KSList::OrderKeyAsc);
  return rows;
}
KSObjects<KSList> DBContext::lists() {
  KSObjects<KSList> lists = fetchObjects<KSList>("KSLIST", sql(DbSql::Lists));
  std::sort(lists->begin(), lists->end(), [](const auto& a, const auto& b) { return KSList::OrderKeyAsc(a, b); });
  return lists;
}
KSQueryRows DBContext::nonEmptyListsQuery() {
  KSQueryRows rows = fetchObjects<KestrunObject>("KSLIST", sql(DbSql::NonEmptyLists));
  std::sort(rows->begin(), rows->end(), KSList::OrderKeyAsc);
  return rows;
}
KSQueryRows DBContext::listsMatchingNameQuery(const std::string& text) {
  return fetchObjects<KestrunObject>(
      "KSLIST", bind_values(sql(DbSql::ListsMatchingNameQuery), libkestrun::like_pattern(text)));
}

KSQueryRows DBContext::searchItems(DbSql all, DbSql forAccount, const std::string& pattern,
                                   const std::string& accountID, int likes, int limit) {
  CppSQLite3Statement& statement = sql(accountID.empty() ? all : forAccount);
  int index = 0;
  if (!accountID.empty()) libkestrun::internal::bind_text(statement, ++index, accountID);
  for (ItemState excluded :
       {ItemState::Trash, ItemState::Spam, ItemState::Deleted, ItemState::ServerHidden}) {
    statement.bind(++index, static_cast<int>(excluded));
  }
  for (int i = 0; i < likes; ++i) libkestrun::internal::bind_text(statement, ++index, pattern);
  statement.bind(++index, limit);
  return fetchObjects<KestrunObject>("KSITEM", statement);
}

KSQueryRows DBContext::quickSearchItems(const std::string& text, const std::string& accountID) {
  return searchItems(DbSql::QuickSearch, DbSql::QuickSearchForAccount,
                     libkestrun::like_pattern(without_trailing_newlines(text)), accountID, 3,
                     kQuickSearchLimit);
}

KSQueryRows DBContext::fullSearchItems(const std::string& text, const std::string& accountID) {
  return searchItems(DbSql::FullSearch, DbSql::FullSearchForAccount, libkestrun::like_pattern(text),
                     accountID, 5, kFullSearchLimit);
}

DBContext::SavedTimes DBContext::savedTimes(CppSQLite3Statement& statement, const std::string& accountID,
                                            int64_t since, int limit) {
  std::lock_guard<std::mutex> lock(mutex_);
  bind_values(statement, accountID, since);
  libkestrun::internal::ResetOnUnwind unwind(statement);
  SavedTimes times;
  {
    CppSQLite3Query query = statement.execQuery();
    // The statements select SAVEDAT first; the column's name decides, so that a statement that
    // selects the id first reads right as well.
    const bool savedFirst = std::string(query.fieldName(0)) == "SAVEDAT";
    const int idColumn = savedFirst ? 1 : 0;
    const int savedColumn = savedFirst ? 0 : 1;
    for (int read = 0; !query.eof() && read < limit; ++read, query.nextRow()) {
      times.emplace(query.getStringField(idColumn, ""),
                    static_cast<uint64_t>(query.getInt64Field(savedColumn, 0)));
    }
  }
  statement.reset();
  return times;
}

DBContext::SavedTimes DBContext::itemSavedTimesSince(const std::string& accountID, int64_t since, int limit) {
  return savedTimes(sql(DbSql::ItemSavedTimes), accountID, since, limit);
}
DBContext::SavedTimes DBContext::emailSavedTimesSince(const std::string& accountID, int64_t since,
                                                      int limit) {
  return savedTimes(sql(DbSql::EmailSavedTimes), accountID, since, limit);
}
DBContext::SavedTimes DBContext::accountListSavedTimesSince(const std::string& accountID, int64_t since,
                                                            int limit) {
  return savedTimes(sql(DbSql::AccountListSavedTimes), accountID, since, limit);
}
