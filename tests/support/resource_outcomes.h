// What the callbacks of resource requests (bodies, attachments, uploads) received, for tests that
// wait on them from the test's thread while the callbacks run on worker threads or the core thread.
#pragma once

#include <gtest/gtest.h>
#include <jansson.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "core/services/email_resource_manager.h"
#include "support/wait.h"

namespace kestrun_test {

// The values received, in order, each as "<kind>:<compact JSON>" or "<kind>:null":
// "success:\"text\"", "failure:null", ...
class ResourceOutcomes {
 public:
  libkestrun::ResourceCallback callback(const std::string& kind) {
    return [this, kind](json_t* value) {
      char* dumped = value ? json_dumps(value, JSON_ENCODE_ANY | JSON_COMPACT) : nullptr;
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back(kind + ":" + (dumped ? dumped : "null"));
      free(dumped);
    };
  }
  // Waits until `count` values arrived (failing the test after a generous deadline); all so far.
  std::vector<std::string> wait(size_t count = 1) {
    EXPECT_TRUE(wait_until([&] { return seen().size() >= count; }, std::chrono::seconds(60)));
    return seen();
  }
  std::vector<std::string> seen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> seen_;  // guarded by mutex_
};

}  // namespace kestrun_test
