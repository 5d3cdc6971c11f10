// The store of search results that the search state drives in the running application: the data
// center's in-memory context, filled by the data center's search operations. Every call on the
// core thread, as the search state makes them.
#pragma once

#include <string>

#include "core/services/search_data_manager.h"

namespace libkestrun {

class DataCenterSearchResults : public SearchResultStore {
 public:
  // At once, not posted: the quick search fills the store right after this returns, and a clear
  // that ran later would drop its results.
  void clearStore() override;
  void loadLocalSearchResults(const std::string& searchID, const std::string& text,
                              const std::string& accountID) override;
  void processLocalFullSearch(const std::string& searchID, const std::string& text,
                              const std::string& accountID) override;
  void updateSearchFetchedItem(const std::string& itemID) override;
};

}  // namespace libkestrun
