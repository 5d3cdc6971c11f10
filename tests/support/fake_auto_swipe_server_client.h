// A recording stand-in for the auto-swipe client.
#pragma once

#include "core/sync/auto_swipe_server_client.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeAutoSwipeServerClient : public libkestrun::internal::AutoSwipeServerClient, public CallLog {
 public:
  void sendAutoSwipeDecision(int action, int count, const std::string& user_id,
                             jsonette::Json rule) override {
    record("sendAutoSwipeDecision", {action, count, user_id, std::move(rule)});
  }
  void sendAutoSwipeRulesGet(const std::string& user_id, long long before, int limit,
                             std::function<void(long long)> callback) override {
    record("sendAutoSwipeRulesGet", {user_id, before, limit, static_cast<bool>(callback)});
  }
};

}  // namespace kestrun_test
