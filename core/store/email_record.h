// The row of KSEMAIL (one e-mail of a conversation) and the rows of TOEMAILS, CCEMAILS and
// BCCEMAILS, each of which pairs an e-mail with one contact it names as a recipient.
#pragma once

#include <map>
#include <set>
#include <string>

#include "core/store/db_row.h"
#include "core/store/model_enums.h"

namespace libkestrun::internal {

// In CREATE order: MREPLYTOID comes before MFROMID.
#define KESTRUN_EMAIL_COLUMNS(COLUMN)   \
  COLUMN(EMAILID, std::string)          \
  COLUMN(ACCOUNTID, std::string)        \
  COLUMN(BADCONVO, bool)                \
  COLUMN(BADCONVOREASON, std::string)   \
  COLUMN(CONVERSATION, std::string)     \
  COLUMN(CONVERSATIONISHTML, bool)      \
  COLUMN(CREATEDAT, long long)          \
  COLUMN(FULLBODY, std::string)         \
  COLUMN(FULLBODYISHTML, bool)          \
  COLUMN(FULLCONVERSATION, std::string) \
  COLUMN(HASATTACHMENTS, bool)          \
  COLUMN(HASFULLBODY, bool)             \
  COLUMN(LOADEDONCE, bool)              \
  COLUMN(MREPLYTOID, std::string)       \
  COLUMN(MFROMID, std::string)          \
  COLUMN(PARENTITEMID, std::string)     \
  COLUMN(PREVIEW, std::string)          \
  COLUMN(READ, bool)                    \
  COLUMN(SAVEDAT, long long)            \
  COLUMN(SENDSTATE, EmailSendState)     \
  COLUMN(SENT, bool)                    \
  COLUMN(SERVERSTYLINGS, std::string)   \
  COLUMN(STARRED, bool)                 \
  COLUMN(SUBJECT, std::string)          \
  COLUMN(SYNCDATA, std::string)

enum class EmailAttr : int { KESTRUN_EMAIL_COLUMNS(KESTRUN_ROW_ENUMERATOR) };
using EmailTuple = KESTRUN_ROW_TUPLE(KESTRUN_EMAIL_COLUMNS);

class Email : public DbRow<EmailTuple, EmailAttr> {
 public:
  using DbRow::DbRow;

  static const std::string table_name;
  static const std::set<EmailAttr> primary_key;
  static const std::map<EmailAttr, std::string> column_names;

  const std::string& id() const { return get_EMAILID(); }

  KESTRUN_EMAIL_COLUMNS(KESTRUN_ROW_ACCESSORS)
};

// Both columns form the key; a link row is inserted and removed, never updated.
#define KESTRUN_RECIPIENT_COLUMNS(COLUMN) \
  COLUMN(CONTACTID, std::string)          \
  COLUMN(EMAILID, std::string)

// The three link tables share one tuple, and so one reader and one binder.
using RecipientTuple = KESTRUN_ROW_TUPLE(KESTRUN_RECIPIENT_COLUMNS);

#define KESTRUN_RECIPIENT_RECORD(Record, Attr)                                 \
  enum class Attr : int { KESTRUN_RECIPIENT_COLUMNS(KESTRUN_ROW_ENUMERATOR) }; \
  class Record : public DbRow<RecipientTuple, Attr> {                          \
   public:                                                                     \
    using DbRow::DbRow;                                                        \
    static const std::string table_name;                                       \
    static const std::set<Attr> primary_key;                                   \
    static const std::map<Attr, std::string> column_names;                     \
    KESTRUN_RECIPIENT_COLUMNS(KESTRUN_ROW_ACCESSORS)                           \
  };

KESTRUN_RECIPIENT_RECORD(ToEmails, ToEmailsAttr)
KESTRUN_RECIPIENT_RECORD(CcEmails, CcEmailsAttr)
KESTRUN_RECIPIENT_RECORD(BccEmails, BccEmailsAttr)

#undef KESTRUN_RECIPIENT_RECORD

}  // namespace libkestrun::internal
