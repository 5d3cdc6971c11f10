// The row of KSAUTOSWIPE: an auto-swipe rule, which repeats a triage choice for later mail of the
// same sender, recipient or conversation. The row holds values only and interprets none.
#pragma once

#include <map>
#include <set>
#include <string>

#include "core/store/db_row.h"
#include "core/store/model_enums.h"

namespace libkestrun::internal {

// The key, then the others in alphabetical order. DEFERRALDATA is opaque JSON text.
#define KESTRUN_AUTO_SWIPE_COLUMNS(COLUMN) \
  COLUMN(AUTOSWIPEID, std::string)         \
  COLUMN(AUXILIARYINFO, std::string)       \
  COLUMN(COUNT, long long)                 \
  COLUMN(DEFERRALDATA, std::string)        \
  COLUMN(DEFERRALTYPE, DeferralType)       \
  COLUMN(FIELD, AutoSwipeField)            \
  COLUMN(ITEMSTATE, ItemState)             \
  COLUMN(LASTACTIONAT, long long)          \
  COLUMN(LISTNAME, std::string)            \
  COLUMN(STATE, AutoSwipeRuleState)        \
  COLUMN(USERID, std::string)              \
  COLUMN(VALUE, std::string)

enum class AutoSwipeAttr : int { KESTRUN_AUTO_SWIPE_COLUMNS(KESTRUN_ROW_ENUMERATOR) };
using AutoSwipeTuple = KESTRUN_ROW_TUPLE(KESTRUN_AUTO_SWIPE_COLUMNS);

class AutoSwipe : public DbRow<AutoSwipeTuple, AutoSwipeAttr> {
 public:
  using DbRow::DbRow;

  static const std::string table_name;
  static const std::set<AutoSwipeAttr> primary_key;
  static const std::map<AutoSwipeAttr, std::string> column_names;

  const std::string& id() const { return get_AUTOSWIPEID(); }

  KESTRUN_AUTO_SWIPE_COLUMNS(KESTRUN_ROW_ACCESSORS)
};

}  // namespace libkestrun::internal
