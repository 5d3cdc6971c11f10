// The operations of the database context that read and write the rows of one table at a time.
#include <mutex>

#include "core/model/db_context.h"
#include "core/model/db_context_bind.h"
#include "core/model/ks_account_list.h"
#include "core/model/ks_auto_swipe.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/ks_list.h"
#include "core/store/statement_reset.h"

using libkestrun::bind_values;
using libkestrun::DbSql;
using libkestrun::ItemState;
using libkestrun::like_pattern;
using namespace libkestrun::internal;

namespace {

// Every item set and count leaves out items known only from a cloud search.
constexpr int64_t kSearchOnly = KSItem::kSearchOnlyMasterRev;

// Binds every column of the row to its placeholder and runs the insert or update.
template <class Row>
void write(CppSQLite3Statement& statement, const Row& row) {
  bind_row(statement, row.row.values);
  ResetOnUnwind unwind(statement);
  statement.execDML();
  statement.reset();
}

}  // namespace

// The exists operations answer from the cache first: a created or deleted object that is not
// committed yet exists.

bool DBContext::accountListExists(const std::string& id) {
  return cachedObject("KSACCOUNTLIST", id) || accountListQuery_.exists(id);
}
bool DBContext::contactExists(const std::string& id) {
  return cachedObject("KSCONTACT", id) || contactQuery_.exists(id);
}
bool DBContext::emailExists(const std::string& id) {
  return cachedObject("KSEMAIL", id) || emailQuery_.exists(id);
}
bool DBContext::itemExists(const std::string& id) {
  return cachedObject("KSITEM", id) || itemQuery_.exists(id);
}
bool DBContext::listExists(const std::string& id) {
  return cachedObject("KSLIST", id) || listQuery_.exists(id);
}
bool DBContext::autoSwipeExists(const std::string& id) {
  return cachedObject("KSAUTOSWIPE", id) || autoSwipeQuery_.exists(id);
}

void DBContext::insertAccountList(const List& row) { write(accountListQuery_.insert_stmt, row); }
void DBContext::updateAccountList(const List& row) { write(accountListQuery_.update_stmt, row); }
void DBContext::removeAccountList(const std::string& id) {
  removeAccountListByID_.remove_where(ListAttr::LISTID, id);
}
std::shared_ptr<KSAccountList> DBContext::fetchAccountList(const std::string& id) {
  return fetchObject<KSAccountList>("KSACCOUNTLIST", sql(DbSql::FetchAccountList), id);
}
KSObjects<KSAccountList> DBContext::accountListsForAccount(const std::string& accountID) {
  return fetchObjects<KSAccountList>("KSACCOUNTLIST", bind_values(sql(DbSql::AccountListsForAccount), accountID));
}
KSObjects<KSAccountList> DBContext::accountListsForList(const std::string& listID) {
  return fetchObjects<KSAccountList>("KSACCOUNTLIST", bind_values(sql(DbSql::AccountListsForList), listID));
}

void DBContext::insertContact(const LocalContact& row) { write(contactQuery_.insert_stmt, row); }
void DBContext::updateContact(const LocalContact& row) { write(contactQuery_.update_stmt, row); }
void DBContext::removeContact(const std::string& id) { contactQuery_.remove(id); }
std::shared_ptr<KSContact> DBContext::fetchContact(const std::string& id) {
  return fetchObject<KSContact>("KSCONTACT", sql(DbSql::FetchContact), id);
}
KSObjects<KSContact> DBContext::contactForEmailAddress(const std::string& address) {
  return fetchObjects<KSContact>("KSCONTACT", bind_values(sql(DbSql::ContactForEmailAddress), address));
}
KSObjects<KSContact> DBContext::contactsForEmailAddress(const std::string& address) {
  return fetchObjects<KSContact>("KSCONTACT", bind_values(sql(DbSql::ContactsForEmailAddress), address));
}
KSObjects<KSContact> DBContext::priorityContacts() {
  return fetchObjects<KSContact>("KSCONTACT", sql(DbSql::PriorityContacts));
}
KSObjects<KSContact> DBContext::nonPriorityContactsMatching(const std::string& text) {
  const std::string pattern = like_pattern(text);
  return fetchObjects<KSContact>("KSCONTACT",
                                   bind_values(sql(DbSql::NonPriorityContactsMatching), pattern, pattern));
}
KSObjects<KSContact> DBContext::contactsMatching(const std::string& text) {
  const std::string pattern = like_pattern(text);
  std::lock_guard<std::mutex> lock(mutex_);
  return fetchObjects<KSContact>("KSCONTACT", bind_values(sql(DbSql::ContactsMatching), pattern, pattern));
}
KSQueryRows DBContext::contactsMatchingQuery(const std::string& text) {
  const std::string pattern = like_pattern(text);
  return fetchObjects<KestrunObject>("KSCONTACT",
                                     bind_values(sql(DbSql::ContactsMatching), pattern, pattern));
}
KSObjects<KSContact> DBContext::contactsByScore() {
  return fetchObjects<KSContact>("KSCONTACT", sql(DbSql::ContactsByScore));
}
KSQueryRows DBContext::contactsByScoreQuery() {
  return fetchObjects<KestrunObject>("KSCONTACT", sql(DbSql::ContactsByScore));
}
KSObjects<KSContact> DBContext::toContactsForEmail(const std::string& emailID) {
  std::lock_guard<std::mutex> lock(mutex_);
  return fetchObjects<KSContact>("KSCONTACT", bind_values(sql(DbSql::ToContactsForEmail), emailID));
}
KSObjects<KSContact> DBContext::ccContactsForEmail(const std::string& emailID) {
  std::lock_guard<std::mutex> lock(mutex_);
  return fetchObjects<KSContact>("KSCONTACT", bind_values(sql(DbSql::CcContactsForEmail), emailID));
}
KSObjects<KSContact> DBContext::bccContactsForEmail(const std::string& emailID) {
  std::lock_guard<std::mutex> lock(mutex_);
  return fetchObjects<KSContact>("KSCONTACT", bind_values(sql(DbSql::BccContactsForEmail), emailID));
}

KSObjects<KSEmail> DBContext::emailsWithBccContact(const std::string& contactID) {
  return fetchObjects<KSEmail>("KSEMAIL", bind_values(sql(DbSql::EmailsWithBccContact), contactID));
}
KSObjects<KSEmail> DBContext::emailsWithCcContact(const std::string& contactID) {
  return fetchObjects<KSEmail>("KSEMAIL", bind_values(sql(DbSql::EmailsWithCcContact), contactID));
}
KSObjects<KSEmail> DBContext::emailsWithToContact(const std::string& contactID) {
  return fetchObjects<KSEmail>("KSEMAIL", bind_values(sql(DbSql::EmailsWithToContact), contactID));
}
KSObjects<KSEmail> DBContext::emailsFromContact(const std::string& contactID) {
  return fetchObjects<KSEmail>("KSEMAIL", bind_values(sql(DbSql::EmailsFromContact), contactID));
}
KSObjects<KSEmail> DBContext::emailsWithReplyToContact(const std::string& contactID) {
  return fetchObjects<KSEmail>("KSEMAIL", bind_values(sql(DbSql::EmailsWithReplyToContact), contactID));
}


void DBContext::insertEmail(const Email& row) { write(emailQuery_.insert_stmt, row); }
void DBContext::updateEmail(const Email& row) { write(emailQuery_.update_stmt, row); }
void DBContext::removeEmail(const std::string& id) { emailQuery_.remove(id); }
std::shared_ptr<KSEmail> DBContext::fetchEmail(const std::string& id) {
  return fetch_through<KSEmail>("KSEMAIL", id, emailQuery_);
}
KSQueryRows DBContext::emailQuery(const std::string& emailID) {
  auto rows = std::make_shared<std::vector<std::shared_ptr<KestrunObject>>>();
  if (auto email = fetchEmail(emailID)) rows->push_back(std::move(email));
  return rows;
}
KSObjects<KSEmail> DBContext::emailsWithParentItem(const std::string& itemID) {
  return fetchObjects<KSEmail>("KSEMAIL", bind_values(sql(DbSql::EmailsWithParentItem), itemID));
}
KSObjects<KSEmail> DBContext::emailsForItem(const std::string& itemID) {
  return fetchObjects<KSEmail>("KSEMAIL", bind_values(sql(DbSql::EmailsForItem), itemID));
}
KSObjects<KSEmail> DBContext::emailsForAccount(const std::string& accountID) {
  return fetchObjects<KSEmail>("KSEMAIL", bind_values(sql(DbSql::EmailsForAccount), accountID));
}
KSQueryRows DBContext::emailsForItemByDateQuery(const std::string& itemID) {
  return fetchObjects<KestrunObject>("KSEMAIL", bind_values(sql(DbSql::EmailsForItemByDate), itemID));
}

void DBContext::addToRecipient(const std::string& contactID, const std::string& emailID) {
  ToEmails link;
  link.set_CONTACTID(contactID);
  link.set_EMAILID(emailID);
  write(toQuery_.insert_stmt, link);
}
void DBContext::addCcRecipient(const std::string& contactID, const std::string& emailID) {
  CcEmails link;
  link.set_CONTACTID(contactID);
  link.set_EMAILID(emailID);
  write(ccQuery_.insert_stmt, link);
}
void DBContext::addBccRecipient(const std::string& contactID, const std::string& emailID) {
  BccEmails link;
  link.set_CONTACTID(contactID);
  link.set_EMAILID(emailID);
  write(bccQuery_.insert_stmt, link);
}
void DBContext::removeToRecipients(const std::string& emailID) {
  removeToByEmail_.remove_where(ToEmailsAttr::EMAILID, emailID);
}
void DBContext::removeCcRecipients(const std::string& emailID) {
  removeCcByEmail_.remove_where(CcEmailsAttr::EMAILID, emailID);
}
void DBContext::removeBccRecipients(const std::string& emailID) {
  removeBccByEmail_.remove_where(BccEmailsAttr::EMAILID, emailID);
}

void DBContext::insertItem(const Item& row) { write(itemQuery_.insert_stmt, row); }
void DBContext::updateItem(const Item& row) { write(itemQuery_.update_stmt, row); }
void DBContext::removeItem(const std::string& id) { itemQuery_.remove(id); }
std::shared_ptr<KSItem> DBContext::fetchItem(const std::string& id) {
  return fetch_through<KSItem>("KSITEM", id, itemQuery_);
}
KSQueryRows DBContext::itemQuery(const std::string& itemID) {
  return fetchObjects<KestrunObject>("KSITEM", bind_values(sql(DbSql::ItemQuery), itemID));
}
KSObjects<KSItem> DBContext::itemsInState(ItemState state) {
  return fetchObjects<KSItem>("KSITEM", bind_values(sql(DbSql::ItemsInState), state, kSearchOnly));
}
KSObjects<KSItem> DBContext::inboxItemsForAccount(const std::string& accountID) {
  return fetchObjects<KSItem>("KSITEM",
                              bind_values(sql(DbSql::InboxItemsForAccount), ItemState::Inbox, accountID));
}
KSObjects<KSItem> DBContext::itemsForAccount(const std::string& accountID) {
  return fetchObjects<KSItem>("KSITEM", bind_values(sql(DbSql::ItemsForAccount), accountID));
}
KSObjects<KSItem> DBContext::listItemsForList(const std::string& listID) {
  return fetchObjects<KSItem>(
      "KSITEM", bind_values(sql(DbSql::ListItemsForList), ItemState::List, listID, kSearchOnly));
}
KSObjects<KSItem> DBContext::itemsForAccountList(const std::string& accountListID) {
  return fetchObjects<KSItem>("KSITEM", bind_values(sql(DbSql::ItemsForAccountList), accountListID));
}
KSObjects<KSItem> DBContext::itemsWithListIDOnly(const std::string& listID) {
  return fetchObjects<KSItem>("KSITEM", bind_values(sql(DbSql::ItemsWithListIDOnly), listID));
}
KSObjects<KSItem> DBContext::itemsToPurge() {
  return fetchObjects<KSItem>("KSITEM", bind_values(sql(DbSql::ItemsToPurge), ItemState::Deleted,
                                                    ItemState::ServerHidden, kSearchOnly));
}
KSObjects<KSItem> DBContext::oldestInboxItemForAccount(const std::string& accountID) {
  return fetchObjects<KSItem>(
      "KSITEM", bind_values(sql(DbSql::OldestInboxItemForAccount), ItemState::Inbox, accountID));
}
KSObjects<KSItem> DBContext::newestItem() { return fetchObjects<KSItem>("KSITEM", sql(DbSql::NewestItem)); }
KSObjects<KSItem> DBContext::newestDraftOnlyItem() {
  return fetchObjects<KSItem>(
      "KSITEM", bind_values(sql(DbSql::NewestDraftOnlyItem), ItemState::Deleted, ItemState::ServerHidden));
}
KSObjects<KSItem> DBContext::itemsForList(const std::string& listID) {
  return fetchObjects<KSItem>("KSITEM", bind_values(sql(DbSql::ItemsForList), listID));
}
KSObjects<KSItem> DBContext::itemsForAutoSwipe(const std::string& ruleID) {
  return fetchObjects<KSItem>("KSITEM", bind_values(sql(DbSql::ItemsForAutoSwipe), ruleID));
}
KSQueryRows DBContext::itemsForAutoSwipeByDate(const std::string& ruleID) {
  return fetchObjects<KestrunObject>("KSITEM", bind_values(sql(DbSql::ItemsForAutoSwipeByDate), ruleID));
}
KSObjects<KSItem> DBContext::deviceDeferredItems(libkestrun::SnoozeType snoozeType,
                                                 const std::string& accountID) {
  const auto later = ItemState::Later;
  const auto bySnooze = libkestrun::DeferralType::BySnooze;
  if (accountID.empty()) {
    return fetchObjects<KSItem>("KSITEM",
                                bind_values(sql(DbSql::DeviceDeferredItems), later, bySnooze, snoozeType));
  }
  return fetchObjects<KSItem>("KSITEM", bind_values(sql(DbSql::DeviceDeferredItemsForAccount), later,
                                                    bySnooze, snoozeType, accountID));
}

int DBContext::count(CppSQLite3Statement& statement) {
  ResetOnUnwind unwind(statement);
  const int count = statement.execScalar(0);
  statement.reset();
  return count;
}

int DBContext::countItems() { return count(sql(DbSql::CountItems)); }
int DBContext::countItemsInState(ItemState state) {
  return count(bind_values(sql(DbSql::CountItemsInState), state, kSearchOnly));
}
int DBContext::countInboxItemsForAccount(const std::string& accountID) {
  return count(bind_values(sql(DbSql::CountInboxItemsForAccount), ItemState::Inbox, accountID, kSearchOnly));
}
int DBContext::countUnreadInboxItems() {
  return count(bind_values(sql(DbSql::CountUnreadInboxItems), ItemState::Inbox, kSearchOnly));
}
int DBContext::countListItems(const std::string& listID) {
  return count(bind_values(sql(DbSql::CountListItems), ItemState::List, listID, kSearchOnly));
}
int DBContext::countSentItems() {
  return count(
      bind_values(sql(DbSql::CountSentItems), ItemState::Deleted, ItemState::ServerHidden, kSearchOnly));
}
int DBContext::countAutoSwipedItems() {
  return count(
      bind_values(sql(DbSql::CountAutoSwipedItems), libkestrun::AutoSwipeRuleState::Active, kSearchOnly));
}
int DBContext::countItemsWithDrafts() {
  return count(bind_values(sql(DbSql::CountItemsWithDrafts), ItemState::Deleted, ItemState::ServerHidden,
                           kSearchOnly));
}

void DBContext::insertList(const UserList& row) { write(listQuery_.insert_stmt, row); }
void DBContext::updateList(const UserList& row) { write(listQuery_.update_stmt, row); }
void DBContext::removeList(const std::string& id) { listQuery_.remove(id); }
std::shared_ptr<KSList> DBContext::fetchList(const std::string& id) {
  return fetchObject<KSList>("KSLIST", sql(DbSql::FetchList), id);
}
KSObjects<KSList> DBContext::listsMatchingName(const std::string& text) {
  return fetchObjects<KSList>("KSLIST", bind_values(sql(DbSql::ListsMatchingName), like_pattern(text)));
}

void DBContext::insertAutoSwipe(const AutoSwipe& row) { write(autoSwipeQuery_.insert_stmt, row); }
void DBContext::updateAutoSwipe(const AutoSwipe& row) { write(autoSwipeQuery_.update_stmt, row); }
void DBContext::removeAutoSwipe(const std::string& id) { autoSwipeQuery_.remove(id); }
std::shared_ptr<KSAutoSwipe> DBContext::fetchAutoSwipe(const std::string& id) {
  return fetchObject<KSAutoSwipe>("KSAUTOSWIPE", sql(DbSql::FetchAutoSwipe), id);
}
KSQueryRows DBContext::activeAutoSwipesForUser(const std::string& userID) {
  return fetchObjects<KestrunObject>(
      "KSAUTOSWIPE",
      bind_values(sql(DbSql::ActiveAutoSwipesForUser), libkestrun::AutoSwipeRuleState::Active, userID));
}
KSObjects<KSAutoSwipe> DBContext::orphanAutoSwipes() {
  return fetchObjects<KSAutoSwipe>("KSAUTOSWIPE", sql(DbSql::OrphanAutoSwipes));
}
KSQueryRows DBContext::searchActiveAutoSwipes(const std::string& userID, const std::string& text) {
  const std::string pattern = like_pattern(text);
  return fetchObjects<KestrunObject>(
      "KSAUTOSWIPE", bind_values(sql(DbSql::SearchActiveAutoSwipes), libkestrun::AutoSwipeRuleState::Active,
                                 userID, pattern, pattern));
}

void DBContext::removeItemsForAccount(const std::string& accountID) {
  removeItemsByAccount_.remove_where(ItemAttr::ACCOUNTID, accountID);
}
void DBContext::removeEmailsForAccount(const std::string& accountID) {
  removeEmailsByAccount_.remove_where(EmailAttr::ACCOUNTID, accountID);
}
void DBContext::removeAccountListsForAccount(const std::string& accountID) {
  removeAccountListsByAccount_.remove_where(ListAttr::ACCOUNTID, accountID);
}
bool DBContext::removeAutoSwipesForUser(const std::string& userID) {
  return removeAutoSwipesByUser_.remove_where(AutoSwipeAttr::USERID, userID);
}
