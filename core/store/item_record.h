// The row of KSITEM: one conversation of one mail account as the user triages it.
#pragma once

#include <map>
#include <set>
#include <string>

#include "core/store/db_row.h"
#include "core/store/model_enums.h"

namespace libkestrun::internal {

// In CREATE order, which is not alphabetical: MASTERREV follows MLISTID, DRAFTIDS stands between
// THREADHASATTACHMENTS and THREADHASEMAILS, THREADSENDERS follows THREADUNSENTCOUNT.
#define KESTRUN_ITEM_COLUMNS(COLUMN)         \
  COLUMN(ITEMID, std::string)                \
  COLUMN(ACCOUNTID, std::string)             \
  COLUMN(AGGREGATECONVO, std::string)        \
  COLUMN(AUTOSWIPEFIELD, AutoSwipeField)     \
  COLUMN(AUTOSWIPEITEMSTATE, ItemState)      \
  COLUMN(AUTOSWIPESTATE, AutoSwipeRuleState) \
  COLUMN(CREATEDAT, long long)               \
  COLUMN(DEFERRALBUCKET, DeferralBucket)     \
  COLUMN(DEFERRALTYPE, DeferralType)         \
  COLUMN(DEFERREAD, bool)                    \
  COLUMN(EMAILCOUNT, int)                    \
  COLUMN(LISTID, std::string)                \
  COLUMN(LOADEDONCE, bool)                   \
  COLUMN(MACCOUNTLISTID, std::string)        \
  COLUMN(MAUTOSWIPEID, std::string)          \
  COLUMN(MLISTID, std::string)               \
  COLUMN(MASTERREV, double)                  \
  COLUMN(MODIFIEDAT, long long)              \
  COLUMN(PREVIOUSSTATE, ItemState)           \
  COLUMN(REMINDAT, long long)                \
  COLUMN(SAVEDAT, long long)                 \
  COLUMN(SNOOZETYPE, SnoozeType)             \
  COLUMN(STATE, ItemState)                   \
  COLUMN(SUBJECT, std::string)               \
  COLUMN(SYNCDATA, std::string)              \
  COLUMN(THREADHASATTACHMENTS, bool)         \
  COLUMN(DRAFTIDS, std::set<std::string>)    \
  COLUMN(THREADHASEMAILS, bool)              \
  COLUMN(THREADPREVIEW, std::string)         \
  COLUMN(THREADREAD, bool)                   \
  COLUMN(THREADRECEIVERS, std::string)       \
  COLUMN(THREADSTARRED, bool)                \
  COLUMN(THREADSTARREDCOUNT, int)            \
  COLUMN(THREADTIMESTAMP, long long)         \
  COLUMN(THREADUNREADCOUNT, int)             \
  COLUMN(THREADUNSENTCOUNT, int)             \
  COLUMN(THREADSENDERS, std::string)         \
  COLUMN(TYPE, ItemType)

enum class ItemAttr : int { KESTRUN_ITEM_COLUMNS(KESTRUN_ROW_ENUMERATOR) };
using ItemTuple = KESTRUN_ROW_TUPLE(KESTRUN_ITEM_COLUMNS);

class Item : public DbRow<ItemTuple, ItemAttr> {
 public:
  using DbRow::DbRow;

  static const std::string table_name;
  static const std::set<ItemAttr> primary_key;
  static const std::map<ItemAttr, std::string> column_names;

  const std::string& id() const { return get_ITEMID(); }

  KESTRUN_ITEM_COLUMNS(KESTRUN_ROW_ACCESSORS)
};

}  // namespace libkestrun::internal
