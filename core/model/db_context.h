// The context over the local database: one SQLite connection with every statement it runs
// prepared once at open, the object cache that makes one id one object, and the commit that
// writes the pending set in one transaction.
//
// The core keeps two instances on one database file, each with its own connection: the data
// center's, through which every change is written and committed, and the consumer center's, on
// which the live queries re-run after each commit. Each sees the other's committed rows.
//
// Lifecycle: constructed (not open; every operation that reaches a statement fails with "Null
// Virtual Machine pointer"), then `open` once, then any operations and commits; `recreate` on a
// reset of all data; `close` (or destruction) finalizes every statement and closes the connection,
// after which `open` may run again.
//
// Threads: a context belongs to the thread that runs its owner's work (the core thread); the
// consumer center's is also read from the registering thread, which its owner serialises with its
// own mutex. `mutex_` guards nothing but the six statements that the application thread reaches
// without that serialisation (the contacts of an e-mail by role, the contact search, the three
// saved-time lists), each for the whole of bind, run, read and reset. The cache, the pending set and
// every other statement take no lock.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/model/db_context_sql.h"
#include "core/model/kestrun_context.h"
#include "core/store/cpp_sqlite3.h"
#include "core/store/db_schema.h"
#include "core/store/query_builder.h"
#include "core/store/sqlite_query.h"

class DBContext : public KestrunContext {
 public:
  // What the schema offers, under the context's name (the store keeps them as SqlSchema).
  static constexpr int schema_version = libkestrun::SqlSchema::schema_version;
  static std::string database_name(const std::string& directory, const std::string& file_name,
                                   bool in_memory);
  static void set_key(CppSQLite3DB& db, const std::string& install_key);
  static void create_tables(CppSQLite3DB& db);
  static void drop_tables(CppSQLite3DB& db);
  static void check_schema_version(const std::string& name, bool in_memory,
                                   const std::optional<std::string>& key, const std::function<void()>& reset);

  DBContext();
  ~DBContext() override;

  // Opens the connection, keys it with the per-install key when one is given (as the schema check
  // does, so both read the same file), and prepares every statement. A failure leaves the
  // statements prepared so far in place and throws.
  void open(const std::string& path, const std::optional<std::string>& key);
  // Finalizes every statement and closes the connection; the context is as constructed.
  void close();
  // The connection, for the item queries that compile a statement per call.
  CppSQLite3DB& database() { return db_; }

  // Saves every pending object in one transaction, records each in `changes` and hands a copy of
  // them to the live queries. An empty pending set runs no SQL and updates nothing. When a save
  // fails, the transaction is rolled back, the context is reset (cache and pending set, so that
  // no half-saved object stays cached), `changes` is left as it was given, and the exception is
  // rethrown; the connection is back in autocommit and the next commit works.
  void commit(ChangeSet& changes);

  // Drops and recreates every table, then forgets the last snapshot sync and every account's
  // change tokens. Touches neither cache nor pending set (the caller resets first).
  void recreate();

  // The object cache and typed fetches, instantiated for the model classes and KestrunObject (the
  // form of the live queries). `table` is the object's table name; it picks the model class. An object
  // already cached is returned as cached (its in-memory values win over the row's); a new one is cached.
  template <class T>
  std::shared_ptr<T> cache_fetch(const std::string& table, const std::string& id) const;
  // A loaded object of the table's class over the query's current row, or the cached object of
  // its id; null for a table without a class.
  std::shared_ptr<KestrunObject> objectForRow(const std::string& table, CppSQLite3Query& query);
  // Binds `id` to placeholder 1 and reads one object, unless the id is empty or cached (then the
  // statement does not run).
  template <class T>
  std::shared_ptr<T> fetchObject(const std::string& table, CppSQLite3Statement& statement,
                                 const std::string& id);
  // Runs the bound statement and returns an object per row, in row order; never null.
  template <class T>
  KSObjects<T> fetchObjects(const std::string& table, CppSQLite3Statement& statement);
  // The cached object, else the row by primary key through the table's query; a missing row
  // caches nothing.
  template <class T, class Row>
  std::shared_ptr<T> fetch_through(const std::string& table, const std::string& id,
                                   libkestrun::internal::SqliteQuery<Row>& query);

  // KSACCOUNTLIST.
  bool accountListExists(const std::string& id) override;
  void insertAccountList(const libkestrun::internal::List& row) override;
  void updateAccountList(const libkestrun::internal::List& row) override;
  void removeAccountList(const std::string& id) override;
  std::shared_ptr<KSAccountList> fetchAccountList(const std::string& id) override;
  KSObjects<KSAccountList> accountListsForAccount(const std::string& accountID) override;

  // KSCONTACT and the e-mails of a contact.
  bool contactExists(const std::string& id) override;
  void insertContact(const libkestrun::internal::LocalContact& row) override;
  void updateContact(const libkestrun::internal::LocalContact& row) override;
  void removeContact(const std::string& id) override;
  std::shared_ptr<KSContact> fetchContact(const std::string& id) override;
  KSObjects<KSEmail> emailsWithBccContact(const std::string& contactID) override;
  KSObjects<KSEmail> emailsWithCcContact(const std::string& contactID) override;
  KSObjects<KSEmail> emailsWithToContact(const std::string& contactID) override;
  KSObjects<KSEmail> emailsFromContact(const std::string& contactID) override;
  KSObjects<KSEmail> emailsWithReplyToContact(const std::string& contactID) override;
  KSObjects<KSContact> contactForEmailAddress(const std::string& address) override;
  KSObjects<KSContact> contactsForEmailAddress(const std::string& address) override;

  // --- Drafts (db_context_drafts.cpp) ---
  // Conversation rows of an item (its drafts and e-mails) and of one stored draft, in
  // conversation order; the drafts of an item in that order. Never null.
  std::shared_ptr<std::vector<KSConvoItem>> convoItemsForItem(const std::string& itemID) override;
  std::shared_ptr<std::vector<Draft>> draftsForItem(const std::string& itemID) override;
  std::shared_ptr<std::vector<KSConvoItem>> convoItemsForDraft(const std::string& draftID) override;
  // The saves decide by version. A local draft is written only over an older version (or none);
  // a server draft over anything but a newer version, so that the server's copy of a concurrent
  // edit wins. True when written.
  void remove(const Draft& draft) override;
  bool save(const Draft& draft) override;
  bool save_from_server(const Draft& draft) override;
  // The stored row; the object cache is not consulted.
  std::optional<Draft> fetchDraft(const std::string& draftID) override;
  bool draftExists(const std::string& draftID);
  // Direct writes, outside the pending set and any commit; true when a row was written or deleted.
  bool updateOrInsertDraft(const Draft& draft);
  bool removeDraftRow(const Draft& draft);
  bool removeDraftsForUser(const std::string& userID);
  // Finds the draft's conversation item (for a new message its own item "draft_item_" + draft id,
  // made when missing in the account of the sender's address) and folds the draft into it. The
  // caller queues the draft itself.
  void updateItemForDraft(const Draft& draft);
  // Queues the draft for deletion and takes it out of its item; a new message's own item is
  // purged with it. A change of the draft queued earlier in this unit of work counts as stored:
  // its deletion is queued after it, so the commit ends with the draft removed.
  void removeDraft(const std::string& draftID);
  // The draft as the next commit leaves it before any removal: a change queued in this unit of
  // work, else the stored row.
  std::optional<Draft> draftAsQueued(const std::string& draftID);

  // KSEMAIL and the recipient links.
  bool emailExists(const std::string& id) override;
  void insertEmail(const libkestrun::internal::Email& row) override;
  void updateEmail(const libkestrun::internal::Email& row) override;
  void removeEmail(const std::string& id) override;
  std::shared_ptr<KSEmail> fetchEmail(const std::string& id) override;
  void addToRecipient(const std::string& contactID, const std::string& emailID) override;
  void removeToRecipients(const std::string& emailID) override;
  KSObjects<KSContact> toContactsForEmail(const std::string& emailID) override;
  void addCcRecipient(const std::string& contactID, const std::string& emailID) override;
  void removeCcRecipients(const std::string& emailID) override;
  KSObjects<KSContact> ccContactsForEmail(const std::string& emailID) override;
  void addBccRecipient(const std::string& contactID, const std::string& emailID) override;
  void removeBccRecipients(const std::string& emailID) override;
  KSObjects<KSContact> bccContactsForEmail(const std::string& emailID) override;
  KSObjects<KSEmail> emailsWithParentItem(const std::string& itemID) override;
  KSObjects<KSEmail> emailsForAccount(const std::string& accountID) override;

  // KSITEM, item sets and counts.
  bool itemExists(const std::string& id) override;
  void insertItem(const libkestrun::internal::Item& row) override;
  void updateItem(const libkestrun::internal::Item& row) override;
  void removeItem(const std::string& id) override;
  std::shared_ptr<KSItem> fetchItem(const std::string& id) override;
  KSObjects<KSEmail> emailsForItem(const std::string& itemID) override;
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

  // KSLIST.
  bool listExists(const std::string& id) override;
  void insertList(const libkestrun::internal::UserList& row) override;
  void updateList(const libkestrun::internal::UserList& row) override;
  void removeList(const std::string& id) override;
  std::shared_ptr<KSList> fetchList(const std::string& id) override;
  KSObjects<KSAccountList> accountListsForList(const std::string& listID) override;
  KSObjects<KSItem> itemsForList(const std::string& listID) override;
  KSObjects<KSList> listsMatchingName(const std::string& pattern) override;

  // KSAUTOSWIPE and device deferral.
  bool autoSwipeExists(const std::string& id) override;
  void insertAutoSwipe(const libkestrun::internal::AutoSwipe& row) override;
  void updateAutoSwipe(const libkestrun::internal::AutoSwipe& row) override;
  void removeAutoSwipe(const std::string& id) override;
  std::shared_ptr<KSAutoSwipe> fetchAutoSwipe(const std::string& id) override;
  KSObjects<KSItem> itemsForAutoSwipe(const std::string& ruleID) override;
  KSQueryRows activeAutoSwipesForUser(const std::string& userID) override;
  KSObjects<KSAutoSwipe> orphanAutoSwipes() override;
  KSQueryRows itemsForAutoSwipeByDate(const std::string& ruleID) override;
  KSQueryRows searchActiveAutoSwipes(const std::string& userID, const std::string& text) override;
  KSObjects<KSItem> deviceDeferredItems(libkestrun::SnoozeType snoozeType,
                                        const std::string& accountID) override;

  // Per account: written at once, outside the pending set; the objects of removed rows stay
  // cached until `reset`.
  void removeItemsForAccount(const std::string& accountID) override;
  void removeEmailsForAccount(const std::string& accountID) override;
  void removeAccountListsForAccount(const std::string& accountID) override;

  // Contacts for completion, and single-object queries.
  KSObjects<KSContact> priorityContacts() override;
  KSObjects<KSContact> nonPriorityContactsMatching(const std::string& text) override;
  KSObjects<KSContact> contactsMatching(const std::string& text) override;
  KSQueryRows contactsMatchingQuery(const std::string& text) override;
  KSObjects<KSContact> contactsByScore() override;
  KSQueryRows contactsByScoreQuery() override;
  KSQueryRows emailsForItemByDateQuery(const std::string& itemID) override;
  KSQueryRows itemQuery(const std::string& itemID) override;
  KSQueryRows emailQuery(const std::string& emailID) override;

  // Live-query fetchers and searches.
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
  // Both leave out trash, spam and states 6 and 8 and take the newest first: the quick search (at
  // most 15) matches subject and participants with the text less its trailing newlines, the full
  // search (at most 25) also the e-mails' conversation text, and their full body where one is
  // stored. An empty account id searches every account.
  KSQueryRows quickSearchItems(const std::string& text, const std::string& accountID) override;
  KSQueryRows fullSearchItems(const std::string& text, const std::string& accountID) override;

  // The rows of one account saved after `since`: id to SAVEDAT, at most `limit` entries (the
  // first row of an id wins). Under `mutex_`.
  using SavedTimes = std::map<std::string, uint64_t>;
  SavedTimes itemSavedTimesSince(const std::string& accountID, int64_t since, int limit);
  SavedTimes emailSavedTimesSince(const std::string& accountID, int64_t since, int limit);
  SavedTimes accountListSavedTimesSince(const std::string& accountID, int64_t since, int limit);

  // KSAUTOSWIPE rows of a user, written at once; true when a row was deleted.
  virtual bool removeAutoSwipesForUser(const std::string& userID);

 private:
  template <class Row>
  using Query = libkestrun::internal::SqliteQuery<Row>;
  template <class Row>
  using Removal = libkestrun::internal::RemoveSqliteQuery<Row>;

  CppSQLite3Statement& sql(libkestrun::DbSql id) { return fixed_[static_cast<size_t>(id)]; }
  int count(CppSQLite3Statement& statement);
  SavedTimes savedTimes(CppSQLite3Statement& statement, const std::string& accountID, int64_t since,
                        int limit);
  KSQueryRows searchItems(libkestrun::DbSql all, libkestrun::DbSql forAccount, const std::string& pattern,
                          const std::string& accountID, int likes, int limit);
  // Prepares every statement over the open connection, in member order.
  void prepare();
  // Finalizes every statement, in reverse member order.
  void finalize();

  CppSQLite3DB db_;
  std::mutex mutex_;
  Query<libkestrun::internal::AutoSwipe> autoSwipeQuery_;
  Query<libkestrun::internal::BccEmails> bccQuery_;
  Query<libkestrun::internal::CcEmails> ccQuery_;
  Query<libkestrun::internal::ToEmails> toQuery_;
  Query<libkestrun::internal::Email> emailQuery_;
  Query<libkestrun::internal::Item> itemQuery_;
  Query<libkestrun::internal::UserList> listQuery_;
  Query<libkestrun::internal::List> accountListQuery_;
  Query<libkestrun::internal::LocalContact> contactQuery_;
  Query<libkestrun::internal::Draft> draftQuery_;
  Removal<libkestrun::internal::List> removeAccountListByID_;
  Removal<libkestrun::internal::Draft> removeDraftsByUser_;
  Removal<libkestrun::internal::AutoSwipe> removeAutoSwipesByUser_;
  Removal<libkestrun::internal::ToEmails> removeToByEmail_;
  Removal<libkestrun::internal::CcEmails> removeCcByEmail_;
  Removal<libkestrun::internal::BccEmails> removeBccByEmail_;
  Removal<libkestrun::internal::Item> removeItemsByAccount_;
  Removal<libkestrun::internal::List> removeAccountListsByAccount_;
  Removal<libkestrun::internal::Email> removeEmailsByAccount_;
  libkestrun::internal::FetchSqliteQuery<libkestrun::internal::Draft> draftsByItem_;
  std::array<CppSQLite3Statement, libkestrun::kDbSqlCount> fixed_;
};
