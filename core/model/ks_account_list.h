// One user list as one mail account knows it on the server: a server document of type "list",
// stored in KSACCOUNTLIST. Every account list points to the device's list of the same name (its
// parent, ks_list.h). When a document arrives the account list attaches itself to the list of its
// name (creating it when needed), moves to another list when its name changes, files its items
// there, and when the server marks it deleted it detaches itself, taking the list with it when it
// was the list's last account list.
//
// Every changed column, those that only documents write (account, saved time, loaded-once and
// sync data) included, queues the account list for the next commit: a stored account list must
// write its new saved time, or the snapshot requests keep asking for what the device already has.
// Account lists belong to the core thread and take no lock.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "core/model/db_kestrun_object.h"
#include "core/model/kestrun_context.h"
#include "core/store/cpp_sqlite3_query.h"
#include "core/store/list_records.h"

class KSAccountList : public DBKestrunObject {
 public:
  // A new account list (inserted) with no creation time and no changed column.
  explicit KSAccountList(KestrunContext* context);
  // An account list loaded from the current row of a KSACCOUNTLIST query.
  KSAccountList(KestrunContext* context, CppSQLite3Query& query);

  void setDefaults() override;
  std::string id() const override { return row_.get_LISTID(); }
  std::string tableName() const override { return libkestrun::internal::List::table_name; }
  // "_id", "created_at", "acct_id", "loadedOnce", "name" and "saved_at", each only with its JSON
  // type; "sync_data" is read when the document is finished.
  void setFromServerKey(const std::string& key, json_t* value) override;
  void save() override;
  void clearChangedFields() override { clearChanged(row_); }
  size_t changedColumnCount() const override { return countChanged(row_); }
  std::string idKey() const override { return "_id"; }
  // Any document is accepted, except one whose "_deleted" is true: that one detaches and deletes
  // the account list (and the parent list it leaves empty) and is refused.
  bool shouldApplyServerDocument(json_t* document) override;
  // In a persistent context: attaches to the list of the name, files the items, reads the sync
  // data and marks the account list loaded once.
  void finishServerDocument(json_t* document) override;
  // The envelope, "created_at" and "name".
  json_t* toJson() override;
  // The envelope, and "created_at" for "createdAt" and "name" for "name".
  json_t* changesToJson(const std::unordered_set<std::string>& properties) override;

  const std::string& accountID() const override { return row_.get_ACCOUNTID(); }
  void setAccountID(std::string id) { row_.set_ACCOUNTID(std::move(id)); }
  int64_t savedAt() const override { return row_.get_SAVEDAT(); }
  void setSavedAt(int64_t ms) { row_.set_SAVEDAT(ms); }
  void setSyncData(std::string text) override { row_.set_SYNCDATA(std::move(text)); }
  const std::string& syncData() const override { return row_.get_SYNCDATA(); }
  bool loadedOnce() const override { return row_.get_LOADEDONCE(); }
  void setLoadedOnce(bool value) override { row_.set_LOADEDONCE(value); }

  const libkestrun::internal::List& row() const { return row_; }

  const std::string& listID() const { return row_.get_LISTID(); }
  // Also always reports the account list, as a new one gets its id after its defaults.
  void setListID(std::string id);
  int64_t createdAt() const { return row_.get_CREATEDAT(); }
  void setCreatedAt(int64_t ms) { row_.set_CREATEDAT(ms); }
  const std::string& name() const { return row_.get_NAME(); }
  void setName(std::string name) { row_.set_NAME(std::move(name)); }

  // The parent list, read once by MPARENTLISTID.
  std::shared_ptr<KSList> parentList();
  // Sets the parent when it is cleared or set from none (or set to the same list again); a
  // different list while one is set changes nothing: callers detach first (KSList::deleteList).
  // Called by KSList::addAccountList and KSList::removeAccountList only.
  void setParentList(const std::shared_ptr<KSList>& list);
  // The items filed under this account list (by MACCOUNTLISTID); null while it has no id.
  KSObjects<KSItem> items();

  // Null for an empty id or an id without an account list.
  static std::shared_ptr<KSAccountList> fetchWithID(const std::string& listID, KestrunContext* context);
  static KSObjects<KSAccountList> accountListsForAccount(const std::string& accountID,
                                                         KestrunContext* context);
  // The document of a new account list, a new reference: a new id, the name, the creation time
  // (now), the account and "loadedOnce" as the integer 1, which the reader ignores: the column is
  // set when the document is finished.
  static json_t* newListDocument(const std::string& name, const std::string& accountID);

 private:
  void registerChangeListener();
  // Moves to the list of the account list's name unless the parent already has that name.
  void updateParentList();
  // Files into the parent the items that name this account list: on the first document those
  // not yet in a list, later all its items when the parent changed.
  void attachItems();

  libkestrun::internal::List row_;
  std::shared_ptr<KSList> parentList_;
  KSObjects<KSItem> items_;
};
