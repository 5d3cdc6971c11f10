#include "core/sync/kestrun_object_server_client_impl.h"

#include <set>

#include "brelt/uuid.h"
#include "core/foundation/json_conversion.h"

namespace libkestrun::internal {

using jsonette::Json;

namespace {

// A copy of `doc`'s members selected by `keep`; a document that is not an object stays as it is.
template <class Keep>
Json filtered(const Json& doc, Keep keep) {
  if (!doc.is_object()) return doc;
  Json::object kept;
  for (const auto& [key, value] : doc.object_items()) {
    if (keep(key)) kept.emplace(key, value);
  }
  return kept;
}

}  // namespace

KestrunObjectServerClientImpl::KestrunObjectServerClientImpl(ServerClient* server_client, PrefManager* prefs)
    : server_client_(server_client), prefs_(prefs) {}

void KestrunObjectServerClientImpl::sendNow(const std::string& method, Json::object params) {
  server_client_->send(method, Json(std::move(params)), brelt::generate_uuid_lower(), true);
}

void KestrunObjectServerClientImpl::saveItem(json_t* doc, bool write) {
  server_client_->send_document("ITEM_SAVE", patch::json_from_jansson(doc), Json(), write);
}

void KestrunObjectServerClientImpl::updateItem(json_t* changes, json_t* extra, bool write) {
  // An item's creation time and type never travel as changes.
  static const std::set<std::string> kDropped = {"created_at", "type"};
  Json doc = filtered(patch::json_from_jansson(changes),
                      [](const std::string& key) { return !kDropped.count(key); });
  server_client_->send_document("ITEM_UPDATE", doc, patch::json_from_jansson(extra), write);
}

void KestrunObjectServerClientImpl::archiveAll(const std::string& account_id, int64_t from_date,
                                               ArchiveAllType type) {
  const int32_t selection = static_cast<int32_t>(type);
  if (from_date <= 0 || account_id.empty() || selection < 1 || selection > 3) return;
  sendNow("ARCHIVE_ALL",
          {{"account_id", account_id}, {"from_date", static_cast<double>(from_date)}, {"type", selection}});
}

void KestrunObjectServerClientImpl::purgeAllTrash(const std::string& account_id, int64_t from_date) {
  if (from_date <= 0 || account_id.empty()) return;
  sendNow("PURGE_ALL_TRASH", {{"account_id", account_id}, {"from_date", static_cast<double>(from_date)}});
}

void KestrunObjectServerClientImpl::saveEmail(json_t* doc, EmailSendType type,
                                              const std::optional<std::string>& ref_email,
                                              const std::optional<std::string>& ref_sync_data, bool full_body,
                                              bool write) {
  Json::object extra{{"type", static_cast<int32_t>(type)},
                     {"full_body", full_body},
                     {"tz", static_cast<double>(prefs_->getTimeZoneOffset())}};
  if (ref_email) extra["ref_email"] = *ref_email;
  // "-" is the callers' word for no reference; text that is not JSON goes as null.
  if (ref_sync_data && !ref_sync_data->empty() && *ref_sync_data != "-") {
    std::string error;
    Json parsed = Json::parse(*ref_sync_data, error);
    extra["ref_sync_data"] = error.empty() ? parsed : Json();
  }
  server_client_->send_document("EMAIL_SAVE", patch::json_from_jansson(doc), Json(std::move(extra)), write);
}

void KestrunObjectServerClientImpl::updateEmail(json_t* changes, bool write) {
  static const std::set<std::string> kKept = {"_id", "acct_id", "p_id", "read", "starred", "sync_data"};
  Json doc =
      filtered(patch::json_from_jansson(changes), [](const std::string& key) { return kKept.count(key); });
  server_client_->send_document("EMAIL_UPDATE", doc, Json(), write);
}

void KestrunObjectServerClientImpl::flagEmail(const std::string& email_id, const std::string& account_id,
                                              const std::string& reason) {
  if (email_id.empty() || account_id.empty()) return;
  Json::object params{{"email_id", email_id}, {"account_id", account_id}};
  if (!reason.empty()) params["reason"] = reason;
  sendNow("EMAIL_FLAG", std::move(params));
}

void KestrunObjectServerClientImpl::saveList(json_t* doc, bool write) {
  server_client_->send_document("LIST_SAVE", patch::json_from_jansson(doc), Json(), write);
}

void KestrunObjectServerClientImpl::updateList(const std::string& list_id, const std::string& prev_name,
                                               const std::string& name, const std::string& account_id,
                                               bool write) {
  if (list_id.empty() || prev_name.empty() || name.empty() || account_id.empty()) return;
  server_client_->send_document("LIST_UPDATE",
                                Json::object{{"_id", list_id}, {"name", name}, {"acct_id", account_id}},
                                Json::object{{"prev_name", prev_name}}, write);
}

void KestrunObjectServerClientImpl::deleteList(const std::string& list_id, const std::string& name,
                                               const std::string& account_id, bool write) {
  if (list_id.empty() || name.empty() || account_id.empty()) return;
  server_client_->send_document(
      "LIST_DELETE", Json::object{{"_id", list_id}, {"acct_id", account_id}, {"name", name}}, Json(), write);
}

}  // namespace libkestrun::internal
