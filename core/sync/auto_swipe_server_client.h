// The auto-swipe client, as the data writer and the facade see it: telling the server what the
// user decided about a rule, and paging the user's rules down from the server. The full client
// (auto_swipe_server_client_impl.h) implements this interface.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "jsonette/json.h"

namespace libkestrun::internal {

class AutoSwipeServerClient {
 public:
  virtual ~AutoSwipeServerClient() = default;

  // Sends "AUTO_SWIPE_DECISION" {"user_id", "count", "action", "auto_swipe"} when `user_id` is the
  // current user's; otherwise sends nothing. Core thread.
  virtual void sendAutoSwipeDecision(int action, int count, const std::string& user_id,
                                     jsonette::Json rule) = 0;
  // Sends "AUTO_SWIPE_RULES_GET" {"user_id", "limit", "before"} when `user_id` is the current
  // user's; otherwise sends nothing and never calls back. Once the reply's rules are stored,
  // `callback` (which may be empty) receives the smallest "last_action" of the page, the "before"
  // of the next page, or 9223372036854775807 when the page was empty or refused. Core thread.
  virtual void sendAutoSwipeRulesGet(const std::string& user_id, long long before, int limit,
                                     std::function<void(long long)> callback) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarder
// does nothing.
void auto_swipe_server_client_set_instance(std::shared_ptr<AutoSwipeServerClient> client);

void auto_swipe_server_client_send_auto_swipe_decision(int action, int count, const std::string& user_id,
                                                       jsonette::Json rule);
void auto_swipe_server_client_send_auto_swipe_rules_get(const std::string& user_id, long long before,
                                                        int limit, std::function<void(long long)> callback);

}  // namespace libkestrun::internal
