#include "core/store/contact_record.h"

namespace libkestrun::internal {

const std::string LocalContact::table_name = "KSCONTACT";
const std::set<LocalContactAttr> LocalContact::primary_key = {LocalContactAttr::CONTACTID};
const std::map<LocalContactAttr, std::string> LocalContact::column_names = {
    KESTRUN_CONTACT_COLUMNS(KESTRUN_ROW_NAME)};

}  // namespace libkestrun::internal
