// The cloud search client: asks the sync server to search one mail account, hands the results
// that stream back to the data center, and fetches a found conversation into the local store.
// The search data manager drives it through the server client's prime_search, search_query and
// search_fetch; the server client's dispatch hands it every message of type "SEARCH_QUERY" and
// "SEARCH_FETCH".
//
// The answers to one query, all of type "SEARCH_QUERY":
//   {"method": "SEARCH_RESULT_EMAIL" | "SEARCH_UPDATE_EMAIL" | "SEARCH_RESULT_ITEM", "params"}
//                      a streamed batch; the query goes on
//   {"result": {...}}  the query has finished (an "error" that is JSON null means no error)
//   {"error": {...}}   the query has failed; a non-null "error" wins over a "result"
// The time from sending a query to its final answer is measured per search id: the first query
// under a search id opens the timing, a final answer naming that id stops it. A query that never
// gets a final answer keeps its entry for the life of the client.
//
// Requests go out through the process-wide server client under fresh lower-case ids; none is
// tracked, and no reply to SEARCH_PRIME is handled. Empty required arguments send nothing.
//
// Threads: the core thread only; the timing table has no lock.
#pragma once

#include <jansson.h>

#include <map>
#include <memory>
#include <string>

#include "core/services/perf_logger.h"

namespace libkestrun::internal {

class CloudSearchServerClient {
 public:
  // "network_state" of a query: not the offline manager's own numbering (1 cellular, 2 Wi-Fi).
  static constexpr int kNetworkStateNone = 0;
  static constexpr int kNetworkStateWifi = 1;
  static constexpr int kNetworkStateCellular = 2;

  // `perf` is shared with the server client and the facade; it may be null (nothing is timed).
  explicit CloudSearchServerClient(std::shared_ptr<PerfLogger> perf);
  CloudSearchServerClient(const CloudSearchServerClient&) = delete;
  CloudSearchServerClient& operator=(const CloudSearchServerClient&) = delete;

  // SEARCH_PRIME {"account_id"}.
  void sendSearchPrime(const std::string& account_id);
  // SEARCH_QUERY {"account_id", "search_id", "query", "client_metadata": {"num_accounts",
  // "network_state"}, "folder" (only when not empty)}.
  void sendSearchQuery(const std::string& account_id, const std::string& folder, const std::string& search_id,
                       const std::string& query, int num_accounts);
  // SEARCH_FETCH {"account_id", "search_id", "thr_id", "sync_data"}: the sync data text parsed as
  // any JSON value, left out for "-" or a text that does not parse.
  void sendSearchFetch(const std::string& account_id, const std::string& search_id,
                       const std::string& thread_id, const std::string& sync_data);

  // One message of type "SEARCH_QUERY", whole. The caller keeps its reference.
  void handleSearchQueryResponse(json_t* message);
  // A streamed batch; other methods are ignored.
  void handleSearchResult(const std::string& method, json_t* params);
  // The reply to SEARCH_FETCH; each is null when missing or JSON null. Once a fetched thread is
  // stored, the search data manager hears its id.
  void handleSearchFetchResponse(json_t* result, json_t* error);
  // Stops the open timing of the answer's "search_id", if any.
  void stopQueryTiming(json_t* answer);

 private:
  const std::shared_ptr<PerfLogger> perf_;
  std::map<std::string, PerfLoggerHandle> open_timings_;  // by search id
};

}  // namespace libkestrun::internal
