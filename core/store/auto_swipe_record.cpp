#include "core/store/auto_swipe_record.h"

namespace libkestrun::internal {

const std::string AutoSwipe::table_name = "KSAUTOSWIPE";
const std::set<AutoSwipeAttr> AutoSwipe::primary_key = {AutoSwipeAttr::AUTOSWIPEID};
const std::map<AutoSwipeAttr, std::string> AutoSwipe::column_names = {
    KESTRUN_AUTO_SWIPE_COLUMNS(KESTRUN_ROW_NAME)};

}  // namespace libkestrun::internal
