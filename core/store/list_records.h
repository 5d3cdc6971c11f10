// The rows of the two list tables. The names are not symmetric: `List` is an account list
// (KSACCOUNTLIST, one user list's place in one mail account), `UserList` is the user's own list
// (KSLIST).
#pragma once

#include <map>
#include <set>
#include <string>

#include "core/store/db_row.h"

namespace libkestrun::internal {

// Not alphabetical: NAME precedes LISTCOUNT.
#define KESTRUN_USER_LIST_COLUMNS(COLUMN) \
  COLUMN(LISTID, std::string)             \
  COLUMN(NAME, std::string)               \
  COLUMN(LISTCOUNT, int)                  \
  COLUMN(ORDERKEY, long long)

enum class UserListAttr : int { KESTRUN_USER_LIST_COLUMNS(KESTRUN_ROW_ENUMERATOR) };
using UserListTuple = KESTRUN_ROW_TUPLE(KESTRUN_USER_LIST_COLUMNS);

class UserList : public DbRow<UserListTuple, UserListAttr> {
 public:
  using DbRow::DbRow;

  static const std::string table_name;
  static const std::set<UserListAttr> primary_key;
  static const std::map<UserListAttr, std::string> column_names;

  const std::string& id() const { return get_LISTID(); }

  KESTRUN_USER_LIST_COLUMNS(KESTRUN_ROW_ACCESSORS)
};

// The key, then the others in alphabetical order. MPARENTLISTID is the LISTID of the user list.
#define KESTRUN_LIST_COLUMNS(COLUMN) \
  COLUMN(LISTID, std::string)        \
  COLUMN(ACCOUNTID, std::string)     \
  COLUMN(CREATEDAT, long long)       \
  COLUMN(LOADEDONCE, bool)           \
  COLUMN(MPARENTLISTID, std::string) \
  COLUMN(NAME, std::string)          \
  COLUMN(SAVEDAT, long long)         \
  COLUMN(SYNCDATA, std::string)

enum class ListAttr : int { KESTRUN_LIST_COLUMNS(KESTRUN_ROW_ENUMERATOR) };
using ListTuple = KESTRUN_ROW_TUPLE(KESTRUN_LIST_COLUMNS);

class List : public DbRow<ListTuple, ListAttr> {
 public:
  using DbRow::DbRow;

  static const std::string table_name;
  static const std::set<ListAttr> primary_key;
  static const std::map<ListAttr, std::string> column_names;

  const std::string& id() const { return get_LISTID(); }

  KESTRUN_LIST_COLUMNS(KESTRUN_ROW_ACCESSORS)
};

}  // namespace libkestrun::internal
