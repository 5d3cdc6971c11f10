#include "core/sync/user_item_commands.h"

#include <optional>

#include "core/store/email_name.h"

namespace libkestrun {

namespace {

const char kSaveMethod[] = "USER_ITEM_SAVE";
const char kRemoveMethod[] = "USER_ITEM_REMOVE";

jsonette::Json optional_text(const std::optional<std::string>& text) {
  return text ? jsonette::Json(*text) : jsonette::Json(nullptr);
}

// The version of a stored save or removal; empty when the message is of another method or its
// params do not have the shape that method is sent with.
std::optional<internal::VectorClock> stored_version(const std::string& method, const jsonette::Json& params) {
  bool save = method == kSaveMethod;
  if (!save && method != kRemoveMethod) return std::nullopt;
  if (!params.is_object() || !params["_id"].is_string() || !params["user_id"].is_string() ||
      !params["version"].is_object()) {
    return std::nullopt;
  }
  if (save && (!params["type"].is_number() || !params["data"].is_object())) return std::nullopt;
  internal::VectorClock version;
  version.from_json(params["version"]);
  return version;
}

}  // namespace

bool UserItemCommand::supersedes(const std::string& method, const jsonette::Json& params) const {
  std::optional<internal::VectorClock> stored = stored_version(method, params);
  return stored && *stored < version_;
}

jsonette::Json::object UserItemCommand::identity_params() const {
  return {{"_id", draft_id_}, {"user_id", user_id_}, {"version", version_.to_json()}};
}

UserItemSave::UserItemSave(const internal::Draft& draft)
    : UserItemCommand(draft.get_draft_id(), draft.get_user_id(), draft.get_version()),
      type_(kUserItemTypeDraft),
      data_(draft_data(draft)) {}

jsonette::Json UserItemSave::params() const {
  jsonette::Json::object params = identity_params();
  params["type"] = type_;
  params["data"] = data_;
  return params;
}

jsonette::Json UserItemSave::draft_data(const internal::Draft& draft) {
  using internal::EmailName;
  return jsonette::Json::object{
      {"item_id", optional_text(draft.get_item_id())},
      {"created_at", static_cast<long long>(draft.get_created_at())},
      {"modified_at", static_cast<long long>(draft.get_modified_at())},
      {"subject", draft.get_subject()},
      {"draft_type", static_cast<int>(draft.get_type())},
      {"to", EmailName::list_to_json(draft.get_to())},
      {"from", draft.get_from().to_json()},
      {"cc", EmailName::list_to_json(draft.get_cc())},
      {"bcc", EmailName::list_to_json(draft.get_bcc())},
      {"content", draft.get_content()},
      {"base_email_id", optional_text(draft.get_base_email_id())},
      {"eventual_email_id", draft.get_eventual_email_id()},
      {"is_full_body", draft.get_is_full_body()},
  };
}

}  // namespace libkestrun
