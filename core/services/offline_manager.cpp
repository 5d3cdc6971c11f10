#include "core/services/offline_manager.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string_view>
#include <unordered_set>

#include "brelt/uuid.h"
#include "core/foundation/json_conversion.h"
#include "core/foundation/process_instance.h"
#include "core/sync/server_client.h"

namespace libkestrun {

namespace {

const char* const kPreferencesKey = "offline.manager.queued.preferences";
const char* const kSwipesKey = "offline.manager.queued.swipes";
const char* const kRequestsKey = "offline.manager.queued.requests";
const char* const kRequestIdsKey = "offline.manager.queued.message.ids";
const char* const kAccountRequestsKey = "offline.manager.queued.account.requests";

const char* const kPreferenceUpdate = "PREFERENCE_UPDATE";
const char* const kAutoSwipeDecision = "AUTO_SWIPE_DECISION";
const char* const kEmailSave = "EMAIL_SAVE";

// The account-wide changes: no document, one queue entry per request id.
const std::unordered_set<std::string> kAccountMethods = {"ARCHIVE_ALL", "PURGE_ALL_TRASH", "EMAIL_FLAG"};

const std::unordered_set<std::string> kHandledMethods = {
    "ITEM_SAVE",  "ITEM_UPDATE",       "LIST_SAVE",        "LIST_UPDATE",    "LIST_DELETE",
    "EMAIL_SAVE", "EMAIL_UPDATE",      kPreferenceUpdate,  kAutoSwipeDecision,
    "ARCHIVE_ALL", "PURGE_ALL_TRASH", "EMAIL_FLAG"};

std::string stringOf(const jsonette::Json& value) { return value.is_string() ? value.string_value() : ""; }

std::string stringOf(const json_t* value) {
  return json_is_string(value) ? std::string(json_string_value(value), json_string_length(value)) : "";
}

// message.params.doc, or null.
json_t* docOf(json_t* message) { return json_object_get(json_object_get(message, "params"), "doc"); }

// True when `document` holds every member the queued request's doc set, with an equal value (an
// integer equals the same real: requests and documents pass through different encoders). The
// server owns "sync_data", so its value says nothing about which change the document carries.
bool carries(const json_t* document, json_t* request) {
  if (stringOf(json_object_get(request, "method")) == "LIST_DELETE" &&
      !json_is_true(json_object_get(document, "_deleted")))
    return false;
  const char* key;
  json_t* value;
  json_object_foreach(docOf(request), key, value) {
    if (std::string_view(key) == "sync_data") continue;
    const json_t* carried = json_object_get(document, key);
    if (carried == nullptr || patch::json_from_jansson(carried) != patch::json_from_jansson(value))
      return false;
  }
  return true;
}

// The compact JSON text of `value` (a string is quoted and escaped).
std::string textOf(const json_t* value) {
  char* text = json_dumps(value, JSON_COMPACT | JSON_ENCODE_ANY);
  if (text == nullptr) throw std::runtime_error("Unable to encode a queued request");
  std::string copy(text);
  std::free(text);
  return copy;
}

// "<key>":<value text>, one member of a stored object.
std::string memberText(const std::string& key, const std::string& valueText) {
  json_t* name = json_stringn(key.data(), key.size());
  std::string text = textOf(name);
  json_decref(name);
  return text + ":" + valueText;
}

std::string objectText(const std::unordered_map<std::string, std::string>& members) {
  size_t size = 2;
  for (const auto& [key, text] : members) size += text.size() + 1;
  std::string text = "{";
  text.reserve(size);
  for (const auto& [key, member] : members) {
    if (text.size() > 1) text += ',';
    text += member;
  }
  text += '}';
  return text;
}

bool endsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// An update of an object whose save is still queued must stay a save: the server has not created
// the object, and an e-mail save turned into an update would never be sent.
std::string mergedMethod(const std::string& queued, const std::string& newer) {
  if (endsWith(queued, "_SAVE") && endsWith(newer, "_UPDATE") &&
      queued.substr(0, queued.size() - 5) == newer.substr(0, newer.size() - 7))
    return queued;
  return newer;
}

}  // namespace

OfflineManager::OfflineManager(int32_t connectionType, std::shared_ptr<Defaults> defaults,
                               std::shared_ptr<TaskManager> tasks, SyncStatusManager* syncStatus)
    : defaults_(std::move(defaults)),
      taskManager_(std::move(tasks)),
      syncStatus_(syncStatus),
      connectionType_(connectionType),
      requests_(json_object()),
      requestIds_(json_object()) {
  JsonPtr stored(defaults_->get_json_t(kRequestsKey));
  // The index is rebuilt from the requests themselves rather than read: the two are written one
  // after the other, and a crash between the writes must not leave a request that no
  // acknowledgement finds.
  const char* objectID;
  json_t* message;
  json_object_foreach(stored.get(), objectID, message) {
    putRequest(objectID, message);
    const std::string requestID = stringOf(json_object_get(message, "id"));
    if (!requestID.empty()) putRequestId(requestID, objectID);
  }
  preferenceQueue_ = loadQueue(kPreferencesKey);
  swipeQueue_ = loadQueue(kSwipesKey);
  accountQueue_ = loadQueue(kAccountRequestsKey);
  for (const auto* queue : {&preferenceQueue_, &swipeQueue_, &accountQueue_})
    for (const jsonette::Json& queued : *queue) startTask(stringOf(queued["id"]));
}

OfflineManager::~OfflineManager() = default;

std::vector<jsonette::Json> OfflineManager::loadQueue(const char* key) {
  jsonette::Json stored = defaults_->get_json(key);
  return stored.is_array() ? stored.array_items() : std::vector<jsonette::Json>{};
}

int32_t OfflineManager::getConnectionType() { return connectionType_; }
void OfflineManager::setConnectionType(int32_t type) { connectionType_ = type; }
void OfflineManager::resetConnectionType() { connectionType_ = kConnectionNone; }
bool OfflineManager::isConnected() {
  const int32_t type = connectionType_;
  return type == kConnectionCellular || type == kConnectionWifi;
}
bool OfflineManager::isConnectedViaCellular() { return connectionType_ == kConnectionCellular; }
bool OfflineManager::isConnectedViaWifi() { return connectionType_ == kConnectionWifi; }

bool OfflineManager::handlesMethod(const std::string& method) { return kHandledMethods.count(method) != 0; }

void OfflineManager::startTask(const std::string& requestID) {
  if (tasks_.count(requestID) == 0) tasks_.emplace(requestID, taskManager_->start_task());
}

void OfflineManager::putRequest(const std::string& objectID, json_t* message) {
  json_object_set(requests_.get(), objectID.c_str(), message);
  requestTexts_[objectID] = memberText(objectID, textOf(message));
}

void OfflineManager::deleteRequest(const std::string& objectID) {
  json_object_del(requests_.get(), objectID.c_str());
  requestTexts_.erase(objectID);
}

void OfflineManager::putRequestId(const std::string& requestID, const std::string& objectID) {
  json_t* value = json_stringn(objectID.data(), objectID.size());
  json_object_set_new(requestIds_.get(), requestID.c_str(), value);
  requestIdTexts_[requestID] = memberText(requestID, textOf(value));
}

void OfflineManager::forgetRequestId(const std::string& requestID) {
  tasks_.erase(requestID);
  json_object_del(requestIds_.get(), requestID.c_str());
  requestIdTexts_.erase(requestID);
}

void OfflineManager::endSend(json_t* request) {
  if (syncStatus_ && stringOf(json_object_get(request, "method")) == kEmailSave)
    syncStatus_->finishedSendingMessage();
}

void OfflineManager::saveRequests() {
  for (auto [key, members] :
       {std::pair{kRequestsKey, &requestTexts_}, std::pair{kRequestIdsKey, &requestIdTexts_}}) {
    if (!members->empty()) {
      defaults_->set_string(key, objectText(*members));
    } else {
      defaults_->erase(key);
    }
  }
}

void OfflineManager::saveQueue(const std::vector<jsonette::Json>& queue, const char* key) {
  defaults_->set_json(key, jsonette::Json(queue));
}

void OfflineManager::addRequest(const jsonette::Json& message) {
  const std::string method = stringOf(message["method"]);
  const std::string requestID = stringOf(message["id"]);
  if (method == kPreferenceUpdate) {
    queuePreferenceRequest(requestID, message);
    return;
  }
  if (method == kAutoSwipeDecision) {
    queueSwipeRequest(requestID, message);
    return;
  }
  if (kAccountMethods.count(method)) {
    if (requestID.empty()) return;
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    // The same request handed in again (a resend) stays one entry.
    for (const jsonette::Json& queued : accountQueue_)
      if (stringOf(queued["id"]) == requestID) return;
    queueRequest(accountQueue_, kAccountRequestsKey, requestID, message);
    return;
  }
  const std::string objectID = stringOf(message["params"]["doc"]["_id"]);
  if (!handlesMethod(method) || requestID.empty() || objectID.empty()) return;
  JsonPtr converted(patch::jansson_from_json(message));
  if (!converted) return;

  std::lock_guard<std::recursive_mutex> lock(mutex_);
  startTask(requestID);
  if (json_object_get(requests_.get(), objectID.c_str()) == nullptr) {
    putRequest(objectID, converted.get());
    putRequestId(requestID, objectID);
  } else {
    mergeObjectRequest(converted.get(), method, requestID, objectID);
  }
  saveRequests();
}

void OfflineManager::mergeObjectRequest(json_t* message, const std::string& method,
                                        const std::string& requestID, const std::string& objectID) {
  json_t* queued = json_object_get(requests_.get(), objectID.c_str());
  const std::string queuedID = stringOf(json_object_get(queued, "id"));
  // A queued request without a document has nothing to merge: the newer one replaces it whole
  // rather than being dropped.
  json_t* queuedDoc = docOf(queued);
  json_t* doc = docOf(message);
  if (json_is_object(queuedDoc)) {
    const char* key;
    json_t* value;
    json_object_foreach(queuedDoc, key, value) {
      if (json_object_get(doc, key) == nullptr) json_object_set(doc, key, value);
    }
  }
  const std::string merged = mergedMethod(stringOf(json_object_get(queued, "method")), method);
  if (merged != method) json_object_set_new(message, "method", json_string(merged.c_str()));
  // The same request added twice keeps its task.
  if (queuedID != requestID) forgetRequestId(queuedID);
  putRequest(objectID, message);
  putRequestId(requestID, objectID);
}

void OfflineManager::queueRequest(std::vector<jsonette::Json>& queue, const char* key,
                                  const std::string& requestID, const jsonette::Json& message) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  startTask(requestID);
  queue.push_back(message);
  saveQueue(queue, key);
}

void OfflineManager::queuePreferenceRequest(const std::string& requestID, const jsonette::Json& message) {
  queueRequest(preferenceQueue_, kPreferencesKey, requestID, message);
}

void OfflineManager::queueSwipeRequest(const std::string& requestID, const jsonette::Json& message) {
  queueRequest(swipeQueue_, kSwipesKey, requestID, message);
}

void OfflineManager::acknowledgeRequest(const std::string& requestID) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  tasks_.erase(requestID);
  if (requestID.empty()) return;
  for (auto [queue, key] : {std::pair{&preferenceQueue_, kPreferencesKey}, std::pair{&swipeQueue_, kSwipesKey},
                            std::pair{&accountQueue_, kAccountRequestsKey}}) {
    auto found = std::find_if(queue->begin(), queue->end(), [&](const jsonette::Json& queued) {
      return stringOf(queued["id"]) == requestID;
    });
    if (found == queue->end()) continue;
    queue->erase(found);
    saveQueue(*queue, key);
  }
  const std::string objectID = stringOf(json_object_get(requestIds_.get(), requestID.c_str()));
  if (objectID.empty()) return;
  endSend(json_object_get(requests_.get(), objectID.c_str()));
  forgetRequestId(requestID);
  deleteRequest(objectID);
  saveRequests();
}

void OfflineManager::removeRequest(const std::string& objectID) {
  if (objectID.empty()) return;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  json_t* queued = json_object_get(requests_.get(), objectID.c_str());
  if (json_is_object(queued)) {
    endSend(queued);
    json_t* requestID = json_object_get(queued, "id");
    if (json_is_string(requestID)) forgetRequestId(stringOf(requestID));
    deleteRequest(objectID);
  }
  saveRequests();
}

void OfflineManager::removeRequestConfirmedBy(const std::string& objectID, const json_t* document) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  json_t* queued = json_object_get(requests_.get(), objectID.c_str());
  if (json_is_object(queued) && !carries(document, queued)) return;
  removeRequest(objectID);
}

void OfflineManager::sendRequestsForIds(const std::vector<std::string>& objectIDs) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  JsonPtr batch(json_array());
  for (const std::string& objectID : objectIDs) {
    json_t* queued = json_object_get(requests_.get(), objectID.c_str());
    if (queued != nullptr) json_array_append(batch.get(), queued);
  }
  if (json_array_size(batch.get()) > 0) internal::server_client_send_json(batch.release());
}

void OfflineManager::sendRequestsForAccount(const std::string& accountID) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  JsonPtr batch(json_array());
  const char* objectID;
  json_t* queued;
  json_object_foreach(requests_.get(), objectID, queued) {
    const std::string account = stringOf(json_object_get(docOf(queued), "acct_id"));
    if (account.empty() || account != accountID) continue;
    json_array_append(batch.get(), queued);
    if (syncStatus_ && internal::server_client_is_connected()) syncStatus_->repostSendingStatus();
  }
  if (json_array_size(batch.get()) > 0) internal::server_client_send_json(batch.release());
}

std::vector<jsonette::Json> OfflineManager::getQueuedRequests() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);

  // Preference updates fold into one, a later value of a key replacing an earlier one.
  std::vector<jsonette::Json> preferences = preferenceQueue_;
  if (preferenceQueue_.size() >= 2) {
    jsonette::Json::object merged;
    for (const jsonette::Json& queued : preferenceQueue_) {
      const jsonette::Json& changes = queued["params"]["preferences"];
      if (!changes.is_object()) continue;
      for (const auto& [key, value] : changes.object_items()) merged[key] = value;
    }
    const std::string mergedID = brelt::generate_uuid_lower();
    startTask(mergedID);
    for (const jsonette::Json& queued : preferenceQueue_) tasks_.erase(stringOf(queued["id"]));
    preferences = {jsonette::Json::object{{"method", kPreferenceUpdate},
                                          {"params", jsonette::Json::object{{"preferences", merged}}},
                                          {"id", mergedID}}};
  }

  // One decision per rule: the first, unless a later one ignores (10) or disables (11) the rule.
  std::map<std::string, jsonette::Json> byRule;
  for (const jsonette::Json& queued : swipeQueue_) {
    const std::string ruleID = stringOf(queued["params"]["auto_swipe"]["_id"]);
    const jsonette::Json& action = queued["params"]["action"];
    const bool final = action.is_number() && (action.number_value() == 10 || action.number_value() == 11);
    auto held = byRule.find(ruleID);
    if (held == byRule.end()) {
      byRule.emplace(ruleID, queued);
    } else if (final) {
      tasks_.erase(stringOf(held->second["id"]));
      held->second = queued;
    } else {
      tasks_.erase(stringOf(queued["id"]));
    }
  }
  std::vector<jsonette::Json> swipes;
  for (auto& [ruleID, queued] : byRule) swipes.push_back(std::move(queued));

  swipeQueue_ = swipes;
  preferenceQueue_ = preferences;
  saveQueue(swipeQueue_, kSwipesKey);
  saveQueue(preferenceQueue_, kPreferencesKey);
  swipes.insert(swipes.end(), preferences.begin(), preferences.end());
  swipes.insert(swipes.end(), accountQueue_.begin(), accountQueue_.end());
  return swipes;
}

void OfflineManager::removeRequestsForAccount(const std::string& accountID) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<std::string> objectIDs;
  std::vector<std::string> requestIDs;
  const char* objectID;
  json_t* queued;
  json_object_foreach(requests_.get(), objectID, queued) {
    const std::string account = stringOf(json_object_get(docOf(queued), "acct_id"));
    if (account.empty() || account != accountID) continue;
    objectIDs.push_back(objectID);
    const std::string requestID = stringOf(json_object_get(queued, "id"));
    if (!requestID.empty()) requestIDs.push_back(requestID);
    endSend(queued);
  }
  bool changed = !objectIDs.empty();
  for (const std::string& id : objectIDs) deleteRequest(id);
  for (const std::string& id : requestIDs) {
    if (json_object_get(requestIds_.get(), id.c_str()) == nullptr) continue;
    forgetRequestId(id);
    changed = true;
  }
  if (changed) saveRequests();

  auto ofAccount = [&](const jsonette::Json& queued) {
    return stringOf(queued["params"]["account_id"]) == accountID;
  };
  if (accountID.empty() || std::none_of(accountQueue_.begin(), accountQueue_.end(), ofAccount)) return;
  for (const jsonette::Json& queued : accountQueue_)
    if (ofAccount(queued)) tasks_.erase(stringOf(queued["id"]));
  accountQueue_.erase(std::remove_if(accountQueue_.begin(), accountQueue_.end(), ofAccount), accountQueue_.end());
  saveQueue(accountQueue_, kAccountRequestsKey);
}

void OfflineManager::clear() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  json_object_clear(requests_.get());
  json_object_clear(requestIds_.get());
  requestTexts_.clear();
  requestIdTexts_.clear();
  preferenceQueue_.clear();
  swipeQueue_.clear();
  accountQueue_.clear();
  saveRequests();
  saveQueue(preferenceQueue_, kPreferencesKey);
  saveQueue(swipeQueue_, kSwipesKey);
  saveQueue(accountQueue_, kAccountRequestsKey);
  tasks_.clear();
}

namespace {
ProcessInstance<OfflineManager> instance;
}  // namespace

void offline_manager_set_instance(std::shared_ptr<OfflineManager> manager) {
  instance.set(std::move(manager));
}

int32_t offline_manager_get_connection_type() { return instance.call(&OfflineManager::getConnectionType); }
bool offline_manager_is_connected() { return instance.call(&OfflineManager::isConnected); }
bool offline_manager_is_connected_via_cellular() {
  return instance.call(&OfflineManager::isConnectedViaCellular);
}
bool offline_manager_is_connected_via_wifi() { return instance.call(&OfflineManager::isConnectedViaWifi); }
void offline_manager_reset_connection_type() { instance.call(&OfflineManager::resetConnectionType); }
void offline_manager_add_request(const jsonette::Json& message) {
  instance.call(&OfflineManager::addRequest, message);
}
void offline_manager_acknowledge_request(const std::string& requestID) {
  instance.call(&OfflineManager::acknowledgeRequest, requestID);
}
void offline_manager_remove_request(const std::string& objectID) {
  instance.call(&OfflineManager::removeRequest, objectID);
}
void offline_manager_remove_request_confirmed_by(const std::string& objectID, const json_t* document) {
  instance.call(&OfflineManager::removeRequestConfirmedBy, objectID, document);
}
void offline_manager_send_requests_for_ids(const std::vector<std::string>& objectIDs) {
  instance.call(&OfflineManager::sendRequestsForIds, objectIDs);
}
void offline_manager_send_requests_for_account(const std::string& accountID) {
  instance.call(&OfflineManager::sendRequestsForAccount, accountID);
}
void offline_manager_clear() { instance.call(&OfflineManager::clear); }
bool offline_manager_handles_method(const std::string& method) {
  return instance.call(&OfflineManager::handlesMethod, method);
}
void offline_manager_remove_requests_for_account(const std::string& accountID) {
  instance.call(&OfflineManager::removeRequestsForAccount, accountID);
}

}  // namespace libkestrun
