// An auto-swipe rule: one triage choice (archive, trash, spam, a list, or a deferral) repeated for
// later mail of a sender, to a recipient, or of one conversation. A rule is one row of KSAUTOSWIPE,
// the server document "auto_swipe", the set of items it swiped, and the texts the application
// shows for it (the rules list, the tool tip of a suggestion, the banner of a conversation).
//
// Rules come from server documents (on their own or inside an item's document) and from the data
// writer. The item side of the relation is the item's MAUTOSWIPEID: `addItem` and `removeItem`
// keep it and the rule's COUNT in step.
//
// Setters store only a differing value and report the first changed column to the context (a rule
// without an id reports nothing until it gets one). Rules belong to the core thread and take no
// lock.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/model/kestrun_context.h"
#include "core/model/kestrun_object.h"
#include "core/store/auto_swipe_record.h"
#include "core/store/cpp_sqlite3_query.h"
#include "core/store/model_enums.h"

class KSAutoSwipe : public KestrunObject {
 public:
  using AutoSwipeField = libkestrun::AutoSwipeField;
  using AutoSwipeRuleState = libkestrun::AutoSwipeRuleState;
  using ItemState = libkestrun::ItemState;

  // A new rule (inserted) with the defaults and no changed column.
  explicit KSAutoSwipe(KestrunContext* context);
  // A rule loaded from the current row of a KSAUTOSWIPE query.
  KSAutoSwipe(KestrunContext* context, CppSQLite3Query& query);

  // The rule of that id, or null when the context has none.
  static std::shared_ptr<KSAutoSwipe> fetch(const std::string& id, KestrunContext* context);
  // The stored rules that no stored item names.
  static KSObjects<KSAutoSwipe> orphans(KestrunContext* context);
  // "<user id>||<field as a number>||<value>": one rule per user, field and value.
  static std::string makeAutoSwipeID(const std::string& userID, AutoSwipeField field,
                                     const std::string& value);
  // The document of a new active rule of the user (a new reference). A deferral is written for a
  // snooze type other than None (type 4, with the time when it is positive) or, with snooze type
  // None, for a positive time (type 2); otherwise there is none.
  static json_t* makeDocument(const std::string& userID, AutoSwipeField field, const std::string& value,
                              const std::string& auxiliaryInfo, ItemState destination,
                              libkestrun::SnoozeType snoozeType, int64_t remindAtMs,
                              const std::string& listName);

  // COUNT 0, DEFERRALTYPE 1, FIELD 0, ITEMSTATE 0, STATE 0.
  void setDefaults() override;
  std::string id() const override { return row_.get_AUTOSWIPEID(); }
  std::string tableName() const override { return libkestrun::internal::AutoSwipe::table_name; }
  // "_id", "count", "last_action", "state" and "user_id" of the document, each only with its
  // JSON type; the nested "pattern" and "action" are read by finishServerDocument.
  void setFromServerKey(const std::string& key, json_t* value) override;
  void save() override;
  void clearChangedFields() override { clearChanged(row_); }
  size_t changedColumnCount() const override { return countChanged(row_); }
  void finishServerDocument(json_t* document) override;
  std::string idKey() const override { return "_id"; }
  // The whole rule without COUNT and LASTACTIONAT, which only the server writes.
  json_t* toJson() override;
  // A rule is always sent whole: the same as toJson.
  json_t* changesToJson(const std::unordered_set<std::string>& properties) override;

  const libkestrun::internal::AutoSwipe& row() const { return row_; }

  const std::string& autoSwipeID() const { return row_.get_AUTOSWIPEID(); }
  // Also always reports the rule, as a new rule gets its id after its defaults.
  void setAutoSwipeID(std::string id);
  // The conversation's subject, or the person's name (may be empty).
  const std::string& auxiliaryInfo() const { return row_.get_AUXILIARYINFO(); }
  void setAuxiliaryInfo(std::string text);
  int32_t count() const { return static_cast<int32_t>(row_.get_COUNT()); }
  void setCount(int32_t count);
  // JSON object text of the deferral ("remind_at", "snooze_type"), or empty.
  const std::string& deferralData() const { return row_.get_DEFERRALDATA(); }
  void setDeferralData(std::string text);
  libkestrun::DeferralType deferralType() const { return row_.get_DEFERRALTYPE(); }
  void setDeferralType(libkestrun::DeferralType type);
  AutoSwipeField field() const { return row_.get_FIELD(); }
  void setField(AutoSwipeField field);
  // The destination.
  ItemState itemState() const { return row_.get_ITEMSTATE(); }
  void setItemState(ItemState state);
  int64_t lastActionAt() const { return row_.get_LASTACTIONAT(); }
  void setLastActionAt(int64_t ms);
  const std::string& listName() const { return row_.get_LISTNAME(); }
  void setListName(std::string name);
  AutoSwipeRuleState state() const { return row_.get_STATE(); }
  void setState(AutoSwipeRuleState state);
  const std::string& userID() const { return row_.get_USERID(); }
  void setUserID(std::string id);
  // The item id of a conversation rule, else the person's address.
  const std::string& value() const { return row_.get_VALUE(); }
  void setValue(std::string value);

  // The items of the rule, in the order they were read and added; a new vector each call, so the
  // caller may change the rule while walking it. Read through the context on first use and again
  // once an item read before has gone away; a rule without an id has none.
  KSObjects<KSItem> items();
  bool hasItem(const std::shared_ptr<KSItem>& item);
  // Attaches the item (KSItem::setAutoSwipe) and appends it; a new item raises COUNT and moves
  // LASTACTIONAT up to its MODIFIEDAT, an item held already only moves to the end.
  void addItem(const std::shared_ptr<KSItem>& item);
  // Detaches the item in any case; one the rule held also lowers COUNT (never below 0).
  void removeItem(const std::shared_ptr<KSItem>& item);
  // A held item got new mail: COUNT rises and LASTACTIONAT moves up to its MODIFIEDAT.
  void recordAction(const std::shared_ptr<KSItem>& item);

  // Texts, localized (ks_auto_swipe_texts.cpp). Who or what the rule matches: the subject, or
  // the person as "Name <address>" (with address), the name, or the bare address.
  std::string identifierString(bool withAddress) const;
  // The destination: "Archive", "Trash", "Spam", the list's name, or the snooze name or time.
  std::string canonicalDescription() const;
  // The question that offers the rule.
  std::string formattedToolTipString() const;
  // The banner of an item the rule concerns.
  std::string bannerText() const;

  // The order in which the rules list shows rules: the latest action first, then the higher
  // COUNT, then the id descending (byte-wise); strict, two distinct rules are never equal.
  struct Ordering {
    bool operator()(const std::shared_ptr<KestrunObject>& a, const std::shared_ptr<KestrunObject>& b) const;
  };

 private:
  template <libkestrun::internal::AutoSwipeAttr A, class V>
  void store(V value, const char* property);
  void countItemAction(const KSItem& item);
  void forgetItem(const std::string& itemID);

  libkestrun::internal::AutoSwipe row_;
  // The rule does not keep its items alive: an item keeps its rule, and the reverse would make a
  // cycle that outlives the context's cache.
  bool itemsRead_ = false;
  std::vector<std::weak_ptr<KSItem>> items_;
};
