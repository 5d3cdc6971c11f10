#include "core/store/list_records.h"

namespace libkestrun::internal {

const std::string UserList::table_name = "KSLIST";
const std::set<UserListAttr> UserList::primary_key = {UserListAttr::LISTID};
const std::map<UserListAttr, std::string> UserList::column_names = {
    KESTRUN_USER_LIST_COLUMNS(KESTRUN_ROW_NAME)};

const std::string List::table_name = "KSACCOUNTLIST";
const std::set<ListAttr> List::primary_key = {ListAttr::LISTID};
const std::map<ListAttr, std::string> List::column_names = {KESTRUN_LIST_COLUMNS(KESTRUN_ROW_NAME)};

}  // namespace libkestrun::internal
