#include "core/store/draft.h"

#include <cstdint>
#include <limits>

#include "core/foundation/utility.h"

namespace libkestrun::internal {

const std::string Draft::table_name = "Draft";
const std::set<DraftAttr> Draft::primary_key = {DraftAttr::draft_id};
const std::map<DraftAttr, std::string> Draft::column_names = {KESTRUN_DRAFT_COLUMNS(KESTRUN_ROW_NAME)};

namespace {

// A member that is present and not null: its text, or "" when it is not a string.
std::optional<std::string> optional_text(const jsonette::Json& value) {
  if (value.is_null()) return std::nullopt;
  return value.string_value();
}

// Truncated toward zero; out-of-range numbers saturate and anything but a number is 0.
long long whole_number(const jsonette::Json& value) { return value.int64_value(); }

int32_t whole_int32(const jsonette::Json& value) {
  long long number = whole_number(value);
  if (number > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (number < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(number);
}

}  // namespace

std::optional<Draft> Draft::from_json(const jsonette::Json& document) {
  const jsonette::Json& id = document["_id"];
  if (!id.is_string() || id.string_value().empty()) return std::nullopt;

  Draft draft;
  draft.set_draft_id(id.string_value());
  draft.set_user_id(document["user_id"].string_value());
  VectorClock version;
  version.from_json(document["version"]);
  draft.set_version(std::move(version));

  const jsonette::Json& data = document["data"];
  draft.set_item_id(optional_text(data["item_id"]));
  draft.set_created_at(whole_number(data["created_at"]));
  draft.set_modified_at(whole_number(data["modified_at"]));
  draft.set_subject(data["subject"].string_value());
  const std::string& content = data["content"].string_value();
  draft.set_content(content);
  draft.set_plain_content(content.empty() ? std::string() : Utility::html_to_text(content));
  draft.set_base_email_id(optional_text(data["base_email_id"]));
  draft.set_eventual_email_id(data["eventual_email_id"].string_value());
  draft.set_is_full_body(data["is_full_body"].bool_value());
  draft.set_type(static_cast<EmailSendType>(whole_int32(data["draft_type"])));
  draft.set_from(EmailName::from_json(data["from"]));
  draft.set_to(EmailName::list_from_json(data, "to"));
  draft.set_cc(EmailName::list_from_json(data, "cc"));
  draft.set_bcc(EmailName::list_from_json(data, "bcc"));
  return draft;
}

}  // namespace libkestrun::internal
