// A recording stand-in for the search state, with a settable answer.
#pragma once

#include "core/services/search_data_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeSearchDataManager : public libkestrun::SearchDataManager, public CallLog {
 public:
  void finishSearch(const std::string& searchID) override { record("finishSearch", {searchID}); }
  std::optional<std::string> getCurrentSearchId() override {
    record("getCurrentSearchId");
    return current_search_id;
  }
  void processFetchError(json_t* error) override { record("processFetchError", {document(error)}); }
  void processQueryError(json_t* error) override { record("processQueryError", {document(error)}); }
  void processQueryFinished(json_t* result) override { record("processQueryFinished", {document(result)}); }

  std::optional<std::string> current_search_id;  // set before installing
};

}  // namespace kestrun_test
