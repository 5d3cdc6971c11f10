// The in-memory context: model objects that are never written to the database, namely the
// results of local and cloud searches, which the data center applies as documents and rows and
// which live queries registered for the memory context read.
//
// Every instance shares one process-wide object store, keyed by table and id and guarded by one
// mutex; each keeps its own pending set. A commit records the pending objects in a change set
// and hands it to the live queries without saving anything: the objects already live in the
// store, and deleted ones stay there until the store is cleared. Only what search results need
// is real (creating objects, the exists and fetch operations of each table, inserting item and
// e-mail rows, the e-mails of an item); every other operation answers empty (0, false, null).
//
// Threads: every access to the store takes its mutex, which guards nothing else and is never held
// while another lock is taken. The pending set, the objects and the instance's own cache belong to
// the core thread, and so does clearStore, which empties a pending set too: a memory warning that
// arrives on another thread posts it to the core thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "core/model/kestrun_context.h"

class MemoryContext : public KestrunContext {
 public:
  MemoryContext();

  // Empties the shared store, then this instance's pending set. Core thread.
  void clearStore();
  // Every item of the store, newest thread time stamp first (equal ones in no defined order).
  static KSQueryRows allItems();
  // Records each pending object (in joining order), empties the pending set and hands a copy of
  // the changes to the live queries; an empty pending set records and updates nothing.
  void commit(ChangeSet& changes);

  // The stored object of that table and id as T, or null (also for an empty id).
  template <class T>
  static std::shared_ptr<T> fetchObject(const std::string& table, const std::string& id) {
    return std::static_pointer_cast<T>(storedObject(table, id));
  }
  // Every stored object of the table for which `predicate` holds, in the store's order.
  template <class T>
  static KSObjects<T> fetchObjects(const std::string& table, const std::function<bool(const T&)>& predicate) {
    auto result = std::make_shared<std::vector<std::shared_ptr<T>>>();
    for (auto& object : storedObjects(table)) {
      auto typed = std::static_pointer_cast<T>(std::move(object));
      if (predicate(*typed)) result->push_back(std::move(typed));
    }
    return result;
  }

  // Empties the pending set only: the store and the instance's cache stay.
  void reset() override;
  // A new object of the table's class (items, e-mails, contacts, lists, account lists) carrying
  // the id, pending and stored under the id, replacing any stored object of that table and id;
  // null for other tables.
  std::shared_ptr<KestrunObject> createObject(const std::string& table, const std::string& id) override;

  // Real operations.
  bool accountListExists(const std::string& id) override;
  std::shared_ptr<KSAccountList> fetchAccountList(const std::string& id) override;
  bool contactExists(const std::string& id) override;
  std::shared_ptr<KSContact> fetchContact(const std::string& id) override;
  bool emailExists(const std::string& id) override;
  void insertEmail(const libkestrun::internal::Email& row) override;
  std::shared_ptr<KSEmail> fetchEmail(const std::string& id) override;
  KSObjects<KSContact> toContactsForEmail(const std::string& emailID) override;
  KSObjects<KSContact> ccContactsForEmail(const std::string& emailID) override;
  KSObjects<KSContact> bccContactsForEmail(const std::string& emailID) override;
  bool itemExists(const std::string& id) override;
  void insertItem(const libkestrun::internal::Item& row) override;
  std::shared_ptr<KSItem> fetchItem(const std::string& id) override;
  KSObjects<KSEmail> emailsForItem(const std::string& itemID) override;
  bool listExists(const std::string& id) override;
  std::shared_ptr<KSList> fetchList(const std::string& id) override;
  bool autoSwipeExists(const std::string& id) override;
  std::shared_ptr<KSAutoSwipe> fetchAutoSwipe(const std::string& id) override;
  // Operations that the memory context does not support: they do nothing and answer empty.
  void insertAccountList(const libkestrun::internal::List& row) override;
  void updateAccountList(const libkestrun::internal::List& row) override;
  void removeAccountList(const std::string& id) override;
  KSObjects<KSAccountList> accountListsForAccount(const std::string& accountID) override;
  void insertContact(const libkestrun::internal::LocalContact& row) override;
  void updateContact(const libkestrun::internal::LocalContact& row) override;
  void removeContact(const std::string& id) override;
  KSObjects<KSEmail> emailsWithBccContact(const std::string& contactID) override;
  KSObjects<KSEmail> emailsWithCcContact(const std::string& contactID) override;
  KSObjects<KSEmail> emailsWithToContact(const std::string& contactID) override;
  KSObjects<KSEmail> emailsFromContact(const std::string& contactID) override;
  KSObjects<KSEmail> emailsWithReplyToContact(const std::string& contactID) override;
  KSObjects<KSContact> contactForEmailAddress(const std::string& address) override;
  KSObjects<KSContact> contactsForEmailAddress(const std::string& address) override;
  std::shared_ptr<std::vector<KSConvoItem>> convoItemsForItem(const std::string& itemID) override;
  std::shared_ptr<std::vector<Draft>> draftsForItem(const std::string& itemID) override;
  std::shared_ptr<std::vector<KSConvoItem>> convoItemsForDraft(const std::string& draftID) override;
  void updateEmail(const libkestrun::internal::Email& row) override;
  void removeEmail(const std::string& id) override;
  void addToRecipient(const std::string& contactID, const std::string& emailID) override;
  void removeToRecipients(const std::string& emailID) override;
  void addCcRecipient(const std::string& contactID, const std::string& emailID) override;
  void removeCcRecipients(const std::string& emailID) override;
  void addBccRecipient(const std::string& contactID, const std::string& emailID) override;
  void removeBccRecipients(const std::string& emailID) override;
  KSObjects<KSEmail> emailsWithParentItem(const std::string& itemID) override;
  KSObjects<KSEmail> emailsForAccount(const std::string& accountID) override;
  void updateItem(const libkestrun::internal::Item& row) override;
  void removeItem(const std::string& id) override;
  KSObjects<KSItem> itemsInState(libkestrun::ItemState state) override;
  KSObjects<KSItem> inboxItemsForAccount(const std::string& accountID) override;
  KSObjects<KSItem> itemsForAccount(const std::string& accountID) override;
  KSObjects<KSItem> listItemsForList(const std::string& listID) override;
  KSObjects<KSItem> itemsForAccountList(const std::string& accountListID) override;
  KSObjects<KSItem> itemsWithListIDOnly(const std::string& listID) override;
  KSObjects<KSItem> itemsToPurge() override;
  KSObjects<KSItem> oldestInboxItemForAccount(const std::string& accountID) override;
  KSObjects<KSItem> newestItem() override;
  KSObjects<KSItem> newestDraftOnlyItem() override;
  int countItems() override;
  int countItemsInState(libkestrun::ItemState state) override;
  int countInboxItemsForAccount(const std::string& accountID) override;
  int countUnreadInboxItems() override;
  int countListItems(const std::string& listID) override;
  int countSentItems() override;
  int countAutoSwipedItems() override;
  int countItemsWithDrafts() override;
  void insertList(const libkestrun::internal::UserList& row) override;
  void updateList(const libkestrun::internal::UserList& row) override;
  void removeList(const std::string& id) override;
  KSObjects<KSAccountList> accountListsForList(const std::string& listID) override;
  KSObjects<KSItem> itemsForList(const std::string& listID) override;
  KSObjects<KSList> listsMatchingName(const std::string& pattern) override;
  void insertAutoSwipe(const libkestrun::internal::AutoSwipe& row) override;
  void updateAutoSwipe(const libkestrun::internal::AutoSwipe& row) override;
  void removeAutoSwipe(const std::string& id) override;
  KSObjects<KSItem> itemsForAutoSwipe(const std::string& ruleID) override;
  KSQueryRows activeAutoSwipesForUser(const std::string& userID) override;
  KSObjects<KSAutoSwipe> orphanAutoSwipes() override;
  KSQueryRows itemsForAutoSwipeByDate(const std::string& ruleID) override;
  KSQueryRows searchActiveAutoSwipes(const std::string& userID, const std::string& text) override;
  KSObjects<KSItem> deviceDeferredItems(libkestrun::SnoozeType snoozeType,
                                        const std::string& accountID) override;
  void removeItemsForAccount(const std::string& accountID) override;
  void removeEmailsForAccount(const std::string& accountID) override;
  void removeAccountListsForAccount(const std::string& accountID) override;
  KSObjects<KSContact> priorityContacts() override;
  KSObjects<KSContact> nonPriorityContactsMatching(const std::string& text) override;
  KSObjects<KSContact> contactsMatching(const std::string& text) override;
  KSQueryRows contactsMatchingQuery(const std::string& text) override;
  KSObjects<KSContact> contactsByScore() override;
  KSQueryRows contactsByScoreQuery() override;
  KSQueryRows emailsForItemByDateQuery(const std::string& itemID) override;
  KSQueryRows itemQuery(const std::string& itemID) override;
  KSQueryRows emailQuery(const std::string& emailID) override;
  KSObjects<KSItem> inboxItemsModifiedSince(int64_t time) override;
  KSObjects<KSItem> unreadInboxItemsModifiedAfter(int64_t time) override;
  KSQueryRows listsQuery() override;
  KSObjects<KSList> lists() override;
  KSQueryRows nonEmptyListsQuery() override;
  KSQueryRows listsMatchingNameQuery(const std::string& pattern) override;
  KSQueryRows laterItemsQuery() override;
  KSQueryRows archiveItemsSinceQuery(int64_t time) override;
  KSQueryRows inboxItemsSinceQuery(int64_t time) override;
  KSObjects<KSItem> inboxItems(int limit) override;
  KSQueryRows listItemsSinceQuery(int64_t time, const std::string& listID) override;
  KSQueryRows inboxItemsSinceForAccountQuery(int64_t time, const std::string& accountID) override;
  KSQueryRows sentItemsSinceQuery(int64_t time) override;
  KSQueryRows autoSwipedItemsSinceQuery(int64_t time) override;
  KSQueryRows itemsWithDraftsSinceQuery(int64_t time) override;
  KSQueryRows trashItemsQuery() override;
  KSQueryRows spamItemsQuery() override;
  KSQueryRows quickSearchItems(const std::string& text, const std::string& accountID) override;
  KSQueryRows fullSearchItems(const std::string& text, const std::string& accountID) override;

 protected:
  // A context of another kind over the same store (tests use the persistent kind).
  explicit MemoryContext(int kind);

 private:
  static std::shared_ptr<KestrunObject> storedObject(const std::string& table, const std::string& id);
  static std::vector<std::shared_ptr<KestrunObject>> storedObjects(const std::string& table);
  static bool stored(const std::string& table, const std::string& id);
  // Stores under the object's table and the id, replacing, and makes the object pending.
  void keep(const std::shared_ptr<KestrunObject>& object, const std::string& id);
};
