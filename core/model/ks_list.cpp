#include "core/model/ks_list.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

#include "core/model/ks_account_list.h"
#include "core/model/ks_item.h"
#include "core/services/list_ordering_manager.h"
#include "core/sync/kestrun_object_server_client.h"

using libkestrun::ListNameStatus;

namespace {

void setText(json_t* object, const char* key, const std::string& text) {
  json_object_set_new(object, key, json_stringn(text.data(), text.size()));
}

// The cache of a relation as a vector to change: read once through the context, and made empty
// when the context has nothing to give (a memory context, or a list without an id).
template <class T, class Fetch>
std::vector<std::shared_ptr<T>>& filledCache(KSObjects<T>& cache, Fetch fetch) {
  if (!cache) cache = fetch();
  if (!cache) cache = std::make_shared<std::vector<std::shared_ptr<T>>>();
  return *cache;
}

}  // namespace

KSList::KSList(KestrunContext* context) : KestrunObject(context, false) { setDefaults(); }

KSList::KSList(KestrunContext* context, CppSQLite3Query& query) : KestrunObject(context, true), row_(query) {}

void KSList::setDefaults() {
  row_.set_LISTCOUNT(0);
  row_.set_ORDERKEY(0);
  clearChangedFields();
}

void KSList::setFromServerKey(const std::string& key, json_t* value) {
  if (!json_is_string(value)) return;
  std::string text(json_string_value(value), json_string_length(value));
  if (key == "_id") {
    setListID(std::move(text));
  } else if (key == "name") {
    setName(std::move(text));
  }
}

void KSList::save() {
  if (isInserted()) {
    context()->insertList(row_);
  } else if (isUpdated()) {
    context()->updateList(row_);
  } else if (isDeleted()) {
    context()->removeList(row_.get_LISTID());
  }
}

std::shared_ptr<KSList> KSList::self() { return std::static_pointer_cast<KSList>(shared_from_this()); }

void KSList::setListID(std::string id) {
  if (row_.get_LISTID() == id) return;
  row_.set_LISTID(std::move(id));
  fieldChanged("listID");
  std::shared_ptr<KestrunObject> object = weak_from_this().lock();
  if (object) context()->objectChanged(object);
}

void KSList::setName(std::string name) {
  if (row_.get_NAME() == name) return;
  row_.set_NAME(std::move(name));
  fieldChanged("name");
}

void KSList::setListCount(int32_t count) {
  count = std::max(count, 0);
  if (row_.get_LISTCOUNT() == count) return;
  row_.set_LISTCOUNT(count);
  fieldChanged("listCount");
}

void KSList::setOrderKey(int32_t key) {
  if (orderKey() == key) return;
  row_.set_ORDERKEY(key);
  fieldChanged("orderKey");
}

KSObjects<KSAccountList> KSList::accountLists() {
  if (!accountLists_ && !listID().empty()) accountLists_ = context()->accountListsForList(listID());
  return accountLists_;
}

void KSList::addAccountList(const std::shared_ptr<KSAccountList>& accountList) {
  if (!accountList) return;
  auto& lists = filledCache(accountLists_, [this] { return accountLists(); });
  if (std::find(lists.begin(), lists.end(), accountList) == lists.end()) lists.push_back(accountList);
  accountList->setParentList(self());
}

void KSList::removeAccountList(const std::shared_ptr<KSAccountList>& accountList) {
  if (!accountList) return;
  auto& lists = filledCache(accountLists_, [this] { return accountLists(); });
  auto found = std::find(lists.begin(), lists.end(), accountList);
  if (found != lists.end()) lists.erase(found);
  accountList->setParentList(nullptr);
}

KSObjects<KSItem> KSList::items() {
  if (!items_ && !listID().empty()) items_ = context()->itemsForList(listID());
  return items_;
}

void KSList::addItem(const std::shared_ptr<KSItem>& item, const std::shared_ptr<KSAccountList>& accountList) {
  if (!item) return;
  if (auto previous = item->list()) previous->removeItem(item);
  setListCount(listCount() + 1);
  item->setList(self());
  item->setAccountList(accountList);
  filledCache(items_, [this] { return items(); }).push_back(item);
}

void KSList::removeItem(const std::shared_ptr<KSItem>& item) {
  if (!item) return;
  auto& filed = filledCache(items_, [this] { return items(); });
  const std::string id = item->itemID();
  auto found =
      std::find_if(filed.begin(), filed.end(), [&](const auto& each) { return each->itemID() == id; });
  if (found != filed.end()) {
    filed.erase(found);
    setListCount(listCount() - 1);
  }
  item->setList(nullptr);
  item->setAccountList(nullptr);
}

std::shared_ptr<KSList> KSList::fetchWithID(const std::string& listID, KestrunContext* context) {
  if (!context->listExists(listID)) return nullptr;
  return context->fetchList(listID);
}

std::shared_ptr<KSList> KSList::fetchWithName(const std::string& name, KestrunContext* context) {
  return fetchWithID(kIdPrefix + name, context);
}

json_t* KSList::deviceListDocument(const std::string& name) {
  json_t* document = json_object();
  setText(document, "_id", kIdPrefix + name);
  setText(document, "name", name);
  return document;
}

std::shared_ptr<KSList> KSList::findOrCreate(const std::string& name, KestrunContext* context) {
  if (auto found = fetchWithName(name, context)) return found;
  json_t* document = deviceListDocument(name);
  auto list = std::static_pointer_cast<KSList>(
      KestrunContext::applyServerDocument(document, "devicelist", "_id", context));
  json_decref(document);
  if (list) list->setOrderKey(libkestrun::list_ordering_manager_get_order_key(list->name()));
  return list;
}

std::shared_ptr<KSAccountList> KSList::accountListForAccount(const std::shared_ptr<KSList>& list,
                                                             const std::string& accountID,
                                                             KestrunContext* context) {
  if (!list || accountID.empty()) return nullptr;
  if (auto lists = list->accountLists()) {
    for (const auto& each : *lists) {
      if (each->accountID() == accountID) return each;
    }
  }
  json_t* document = KSAccountList::newListDocument(list->name(), accountID);
  auto accountList = std::static_pointer_cast<KSAccountList>(
      KestrunContext::applyServerDocument(document, "list", "_id", context));
  json_decref(document);
  if (accountList) {
    json_t* saved = accountList->toJson();
    libkestrun::internal::kestrun_object_server_client_save_list(saved, true);
    json_decref(saved);
  }
  return accountList;
}

void KSList::deleteList(const std::shared_ptr<KSAccountList>& accountList,
                        const std::shared_ptr<KSList>& list, KestrunContext* context) {
  if (!accountList || !list) return;
  list->removeAccountList(accountList);
  auto remaining = list->accountLists();
  if (remaining && !remaining->empty()) return;
  if (auto items = list->items()) {
    const std::vector<std::shared_ptr<KSItem>> filed = *items;
    for (const auto& item : filed) list->removeItem(item);
  }
  context->deleteObject(list);
}

ListNameStatus KSList::validateName(const std::string& name, const std::string& changingListID,
                                    KestrunContext* context) {
  const std::string cleaned = normalizeName(name);
  if (cleaned.empty()) return ListNameStatus::Empty;
  std::string lower = cleaned;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (lower == "later") return ListNameStatus::Reserved;
  if (cleaned.find('^') != std::string::npos) return ListNameStatus::InvalidCharacter;
  auto existing = fetchWithName(cleaned, context);
  if (existing && (changingListID.empty() || changingListID != existing->listID()))
    return ListNameStatus::InUse;
  return ListNameStatus::Valid;
}

std::string KSList::normalizeName(const std::string& name) {
  // Control characters go first: a tab between two blanks leaves a run of two.
  std::string text;
  text.reserve(name.size());
  for (char c : name) {
    if (c != '\t' && c != '\n' && c != '\r') text += c;
  }
  std::string cleaned;
  cleaned.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (text[i] != ' ') {
      cleaned += text[i++];
      continue;
    }
    const size_t end = std::min(text.find_first_not_of(' ', i), text.size());
    if (end - i == 1) cleaned += ' ';
    i = end;
  }
  return cleaned;
}

bool KSList::OrderKeyAsc(const std::shared_ptr<KestrunObject>& a, const std::shared_ptr<KestrunObject>& b) {
  const auto& x = static_cast<const KSList&>(*a);
  const auto& y = static_cast<const KSList&>(*b);
  if (x.orderKey() != y.orderKey()) return x.orderKey() < y.orderKey();
  const std::string& p = x.name();
  const std::string& q = y.name();
  // std::string compares char, which may be signed; names compare as unsigned bytes.
  const int c = std::memcmp(p.data(), q.data(), std::min(p.size(), q.size()));
  if (c != 0) return c < 0;
  return p.size() < q.size();
}
