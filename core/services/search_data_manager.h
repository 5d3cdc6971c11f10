// The one search in progress, and what drives it: the quick local search shown while the user
// types, the full search that follows (in the cloud, or locally when the text is shorter than 3
// bytes or the server connection is down), the fetch of one cloud result that is not stored
// locally, and the priming of the server's search. A search is named by its search id from end to
// end: the quick search's live query, the current search here, and "search_id" of the requests
// and replies. The data center and the cloud-search client hand the replies in through the
// forwarders below, which call the process-wide instance.
//
// States:
//   idle            no search id, text, callbacks or pending accounts
//   local shown     quickLocalSearch: id, text, the search callbacks; pending = the limiting
//                   account, if any
//   local full      performFullSearch, local branch; ends with finishSearch
//   cloud           performFullSearch, cloud branch: one SEARCH_QUERY per pending account, the
//                   search time-out armed; ends with the last account's finished reply, an error
//                   reply, or the time-out (error with null)
//   fetch           performSearchFetch while connected: the fetch time-out armed; ends with the
//                   fetched thread, an error reply or the time-out (fetch error with null)
// Every end goes through resetSearch, which also cancels both time-outs: each search and each
// fetch owns its time-out, so a late one never touches a newer search. A new quick search
// replaces the current one (and cancels its time-outs). The state is reset before a callback is
// called, so a callback may start the next search. Empty callbacks are never called.
//
// Threads: the core thread only, no lock: the facade posts its calls there, and the data center's
// tasks, the cloud-search client and the time-outs call from there.
#pragma once

#include <jansson.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

#include "brelt/timer_handle.h"
#include "brelt/uv_thread.h"
#include "core/accounts/account_manager.h"
#include "core/model/data_query.h"
#include "core/model/kestrun_object.h"

namespace libkestrun {

// What a search needs of the store of search results (the data center's in-memory store).
class SearchResultStore {
 public:
  virtual ~SearchResultStore() = default;

  // Empties the in-memory store.
  virtual void clearStore() = 0;
  // Copies the local items matching `text` (in `accountID` when not empty), with their e-mails,
  // into the in-memory store, before returning.
  virtual void loadLocalSearchResults(const std::string& searchID, const std::string& text,
                                      const std::string& accountID) = 0;
  // Queues the full local search into the in-memory store; its end calls
  // search_data_manager_finish_search with the id.
  virtual void processLocalFullSearch(const std::string& searchID, const std::string& text,
                                      const std::string& accountID) = 0;
  // Reads the item again from the database into the in-memory store.
  virtual void updateSearchFetchedItem(const std::string& itemID) = 0;
};

class SearchDataManager {
 public:
  using Observer = DataQueryObserver<std::shared_ptr<KestrunObject>>;
  using ResultCallback = std::function<void(json_t*)>;
  using FetchFinishedCallback = std::function<void(const std::string& threadID)>;

  // A cloud search needs this many bytes of text.
  static constexpr size_t kMinCloudSearchLength = 3;

  // `thread` runs the time-outs; the account manager gives the primary accounts. The recording
  // stand-ins of tests pass nulls and never reach the methods that use them.
  SearchDataManager(brelt::UvThread* thread, AccountManager* accountManager,
                    std::shared_ptr<SearchResultStore> results,
                    std::chrono::milliseconds searchTimeout = std::chrono::milliseconds(40000),
                    std::chrono::milliseconds fetchTimeout = std::chrono::milliseconds(30000));
  SearchDataManager(const SearchDataManager&) = delete;
  SearchDataManager& operator=(const SearchDataManager&) = delete;
  virtual ~SearchDataManager() = default;

  // Starts a search: clears the in-memory store, copies the local matches into it and registers
  // the live query `searchID` over it with `observer` (in-memory "KSITEM" rows, newest change
  // first). An empty text resets the state and calls `finished` with null instead.
  void quickLocalSearch(const std::string& searchID, const std::string& text, const std::string& accountID,
                        std::shared_ptr<Observer> observer, ResultCallback finished, ResultCallback error);
  // The full search of the current search; any other id does nothing.
  void performFullSearch(const std::string& searchID, const std::string& folder);
  // SEARCH_PRIME for the account, or for every primary account when it is empty.
  void primeSearch(const std::string& accountID);
  // Fetches one cloud result; offline, calls `error` with null at once and keeps the state.
  void performSearchFetch(const std::string& accountID, const std::string& searchID,
                          const std::string& threadID, const std::string& syncData,
                          FetchFinishedCallback finished, ResultCallback error);
  void updateFetchedItem(const std::string& itemID);
  void resetSearch();

  // The calls of the data center and the cloud-search client (through the forwarders). The
  // documents stay the caller's.
  virtual std::optional<std::string> getCurrentSearchId();
  // The current search's finished callback with null, then the reset.
  virtual void finishSearch(const std::string& searchID);
  // One account of the current search finished ("search_id", "account_id"); the last one ends the
  // search with this result.
  virtual void processQueryFinished(json_t* result);
  virtual void processQueryError(json_t* error);
  // The fetched thread is stored; the search id is not compared.
  virtual void processFetchFinished(const std::string& threadID);
  virtual void processFetchError(json_t* error);

  void setUpCloudSearchTimeoutTimer();
  void setUpCloudFetchTimeoutTimer();

 private:
  // True when the member "search_id" of `message` is a string equal to the current search id.
  bool isCurrentSearch(json_t* message) const;

  brelt::UvThread* const thread_;
  AccountManager* const accountManager_;
  const std::shared_ptr<SearchResultStore> results_;
  const std::chrono::milliseconds searchTimeout_;
  const std::chrono::milliseconds fetchTimeout_;

  std::optional<std::string> currentSearchId_;
  std::shared_ptr<std::string> searchText_;
  // The accounts whose cloud query has not finished, or the one account the search is limited to.
  std::unordered_set<std::string> pendingAccountIds_;
  ResultCallback searchFinished_;
  ResultCallback searchError_;
  FetchFinishedCallback fetchFinished_;
  ResultCallback fetchError_;
  brelt::TimerHandle searchTimer_;
  brelt::TimerHandle fetchTimer_;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing and answer empty.
void search_data_manager_set_instance(std::shared_ptr<SearchDataManager> manager);

void search_data_manager_finish_search(const std::string& searchID);
std::optional<std::string> search_data_manager_get_current_search_id();
void search_data_manager_process_fetch_error(json_t* error);
void search_data_manager_process_fetch_finished(const std::string& threadID);
void search_data_manager_process_query_error(json_t* error);
void search_data_manager_process_query_finished(json_t* result);

}  // namespace libkestrun
