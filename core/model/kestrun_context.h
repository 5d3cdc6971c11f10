// The store interface of the data model and its unit of work. Every read of a model object,
// every save and every query goes through a context: the database context over the local
// database, or MemoryContext over the in-memory store of search results.
//
// A context keeps an object cache, so that one table and id give one object within the context;
// a pending set of the objects created, changed or deleted since the last commit, in the order
// they joined; and a kind, 1 for a persistent context and 0 for the memory context. A commit
// saves each pending object (persistent contexts only), records it in a change set, clears its
// flags and hands the change set to the live queries (query_updater.h).
//
// Both containers belong to the core thread; the base takes no lock. Contexts are process-wide
// and outlive the objects that point back to them.
#pragma once

#include <jansson.h>

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/model/change_set.h"
#include "core/model/kestrun_object.h"
#include "core/model/object_key.h"
#include "core/model/pending_set.h"
#include "core/store/auto_swipe_record.h"
#include "core/store/contact_record.h"
#include "core/store/draft.h"
#include "core/store/email_record.h"
#include "core/store/item_record.h"
#include "core/store/list_records.h"
#include "core/store/model_enums.h"

// A shared vector of shared objects of one class; null where an operation does not apply.
template <class T>
using KSObjects = std::shared_ptr<std::vector<std::shared_ptr<T>>>;
// What a live query's fetch function returns: never null, in the order of the fetch.
using KSQueryRows = KSObjects<KestrunObject>;

class KestrunContext {
 public:
  using Draft = libkestrun::internal::Draft;
  using ChangeSet = libkestrun::ChangeSet;

  static constexpr int kMemoryKind = 0;
  static constexpr int kPersistentKind = 1;

  explicit KestrunContext(int kind);
  KestrunContext(const KestrunContext&) = delete;
  KestrunContext& operator=(const KestrunContext&) = delete;
  virtual ~KestrunContext();

  int kind() const { return kind_; }

  // Marks the object updated (a new one stays new) and puts it into the pending set.
  void objectChanged(const std::shared_ptr<KestrunObject>& object);
  // A new object is forgotten (out of the pending set and the cache; nothing will be written).
  // Any other is marked deleted, cached and made pending.
  void deleteObject(const std::shared_ptr<KestrunObject>& object);
  // At commit: the object's id under its table and change kind (all three kinds present for the
  // table), then its flags and changed columns are cleared.
  void recordChange(ChangeSet& changes, const std::shared_ptr<KestrunObject>& object);

  // Drafts travel the commit path wrapped in an object of table "Draft", cached under the draft
  // id (replacing any entry) and pending. A local draft is saved by the local version rule, a
  // server draft by the server's; a deleted one removes the stored draft.
  std::shared_ptr<KestrunObject> insertDraft(const Draft& draft);
  std::shared_ptr<KestrunObject> updateDraft(const Draft& draft);
  void deleteDraft(const Draft& draft);

  // Finds or creates the object of a server document and applies every key of it. Null when the
  // document is null, its id (under `idKey`) is missing, not a string or empty, the type names no
  // table, or a persistent context refuses the document (an object created for it is forgotten
  // again). The memory context never refuses.
  static std::shared_ptr<KestrunObject> applyServerDocument(json_t* document, const std::string& docType,
                                                            const std::string& idKey,
                                                            KestrunContext* context);
  // "email" KSEMAIL, "item" KSITEM, "devicelist" KSLIST, "contact" KSCONTACT, "list"
  // KSACCOUNTLIST, "auto_swipe" KSAUTOSWIPE; "" for any other type.
  static std::string tableForDocType(const std::string& docType);
  // The exists operation of the table; false for an empty id or a table outside the six.
  static bool objectExists(const std::string& id, const std::string& table, KestrunContext* context);
  // The fetch operation of the document type's table with the document's id; null when absent.
  static std::shared_ptr<KestrunObject> fetchObject(json_t* document, const std::string& docType,
                                                    const std::string& idKey, KestrunContext* context);
  // Every key of the document through setFromServerKey, then finishServerDocument.
  static std::shared_ptr<KestrunObject> applyDocumentFields(const std::shared_ptr<KestrunObject>& object,
                                                            json_t* document);

  // Context and factory. reset empties the cache and the pending set (pending changes are
  // dropped unsaved). createObject builds a new object of the table's class, makes it pending
  // and caches it; null for a table without a class. The id is not stored in the object: the
  // caller applies a document that carries it.
  virtual void reset();
  virtual std::shared_ptr<KestrunObject> createObject(const std::string& table, const std::string& id);

  // KSACCOUNTLIST.
  virtual bool accountListExists(const std::string& id) = 0;
  virtual void insertAccountList(const libkestrun::internal::List& row) = 0;
  virtual void updateAccountList(const libkestrun::internal::List& row) = 0;
  virtual void removeAccountList(const std::string& id) = 0;
  virtual std::shared_ptr<KSAccountList> fetchAccountList(const std::string& id) = 0;
  virtual KSObjects<KSAccountList> accountListsForAccount(const std::string& accountID) = 0;

  // KSCONTACT and the e-mails of a contact.
  virtual bool contactExists(const std::string& id) = 0;
  virtual void insertContact(const libkestrun::internal::LocalContact& row) = 0;
  virtual void updateContact(const libkestrun::internal::LocalContact& row) = 0;
  virtual void removeContact(const std::string& id) = 0;
  virtual std::shared_ptr<KSContact> fetchContact(const std::string& id) = 0;
  virtual KSObjects<KSEmail> emailsWithBccContact(const std::string& contactID) = 0;
  virtual KSObjects<KSEmail> emailsWithCcContact(const std::string& contactID) = 0;
  virtual KSObjects<KSEmail> emailsWithToContact(const std::string& contactID) = 0;
  virtual KSObjects<KSEmail> emailsFromContact(const std::string& contactID) = 0;
  virtual KSObjects<KSEmail> emailsWithReplyToContact(const std::string& contactID) = 0;
  virtual KSObjects<KSContact> contactForEmailAddress(const std::string& address) = 0;
  virtual KSObjects<KSContact> contactsForEmailAddress(const std::string& address) = 0;

  // Conversation rows and drafts. The base draft operations write nothing: remove does
  // nothing, save and save_from_server answer false (not written), fetchDraft answers empty.
  virtual std::shared_ptr<std::vector<KSConvoItem>> convoItemsForItem(const std::string& itemID) = 0;
  virtual std::shared_ptr<std::vector<Draft>> draftsForItem(const std::string& itemID) = 0;
  virtual std::shared_ptr<std::vector<KSConvoItem>> convoItemsForDraft(const std::string& draftID) = 0;
  virtual void remove(const Draft& draft);
  virtual bool save(const Draft& draft);
  virtual bool save_from_server(const Draft& draft);
  virtual std::optional<Draft> fetchDraft(const std::string& draftID);

  // KSEMAIL and the recipient links.
  virtual bool emailExists(const std::string& id) = 0;
  virtual void insertEmail(const libkestrun::internal::Email& row) = 0;
  virtual void updateEmail(const libkestrun::internal::Email& row) = 0;
  virtual void removeEmail(const std::string& id) = 0;
  virtual std::shared_ptr<KSEmail> fetchEmail(const std::string& id) = 0;
  virtual void addToRecipient(const std::string& contactID, const std::string& emailID) = 0;
  virtual void removeToRecipients(const std::string& emailID) = 0;
  virtual KSObjects<KSContact> toContactsForEmail(const std::string& emailID) = 0;
  virtual void addCcRecipient(const std::string& contactID, const std::string& emailID) = 0;
  virtual void removeCcRecipients(const std::string& emailID) = 0;
  virtual KSObjects<KSContact> ccContactsForEmail(const std::string& emailID) = 0;
  virtual void addBccRecipient(const std::string& contactID, const std::string& emailID) = 0;
  virtual void removeBccRecipients(const std::string& emailID) = 0;
  virtual KSObjects<KSContact> bccContactsForEmail(const std::string& emailID) = 0;
  virtual KSObjects<KSEmail> emailsWithParentItem(const std::string& itemID) = 0;
  virtual KSObjects<KSEmail> emailsForAccount(const std::string& accountID) = 0;

  // KSITEM, item sets and counts.
  virtual bool itemExists(const std::string& id) = 0;
  virtual void insertItem(const libkestrun::internal::Item& row) = 0;
  virtual void updateItem(const libkestrun::internal::Item& row) = 0;
  virtual void removeItem(const std::string& id) = 0;
  virtual std::shared_ptr<KSItem> fetchItem(const std::string& id) = 0;
  virtual KSObjects<KSEmail> emailsForItem(const std::string& itemID) = 0;
  virtual KSObjects<KSItem> itemsInState(libkestrun::ItemState state) = 0;
  virtual KSObjects<KSItem> inboxItemsForAccount(const std::string& accountID) = 0;
  virtual KSObjects<KSItem> itemsForAccount(const std::string& accountID) = 0;
  virtual KSObjects<KSItem> listItemsForList(const std::string& listID) = 0;
  virtual KSObjects<KSItem> itemsForAccountList(const std::string& accountListID) = 0;
  virtual KSObjects<KSItem> itemsWithListIDOnly(const std::string& listID) = 0;
  virtual KSObjects<KSItem> itemsToPurge() = 0;
  virtual KSObjects<KSItem> oldestInboxItemForAccount(const std::string& accountID) = 0;
  virtual KSObjects<KSItem> newestItem() = 0;
  virtual KSObjects<KSItem> newestDraftOnlyItem() = 0;
  virtual int countItems() = 0;
  virtual int countItemsInState(libkestrun::ItemState state) = 0;
  virtual int countInboxItemsForAccount(const std::string& accountID) = 0;
  virtual int countUnreadInboxItems() = 0;
  virtual int countListItems(const std::string& listID) = 0;
  virtual int countSentItems() = 0;
  virtual int countAutoSwipedItems() = 0;
  virtual int countItemsWithDrafts() = 0;

  // KSLIST.
  virtual bool listExists(const std::string& id) = 0;
  virtual void insertList(const libkestrun::internal::UserList& row) = 0;
  virtual void updateList(const libkestrun::internal::UserList& row) = 0;
  virtual void removeList(const std::string& id) = 0;
  virtual std::shared_ptr<KSList> fetchList(const std::string& id) = 0;
  virtual KSObjects<KSAccountList> accountListsForList(const std::string& listID) = 0;
  virtual KSObjects<KSItem> itemsForList(const std::string& listID) = 0;
  virtual KSObjects<KSList> listsMatchingName(const std::string& pattern) = 0;

  // KSAUTOSWIPE and device deferral (an empty account id means every account).
  virtual bool autoSwipeExists(const std::string& id) = 0;
  virtual void insertAutoSwipe(const libkestrun::internal::AutoSwipe& row) = 0;
  virtual void updateAutoSwipe(const libkestrun::internal::AutoSwipe& row) = 0;
  virtual void removeAutoSwipe(const std::string& id) = 0;
  virtual std::shared_ptr<KSAutoSwipe> fetchAutoSwipe(const std::string& id) = 0;
  virtual KSObjects<KSItem> itemsForAutoSwipe(const std::string& ruleID) = 0;
  virtual KSQueryRows activeAutoSwipesForUser(const std::string& userID) = 0;
  virtual KSObjects<KSAutoSwipe> orphanAutoSwipes() = 0;
  virtual KSQueryRows itemsForAutoSwipeByDate(const std::string& ruleID) = 0;
  virtual KSQueryRows searchActiveAutoSwipes(const std::string& userID, const std::string& text) = 0;
  virtual KSObjects<KSItem> deviceDeferredItems(libkestrun::SnoozeType snoozeType,
                                                const std::string& accountID) = 0;

  // Per account.
  virtual void removeItemsForAccount(const std::string& accountID) = 0;
  virtual void removeEmailsForAccount(const std::string& accountID) = 0;
  virtual void removeAccountListsForAccount(const std::string& accountID) = 0;

  // Contacts for completion, and single-object queries.
  virtual KSObjects<KSContact> priorityContacts() = 0;
  virtual KSObjects<KSContact> nonPriorityContactsMatching(const std::string& text) = 0;
  virtual KSObjects<KSContact> contactsMatching(const std::string& text) = 0;
  virtual KSQueryRows contactsMatchingQuery(const std::string& text) = 0;
  virtual KSObjects<KSContact> contactsByScore() = 0;
  virtual KSQueryRows contactsByScoreQuery() = 0;
  virtual KSQueryRows emailsForItemByDateQuery(const std::string& itemID) = 0;
  virtual KSQueryRows itemQuery(const std::string& itemID) = 0;
  virtual KSQueryRows emailQuery(const std::string& emailID) = 0;

  // Live-query fetchers and searches (times in milliseconds since 1970; an empty list or
  // account id means every one).
  virtual KSObjects<KSItem> inboxItemsModifiedSince(int64_t time) = 0;
  virtual KSObjects<KSItem> unreadInboxItemsModifiedAfter(int64_t time) = 0;
  virtual KSQueryRows listsQuery() = 0;
  virtual KSObjects<KSList> lists() = 0;
  virtual KSQueryRows nonEmptyListsQuery() = 0;
  virtual KSQueryRows listsMatchingNameQuery(const std::string& pattern) = 0;
  virtual KSQueryRows laterItemsQuery() = 0;
  virtual KSQueryRows archiveItemsSinceQuery(int64_t time) = 0;
  virtual KSQueryRows inboxItemsSinceQuery(int64_t time) = 0;
  virtual KSObjects<KSItem> inboxItems(int limit) = 0;
  virtual KSQueryRows listItemsSinceQuery(int64_t time, const std::string& listID) = 0;
  virtual KSQueryRows inboxItemsSinceForAccountQuery(int64_t time, const std::string& accountID) = 0;
  virtual KSQueryRows sentItemsSinceQuery(int64_t time) = 0;
  virtual KSQueryRows autoSwipedItemsSinceQuery(int64_t time) = 0;
  virtual KSQueryRows itemsWithDraftsSinceQuery(int64_t time) = 0;
  virtual KSQueryRows trashItemsQuery() = 0;
  virtual KSQueryRows spamItemsQuery() = 0;
  virtual KSQueryRows quickSearchItems(const std::string& text, const std::string& accountID) = 0;
  virtual KSQueryRows fullSearchItems(const std::string& text, const std::string& accountID) = 0;

 protected:
  // The object cache, keyed by table and id.
  std::shared_ptr<KestrunObject> cachedObject(const std::string& table, const std::string& id) const;
  void cacheObject(const std::shared_ptr<KestrunObject>& object);
  // Drops the entry under the key only when it holds this very object.
  void uncacheObject(const std::string& table, const std::string& id, const KestrunObject& object);
  void clearCache() { cache_.clear(); }

  PendingSet& pending() { return pending_; }
  // A new object of a table's class; null for a table without one.
  std::shared_ptr<KestrunObject> newObject(const std::string& table);

 private:
  std::shared_ptr<KestrunObject> wrapDraft(const Draft& draft, bool fromServer);

  std::unordered_map<libkestrun::ObjectKey, std::shared_ptr<KestrunObject>, libkestrun::ObjectKeyHash> cache_;
  PendingSet pending_;
  const int kind_;
};
