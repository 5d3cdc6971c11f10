#include "core/model/ks_account_list.h"

#include <utility>

#include "core/foundation/utility.h"
#include "core/model/ks_item.h"
#include "core/model/ks_list.h"

namespace {

std::string stringOf(json_t* value) {
  return std::string(json_string_value(value), json_string_length(value));
}

void setText(json_t* object, const char* key, const std::string& text) {
  json_object_set_new(object, key, json_stringn(text.data(), text.size()));
}

}  // namespace

KSAccountList::KSAccountList(KestrunContext* context) : DBKestrunObject(context, false) {
  setDefaults();
  registerChangeListener();
}

KSAccountList::KSAccountList(KestrunContext* context, CppSQLite3Query& query)
    : DBKestrunObject(context, true), row_(query) {
  registerChangeListener();
}

void KSAccountList::registerChangeListener() {
  // Through the row, so that the columns stored without a setter of their own report too.
  row_.row.change_callback = [this] {
    if (!id().empty()) reportFirstChange(changedColumnCount());
  };
}

void KSAccountList::setDefaults() {
  row_.set_CREATEDAT(unsetTime);
  clearChangedFields();
}

void KSAccountList::setFromServerKey(const std::string& key, json_t* value) {
  if (value == nullptr) return;
  if (key == "_id" && json_is_string(value)) {
    setListID(stringOf(value));
  } else if (key == "created_at" && json_is_integer(value)) {
    setCreatedAt(json_integer_value(value));
  } else if (key == "acct_id" && json_is_string(value)) {
    setAccountID(stringOf(value));
  } else if (key == "loadedOnce" && json_is_boolean(value)) {
    setLoadedOnce(json_is_true(value));
  } else if (key == "name" && json_is_string(value)) {
    setName(stringOf(value));
  } else if (key == "saved_at" && json_is_integer(value)) {
    setSavedAt(json_integer_value(value));
  }
}

void KSAccountList::save() {
  if (isInserted()) {
    context()->insertAccountList(row_);
  } else if (isUpdated()) {
    context()->updateAccountList(row_);
  } else if (isDeleted()) {
    context()->removeAccountList(row_.get_LISTID());
  }
}

void KSAccountList::setListID(std::string id) {
  if (row_.get_LISTID() == id) return;
  row_.set_LISTID(std::move(id));
  std::shared_ptr<KestrunObject> self = weak_from_this().lock();
  if (self) context()->objectChanged(self);
}

std::shared_ptr<KSList> KSAccountList::parentList() {
  const std::string& id = row_.get_MPARENTLISTID();
  if (!parentList_ && !id.empty()) parentList_ = context()->fetchList(id);
  return parentList_;
}

void KSAccountList::setParentList(const std::shared_ptr<KSList>& list) {
  // The stored parent counts even when it was never read: clearing a parent that only the column
  // names must still empty the column.
  std::shared_ptr<KSList> current = parentList();
  if (!list && !current) return;
  if (list && current && list->listID() != current->listID()) return;
  parentList_ = list;
  row_.set_MPARENTLISTID(list ? list->listID() : std::string());
}

KSObjects<KSItem> KSAccountList::items() {
  if (!items_ && !listID().empty()) items_ = context()->itemsForAccountList(listID());
  return items_;
}

std::shared_ptr<KSAccountList> KSAccountList::fetchWithID(const std::string& listID,
                                                          KestrunContext* context) {
  if (listID.empty() || !context->accountListExists(listID)) return nullptr;
  return context->fetchAccountList(listID);
}

KSObjects<KSAccountList> KSAccountList::accountListsForAccount(const std::string& accountID,
                                                               KestrunContext* context) {
  return context->accountListsForAccount(accountID);
}

json_t* KSAccountList::newListDocument(const std::string& name, const std::string& accountID) {
  json_t* document = json_object();
  setText(document, "_id", generateID());
  setText(document, "name", name);
  json_object_set_new(document, "created_at", json_integer(libkestrun::Utility::now_ms()));
  setText(document, "acct_id", accountID);
  json_object_set_new(document, "loadedOnce", json_integer(1));
  return document;
}

bool KSAccountList::shouldApplyServerDocument(json_t* document) {
  if (!json_is_true(json_object_get(document, "_deleted"))) return true;
  auto self = std::static_pointer_cast<KSAccountList>(shared_from_this());
  if (auto parent = parentList()) KSList::deleteList(self, parent, context());
  context()->deleteObject(self);
  return false;
}

void KSAccountList::updateParentList() {
  std::shared_ptr<KSList> parent = parentList();
  if (parent && parent->name() == name()) return;
  auto self = std::static_pointer_cast<KSAccountList>(shared_from_this());
  if (parent) KSList::deleteList(self, parent, context());
  if (auto list = KSList::findOrCreate(name(), context())) list->addAccountList(self);
}

void KSAccountList::attachItems() {
  std::shared_ptr<KSList> parent = parentList();
  if (!parent) return;
  KSObjects<KSItem> items;
  if (!loadedOnce()) {
    items = KSItem::itemsWithListIDOnly(listID(), context());
  } else if (row_.is_changed_MPARENTLISTID()) {
    items = this->items();
  }
  if (!items) return;
  auto self = std::static_pointer_cast<KSAccountList>(shared_from_this());
  for (const auto& item : *items) parent->addItem(item, self);
}

void KSAccountList::finishServerDocument(json_t* document) {
  if (isDeleted() || context()->kind() != KestrunContext::kPersistentKind) return;
  updateParentList();
  attachItems();
  readSyncData(document);
  if (!loadedOnce()) setLoadedOnce(true);
}

json_t* KSAccountList::toJson() {
  json_t* document = envelope();
  json_object_set_new(document, "created_at", json_integer(createdAt()));
  setText(document, "name", name());
  return document;
}

json_t* KSAccountList::changesToJson(const std::unordered_set<std::string>& properties) {
  json_t* document = envelope();
  for (const std::string& property : properties) {
    if (property == "createdAt") {
      json_object_set_new(document, "created_at", json_integer(createdAt()));
    } else if (property == "name") {
      setText(document, "name", name());
    }
  }
  return document;
}
