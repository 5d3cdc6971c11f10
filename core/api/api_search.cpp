// The search operations of the facade. Each posts one closure holding copies of its arguments to
// the core thread, where the search data manager keeps the one search in progress; the facade
// adds no state of its own. Callbacks run on the core thread.
#include <memory>
#include <string>
#include <utility>

#include "core/api/api.h"
#include "core/model/query_observer.h"
#include "core/services/search_data_manager.h"

namespace libkestrun {

void Api::perform_quick_local_search(const std::string& search_id, const std::string& text,
                                     const std::string& account_id,
                                     std::shared_ptr<ObjectQueryObserver> observer,
                                     SearchDataManager::ResultCallback finished,
                                     SearchDataManager::ResultCallback error) {
  post([this, search_id, text, account_id, observer = std::move(observer), finished = std::move(finished),
        error = std::move(error)]() mutable {
    managers_.search_data_manager->quickLocalSearch(search_id, text, account_id, std::move(observer),
                                                    std::move(finished), std::move(error));
  });
}

void Api::perform_quick_local_search(const std::string& search_id, const std::string& text,
                                     const std::string& account_id, QueryResultsFn results,
                                     QueryBeginFn begin, QueryEndFn end, QueryChangeFn change,
                                     SearchDataManager::ResultCallback finished,
                                     SearchDataManager::ResultCallback error) {
  auto observer = std::make_shared<FnDataQueryObserver>(std::move(results), std::move(begin),
                                                        std::move(change), std::move(end));
  perform_quick_local_search(search_id, text, account_id, std::move(observer), std::move(finished),
                             std::move(error));
}

void Api::perform_full_search(const std::string& search_id, const std::string& folder) {
  post([this, search_id, folder] { managers_.search_data_manager->performFullSearch(search_id, folder); });
}

void Api::perform_search_fetch(const std::string& account_id, const std::string& search_id,
                               const std::string& item_id, const std::string& sync_data,
                               SearchDataManager::FetchFinishedCallback finished,
                               SearchDataManager::ResultCallback error) {
  post([this, account_id, search_id, item_id, sync_data, finished = std::move(finished),
        error = std::move(error)]() mutable {
    managers_.search_data_manager->performSearchFetch(account_id, search_id, item_id, sync_data,
                                                      std::move(finished), std::move(error));
  });
}

void Api::update_fetched_item(const std::string& item_id) {
  post([this, item_id] { managers_.search_data_manager->updateFetchedItem(item_id); });
}

void Api::prime_search(const std::string& account_id) {
  post([this, account_id] { managers_.search_data_manager->primeSearch(account_id); });
}

void Api::cancel_search() {
  post([this] { managers_.search_data_manager->resetSearch(); });
}

}  // namespace libkestrun
