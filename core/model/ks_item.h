// A conversation as the user triages it: one row of KSITEM with its triage state, deferral,
// filing, the auto-swipe rule that moved it and a summary of its e-mails and drafts, kept in its
// own columns so that lists are drawn without reading the e-mails.
//
// Change tracking: every setter stores only a differing value, which raises the column's changed
// flag; the first changed column since creation, load or the last commit reports the item to its
// context, which queues it for the next commit. Items belong to the core thread and take no lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/foundation/json_conversion.h"
#include "core/model/db_kestrun_object.h"
#include "core/model/kestrun_context.h"
#include "core/store/cpp_sqlite3.h"
#include "core/store/draft.h"
#include "core/store/item_record.h"
#include "core/store/model_enums.h"
#include "jsonette/json.h"

class DBContext;

class KSItem : public DBKestrunObject {
 public:
  using ItemState = libkestrun::ItemState;

  // A new item with the defaults of a new conversation and no changed column.
  explicit KSItem(KestrunContext* context);
  // An item loaded from the current row of a KSITEM query (every column, in table order).
  KSItem(KestrunContext* context, CppSQLite3Query& query);
  // A new item over a copy of a row; no defaults are applied.
  KSItem(KestrunContext* context, const libkestrun::internal::Item& row);

  static constexpr int64_t kSearchOnlyMasterRev = 100;
  // The marker of an item known only from a cloud search: left out of every folder and count.
  static int64_t searchOnlyMasterRev() { return kSearchOnlyMasterRev; }
  static std::string idColumn() { return "ITEMID"; }
  // The item with that id, or null when the context has none.
  static std::shared_ptr<KSItem> fetch(const std::string& itemID, KestrunContext* context);

  // The orderings, change filter and section key of the item queries (item_orderings.h).
  struct ModifiedAtDesc;
  struct DeferralOrdering;
  struct ChangeIsUserVisible;
  struct GetDeferralSection;
  using DeferralSection = libkestrun::DeferralBucket;
  static bool modified_at_desc(const std::shared_ptr<KestrunObject>& a,
                               const std::shared_ptr<KestrunObject>& b);

  // Folders and counts of the context, as the writers and the facade name them. Every one leaves
  // out search-only items and, except for itemsForAccount, itemsWithListIDOnly and countItems,
  // items without e-mails.
  static KSObjects<KSItem> inboxItems(KestrunContext* context);
  static KSObjects<KSItem> laterItems(KestrunContext* context);
  static KSObjects<KSItem> trashItems(KestrunContext* context);
  static KSObjects<KSItem> inboxItemsForAccount(const std::string& accountID, KestrunContext* context);
  static KSObjects<KSItem> itemsForAccount(const std::string& accountID, KestrunContext* context);
  static KSObjects<KSItem> listItemsForList(const std::string& listID, KestrunContext* context);
  static KSObjects<KSItem> itemsWithListIDOnly(const std::string& listID, KestrunContext* context);
  // Items deleted for good, hidden by the server, or known only from a cloud search.
  static KSObjects<KSItem> itemsToPurge(KestrunContext* context);
  static int countItems(KestrunContext* context);
  static int countInboxItems(KestrunContext* context);
  static int countLaterItems(KestrunContext* context);
  static int countArchiveItems(KestrunContext* context);
  static int countTrashItems(KestrunContext* context);
  static int countInboxItemsForAccount(const std::string& accountID, KestrunContext* context);
  static int countUnreadInboxItems(KestrunContext* context);
  static int countListItems(const std::string& listID, KestrunContext* context);
  static int countSentItems(KestrunContext* context);
  static int countAutoSwipedItems(KestrunContext* context);
  static int countItemsWithDrafts(KestrunContext* context);
  // 0 when there is no such item.
  static int64_t oldestInboxModifiedAtForAccount(const std::string& accountID, KestrunContext* context);
  static int64_t newestThreadTimestamp(KestrunContext* context);

  // The stored items among the ids, in the database's order; ids without a row are left out.
  // Every id is bound to a placeholder of its own, so any text is only ever an id.
  static KSObjects<KSItem> fetchItemsWithIDs(const std::vector<std::string>& itemIDs, DBContext* context);
  // The items of a bound statement over KSITEM, through the context's cache.
  static KSObjects<KSItem> fetchItemsWithStatement(CppSQLite3Statement& statement, DBContext* context);

  // The MODIFIEDAT of the item at `offset` (0 the newest) of a folder ordered by MODIFIEDAT
  // descending, or 0 when the folder is shorter: the lowest time a list view of that many rows
  // fetches. The drafts folder keeps its draft-only items.
  static int64_t inboxPageBoundary(int offset, DBContext* context);
  static int64_t inboxPageBoundaryForAccount(int offset, const std::string& accountID, DBContext* context);
  static int64_t listPageBoundary(int offset, const std::string& listID, DBContext* context);
  static int64_t archivePageBoundary(int offset, DBContext* context);
  static int64_t sentPageBoundary(int offset, DBContext* context);
  static int64_t autoSwipedPageBoundary(int offset, DBContext* context);
  static int64_t draftsPageBoundary(int offset, DBContext* context);

  void setDefaults() override;
  std::string id() const override { return row_.get_ITEMID(); }
  std::string tableName() const override { return libkestrun::internal::Item::table_name; }
  // One key of the item document, only when its value has the key's JSON type
  // (ks_item_document.cpp).
  void setFromServerKey(const std::string& key, json_t* value) override;
  // Insert when new, else update when changed, else remove when deleted.
  void save() override;
  void clearChangedFields() override { clearChanged(row_); }
  size_t changedColumnCount() const override { return countChanged(row_); }
  std::string idKey() const override { return "_id"; }

  const std::string& accountID() const override { return row_.get_ACCOUNTID(); }
  int64_t savedAt() const override { return row_.get_SAVEDAT(); }
  void setSyncData(std::string text) override { row_.set_SYNCDATA(std::move(text)); }
  const std::string& syncData() const override { return row_.get_SYNCDATA(); }
  bool loadedOnce() const override { return row_.get_LOADEDONCE(); }
  void setLoadedOnce(bool value) override { row_.set_LOADEDONCE(value); }

  const libkestrun::internal::Item& row() const { return row_; }

  std::string itemID() const { return row_.get_ITEMID(); }
  // A different id is stored and the item is always reported to its context, even when other
  // columns changed before (a new item gets its id after its defaults).
  void setItemID(std::string id);
  void setAccountID(std::string id) { row_.set_ACCOUNTID(std::move(id)); }
  std::string aggregateConvo() const { return row_.get_AGGREGATECONVO(); }
  void setAggregateConvo(std::string text) { row_.set_AGGREGATECONVO(std::move(text)); }
  libkestrun::AutoSwipeField autoSwipeField() const { return row_.get_AUTOSWIPEFIELD(); }
  void setAutoSwipeField(libkestrun::AutoSwipeField field) { row_.set_AUTOSWIPEFIELD(field); }
  ItemState autoSwipeItemState() const { return row_.get_AUTOSWIPEITEMSTATE(); }
  void setAutoSwipeItemState(ItemState state) { row_.set_AUTOSWIPEITEMSTATE(state); }
  libkestrun::AutoSwipeRuleState autoSwipeState() const { return row_.get_AUTOSWIPESTATE(); }
  void setAutoSwipeState(libkestrun::AutoSwipeRuleState state) { row_.set_AUTOSWIPESTATE(state); }
  int64_t createdAt() const { return row_.get_CREATEDAT(); }
  void setCreatedAt(int64_t ms) { row_.set_CREATEDAT(ms); }
  libkestrun::DeferralBucket deferralBucket() const { return row_.get_DEFERRALBUCKET(); }
  void setDeferralBucket(libkestrun::DeferralBucket bucket) { row_.set_DEFERRALBUCKET(bucket); }
  libkestrun::DeferralType deferralType() const { return row_.get_DEFERRALTYPE(); }
  void setDeferralType(libkestrun::DeferralType type) { row_.set_DEFERRALTYPE(type); }
  bool deferRead() const { return row_.get_DEFERREAD(); }
  void setDeferRead(bool value) { row_.set_DEFERREAD(value); }
  int threadCount() const { return row_.get_EMAILCOUNT(); }
  void setThreadCount(int count) { row_.set_EMAILCOUNT(count); }
  std::string listID() const { return row_.get_LISTID(); }
  void setListID(std::string id) { row_.set_LISTID(std::move(id)); }
  std::string autoSwipeID() const { return row_.get_MAUTOSWIPEID(); }
  // MASTERREV is a REAL column that the core handles as a whole number.
  int64_t masterRev() const { return static_cast<int64_t>(row_.get_MASTERREV()); }
  void setMasterRev(int64_t rev);
  int64_t modifiedAt() const { return row_.get_MODIFIEDAT(); }
  void setModifiedAt(int64_t ms) { row_.set_MODIFIEDAT(ms); }
  ItemState previousState() const { return row_.get_PREVIOUSSTATE(); }
  void setPreviousState(ItemState state) { row_.set_PREVIOUSSTATE(state); }
  int64_t remindAt() const { return row_.get_REMINDAT(); }
  void setRemindAt(int64_t ms) { row_.set_REMINDAT(ms); }
  void setSavedAt(int64_t ms) { row_.set_SAVEDAT(ms); }
  libkestrun::SnoozeType snoozeType() const { return row_.get_SNOOZETYPE(); }
  void setSnoozeType(libkestrun::SnoozeType type) { row_.set_SNOOZETYPE(type); }
  ItemState state() const { return row_.get_STATE(); }
  // A different state becomes STATE and the old one PREVIOUSSTATE. Leaving state 5 also takes the
  // item out of its list (MLISTID and MACCOUNTLISTID emptied; LISTID, the server's, stays). Nothing
  // else changes here (times, deferral, counts and the server are the data writer's).
  void setState(ItemState state);
  std::string subject() const { return row_.get_SUBJECT(); }
  void setSubject(std::string text) { row_.set_SUBJECT(std::move(text)); }
  bool threadHasAttachments() const { return row_.get_THREADHASATTACHMENTS(); }
  void setThreadHasAttachments(bool value) { row_.set_THREADHASATTACHMENTS(value); }
  bool threadHasDrafts() const { return !row_.get_DRAFTIDS().empty(); }
  bool threadHasEmails() const { return row_.get_THREADHASEMAILS(); }
  void setThreadHasEmails(bool value) { row_.set_THREADHASEMAILS(value); }
  std::string threadPreview() const { return row_.get_THREADPREVIEW(); }
  void setThreadPreview(std::string text) { row_.set_THREADPREVIEW(std::move(text)); }
  bool threadRead() const { return row_.get_THREADREAD(); }
  void setThreadRead(bool value) { row_.set_THREADREAD(value); }
  std::string threadReceivers() const { return row_.get_THREADRECEIVERS(); }
  void setThreadReceivers(std::string json) { row_.set_THREADRECEIVERS(std::move(json)); }
  bool threadStarred() const { return row_.get_THREADSTARRED(); }
  void setThreadStarred(bool value) { row_.set_THREADSTARRED(value); }
  int threadStarredCount() const { return row_.get_THREADSTARREDCOUNT(); }
  void setThreadStarredCount(int count) { row_.set_THREADSTARREDCOUNT(count); }
  int64_t threadTimestamp() const { return row_.get_THREADTIMESTAMP(); }
  void setThreadTimestamp(int64_t ms) { row_.set_THREADTIMESTAMP(ms); }
  int threadUnreadCount() const { return row_.get_THREADUNREADCOUNT(); }
  void setThreadUnreadCount(int count) { row_.set_THREADUNREADCOUNT(count); }
  int threadUnsentCount() const { return row_.get_THREADUNSENTCOUNT(); }
  void setThreadUnsentCount(int count) { row_.set_THREADUNSENTCOUNT(count); }
  std::string threadSenders() const { return row_.get_THREADSENDERS(); }
  void setThreadSenders(std::string json) { row_.set_THREADSENDERS(std::move(json)); }
  libkestrun::ItemType type() const { return row_.get_TYPE(); }
  void setType(libkestrun::ItemType type) { row_.set_TYPE(type); }

  // The id of the cloud search that produced this copy; empty for stored items.
  const std::string& searchID() const { return searchID_; }
  void setSearchID(std::string id) { searchID_ = std::move(id); }

  // An item the user acts on in search results (MASTERREV 100) becomes an ordinary one (200).
  void promoteSearchOnlyItem();

  // Deferral (ks_item_deferral.cpp). The bucket is a cache of the reminder relative to today:
  // recomputed (`nowMs` 0: the current time) whenever the deferral changes, and stored only
  // when it differs.
  void updateDeferralBucket(int64_t nowMs);
  // The title of a section of the deferred list; any value above 21 reads "Never".
  static std::string titleForDeferralSection(libkestrun::DeferralBucket section);
  // The text under a deferred item (also its preview): the device it waits for, its reminder,
  // its list's name, or that no reminder is scheduled.
  std::string deferralSubtext();
  // "Deferred until <remindTimeText>", with "tomorrow" for the Tomorrow section.
  std::string deferralUntilText() const;
  // The reminder as a time of day (today and tomorrow) or a date.
  std::string remindTimeText() const;

  // The item document (ks_item_document.cpp). Acknowledgement and finishing act only in a
  // persistent context; the memory context applies the keys alone.
  void acknowledgeServerSave(json_t* document) override;
  void finishServerDocument(json_t* document) override;
  json_t* toJson() override;
  json_t* changesToJson(const std::unordered_set<std::string>& properties) override;
  // The document of a conversation made locally (for a draft), not yet known to the server;
  // null when `accountID` is empty.
  static json_t* makeDocument(const std::string& id, const std::string& subject,
                              const std::string& accountID);

  // Relations, each read once through the context and then kept; a null answer, or an empty id
  // to look for, is not kept, so the next call asks again.
  std::shared_ptr<std::vector<std::shared_ptr<KSEmail>>> emails();
  // The drafts that name this conversation; a draft-only item ("draft_item_" + draft id) also
  // has its own draft. In conversation order: modified time, then draft id.
  std::shared_ptr<std::vector<libkestrun::internal::Draft>> drafts();
  std::shared_ptr<KSAccountList> accountList();
  std::shared_ptr<KSList> list();
  // Replace the cache and store the id in MACCOUNTLISTID or MLISTID ("" for null). Called by the
  // list's filing and unfiling (ks_list.h), which keep the list's count and items in step.
  void setAccountList(std::shared_ptr<KSAccountList> accountList);
  void setList(std::shared_ptr<KSList> list);
  std::shared_ptr<KSAutoSwipe> autoSwipe();
  // Points the item at the rule (null: at none) and takes over the rule's field and destination,
  // and its state when the rule is the current user's; another user's active rule shows as
  // SwipedByOtherUser, any other of theirs as None. Detaching only empties MAUTOSWIPEID. Called by
  // the rule's addItem and removeItem, which keep the rule's side.
  void setAutoSwipe(const std::shared_ptr<KSAutoSwipe>& rule);

  // A copy of this item in another context (search results in the memory context): the row is
  // inserted there and fetched back, marked with `searchID` when one is given, and with
  // `withEmails` the e-mails are copied too and become the copy's e-mails, in order.
  std::shared_ptr<KSItem> copyToContext(const std::string& searchID, KestrunContext* target, bool withEmails);

  // --- Conversation summary (ks_item_summary.cpp) ---
  // The thread columns follow the e-mails and drafts folded in: counts, read and starred state,
  // attachment and unsent markers, preview, participants (THREADSENDERS and THREADRECEIVERS, JSON
  // objects keyed by address) and AGGREGATECONVO. Byte cuts end on a character boundary; the
  // unread and starred counts never go below 0 and THREADREAD and THREADSTARRED follow them.
  // "is_original_participant" marks the people of the conversation's first e-mail or draft.
  void addEmail(const std::shared_ptr<KSEmail>& email);
  // After the e-mail's read, starred or send state changed (read from its changed flags).
  void updateThreadFromEmail(const KSEmail& email);
  void addDraft(const libkestrun::internal::Draft& draft);
  // Nothing unless the draft cache holds the draft.
  void removeDraft(const std::string& draftID);
  // The first application of the item's document folds in what is stored of the conversation.
  void foldInEmailsOnce();
  void foldInDraftsOnce();

  std::string threadSubject() const;
  std::string previewText();
  bool shouldShowBanner() const;
  // {"name", "address"} of the first message's sender, or null; a new reference.
  json_t* originalSender() const;
  // The first message's receivers as an array of {"name", "address"}; a new reference.
  json_t* originalRecipients() const;
  // Senders, then receivers (a receiver replaces a sender of the same address); a new reference.
  json_t* allParticipants() const;
  // The senders of the conversation, newest e-mail first, one per address, without the user's
  // own addresses (ks_item_senders.cpp).
  std::vector<std::shared_ptr<KSContact>> distinctSenders();
  // The e-mail a reply all should answer: the newest that is not a forward and whose sender, To and
  // Cc make more than two distinct addresses; else the newest; "" without e-mails.
  std::string replyAllEmailID();
  // The name as the `index`-th of `count` names joined for display: "A", ", B", " & C" (two
  // names) or ", & C" (three or more).
  static std::string joinParticipantName(const std::string& name, int index, int count);
  // THREADSENDERS and THREADRECEIVERS parsed; null when empty or not a JSON object.
  json_t* threadSendersJson() const;
  json_t* threadReceiversJson() const;
  // {address: participant} of a draft's address.
  static jsonette::Json participantJson(const libkestrun::internal::EmailName& name, int64_t sentAt,
                                        bool first);

  // Local search: the searched text, and a score of the terms' occurrences and the recency.
  void populateSearchContentsInMemoryProperties();
  void scoreItemForSearchTerms(const std::vector<std::string>& terms);
  const std::string& searchContents() const { return searchContents_; }
  int32_t searchMatchScore() const { return searchMatchScore_; }
  // Non-overlapping, case-sensitive occurrences of `term` in `text`.
  static int countOccurrences(const std::string& text, const std::string& term);

  // The item of an e-mail from a cloud search: found, or built as a search-only item, with the
  // e-mail folded in.
  static std::shared_ptr<KSItem> itemForSearchEmail(const std::shared_ptr<KSEmail>& email,
                                                    const std::string& searchID, KestrunContext* context);
  // Deletes the item and its e-mails (with their attachment files). Unless `keepDrafts`, each
  // draft survives as a new message under its own draft-only item and is sent to the server.
  static void purge(const std::shared_ptr<KSItem>& item, KestrunContext* context, bool keepDrafts);

 private:
  void registerChangeListener();
  // Finishing steps of a document (ks_item_document.cpp).
  void readDeferralData(json_t* document);
  void readAutoSwipe(json_t* document);
  void updateListFromDocument();
  void updateCountsForStateChange(bool isNew);
  void purgeIfDeletedForGood();
  // The "deferral_data" object of the document: "remind_at" and "snooze_type" when they apply.
  json_t* deferralDataJson() const;

  libkestrun::internal::Item row_;
  std::string searchID_;
  std::shared_ptr<std::vector<std::shared_ptr<KSEmail>>> emails_;
  std::shared_ptr<std::vector<libkestrun::internal::Draft>> drafts_;
  // Not owned: a list and an account list keep their items, and the reverse would make a cycle
  // that outlives the context's cache. An expired entry is read again through the context.
  std::weak_ptr<KSAccountList> accountList_;
  std::weak_ptr<KSList> list_;
  std::shared_ptr<KSAutoSwipe> autoSwipe_;
  // Summary state (ks_item_summary.cpp).
  void updatePreviewFromEmail(const KSEmail& email);
  void updatePreviewFromDraft(const libkestrun::internal::Draft& draft);
  void updateParticipantsFromEmail(KSEmail& email, bool first);
  // A participants column's object as it was last written into the column. Folding a
  // conversation's e-mails in one after another then parses the column's text once, not once per
  // e-mail; the object is used only while the column still holds the text it was written as.
  struct ParsedParticipants {
    std::string text;
    patch::JanssonPtr object;
  };
  // The object of the column's text, read from `cache` when it matches; changed in place by the
  // caller, then written with `storeParticipants`.
  static json_t* participantsFor(ParsedParticipants& cache, const std::string& text);
  static std::string storeParticipants(ParsedParticipants& cache);
  void updateParticipantsFromDraft(const libkestrun::internal::Draft& draft, bool first);
  bool isFirstMessage() const { return !threadHasEmails() && row_.get_DRAFTIDS().empty(); }
  std::vector<std::shared_ptr<KSEmail>>& emailCache();
  std::vector<libkestrun::internal::Draft>& draftCache();

  ParsedParticipants parsedSenders_;
  ParsedParticipants parsedReceivers_;

  std::string searchContents_;
  int32_t searchMatchScore_ = 0;
  std::string searchSubject_;
  std::string searchAggregate_;
  std::string searchSenders_;
  std::string searchReceivers_;
};
