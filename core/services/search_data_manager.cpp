#include "core/services/search_data_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {
ProcessInstance<SearchDataManager> instance;
}  // namespace

void search_data_manager_set_instance(std::shared_ptr<SearchDataManager> manager) {
  instance.set(std::move(manager));
}

void search_data_manager_finish_search(const std::string& searchID) {
  instance.call(&SearchDataManager::finishSearch, searchID);
}

std::optional<std::string> search_data_manager_get_current_search_id() {
  return instance.call(&SearchDataManager::getCurrentSearchId);
}

void search_data_manager_process_fetch_error(json_t* error) {
  instance.call(&SearchDataManager::processFetchError, error);
}

void search_data_manager_process_query_error(json_t* error) {
  instance.call(&SearchDataManager::processQueryError, error);
}

void search_data_manager_process_query_finished(json_t* result) {
  instance.call(&SearchDataManager::processQueryFinished, result);
}

}  // namespace libkestrun
