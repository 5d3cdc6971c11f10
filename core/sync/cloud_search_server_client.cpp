#include "core/sync/cloud_search_server_client.h"

#include <utility>
#include <vector>

#include "brelt/uuid.h"
#include "core/data/data_center.h"
#include "core/foundation/json_conversion.h"
#include "core/services/offline_manager.h"
#include "core/services/search_data_manager.h"
#include "core/sync/server_client.h"

namespace libkestrun::internal {

namespace {

void send(const char* method, json_t* params) {
  patch::JanssonPtr held(params);
  server_client_send(method, held.get(), brelt::generate_uuid_lower(), true);
}

int networkState() {
  if (offline_manager_is_connected_via_wifi()) return CloudSearchServerClient::kNetworkStateWifi;
  if (offline_manager_is_connected_via_cellular()) return CloudSearchServerClient::kNetworkStateCellular;
  return CloudSearchServerClient::kNetworkStateNone;
}

// A member that is present and not JSON null.
json_t* present(json_t* object, const char* key) {
  json_t* value = json_object_get(object, key);
  return json_is_null(value) ? nullptr : value;
}

}  // namespace

CloudSearchServerClient::CloudSearchServerClient(std::shared_ptr<PerfLogger> perf) : perf_(std::move(perf)) {}

void CloudSearchServerClient::sendSearchPrime(const std::string& account_id) {
  if (account_id.empty()) return;
  send("SEARCH_PRIME", json_pack("{s:s%}", "account_id", account_id.data(), account_id.size()));
}

void CloudSearchServerClient::sendSearchQuery(const std::string& account_id, const std::string& folder,
                                              const std::string& search_id, const std::string& query,
                                              int num_accounts) {
  if (query.empty() || account_id.empty() || search_id.empty()) return;
  json_t* params =
      json_pack("{s:s%, s:s%, s:s%, s:{s:i, s:i}}", "account_id", account_id.data(), account_id.size(),
                "search_id", search_id.data(), search_id.size(), "query", query.data(), query.size(),
                "client_metadata", "num_accounts", num_accounts, "network_state", networkState());
  if (params == nullptr) return;  // text that is not UTF-8
  if (!folder.empty()) json_object_set_new(params, "folder", json_stringn(folder.data(), folder.size()));
  // A second query under an open search id keeps the first timing: the final answer stops that.
  if (perf_ && open_timings_.count(search_id) == 0)
    open_timings_.emplace(search_id, perf_->startTiming(PERF_LOGGER_METRIC_SEARCH_QUERY_TIME));
  send("SEARCH_QUERY", params);
}

void CloudSearchServerClient::sendSearchFetch(const std::string& account_id, const std::string& search_id,
                                              const std::string& thread_id, const std::string& sync_data) {
  if (thread_id.empty() || account_id.empty() || search_id.empty()) return;
  json_t* params =
      json_pack("{s:s%, s:s%, s:s%}", "account_id", account_id.data(), account_id.size(), "search_id",
                search_id.data(), search_id.size(), "thr_id", thread_id.data(), thread_id.size());
  if (params == nullptr) return;
  if (sync_data != "-") {
    json_t* parsed = json_loadb(sync_data.data(), sync_data.size(), JSON_DECODE_ANY, nullptr);
    if (parsed != nullptr) json_object_set_new(params, "sync_data", parsed);
  }
  send("SEARCH_FETCH", params);
}

void CloudSearchServerClient::handleSearchQueryResponse(json_t* message) {
  // A finished search may carry "error": null beside its result; only a real error fails it.
  if (json_t* error = present(message, "error")) {
    stopQueryTiming(error);
    KestrunDataCenter::processQueryError(error);
    return;
  }
  json_t* method = json_object_get(message, "method");
  json_t* params = json_object_get(message, "params");
  if (json_is_string(method) && json_is_object(params)) {
    handleSearchResult(std::string(json_string_value(method), json_string_length(method)), params);
    return;
  }
  json_t* result = json_object_get(message, "result");
  if (json_is_object(result)) {
    stopQueryTiming(result);
    KestrunDataCenter::processQueryFinished(result);
  }
}

void CloudSearchServerClient::handleSearchResult(const std::string& method, json_t* params) {
  if (method == "SEARCH_RESULT_EMAIL") {
    KestrunDataCenter::processQueryEmailResults(params, false);
  } else if (method == "SEARCH_UPDATE_EMAIL") {
    KestrunDataCenter::processQueryEmailResults(params, true);
  } else if (method == "SEARCH_RESULT_ITEM") {
    KestrunDataCenter::processQueryItemResults(params);
  }
}

void CloudSearchServerClient::handleSearchFetchResponse(json_t* result, json_t* error) {
  if (result != nullptr) {
    json_t* id = json_object_get(json_object_get(result, "thread"), "_id");
    if (!json_is_object(json_object_get(result, "thread")) || !json_is_string(id)) return;
    std::string thread_id(json_string_value(id), json_string_length(id));
    KestrunDataCenter::processFetchResults(
        result,
        [thread_id](std::vector<std::string>&) {
          libkestrun::search_data_manager_process_fetch_finished(thread_id);
        },
        nullptr);
  } else if (error != nullptr) {
    KestrunDataCenter::processFetchError(error);
  }
}

void CloudSearchServerClient::stopQueryTiming(json_t* answer) {
  json_t* id = json_object_get(answer, "search_id");
  if (!json_is_string(id)) return;
  auto found = open_timings_.find(std::string(json_string_value(id), json_string_length(id)));
  if (found == open_timings_.end()) return;
  found->second.stop();
  open_timings_.erase(found);
}

}  // namespace libkestrun::internal
