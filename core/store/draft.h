// The row of "Draft": a user's draft, edited on several devices and versioned by a vector clock.
// The table alone has a mixed-case name and lower-case columns, most of them the member names of
// the server's draft document; its key is the second column.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/store/db_row.h"
#include "core/store/email_name.h"
#include "core/store/model_enums.h"
#include "core/store/vector_clock.h"
#include "jsonette/json.h"

namespace libkestrun::internal {

#define KESTRUN_DRAFT_COLUMNS(COLUMN)               \
  COLUMN(user_id, std::string)                      \
  COLUMN(draft_id, std::string)                     \
  COLUMN(item_id, std::optional<std::string>)       \
  COLUMN(created_at, long long)                     \
  COLUMN(modified_at, long long)                    \
  COLUMN(version, VectorClock)                      \
  COLUMN(base_email_id, std::optional<std::string>) \
  COLUMN(type, EmailSendType)                       \
  COLUMN(eventual_email_id, std::string)            \
  COLUMN(subject, std::string)                      \
  COLUMN(from, EmailName)                           \
  COLUMN(to, std::vector<EmailName>)                \
  COLUMN(cc, std::vector<EmailName>)                \
  COLUMN(bcc, std::vector<EmailName>)               \
  COLUMN(content, std::string)                      \
  COLUMN(plain_content, std::string)                \
  COLUMN(is_full_body, bool)

enum class DraftAttr : int { KESTRUN_DRAFT_COLUMNS(KESTRUN_ROW_ENUMERATOR) };
using DraftTuple = KESTRUN_ROW_TUPLE(KESTRUN_DRAFT_COLUMNS);

class Draft : public DbRow<DraftTuple, DraftAttr> {
 public:
  using DbRow::DbRow;

  static const std::string table_name;
  static const std::set<DraftAttr> primary_key;
  static const std::map<DraftAttr, std::string> column_names;

  const std::string& id() const { return get_draft_id(); }

  KESTRUN_DRAFT_COLUMNS(KESTRUN_ROW_ACCESSORS)

  // Reads the server's draft document ("_id", "user_id", "version" and the fields under "data");
  // a missing or mistyped member leaves its column at the default, and the columns that differ
  // from the default come back flagged. The plain text is always derived from the HTML content.
  // A document without a non-empty string "_id" gives no draft: an empty id would collide with
  // every other such draft.
  static std::optional<Draft> from_json(const jsonette::Json& document);
};

}  // namespace libkestrun::internal
