// The item's server document: which documents are acknowledged, how each key is read, what is
// done once all keys are in, and the documents the item writes for the server.
#include <jansson.h>

#include "core/foundation/utility.h"
#include "core/model/kestrun_context.h"
#include "core/model/ks_account_list.h"
#include "core/model/ks_auto_swipe.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/ks_list.h"
#include "core/services/counts_manager.h"
#include "core/services/offline_manager.h"

using libkestrun::DeferralType;
using libkestrun::ItemState;
using libkestrun::ItemType;
using libkestrun::SnoozeType;

namespace {

std::string stringOf(json_t* value) {
  return std::string(json_string_value(value), json_string_length(value));
}

void setString(json_t* object, const char* key, const std::string& value) {
  json_object_set_new(object, key, json_stringn(value.data(), value.size()));
}

template <class Enum>
void setEnum(json_t* object, const char* key, Enum value) {
  json_object_set_new(object, key, json_integer(static_cast<json_int_t>(value)));
}

// One key of the item document: the JSON type its value must have and what reading it does.
struct DocumentKey {
  const char* key;
  int type;  // a json_type; JSON_TRUE stands for either boolean
  void (*read)(KSItem& item, json_t* value);
};

const DocumentKey kDocumentKeys[] = {
    {"_id", JSON_STRING, [](KSItem& item, json_t* v) { item.setItemID(stringOf(v)); }},
    {"created_at", JSON_INTEGER, [](KSItem& item, json_t* v) { item.setCreatedAt(json_integer_value(v)); }},
    {"acct_id", JSON_STRING, [](KSItem& item, json_t* v) { item.setAccountID(stringOf(v)); }},
    {"deferral_type", JSON_INTEGER,
     [](KSItem& item, json_t* v) { item.setDeferralType(static_cast<DeferralType>(json_integer_value(v))); }},
    {"loadedOnce", JSON_TRUE, [](KSItem& item, json_t* v) { item.setLoadedOnce(json_is_true(v)); }},
    {"list_id", JSON_STRING, [](KSItem& item, json_t* v) { item.setListID(stringOf(v)); }},
    {"saved_at", JSON_INTEGER, [](KSItem& item, json_t* v) { item.setSavedAt(json_integer_value(v)); }},
    {"master_rev", JSON_INTEGER, [](KSItem& item, json_t* v) { item.setMasterRev(json_integer_value(v)); }},
    {"modified_at", JSON_INTEGER, [](KSItem& item, json_t* v) { item.setModifiedAt(json_integer_value(v)); }},
    {"state", JSON_INTEGER,
     [](KSItem& item, json_t* v) { item.setState(static_cast<ItemState>(json_integer_value(v))); }},
    {"subject", JSON_STRING, [](KSItem& item, json_t* v) { item.setSubject(stringOf(v)); }},
    {"type", JSON_INTEGER,
     [](KSItem& item, json_t* v) { item.setType(static_cast<ItemType>(json_integer_value(v))); }},
    {"defer_read", JSON_TRUE, [](KSItem& item, json_t* v) { item.setDeferRead(json_is_true(v)); }},
};

bool hasType(json_t* value, int type) {
  return type == JSON_TRUE ? json_is_boolean(value) : json_typeof(value) == static_cast<json_type>(type);
}

bool isPersistent(const KestrunContext* context) {
  return context != nullptr && context->kind() == KestrunContext::kPersistentKind;
}

}  // namespace

void KSItem::setFromServerKey(const std::string& key, json_t* value) {
  if (value == nullptr || json_is_null(value)) return;
  for (const DocumentKey& entry : kDocumentKeys) {
    if (key != entry.key) continue;
    if (hasType(value, entry.type)) entry.read(*this, value);
    return;
  }
}

void KSItem::acknowledgeServerSave(json_t* document) {
  if (!isPersistent(context()) || json_object_get(document, "saved_at") == nullptr) return;
  json_t* state = json_object_get(document, "state");
  if (state == nullptr) return;
  // A version saved before the local change leaves that change unconfirmed: its queued update
  // stays and goes out again, or another device's older change would silently win.
  json_t* modified = json_object_get(document, "modified_at");
  if (json_is_integer(modified) && json_integer_value(modified) < modifiedAt()) return;
  if (json_is_integer(state) &&
      static_cast<ItemState>(json_integer_value(state)) == ItemState::ServerHidden) {
    // A hidden item is confirmed only by a new revision.
    json_t* rev = json_object_get(document, "master_rev");
    if (!json_is_integer(rev) || json_integer_value(rev) == 0 || json_integer_value(rev) == masterRev())
      return;
  }
  json_t* id = json_object_get(document, "_id");
  if (json_is_string(id)) libkestrun::offline_manager_remove_request(stringOf(id));
}

void KSItem::readDeferralData(json_t* document) {
  json_t* data = json_object_get(document, "deferral_data");
  if (state() != ItemState::Later || !json_is_object(data)) return;
  json_t* remind = json_object_get(data, "remind_at");
  const int64_t remindAtMs = json_is_integer(remind) ? json_integer_value(remind) : unsetTime;
  const bool remindChanged = remindAtMs != remindAt();
  if (remindChanged) setRemindAt(remindAtMs);
  json_t* snooze = json_object_get(data, "snooze_type");
  if (json_is_integer(snooze)) {
    setSnoozeType(static_cast<SnoozeType>(json_integer_value(snooze)));
  } else if (!remindChanged) {
    return;
  }
  updateDeferralBucket(0);
}

void KSItem::readAutoSwipe(json_t* document) {
  json_t* data = json_object_get(document, "auto_swipe");
  if (!json_is_object(data)) return;
  auto rule = std::static_pointer_cast<KSAutoSwipe>(
      KestrunContext::applyServerDocument(data, "auto_swipe", "_id", context()));
  std::shared_ptr<KSItem> self = std::static_pointer_cast<KSItem>(weak_from_this().lock());
  if (!self) return;
  if (auto previous = autoSwipe()) previous->removeItem(self);
  if (rule) rule->addItem(self);
}

void KSItem::updateListFromDocument() {
  auto self = std::static_pointer_cast<KSItem>(shared_from_this());
  if (state() != ItemState::List) {
    // setState has unfiled an item that left state 5; LISTID, which it keeps, goes here.
    if (auto filedIn = list()) filedIn->removeItem(self);
    setListID("");
    return;
  }
  std::shared_ptr<KSAccountList> current = accountList();
  if (current && current->listID() == listID()) return;
  if (listID().empty()) {
    if (auto filedIn = list()) filedIn->removeItem(self);
    return;
  }
  // An account list that has not arrived yet files the item itself on its first document.
  std::shared_ptr<KSAccountList> named = KSAccountList::fetchWithID(listID(), context());
  if (!named) return;
  if (current) {
    if (auto previous = current->parentList()) previous->removeItem(self);
  }
  if (auto parent = named->parentList()) parent->addItem(self, named);
}

void KSItem::updateCountsForStateChange(bool isNew) {
  if (isNew || row_.is_changed_STATE()) {
    libkestrun::counts_manager_update_counts_for_state_change(previousState(), state(), accountID());
  }
}

void KSItem::purgeIfDeletedForGood() {
  std::shared_ptr<KestrunObject> self = weak_from_this().lock();
  if (self) purge(std::static_pointer_cast<KSItem>(self), context(), false);
}

void KSItem::finishServerDocument(json_t* document) {
  if (!isPersistent(context())) return;
  const bool isNew = isInserted();
  foldInEmailsOnce();
  readDeferralData(document);
  readAutoSwipe(document);
  updateListFromDocument();
  updateCountsForStateChange(isNew);
  readSyncData(document);
  if (state() == ItemState::Deleted) {
    // Nothing more is written to a purged item: a change now would turn its deletion back into
    // an update (or bring a forgotten new item back as an insert).
    purgeIfDeletedForGood();
    return;
  }
  foldInDraftsOnce();
  if (!loadedOnce()) setLoadedOnce(true);
}

json_t* KSItem::deferralDataJson() const {
  json_t* data = json_object();
  if (remindAt() != unsetTime) json_object_set_new(data, "remind_at", json_integer(remindAt()));
  if (snoozeType() != SnoozeType::None) setEnum(data, "snooze_type", snoozeType());
  return data;
}

json_t* KSItem::toJson() {
  json_t* document = envelope();
  if (auto rule = autoSwipe()) json_object_set_new(document, "auto_swipe", rule->toJson());
  json_object_set_new(document, "created_at", json_integer(createdAt()));
  setEnum(document, "deferral_type", deferralType());
  if (state() == ItemState::Later) json_object_set_new(document, "deferral_data", deferralDataJson());
  if (!listID().empty()) setString(document, "list_id", listID());
  if (masterRev() != 0) json_object_set_new(document, "master_rev", json_integer(masterRev()));
  json_object_set_new(document, "modified_at", json_integer(modifiedAt()));
  setEnum(document, "prev_state", previousState());
  setEnum(document, "state", state());
  setString(document, "subject", subject());
  setEnum(document, "type", type());
  return document;
}

json_t* KSItem::changesToJson(const std::unordered_set<std::string>& properties) {
  json_t* document = envelope();
  for (const std::string& name : properties) {
    if (name == "autoSwipeData") {
      if (auto rule = autoSwipe()) json_object_set_new(document, "auto_swipe", rule->toJson());
    } else if (name == "createdAt") {
      json_object_set_new(document, "created_at", json_integer(createdAt()));
    } else if (name == "deferralType") {
      setEnum(document, "deferral_type", deferralType());
    } else if (name == "deferRead") {
      json_object_set_new(document, "defer_read", json_boolean(deferRead()));
    } else if (name == "deferralData") {
      json_object_set_new(document, "deferral_data", deferralDataJson());
    } else if (name == "listID") {
      if (!listID().empty()) setString(document, "list_id", listID());
    } else if (name == "masterRev") {
      if (masterRev() != 0) json_object_set_new(document, "master_rev", json_integer(masterRev()));
    } else if (name == "modifiedAt") {
      json_object_set_new(document, "modified_at", json_integer(modifiedAt()));
    } else if (name == "state") {
      setEnum(document, "state", state());
    } else if (name == "type") {
      setEnum(document, "type", type());
    }
  }
  if (masterRev() != 0) json_object_set_new(document, "master_rev", json_integer(masterRev()));
  setEnum(document, "prev_state", previousState());
  setString(document, "subject", subject());
  return document;
}

json_t* KSItem::makeDocument(const std::string& id, const std::string& subject,
                             const std::string& accountID) {
  if (accountID.empty()) return nullptr;
  const int64_t now = libkestrun::Utility::now_ms();
  json_t* document = json_object();
  setString(document, "_id", id);
  json_object_set_new(document, "created_at", json_integer(now));
  setString(document, "subject", subject);
  setString(document, "acct_id", accountID);
  setEnum(document, "state", ItemState::Archive);
  setEnum(document, "type", ItemType::Default);
  json_object_set_new(document, "modified_at", json_integer(now));
  json_object_set_new(document, "loadedOnce", json_true());
  return document;
}
