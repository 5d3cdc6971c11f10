// One of the user's lists (receipts, travel...): a named folder into which items are filed (item
// state 5), shown in the sidebar and the list picker in the user's order. A list exists once on
// the device whatever the number of mail accounts; each account that has items in it has an
// account list under it (ks_account_list.h), and the account lists are what the server knows.
//
// The id is "list_" followed by the name byte for byte, so two lists never share a name. The list
// keeps its name, item count (LISTCOUNT) and order key in KSLIST, and caches its account lists
// and its items: each cache is read once from the context and then kept current by addItem,
// removeItem, addAccountList and removeAccountList.
//
// Setters store only a differing value and report the first changed column to the context.
// Lists belong to the core thread and take no lock; normalizeName touches only its argument, and
// validateName reads only the context it is given (the facade passes the consumer context under
// its mutex).
#pragma once

#include <jansson.h>

#include <cstdint>
#include <memory>
#include <string>

#include "core/model/kestrun_context.h"
#include "core/model/kestrun_object.h"
#include "core/store/cpp_sqlite3_query.h"
#include "core/store/list_records.h"

namespace libkestrun {

// Whether a name can be given to a list; the preferences show a text for each refusal.
enum class ListNameStatus : int32_t {
  Valid = 0,
  Reserved = 1,          // "later", in any case
  InUse = 2,             // another list has the name
  Empty = 3,             // nothing left once cleaned
  InvalidCharacter = 4,  // contains "^"
};

}  // namespace libkestrun

class KSList : public KestrunObject {
 public:
  // A new list (inserted) with count and key 0 and no changed column.
  explicit KSList(KestrunContext* context);
  // A list loaded from the current row of a KSLIST query.
  KSList(KestrunContext* context, CppSQLite3Query& query);

  static constexpr const char* kIdPrefix = "list_";

  void setDefaults() override;
  std::string id() const override { return row_.get_LISTID(); }
  std::string tableName() const override { return libkestrun::internal::UserList::table_name; }
  // String values of "_id" and "name"; anything else is ignored.
  void setFromServerKey(const std::string& key, json_t* value) override;
  void save() override;
  void clearChangedFields() override { clearChanged(row_); }
  size_t changedColumnCount() const override { return countChanged(row_); }
  std::string idKey() const override { return "_id"; }
  // A user list is never sent to the server itself: its documents stay the empty object.

  const libkestrun::internal::UserList& row() const { return row_; }

  const std::string& listID() const { return row_.get_LISTID(); }
  // Also always reports the list, as a new list gets its id after its defaults.
  void setListID(std::string id);
  const std::string& name() const { return row_.get_NAME(); }
  void setName(std::string name);
  int32_t listCount() const { return row_.get_LISTCOUNT(); }
  // A negative count is stored as 0.
  void setListCount(int32_t count);
  // ORDERKEY is a 64-bit column of which the lists use the low 32 bits; a key is stored
  // sign-extended.
  int32_t orderKey() const { return static_cast<int32_t>(row_.get_ORDERKEY()); }
  void setOrderKey(int32_t key);

  // The account lists whose parent is this list; null while the list has no id.
  KSObjects<KSAccountList> accountLists();
  // Adds the account list (once) and makes this list its parent. Null does nothing.
  void addAccountList(const std::shared_ptr<KSAccountList>& accountList);
  // Removes the account list and clears its parent. Null does nothing.
  void removeAccountList(const std::shared_ptr<KSAccountList>& accountList);
  // The items filed in this list; null while the list has no id.
  KSObjects<KSItem> items();
  // Files the item under the account list: out of its previous list (this one included), counted
  // here, its list and account list set. Null does nothing.
  void addItem(const std::shared_ptr<KSItem>& item, const std::shared_ptr<KSAccountList>& accountList);
  // Unfiles the item: counted down (never below 0) when it was among the items, and its list and
  // account list cleared in every case. Null does nothing.
  void removeItem(const std::shared_ptr<KSItem>& item);

  // The list with the id, or null.
  static std::shared_ptr<KSList> fetchWithID(const std::string& listID, KestrunContext* context);
  static std::shared_ptr<KSList> fetchWithName(const std::string& name, KestrunContext* context);
  // {"_id": "list_" + name, "name": name}, a new reference.
  static json_t* deviceListDocument(const std::string& name);
  // The list of that name; a new one takes the ordering manager's key for the name.
  static std::shared_ptr<KSList> findOrCreate(const std::string& name, KestrunContext* context);
  // The list's account list for the account, created (and announced with LIST_SAVE) when absent;
  // null for a null list or an empty account id.
  static std::shared_ptr<KSAccountList> accountListForAccount(const std::shared_ptr<KSList>& list,
                                                              const std::string& accountID,
                                                              KestrunContext* context);
  // Detaches the account list from the list; a list left without account lists unfiles its
  // items and is deleted. Nothing when either is null.
  static void deleteList(const std::shared_ptr<KSAccountList>& accountList,
                         const std::shared_ptr<KSList>& list, KestrunContext* context);
  // The status of the cleaned name; `changingListID` is the id of the list being renamed (empty
  // when creating), whose own name is allowed.
  static libkestrun::ListNameStatus validateName(const std::string& name, const std::string& changingListID,
                                                 KestrunContext* context);
  // Drops tabs, line feeds and carriage returns, and every run of two or more blanks whole (the
  // run is removed, not reduced to one blank). List ids derive from names, so every device must
  // clean names alike.
  static std::string normalizeName(const std::string& name);

  // The user's order: the smaller order key first, then the byte-wise smaller name (a prefix
  // first); equal keys and names give false. Both objects must be lists.
  static bool OrderKeyAsc(const std::shared_ptr<KestrunObject>& a, const std::shared_ptr<KestrunObject>& b);

 private:
  std::shared_ptr<KSList> self();

  libkestrun::internal::UserList row_;
  KSObjects<KSAccountList> accountLists_;
  KSObjects<KSItem> items_;
};
