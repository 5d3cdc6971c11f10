#include "core/store/email_record.h"

namespace libkestrun::internal {

const std::string Email::table_name = "KSEMAIL";
const std::set<EmailAttr> Email::primary_key = {EmailAttr::EMAILID};
const std::map<EmailAttr, std::string> Email::column_names = {KESTRUN_EMAIL_COLUMNS(KESTRUN_ROW_NAME)};

#define KESTRUN_RECIPIENT_STATICS(Record, Attr, table)                         \
  const std::string Record::table_name = table;                                \
  const std::set<Attr> Record::primary_key = {Attr::CONTACTID, Attr::EMAILID}; \
  const std::map<Attr, std::string> Record::column_names = {KESTRUN_RECIPIENT_COLUMNS(KESTRUN_ROW_NAME)};

KESTRUN_RECIPIENT_STATICS(ToEmails, ToEmailsAttr, "TOEMAILS")
KESTRUN_RECIPIENT_STATICS(CcEmails, CcEmailsAttr, "CCEMAILS")
KESTRUN_RECIPIENT_STATICS(BccEmails, BccEmailsAttr, "BCCEMAILS")

}  // namespace libkestrun::internal
