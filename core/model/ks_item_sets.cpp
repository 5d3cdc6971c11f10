// The item folders, counts and page boundaries. Most forward to one operation of the context;
// the fetch by ids and the page boundaries compile their own statement per call, since their
// text depends on the argument.
#include <algorithm>
#include <string>

#include "core/model/db_context.h"
#include "core/model/db_context_bind.h"
#include "core/model/ks_item.h"

using libkestrun::ItemState;

namespace {

// Ids bound to one statement at most; SQLite limits the placeholders of a statement.
constexpr size_t kIdsPerStatement = 500;

constexpr int64_t kSearchOnly = KSItem::kSearchOnlyMasterRev;

const char kInboxBoundarySql[] =
    "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MASTERREV!=? ORDER BY MODIFIEDAT DESC "
    "LIMIT ";
const char kAccountInboxBoundarySql[] =
    "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND ACCOUNTID=? AND MASTERREV!=? ORDER BY "
    "MODIFIEDAT DESC LIMIT ";
const char kListBoundarySql[] =
    "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MLISTID=? AND MASTERREV!=? ORDER BY "
    "MODIFIEDAT DESC LIMIT ";
const char kSentBoundarySql[] =
    "SELECT * FROM KSITEM WHERE STATE!=? AND STATE!=? AND THREADHASEMAILS=1 AND MASTERREV!=? AND ITEMID IN "
    "(SELECT PARENTITEMID FROM KSEMAIL WHERE SENT=1 GROUP BY PARENTITEMID) ORDER BY MODIFIEDAT DESC LIMIT ";
const char kAutoSwipedBoundarySql[] =
    "SELECT * FROM KSITEM WHERE AUTOSWIPESTATE=? AND THREADHASEMAILS=1 AND MASTERREV!=? ORDER BY MODIFIEDAT "
    "DESC "
    "LIMIT ";
const char kDraftsBoundarySql[] =
    "SELECT * FROM KSITEM WHERE STATE!=? AND STATE!=? AND DRAFTIDS!='[]' AND MASTERREV!=? ORDER BY "
    "MODIFIEDAT "
    "DESC LIMIT ";

// The MODIFIEDAT of the one row that the text, completed with "<offset>, 1;", selects.
template <class... Values>
int64_t boundary(const char* sql, int offset, DBContext* context, const Values&... values) {
  const std::string text = sql + std::to_string(offset) + ", 1;";
  CppSQLite3Statement statement = context->database().compileStatement(text.c_str());
  libkestrun::bind_values(statement, values...);
  auto items = context->fetchObjects<KSItem>("KSITEM", statement);
  return items->empty() ? 0 : items->front()->modifiedAt();
}

int64_t first_or_zero(const KSObjects<KSItem>& items, int64_t (KSItem::*value)() const) {
  return items->empty() ? 0 : (items->front().get()->*value)();
}

}  // namespace

KSObjects<KSItem> KSItem::inboxItems(KestrunContext* context) {
  return context->itemsInState(ItemState::Inbox);
}
KSObjects<KSItem> KSItem::laterItems(KestrunContext* context) {
  return context->itemsInState(ItemState::Later);
}
KSObjects<KSItem> KSItem::trashItems(KestrunContext* context) {
  return context->itemsInState(ItemState::Trash);
}
KSObjects<KSItem> KSItem::inboxItemsForAccount(const std::string& accountID, KestrunContext* context) {
  return context->inboxItemsForAccount(accountID);
}
KSObjects<KSItem> KSItem::itemsForAccount(const std::string& accountID, KestrunContext* context) {
  return context->itemsForAccount(accountID);
}
KSObjects<KSItem> KSItem::listItemsForList(const std::string& listID, KestrunContext* context) {
  return context->listItemsForList(listID);
}
KSObjects<KSItem> KSItem::itemsWithListIDOnly(const std::string& listID, KestrunContext* context) {
  return context->itemsWithListIDOnly(listID);
}
KSObjects<KSItem> KSItem::itemsToPurge(KestrunContext* context) { return context->itemsToPurge(); }

int KSItem::countItems(KestrunContext* context) { return context->countItems(); }
int KSItem::countInboxItems(KestrunContext* context) { return context->countItemsInState(ItemState::Inbox); }
int KSItem::countLaterItems(KestrunContext* context) { return context->countItemsInState(ItemState::Later); }
int KSItem::countArchiveItems(KestrunContext* context) {
  return context->countItemsInState(ItemState::Archive);
}
int KSItem::countTrashItems(KestrunContext* context) { return context->countItemsInState(ItemState::Trash); }
int KSItem::countInboxItemsForAccount(const std::string& accountID, KestrunContext* context) {
  return context->countInboxItemsForAccount(accountID);
}
int KSItem::countUnreadInboxItems(KestrunContext* context) { return context->countUnreadInboxItems(); }
int KSItem::countListItems(const std::string& listID, KestrunContext* context) {
  return context->countListItems(listID);
}
int KSItem::countSentItems(KestrunContext* context) { return context->countSentItems(); }
int KSItem::countAutoSwipedItems(KestrunContext* context) { return context->countAutoSwipedItems(); }
int KSItem::countItemsWithDrafts(KestrunContext* context) { return context->countItemsWithDrafts(); }

int64_t KSItem::oldestInboxModifiedAtForAccount(const std::string& accountID, KestrunContext* context) {
  return first_or_zero(context->oldestInboxItemForAccount(accountID), &KSItem::modifiedAt);
}
int64_t KSItem::newestThreadTimestamp(KestrunContext* context) {
  return first_or_zero(context->newestItem(), &KSItem::threadTimestamp);
}

KSObjects<KSItem> KSItem::fetchItemsWithIDs(const std::vector<std::string>& itemIDs, DBContext* context) {
  auto items = std::make_shared<std::vector<std::shared_ptr<KSItem>>>();
  size_t start = 0;
  do {
    const size_t count = std::min(kIdsPerStatement, itemIDs.size() - start);
    std::string sql = "SELECT * FROM KSITEM WHERE ITEMID IN (";
    for (size_t i = 0; i < count; ++i) sql += i == 0 ? "?" : ", ?";
    sql += ");";
    CppSQLite3Statement statement = context->database().compileStatement(sql.c_str());
    for (size_t i = 0; i < count; ++i) {
      libkestrun::internal::bind_text(statement, static_cast<int>(i) + 1, itemIDs[start + i]);
    }
    auto chunk = fetchItemsWithStatement(statement, context);
    items->insert(items->end(), chunk->begin(), chunk->end());
    start += count;
  } while (start < itemIDs.size());
  return items;
}

KSObjects<KSItem> KSItem::fetchItemsWithStatement(CppSQLite3Statement& statement, DBContext* context) {
  return context->fetchObjects<KSItem>("KSITEM", statement);
}

int64_t KSItem::inboxPageBoundary(int offset, DBContext* context) {
  return boundary(kInboxBoundarySql, offset, context, ItemState::Inbox, kSearchOnly);
}
int64_t KSItem::inboxPageBoundaryForAccount(int offset, const std::string& accountID, DBContext* context) {
  return boundary(kAccountInboxBoundarySql, offset, context, ItemState::Inbox, accountID, kSearchOnly);
}
int64_t KSItem::listPageBoundary(int offset, const std::string& listID, DBContext* context) {
  return boundary(kListBoundarySql, offset, context, ItemState::List, listID, kSearchOnly);
}
int64_t KSItem::archivePageBoundary(int offset, DBContext* context) {
  return boundary(kInboxBoundarySql, offset, context, ItemState::Archive, kSearchOnly);
}
int64_t KSItem::sentPageBoundary(int offset, DBContext* context) {
  return boundary(kSentBoundarySql, offset, context, ItemState::Deleted, ItemState::ServerHidden,
                  kSearchOnly);
}
int64_t KSItem::autoSwipedPageBoundary(int offset, DBContext* context) {
  return boundary(kAutoSwipedBoundarySql, offset, context, libkestrun::AutoSwipeRuleState::Active,
                  kSearchOnly);
}
int64_t KSItem::draftsPageBoundary(int offset, DBContext* context) {
  return boundary(kDraftsBoundarySql, offset, context, ItemState::Deleted, ItemState::ServerHidden,
                  kSearchOnly);
}
