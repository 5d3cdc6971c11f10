#include "core/model/kestrun_context.h"

#include <utility>

#include "core/model/draft_object.h"
#include "core/model/ks_account_list.h"
#include "core/model/ks_auto_swipe.h"
#include "core/model/ks_contact.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/ks_list.h"

namespace {

std::string string_of(const json_t* value) {
  return std::string(json_string_value(value), json_string_length(value));
}

template <class T>
std::shared_ptr<KestrunObject> make(KestrunContext* context) {
  return std::make_shared<T>(context);
}

template <class T, std::shared_ptr<T> (KestrunContext::*Fetch)(const std::string&)>
std::shared_ptr<KestrunObject> fetch(KestrunContext* context, const std::string& id) {
  return (context->*Fetch)(id);
}

// One row per server document type: its table, and how an object of it is made and fetched. A type
// without a class would apply no document.
struct DocumentClass {
  const char* docType;
  const char* table;
  std::shared_ptr<KestrunObject> (*make)(KestrunContext* context);
  std::shared_ptr<KestrunObject> (*fetch)(KestrunContext* context, const std::string& id);
};

const DocumentClass kDocumentClasses[] = {
    {"email", "KSEMAIL", make<KSEmail>, fetch<KSEmail, &KestrunContext::fetchEmail>},
    {"item", "KSITEM", make<KSItem>, fetch<KSItem, &KestrunContext::fetchItem>},
    {"contact", "KSCONTACT", make<KSContact>, fetch<KSContact, &KestrunContext::fetchContact>},
    {"devicelist", "KSLIST", make<KSList>, fetch<KSList, &KestrunContext::fetchList>},
    {"list", "KSACCOUNTLIST", make<KSAccountList>, fetch<KSAccountList, &KestrunContext::fetchAccountList>},
    {"auto_swipe", "KSAUTOSWIPE", make<KSAutoSwipe>, fetch<KSAutoSwipe, &KestrunContext::fetchAutoSwipe>},
};

const DocumentClass* classOfType(const std::string& docType) {
  for (const DocumentClass& row : kDocumentClasses) {
    if (docType == row.docType) return &row;
  }
  return nullptr;
}

const DocumentClass* classOfTable(const std::string& table) {
  for (const DocumentClass& row : kDocumentClasses) {
    if (table == row.table) return &row;
  }
  return nullptr;
}

}  // namespace

KestrunContext::KestrunContext(int kind) : kind_(kind) {}

KestrunContext::~KestrunContext() = default;

void KestrunContext::objectChanged(const std::shared_ptr<KestrunObject>& object) {
  object->setUpdated(true);
  pending_.add(object);
}

void KestrunContext::deleteObject(const std::shared_ptr<KestrunObject>& object) {
  if (object->isInserted()) {
    pending_.remove(object.get());
    uncacheObject(object->tableName(), object->id(), *object);
    return;
  }
  object->setDeleted(true);
  cacheObject(object);
  pending_.add(object);
}

void KestrunContext::recordChange(libkestrun::ChangeSet& changes,
                                  const std::shared_ptr<KestrunObject>& object) {
  using libkestrun::ConsumerChangeType;
  libkestrun::TableChangeSet& table = changes[object->tableName()];
  auto& inserted = table[ConsumerChangeType::Insert];
  auto& deleted = table[ConsumerChangeType::Delete];
  auto& updated = table[ConsumerChangeType::Update];
  if (object->isInserted()) {
    inserted.insert(object->id());
  } else if (object->isDeleted()) {
    deleted.insert(object->id());
  } else if (object->isUpdated()) {
    updated.insert(object->id());
  }
  object->setInserted(false);
  object->setUpdated(false);
  object->setDeleted(false);
  object->clearChangedFields();
}

std::shared_ptr<KestrunObject> KestrunContext::wrapDraft(const Draft& draft, bool fromServer) {
  auto wrapper = std::make_shared<DraftObject>(this, draft, fromServer);
  pending_.add(wrapper);
  cacheObject(wrapper);
  return wrapper;
}

std::shared_ptr<KestrunObject> KestrunContext::insertDraft(const Draft& draft) {
  return wrapDraft(draft, false);
}

std::shared_ptr<KestrunObject> KestrunContext::updateDraft(const Draft& draft) {
  return wrapDraft(draft, true);
}

void KestrunContext::deleteDraft(const Draft& draft) { insertDraft(draft)->setDeleted(true); }

std::string KestrunContext::tableForDocType(const std::string& docType) {
  const DocumentClass* found = classOfType(docType);
  return found == nullptr ? std::string() : found->table;
}

bool KestrunContext::objectExists(const std::string& id, const std::string& table, KestrunContext* context) {
  if (id.empty()) return false;
  if (table == "KSACCOUNTLIST") return context->accountListExists(id);
  if (table == "KSAUTOSWIPE") return context->autoSwipeExists(id);
  if (table == "KSCONTACT") return context->contactExists(id);
  if (table == "KSEMAIL") return context->emailExists(id);
  if (table == "KSITEM") return context->itemExists(id);
  if (table == "KSLIST") return context->listExists(id);
  return false;
}

std::shared_ptr<KestrunObject> KestrunContext::fetchObject(json_t* document, const std::string& docType,
                                                           const std::string& idKey,
                                                           KestrunContext* context) {
  json_t* value = json_object_get(document, idKey.c_str());
  if (!json_is_string(value)) return nullptr;
  const DocumentClass* found = classOfType(docType);
  if (found == nullptr || found->fetch == nullptr) return nullptr;
  return found->fetch(context, string_of(value));
}

std::shared_ptr<KestrunObject> KestrunContext::applyDocumentFields(
    const std::shared_ptr<KestrunObject>& object, json_t* document) {
  const char* key;
  json_t* value;
  json_object_foreach(document, key, value) { object->setFromServerKey(key, value); }
  object->finishServerDocument(document);
  return object;
}

std::shared_ptr<KestrunObject> KestrunContext::applyServerDocument(json_t* document,
                                                                   const std::string& docType,
                                                                   const std::string& idKey,
                                                                   KestrunContext* context) {
  if (document == nullptr) return nullptr;
  json_t* value = json_object_get(document, idKey.c_str());
  // An empty id would be stored under an empty key and collide with every later such document.
  if (!json_is_string(value) || json_string_length(value) == 0) return nullptr;
  const std::string id = string_of(value);
  const std::string table = tableForDocType(docType);
  if (table.empty()) return nullptr;

  std::shared_ptr<KestrunObject> object;
  if (objectExists(id, table, context)) object = fetchObject(document, docType, idKey, context);
  bool created = false;
  if (!object) {
    object = context->createObject(table, id);
    if (!object) return nullptr;
    created = true;
  }
  if (context->kind() == kPersistentKind && !object->shouldApplyServerDocument(document)) {
    if (created) {
      context->deleteObject(object);
      // The new object was cached under the document's id, which it does not carry yet.
      context->uncacheObject(table, id, *object);
    }
    return nullptr;
  }
  object->acknowledgeServerSave(document);
  return applyDocumentFields(object, document);
}

void KestrunContext::reset() {
  cache_.clear();
  pending_.clear();
}

std::shared_ptr<KestrunObject> KestrunContext::newObject(const std::string& table) {
  const DocumentClass* found = classOfTable(table);
  if (found == nullptr || found->make == nullptr) return nullptr;
  return found->make(this);
}

std::shared_ptr<KestrunObject> KestrunContext::createObject(const std::string& table, const std::string& id) {
  std::shared_ptr<KestrunObject> object = newObject(table);
  if (!object) return nullptr;
  pending_.add(object);
  cache_[libkestrun::ObjectKey{table, id}] = object;
  return object;
}

void KestrunContext::remove(const Draft&) {}
bool KestrunContext::save(const Draft&) { return false; }
bool KestrunContext::save_from_server(const Draft&) { return false; }
std::optional<KestrunContext::Draft> KestrunContext::fetchDraft(const std::string&) { return std::nullopt; }

std::shared_ptr<KestrunObject> KestrunContext::cachedObject(const std::string& table,
                                                            const std::string& id) const {
  auto found = cache_.find(libkestrun::ObjectKey{table, id});
  return found == cache_.end() ? nullptr : found->second;
}

void KestrunContext::cacheObject(const std::shared_ptr<KestrunObject>& object) {
  cache_[libkestrun::ObjectKey{object->tableName(), object->id()}] = object;
}

void KestrunContext::uncacheObject(const std::string& table, const std::string& id,
                                   const KestrunObject& object) {
  auto found = cache_.find(libkestrun::ObjectKey{table, id});
  if (found != cache_.end() && found->second.get() == &object) cache_.erase(found);
}
