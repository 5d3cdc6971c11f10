// The row of KSCONTACT: an address known for completion, keyed by its normalised address and name.
#pragma once

#include <map>
#include <set>
#include <string>

#include "core/store/db_row.h"

namespace libkestrun::internal {

// The key, then the others in alphabetical order.
#define KESTRUN_CONTACT_COLUMNS(COLUMN) \
  COLUMN(CONTACTID, std::string)        \
  COLUMN(EMAILADDRESS, std::string)     \
  COLUMN(FULLDISPLAYNAME, std::string)  \
  COLUMN(ISPRIORITYACCESS, bool)        \
  COLUMN(NAME, std::string)             \
  COLUMN(SCORE, long long)              \
  COLUMN(SHORTDISPLAYNAME, std::string)

enum class LocalContactAttr : int { KESTRUN_CONTACT_COLUMNS(KESTRUN_ROW_ENUMERATOR) };
using LocalContactTuple = KESTRUN_ROW_TUPLE(KESTRUN_CONTACT_COLUMNS);

class LocalContact : public DbRow<LocalContactTuple, LocalContactAttr> {
 public:
  using DbRow::DbRow;

  static const std::string table_name;
  static const std::set<LocalContactAttr> primary_key;
  static const std::map<LocalContactAttr, std::string> column_names;

  const std::string& id() const { return get_CONTACTID(); }

  KESTRUN_CONTACT_COLUMNS(KESTRUN_ROW_ACCESSORS)
};

}  // namespace libkestrun::internal
