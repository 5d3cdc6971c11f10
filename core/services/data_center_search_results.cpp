#include "core/services/data_center_search_results.h"

#include "core/data/data_center.h"

namespace libkestrun {

void DataCenterSearchResults::clearStore() { KestrunDataCenter::getMemoryContext()->clearStore(); }

void DataCenterSearchResults::loadLocalSearchResults(const std::string& searchID, const std::string& text,
                                                     const std::string& accountID) {
  KestrunDataCenter::loadLocalSearchResults(searchID, text, accountID);
}

void DataCenterSearchResults::processLocalFullSearch(const std::string& searchID, const std::string& text,
                                                     const std::string& accountID) {
  KestrunDataCenter::processLocalFullSearch(searchID, text, accountID);
}

void DataCenterSearchResults::updateSearchFetchedItem(const std::string& itemID) {
  KestrunDataCenter::updateSearchFetchedItem(itemID);
}

}  // namespace libkestrun
