#include "core/model/db_kestrun_object.h"
#include "core/foundation/json_conversion.h"

#include <utility>

#include "core/accounts/account_manager.h"
#include "core/foundation/process_instance.h"
#include "core/services/offline_manager.h"
#include "jsonette/json.h"

const char* const DBKestrunObject::kBadDataNotification = "com.kestrun.db.kestrun.object.bad.data";

namespace {

libkestrun::ProcessInstance<libkestrun::NotificationCenter> notification_center;

}  // namespace

void DBKestrunObject::setNotificationCenter(std::shared_ptr<libkestrun::NotificationCenter> center) {
  notification_center.set(std::move(center));
}

void DBKestrunObject::setDefaults() {}

bool DBKestrunObject::shouldApplyServerDocument(json_t* document) {
  json_t* account = json_object_get(document, "acct_id");
  if (!json_is_string(account)) return false;
  if (!libkestrun::account_manager_is_account_authenticated(json_string_value(account))) {
    json_t* id = json_object_get(document, "_id");
    if (json_is_string(id)) {
      notification_center.call(&libkestrun::NotificationCenter::post_notification,
                               std::string(kBadDataNotification),
                               jsonette::Json(std::string(json_string_value(id), json_string_length(id))));
    }
    return false;
  }
  json_t* saved = json_object_get(document, "saved_at");
  const int64_t document_saved_at = json_is_integer(saved) ? json_integer_value(saved) : 0;
  if (savedAt() == unsetTime) return true;
  // A document without a saved time, or not newer than the stored one, never overwrites an
  // object the server has confirmed before.
  return document_saved_at != 0 && savedAt() < document_saved_at;
}

void DBKestrunObject::acknowledgeServerSave(json_t* document) {
  if (!json_is_integer(json_object_get(document, "saved_at"))) return;
  json_t* id = json_object_get(document, idKey().c_str());
  if (!json_is_string(id)) return;
  libkestrun::offline_manager_remove_request_confirmed_by(
      std::string(json_string_value(id), json_string_length(id)), document);
}

void DBKestrunObject::readSyncData(json_t* document) {
  json_t* sync = json_object_get(document, "sync_data");
  if (json_is_object(sync)) setSyncData(patch::compact_text(sync));
}

void DBKestrunObject::finishServerDocument(json_t* document) {
  readSyncData(document);
  if (!loadedOnce()) setLoadedOnce(true);
}

json_t* DBKestrunObject::envelope() {
  json_t* envelope = json_object();
  const std::string object_id = id();
  json_object_set_new(envelope, "_id", json_stringn(object_id.data(), object_id.size()));
  json_object_set_new(envelope, "acct_id", json_stringn(accountID().data(), accountID().size()));
  const std::string& sync = syncData();
  if (sync != "-") {
    json_t* parsed = json_loadb(sync.data(), sync.size(), JSON_DECODE_ANY, nullptr);
    if (parsed != nullptr) json_object_set_new(envelope, "sync_data", parsed);
  }
  return envelope;
}

json_t* DBKestrunObject::toJson() { return envelope(); }
json_t* DBKestrunObject::changesToJson(const std::unordered_set<std::string>&) { return envelope(); }
