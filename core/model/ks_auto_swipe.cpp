#include "core/model/ks_auto_swipe.h"
#include "core/foundation/json_conversion.h"

#include <algorithm>
#include <utility>

#include "core/model/ks_item.h"

using libkestrun::AutoSwipeField;
using libkestrun::AutoSwipeRuleState;
using libkestrun::DeferralType;
using libkestrun::ItemState;
using libkestrun::SnoozeType;
using libkestrun::internal::AutoSwipeAttr;

namespace {

std::string string_of(json_t* value) {
  return std::string(json_string_value(value), json_string_length(value));
}

void set_text(json_t* object, const char* key, const std::string& text) {
  json_object_set_new(object, key, json_stringn(text.data(), text.size()));
}

template <class Enum>
void set_number(json_t* object, const char* key, Enum value) {
  json_object_set_new(object, key, json_integer(static_cast<json_int_t>(value)));
}

const KSAutoSwipe& rule(const std::shared_ptr<KestrunObject>& object) {
  return static_cast<const KSAutoSwipe&>(*object);
}

}  // namespace

KSAutoSwipe::KSAutoSwipe(KestrunContext* context) : KestrunObject(context, false) { setDefaults(); }

KSAutoSwipe::KSAutoSwipe(KestrunContext* context, CppSQLite3Query& query)
    : KestrunObject(context, true), row_(query) {}

void KSAutoSwipe::setDefaults() {
  row_.set_COUNT(0);
  row_.set_DEFERRALTYPE(DeferralType::NotDeferred);
  row_.set_FIELD(AutoSwipeField{0});
  row_.set_ITEMSTATE(ItemState::None);
  row_.set_STATE(AutoSwipeRuleState::None);
  clearChangedFields();
}

std::shared_ptr<KSAutoSwipe> KSAutoSwipe::fetch(const std::string& id, KestrunContext* context) {
  if (!context->autoSwipeExists(id)) return nullptr;
  return context->fetchAutoSwipe(id);
}

KSObjects<KSAutoSwipe> KSAutoSwipe::orphans(KestrunContext* context) { return context->orphanAutoSwipes(); }

std::string KSAutoSwipe::makeAutoSwipeID(const std::string& userID, AutoSwipeField field,
                                         const std::string& value) {
  return userID + "||" + std::to_string(static_cast<int32_t>(field)) + "||" + value;
}

json_t* KSAutoSwipe::makeDocument(const std::string& userID, AutoSwipeField field, const std::string& value,
                                  const std::string& auxiliaryInfo, ItemState destination,
                                  SnoozeType snoozeType, int64_t remindAtMs, const std::string& listName) {
  json_t* pattern = json_object();
  set_number(pattern, "key", field);
  set_text(pattern, "value", value);
  set_text(pattern, "aux", auxiliaryInfo);

  json_t* action = json_object();
  set_number(action, "state", destination);
  if (!listName.empty()) set_text(action, "list_name", listName);
  if (snoozeType != SnoozeType::None) {
    json_t* deferral = json_object();
    set_number(deferral, "snooze_type", snoozeType);
    if (remindAtMs > 0) json_object_set_new(deferral, "remind_at", json_integer(remindAtMs));
    json_object_set_new(action, "deferral_data", deferral);
    set_number(action, "deferral_type", DeferralType::BySnooze);
  } else if (remindAtMs > 0) {
    json_t* deferral = json_object();
    json_object_set_new(deferral, "remind_at", json_integer(remindAtMs));
    json_object_set_new(action, "deferral_data", deferral);
    set_number(action, "deferral_type", DeferralType::UntilTime);
  }

  json_t* document = json_object();
  json_object_set_new(document, "pattern", pattern);
  json_object_set_new(document, "action", action);
  set_text(document, "_id", makeAutoSwipeID(userID, field, value));
  set_number(document, "state", AutoSwipeRuleState::Active);
  set_text(document, "user_id", userID);
  return document;
}

void KSAutoSwipe::save() {
  if (isInserted()) {
    context()->insertAutoSwipe(row_);
  } else if (isUpdated()) {
    context()->updateAutoSwipe(row_);
  } else if (isDeleted()) {
    context()->removeAutoSwipe(row_.get_AUTOSWIPEID());
  }
}

void KSAutoSwipe::setFromServerKey(const std::string& key, json_t* value) {
  if (key == "_id") {
    if (json_is_string(value)) setAutoSwipeID(string_of(value));
  } else if (key == "count") {
    if (json_is_integer(value)) setCount(static_cast<int32_t>(json_integer_value(value)));
  } else if (key == "last_action") {
    if (json_is_integer(value)) setLastActionAt(json_integer_value(value));
  } else if (key == "state") {
    if (json_is_integer(value)) setState(static_cast<AutoSwipeRuleState>(json_integer_value(value)));
  } else if (key == "user_id") {
    if (json_is_string(value)) setUserID(string_of(value));
  }
}

void KSAutoSwipe::finishServerDocument(json_t* document) {
  json_t* pattern = json_object_get(document, "pattern");
  if (json_is_object(pattern)) {
    json_t* key = json_object_get(pattern, "key");
    if (json_is_integer(key)) setField(static_cast<AutoSwipeField>(json_integer_value(key)));
    json_t* value = json_object_get(pattern, "value");
    if (json_is_string(value)) setValue(string_of(value));
    json_t* aux = json_object_get(pattern, "aux");
    if (json_is_string(aux)) setAuxiliaryInfo(string_of(aux));
  }
  json_t* action = json_object_get(document, "action");
  if (json_is_object(action)) {
    json_t* state = json_object_get(action, "state");
    if (json_is_integer(state)) setItemState(static_cast<ItemState>(json_integer_value(state)));
    json_t* deferral = json_object_get(action, "deferral_data");
    if (json_is_object(deferral)) setDeferralData(patch::compact_text(deferral));
    json_t* type = json_object_get(action, "deferral_type");
    if (json_is_integer(type)) setDeferralType(static_cast<DeferralType>(json_integer_value(type)));
    json_t* list = json_object_get(action, "list_name");
    if (json_is_string(list)) setListName(string_of(list));
  }
}

json_t* KSAutoSwipe::toJson() {
  json_t* pattern = json_object();
  set_number(pattern, "key", field());
  set_text(pattern, "value", value());
  set_text(pattern, "aux", auxiliaryInfo());

  json_t* action = json_object();
  set_number(action, "state", itemState());
  if (!listName().empty()) set_text(action, "list_name", listName());
  if (!deferralData().empty()) {
    // Text that no longer parses is left out rather than sent as something else.
    json_t* deferral = json_loadb(deferralData().data(), deferralData().size(), JSON_DECODE_ANY, nullptr);
    if (deferral != nullptr) json_object_set_new(action, "deferral_data", deferral);
  }
  if (deferralType() != DeferralType::NotDeferred) set_number(action, "deferral_type", deferralType());

  json_t* document = json_object();
  set_text(document, "_id", autoSwipeID());
  json_object_set_new(document, "pattern", pattern);
  json_object_set_new(document, "action", action);
  set_number(document, "state", state());
  set_text(document, "user_id", userID());
  return document;
}

json_t* KSAutoSwipe::changesToJson(const std::unordered_set<std::string>&) { return toJson(); }

template <AutoSwipeAttr A, class V>
void KSAutoSwipe::store(V value, const char* property) {
  if (row_.get<A>() == value) return;
  row_.set<A>(std::move(value));
  fieldChanged(property);
}

void KSAutoSwipe::setAutoSwipeID(std::string id) {
  if (autoSwipeID() == id) return;
  store<AutoSwipeAttr::AUTOSWIPEID>(std::move(id), "autoSwipeID");
  std::shared_ptr<KestrunObject> self = weak_from_this().lock();
  if (self && context() != nullptr) context()->objectChanged(self);
}

void KSAutoSwipe::setAuxiliaryInfo(std::string text) {
  store<AutoSwipeAttr::AUXILIARYINFO>(std::move(text), "auxiliaryInfo");
}
void KSAutoSwipe::setCount(int32_t count) {
  store<AutoSwipeAttr::COUNT>(static_cast<long long>(count), "count");
}
void KSAutoSwipe::setDeferralData(std::string text) {
  store<AutoSwipeAttr::DEFERRALDATA>(std::move(text), "deferralData");
}
void KSAutoSwipe::setDeferralType(DeferralType type) {
  store<AutoSwipeAttr::DEFERRALTYPE>(type, "deferralType");
}
void KSAutoSwipe::setField(AutoSwipeField field) { store<AutoSwipeAttr::FIELD>(field, "field"); }
void KSAutoSwipe::setItemState(ItemState state) { store<AutoSwipeAttr::ITEMSTATE>(state, "itemState"); }
void KSAutoSwipe::setLastActionAt(int64_t ms) {
  store<AutoSwipeAttr::LASTACTIONAT>(static_cast<long long>(ms), "lastActionAt");
}
void KSAutoSwipe::setListName(std::string name) {
  store<AutoSwipeAttr::LISTNAME>(std::move(name), "listName");
}
void KSAutoSwipe::setState(AutoSwipeRuleState state) { store<AutoSwipeAttr::STATE>(state, "state"); }
void KSAutoSwipe::setUserID(std::string id) { store<AutoSwipeAttr::USERID>(std::move(id), "userID"); }
void KSAutoSwipe::setValue(std::string value) { store<AutoSwipeAttr::VALUE>(std::move(value), "value"); }

KSObjects<KSItem> KSAutoSwipe::items() {
  auto items = std::make_shared<std::vector<std::shared_ptr<KSItem>>>();
  if (autoSwipeID().empty()) return items;
  bool gone = false;
  for (const auto& held : items_) {
    auto item = held.lock();
    if (!item) {
      gone = true;
      break;
    }
    items->push_back(std::move(item));
  }
  if (itemsRead_ && !gone) return items;

  // An item that went away was saved and let go; the store has it again. An item read here that
  // was since moved to another rule (not yet committed) is not this rule's.
  items->clear();
  items_.clear();
  if (auto fetched = context()->itemsForAutoSwipe(autoSwipeID())) {
    for (const auto& item : *fetched) {
      if (item->autoSwipeID() != autoSwipeID()) continue;
      items_.push_back(item);
      items->push_back(item);
    }
  }
  itemsRead_ = true;
  return items;
}

bool KSAutoSwipe::hasItem(const std::shared_ptr<KSItem>& item) {
  if (!item) return false;
  const std::string itemID = item->itemID();
  auto held = items();
  return std::any_of(held->begin(), held->end(),
                     [&](const auto& other) { return other->itemID() == itemID; });
}

void KSAutoSwipe::forgetItem(const std::string& itemID) {
  std::erase_if(items_, [&](const std::weak_ptr<KSItem>& held) {
    auto other = held.lock();
    return other && other->itemID() == itemID;
  });
}

void KSAutoSwipe::countItemAction(const KSItem& item) {
  setCount(count() + 1);
  if (item.modifiedAt() > lastActionAt()) setLastActionAt(item.modifiedAt());
}

void KSAutoSwipe::addItem(const std::shared_ptr<KSItem>& item) {
  if (!item) return;
  if (hasItem(item)) {
    forgetItem(item->itemID());
  } else {
    countItemAction(*item);
  }
  item->setAutoSwipe(std::static_pointer_cast<KSAutoSwipe>(weak_from_this().lock()));
  if (!autoSwipeID().empty()) items_.push_back(item);
}

void KSAutoSwipe::removeItem(const std::shared_ptr<KSItem>& item) {
  if (!item) return;
  if (hasItem(item)) {
    forgetItem(item->itemID());
    setCount(std::max(count() - 1, 0));
  }
  item->setAutoSwipe(nullptr);
}

void KSAutoSwipe::recordAction(const std::shared_ptr<KSItem>& item) {
  if (hasItem(item)) countItemAction(*item);
}

bool KSAutoSwipe::Ordering::operator()(const std::shared_ptr<KestrunObject>& a,
                                       const std::shared_ptr<KestrunObject>& b) const {
  const KSAutoSwipe& x = rule(a);
  const KSAutoSwipe& y = rule(b);
  if (x.lastActionAt() != y.lastActionAt()) return x.lastActionAt() > y.lastActionAt();
  if (x.count() != y.count()) return x.count() > y.count();
  // Descending as the rules are fetched. "Not less than" would put a rule before itself, which
  // no sort or merge may be given.
  return KestrunObject::OrderOnId()(b, a);
}
