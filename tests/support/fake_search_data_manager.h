// A recording stand-in for the search state, as the data center and the cloud-search client call
// it, with a settable answer; every other method is the real one, never reached.
#pragma once

#include "core/services/search_data_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeSearchDataManager : public libkestrun::SearchDataManager, public CallLog {
 public:
  FakeSearchDataManager() : SearchDataManager(nullptr, nullptr, nullptr) {}

  void finishSearch(const std::string& searchID) override { record("finishSearch", {searchID}); }
  std::optional<std::string> getCurrentSearchId() override {
    record("getCurrentSearchId");
    return current_search_id;
  }
  void processFetchError(json_t* error) override { record("processFetchError", {document(error)}); }
  void processFetchFinished(const std::string& threadID) override {
    record("processFetchFinished", {threadID});
  }
  void processQueryError(json_t* error) override { record("processQueryError", {document(error)}); }
  void processQueryFinished(json_t* result) override { record("processQueryFinished", {document(result)}); }

  std::optional<std::string> current_search_id;  // set before installing
};

}  // namespace kestrun_test
