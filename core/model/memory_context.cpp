#include "core/model/memory_context.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <utility>

#include "core/model/ks_account_list.h"
#include "core/model/ks_contact.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/ks_list.h"
#include "core/model/query_updater.h"

namespace {

using Store =
    std::unordered_map<libkestrun::ObjectKey, std::shared_ptr<KestrunObject>, libkestrun::ObjectKeyHash>;

std::mutex store_mutex;
Store& object_store() {
  static Store store;
  return store;
}

}  // namespace

MemoryContext::MemoryContext() : MemoryContext(kMemoryKind) {}

MemoryContext::MemoryContext(int kind) : KestrunContext(kind) {}

std::shared_ptr<KestrunObject> MemoryContext::storedObject(const std::string& table, const std::string& id) {
  if (id.empty()) return nullptr;
  std::lock_guard<std::mutex> lock(store_mutex);
  auto found = object_store().find(libkestrun::ObjectKey{table, id});
  return found == object_store().end() ? nullptr : found->second;
}

std::vector<std::shared_ptr<KestrunObject>> MemoryContext::storedObjects(const std::string& table) {
  std::vector<std::shared_ptr<KestrunObject>> objects;
  std::lock_guard<std::mutex> lock(store_mutex);
  for (const auto& [key, object] : object_store()) {
    if (key.table == table) objects.push_back(object);
  }
  return objects;
}

bool MemoryContext::stored(const std::string& table, const std::string& id) {
  std::lock_guard<std::mutex> lock(store_mutex);
  return object_store().count(libkestrun::ObjectKey{table, id}) != 0;
}

void MemoryContext::keep(const std::shared_ptr<KestrunObject>& object, const std::string& id) {
  pending().add(object);
  std::lock_guard<std::mutex> lock(store_mutex);
  object_store()[libkestrun::ObjectKey{object->tableName(), id}] = object;
}

void MemoryContext::clearStore() {
  Store released;
  {
    std::lock_guard<std::mutex> lock(store_mutex);
    released.swap(object_store());
  }
  // The objects are released outside the mutex.
  reset();
}

KSQueryRows MemoryContext::allItems() {
  auto items = std::make_shared<std::vector<std::shared_ptr<KestrunObject>>>(storedObjects("KSITEM"));
  std::sort(items->begin(), items->end(), [](const auto& a, const auto& b) {
    return static_cast<const KSItem&>(*a).threadTimestamp() >
           static_cast<const KSItem&>(*b).threadTimestamp();
  });
  return items;
}

void MemoryContext::commit(libkestrun::ChangeSet& changes) {
  if (pending().empty()) return;
  for (const auto& object : pending().take()) recordChange(changes, object);
  libkestrun::query_updater_update_queries(changes, false);
}

void MemoryContext::reset() { pending().clear(); }

std::shared_ptr<KestrunObject> MemoryContext::createObject(const std::string& table, const std::string& id) {
  std::shared_ptr<KestrunObject> object;
  if (table == "KSITEM") {
    auto item = std::make_shared<KSItem>(this);
    item->setItemID(id);
    object = item;
  } else if (table == "KSEMAIL") {
    auto email = std::make_shared<KSEmail>(this);
    email->set_EMAILID(id);
    object = email;
  } else if (table == "KSCONTACT") {
    auto contact = std::make_shared<KSContact>(this);
    contact->setContactID(id);
    object = contact;
  } else if (table == "KSLIST") {
    auto list = std::make_shared<KSList>(this);
    list->setListID(id);
    object = list;
  } else if (table == "KSACCOUNTLIST") {
    auto accountList = std::make_shared<KSAccountList>(this);
    accountList->setListID(id);
    object = accountList;
  } else {
    return nullptr;
  }
  keep(object, id);
  return object;
}

bool MemoryContext::accountListExists(const std::string& id) { return stored("KSACCOUNTLIST", id); }
bool MemoryContext::contactExists(const std::string& id) { return stored("KSCONTACT", id); }
bool MemoryContext::emailExists(const std::string& id) { return stored("KSEMAIL", id); }
bool MemoryContext::itemExists(const std::string& id) { return stored("KSITEM", id); }
bool MemoryContext::listExists(const std::string& id) { return stored("KSLIST", id); }
bool MemoryContext::autoSwipeExists(const std::string& id) { return stored("KSAUTOSWIPE", id); }

std::shared_ptr<KSAccountList> MemoryContext::fetchAccountList(const std::string& id) {
  return fetchObject<KSAccountList>("KSACCOUNTLIST", id);
}
std::shared_ptr<KSContact> MemoryContext::fetchContact(const std::string& id) {
  return fetchObject<KSContact>("KSCONTACT", id);
}
std::shared_ptr<KSEmail> MemoryContext::fetchEmail(const std::string& id) {
  return fetchObject<KSEmail>("KSEMAIL", id);
}
std::shared_ptr<KSItem> MemoryContext::fetchItem(const std::string& id) {
  return fetchObject<KSItem>("KSITEM", id);
}
std::shared_ptr<KSList> MemoryContext::fetchList(const std::string& id) { return fetchObject<KSList>("KSLIST", id); }
// Search results carry no auto-swipe rules: none is made here, so the fetch finds nothing.
std::shared_ptr<KSAutoSwipe> MemoryContext::fetchAutoSwipe(const std::string&) { return nullptr; }

void MemoryContext::insertEmail(const libkestrun::internal::Email& row) {
  std::shared_ptr<KSEmail> email;
  {
    libkestrun::ObjectKey key{"KSEMAIL", row.get_EMAILID()};
    std::lock_guard<std::mutex> lock(store_mutex);
    // An e-mail row never replaces a stored e-mail.
    if (object_store().count(key) != 0) return;
    email = std::make_shared<KSEmail>(this, row);
    object_store().emplace(std::move(key), email);
  }
  pending().add(email);
}

void MemoryContext::insertItem(const libkestrun::internal::Item& row) {
  // An item row always replaces the stored item with a new object.
  keep(std::make_shared<KSItem>(this, row), row.get_ITEMID());
}

KSObjects<KSEmail> MemoryContext::emailsForItem(const std::string& itemID) {
  return fetchObjects<KSEmail>("KSEMAIL",
                               [&](const KSEmail& email) { return email.get_PARENTITEMID() == itemID; });
}

KSObjects<KSContact> MemoryContext::toContactsForEmail(const std::string&) {
  return std::make_shared<std::vector<std::shared_ptr<KSContact>>>();
}
KSObjects<KSContact> MemoryContext::ccContactsForEmail(const std::string&) {
  return std::make_shared<std::vector<std::shared_ptr<KSContact>>>();
}
KSObjects<KSContact> MemoryContext::bccContactsForEmail(const std::string&) {
  return std::make_shared<std::vector<std::shared_ptr<KSContact>>>();
}

void MemoryContext::insertAccountList(const libkestrun::internal::List&) {}
void MemoryContext::updateAccountList(const libkestrun::internal::List&) {}
void MemoryContext::removeAccountList(const std::string&) {}
KSObjects<KSAccountList> MemoryContext::accountListsForAccount(const std::string&) { return nullptr; }
void MemoryContext::insertContact(const libkestrun::internal::LocalContact&) {}
void MemoryContext::updateContact(const libkestrun::internal::LocalContact&) {}
void MemoryContext::removeContact(const std::string&) {}
KSObjects<KSEmail> MemoryContext::emailsWithBccContact(const std::string&) { return nullptr; }
KSObjects<KSEmail> MemoryContext::emailsWithCcContact(const std::string&) { return nullptr; }
KSObjects<KSEmail> MemoryContext::emailsWithToContact(const std::string&) { return nullptr; }
KSObjects<KSEmail> MemoryContext::emailsFromContact(const std::string&) { return nullptr; }
KSObjects<KSEmail> MemoryContext::emailsWithReplyToContact(const std::string&) { return nullptr; }
KSObjects<KSContact> MemoryContext::contactForEmailAddress(const std::string&) { return nullptr; }
KSObjects<KSContact> MemoryContext::contactsForEmailAddress(const std::string&) { return nullptr; }
std::shared_ptr<std::vector<KSConvoItem>> MemoryContext::convoItemsForItem(const std::string&) {
  return nullptr;
}
std::shared_ptr<std::vector<libkestrun::internal::Draft>> MemoryContext::draftsForItem(const std::string&) {
  return nullptr;
}
std::shared_ptr<std::vector<KSConvoItem>> MemoryContext::convoItemsForDraft(const std::string&) {
  return nullptr;
}
void MemoryContext::updateEmail(const libkestrun::internal::Email&) {}
void MemoryContext::removeEmail(const std::string&) {}
void MemoryContext::addToRecipient(const std::string&, const std::string&) {}
void MemoryContext::removeToRecipients(const std::string&) {}
void MemoryContext::addCcRecipient(const std::string&, const std::string&) {}
void MemoryContext::removeCcRecipients(const std::string&) {}
void MemoryContext::addBccRecipient(const std::string&, const std::string&) {}
void MemoryContext::removeBccRecipients(const std::string&) {}
KSObjects<KSEmail> MemoryContext::emailsWithParentItem(const std::string&) { return nullptr; }
KSObjects<KSEmail> MemoryContext::emailsForAccount(const std::string&) { return nullptr; }
void MemoryContext::updateItem(const libkestrun::internal::Item&) {}
void MemoryContext::removeItem(const std::string&) {}
KSObjects<KSItem> MemoryContext::itemsInState(libkestrun::ItemState) { return nullptr; }
KSObjects<KSItem> MemoryContext::inboxItemsForAccount(const std::string&) { return nullptr; }
KSObjects<KSItem> MemoryContext::itemsForAccount(const std::string&) { return nullptr; }
KSObjects<KSItem> MemoryContext::listItemsForList(const std::string&) { return nullptr; }
KSObjects<KSItem> MemoryContext::itemsForAccountList(const std::string&) { return nullptr; }
KSObjects<KSItem> MemoryContext::itemsWithListIDOnly(const std::string&) { return nullptr; }
KSObjects<KSItem> MemoryContext::itemsToPurge() { return nullptr; }
KSObjects<KSItem> MemoryContext::oldestInboxItemForAccount(const std::string&) { return nullptr; }
KSObjects<KSItem> MemoryContext::newestItem() { return nullptr; }
KSObjects<KSItem> MemoryContext::newestDraftOnlyItem() { return nullptr; }
int MemoryContext::countItems() { return 0; }
int MemoryContext::countItemsInState(libkestrun::ItemState) { return 0; }
int MemoryContext::countInboxItemsForAccount(const std::string&) { return 0; }
int MemoryContext::countUnreadInboxItems() { return 0; }
int MemoryContext::countListItems(const std::string&) { return 0; }
int MemoryContext::countSentItems() { return 0; }
int MemoryContext::countAutoSwipedItems() { return 0; }
int MemoryContext::countItemsWithDrafts() { return 0; }
void MemoryContext::insertList(const libkestrun::internal::UserList&) {}
void MemoryContext::updateList(const libkestrun::internal::UserList&) {}
void MemoryContext::removeList(const std::string&) {}
KSObjects<KSAccountList> MemoryContext::accountListsForList(const std::string&) { return nullptr; }
KSObjects<KSItem> MemoryContext::itemsForList(const std::string&) { return nullptr; }
KSObjects<KSList> MemoryContext::listsMatchingName(const std::string&) { return nullptr; }
void MemoryContext::insertAutoSwipe(const libkestrun::internal::AutoSwipe&) {}
void MemoryContext::updateAutoSwipe(const libkestrun::internal::AutoSwipe&) {}
void MemoryContext::removeAutoSwipe(const std::string&) {}
KSObjects<KSItem> MemoryContext::itemsForAutoSwipe(const std::string&) { return nullptr; }
KSQueryRows MemoryContext::activeAutoSwipesForUser(const std::string&) { return nullptr; }
KSObjects<KSAutoSwipe> MemoryContext::orphanAutoSwipes() { return nullptr; }
KSQueryRows MemoryContext::itemsForAutoSwipeByDate(const std::string&) { return nullptr; }
KSQueryRows MemoryContext::searchActiveAutoSwipes(const std::string&, const std::string&) { return nullptr; }
KSObjects<KSItem> MemoryContext::deviceDeferredItems(libkestrun::SnoozeType, const std::string&) {
  return nullptr;
}
void MemoryContext::removeItemsForAccount(const std::string&) {}
void MemoryContext::removeEmailsForAccount(const std::string&) {}
void MemoryContext::removeAccountListsForAccount(const std::string&) {}
KSObjects<KSContact> MemoryContext::priorityContacts() { return nullptr; }
KSObjects<KSContact> MemoryContext::nonPriorityContactsMatching(const std::string&) { return nullptr; }
KSObjects<KSContact> MemoryContext::contactsMatching(const std::string&) { return nullptr; }
KSQueryRows MemoryContext::contactsMatchingQuery(const std::string&) { return nullptr; }
KSObjects<KSContact> MemoryContext::contactsByScore() { return nullptr; }
KSQueryRows MemoryContext::contactsByScoreQuery() { return nullptr; }
KSQueryRows MemoryContext::emailsForItemByDateQuery(const std::string&) { return nullptr; }
KSQueryRows MemoryContext::itemQuery(const std::string&) { return nullptr; }
KSQueryRows MemoryContext::emailQuery(const std::string&) { return nullptr; }
KSObjects<KSItem> MemoryContext::inboxItemsModifiedSince(int64_t) { return nullptr; }
KSObjects<KSItem> MemoryContext::unreadInboxItemsModifiedAfter(int64_t) { return nullptr; }
KSQueryRows MemoryContext::listsQuery() { return nullptr; }
KSObjects<KSList> MemoryContext::lists() { return nullptr; }
KSQueryRows MemoryContext::nonEmptyListsQuery() { return nullptr; }
KSQueryRows MemoryContext::listsMatchingNameQuery(const std::string&) { return nullptr; }
KSQueryRows MemoryContext::laterItemsQuery() { return nullptr; }
KSQueryRows MemoryContext::archiveItemsSinceQuery(int64_t) { return nullptr; }
KSQueryRows MemoryContext::inboxItemsSinceQuery(int64_t) { return nullptr; }
KSObjects<KSItem> MemoryContext::inboxItems(int) { return nullptr; }
KSQueryRows MemoryContext::listItemsSinceQuery(int64_t, const std::string&) { return nullptr; }
KSQueryRows MemoryContext::inboxItemsSinceForAccountQuery(int64_t, const std::string&) { return nullptr; }
KSQueryRows MemoryContext::sentItemsSinceQuery(int64_t) { return nullptr; }
KSQueryRows MemoryContext::autoSwipedItemsSinceQuery(int64_t) { return nullptr; }
KSQueryRows MemoryContext::itemsWithDraftsSinceQuery(int64_t) { return nullptr; }
KSQueryRows MemoryContext::trashItemsQuery() { return nullptr; }
KSQueryRows MemoryContext::spamItemsQuery() { return nullptr; }
KSQueryRows MemoryContext::quickSearchItems(const std::string&, const std::string&) { return nullptr; }
KSQueryRows MemoryContext::fullSearchItems(const std::string&, const std::string&) { return nullptr; }