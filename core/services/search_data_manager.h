// The state of the one cloud search in progress, as the data center sees it: it hands the search's
// replies here, which turns them into the caller's callbacks. The full manager implements this
// interface. Core thread.
#pragma once

#include <jansson.h>

#include <memory>
#include <optional>
#include <string>

namespace libkestrun {

class SearchDataManager {
 public:
  virtual ~SearchDataManager() = default;

  // For the current search: calls its finished callback with a null document and resets the state.
  virtual void finishSearch(const std::string& searchID) = 0;
  // The id of the search in progress; empty when none runs.
  virtual std::optional<std::string> getCurrentSearchId() = 0;
  // Errors and results carry "search_id"; only those of the current search are acted on. The
  // caller keeps the documents.
  virtual void processFetchError(json_t* error) = 0;
  virtual void processQueryError(json_t* error) = 0;
  // One account finished ("account_id"); the last one finishes the search.
  virtual void processQueryFinished(json_t* result) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing and answer empty.
void search_data_manager_set_instance(std::shared_ptr<SearchDataManager> manager);

void search_data_manager_finish_search(const std::string& searchID);
std::optional<std::string> search_data_manager_get_current_search_id();
void search_data_manager_process_fetch_error(json_t* error);
void search_data_manager_process_query_error(json_t* error);
void search_data_manager_process_query_finished(json_t* result);

}  // namespace libkestrun
