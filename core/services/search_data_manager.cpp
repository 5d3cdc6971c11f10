#include "core/services/search_data_manager.h"

#include <algorithm>
#include <utility>

#include "core/data/consumer_center.h"
#include "core/foundation/process_instance.h"
#include "core/model/ks_item.h"
#include "core/model/memory_context.h"
#include "core/sync/server_client.h"

namespace libkestrun {

namespace {
ProcessInstance<SearchDataManager> instance;

// The string member `key`, or nothing when it is missing or not a string.
const char* string_member(json_t* message, const char* key) {
  json_t* value = json_object_get(message, key);
  return json_is_string(value) ? json_string_value(value) : nullptr;
}
}  // namespace

SearchDataManager::SearchDataManager(brelt::UvThread* thread, AccountManager* accountManager,
                                     std::shared_ptr<SearchResultStore> results,
                                     std::chrono::milliseconds searchTimeout,
                                     std::chrono::milliseconds fetchTimeout)
    : thread_(thread),
      accountManager_(accountManager),
      results_(std::move(results)),
      searchTimeout_(searchTimeout),
      fetchTimeout_(fetchTimeout) {}

void SearchDataManager::quickLocalSearch(const std::string& searchID, const std::string& text,
                                         const std::string& accountID, std::shared_ptr<Observer> observer,
                                         ResultCallback finished, ResultCallback error) {
  if (text.empty()) {
    resetSearch();
    if (finished) finished(nullptr);
    return;
  }
  // The search before this one ends here, time-outs included.
  resetSearch();
  results_->clearStore();
  currentSearchId_ = searchID;
  searchText_ = std::make_shared<std::string>(text);
  if (!accountID.empty()) pendingAccountIds_.insert(accountID);
  searchFinished_ = std::move(finished);
  searchError_ = std::move(error);
  results_->loadLocalSearchResults(searchID, text, accountID);

  auto query = std::make_unique<FnObjectQuery>(
      searchID,
      [](const std::string&, KestrunContext&) {
        KSQueryRows items = MemoryContext::allItems();
        std::stable_sort(items->begin(), items->end(), &KSItem::modified_at_desc);
        return items;
      },
      &KSItem::modified_at_desc, std::move(observer));
  KestrunConsumerCenter::addQuery(searchID, "KSITEM", std::move(query), true);
}

void SearchDataManager::performFullSearch(const std::string& searchID, const std::string& folder) {
  if (searchID.empty() || !currentSearchId_ || *currentSearchId_ != searchID) return;
  // The id was set by a fetch: there is no text to search for.
  if (!searchText_) return;
  const std::string account = pendingAccountIds_.empty() ? std::string() : *pendingAccountIds_.begin();
  if (searchText_->size() < kMinCloudSearchLength || !internal::server_client_is_connected()) {
    results_->processLocalFullSearch(*currentSearchId_, *searchText_, account);
    return;
  }
  setUpCloudSearchTimeoutTimer();
  if (!account.empty()) {
    internal::server_client_search_query(account, folder, *currentSearchId_, *searchText_, 1);
    return;
  }
  std::shared_ptr<std::vector<std::string>> accounts = accountManager_->allPrimaryAccountIDs();
  if (!accounts) return;
  for (const std::string& id : *accounts) {
    internal::server_client_search_query(id, folder, *currentSearchId_, *searchText_,
                                         static_cast<int>(accounts->size()));
    pendingAccountIds_.insert(id);
  }
}

void SearchDataManager::primeSearch(const std::string& accountID) {
  if (!accountID.empty()) {
    internal::server_client_prime_search(accountID);
    return;
  }
  std::shared_ptr<std::vector<std::string>> accounts = accountManager_->allPrimaryAccountIDs();
  if (!accounts) return;
  for (const std::string& id : *accounts) internal::server_client_prime_search(id);
}

void SearchDataManager::performSearchFetch(const std::string& accountID, const std::string& searchID,
                                           const std::string& threadID, const std::string& syncData,
                                           FetchFinishedCallback finished, ResultCallback error) {
  // A fetch for another search ends that one's time-out with it.
  if (currentSearchId_ != searchID) searchTimer_ = brelt::TimerHandle();
  fetchError_ = std::move(error);
  fetchFinished_ = std::move(finished);
  currentSearchId_ = searchID;
  if (!internal::server_client_is_connected()) {
    // The callback stays stored and runs as a copy: it may start the next fetch, which replaces it.
    if (ResultCallback error = fetchError_) error(nullptr);
    return;
  }
  setUpCloudFetchTimeoutTimer();
  internal::server_client_search_fetch(accountID, searchID, threadID, syncData);
}

void SearchDataManager::updateFetchedItem(const std::string& itemID) {
  results_->updateSearchFetchedItem(itemID);
}

void SearchDataManager::resetSearch() {
  searchText_.reset();
  currentSearchId_.reset();
  searchError_ = nullptr;
  searchFinished_ = nullptr;
  fetchError_ = nullptr;
  fetchFinished_ = nullptr;
  pendingAccountIds_.clear();
  searchTimer_ = brelt::TimerHandle();
  fetchTimer_ = brelt::TimerHandle();
}

std::optional<std::string> SearchDataManager::getCurrentSearchId() { return currentSearchId_; }

void SearchDataManager::finishSearch(const std::string& searchID) {
  if (searchID.empty() || currentSearchId_ != searchID) return;
  ResultCallback finished = std::move(searchFinished_);
  resetSearch();
  if (finished) finished(nullptr);
}

bool SearchDataManager::isCurrentSearch(json_t* message) const {
  const char* searchID = string_member(message, "search_id");
  return searchID != nullptr && currentSearchId_ && *currentSearchId_ == searchID;
}

void SearchDataManager::processQueryFinished(json_t* result) {
  const char* accountID = string_member(result, "account_id");
  if (accountID == nullptr || !isCurrentSearch(result)) return;
  pendingAccountIds_.erase(accountID);
  if (!pendingAccountIds_.empty()) return;
  ResultCallback finished = std::move(searchFinished_);
  resetSearch();
  if (finished) finished(result);
}

void SearchDataManager::processQueryError(json_t* error) {
  if (!isCurrentSearch(error)) return;
  ResultCallback callback = std::move(searchError_);
  resetSearch();
  if (callback) callback(error);
}

void SearchDataManager::processFetchFinished(const std::string& threadID) {
  FetchFinishedCallback finished = std::move(fetchFinished_);
  resetSearch();
  if (finished) finished(threadID);
}

void SearchDataManager::processFetchError(json_t* error) {
  if (!isCurrentSearch(error)) return;
  ResultCallback callback = std::move(fetchError_);
  resetSearch();
  if (callback) callback(error);
}

void SearchDataManager::setUpCloudSearchTimeoutTimer() {
  searchTimer_ = thread_->defer(searchTimeout_, [this] {
    ResultCallback callback = std::move(searchError_);
    resetSearch();
    if (callback) callback(nullptr);
  });
}

void SearchDataManager::setUpCloudFetchTimeoutTimer() {
  fetchTimer_ = thread_->defer(fetchTimeout_, [this] {
    ResultCallback callback = std::move(fetchError_);
    resetSearch();
    if (callback) callback(nullptr);
  });
}

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

void search_data_manager_process_fetch_finished(const std::string& threadID) {
  instance.call(&SearchDataManager::processFetchFinished, threadID);
}

void search_data_manager_process_query_error(json_t* error) {
  instance.call(&SearchDataManager::processQueryError, error);
}

void search_data_manager_process_query_finished(json_t* result) {
  instance.call(&SearchDataManager::processQueryFinished, result);
}

}  // namespace libkestrun
