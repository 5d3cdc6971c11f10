#include "core/store/item_record.h"

namespace libkestrun::internal {

const std::string Item::table_name = "KSITEM";
const std::set<ItemAttr> Item::primary_key = {ItemAttr::ITEMID};
const std::map<ItemAttr, std::string> Item::column_names = {KESTRUN_ITEM_COLUMNS(KESTRUN_ROW_NAME)};

}  // namespace libkestrun::internal
