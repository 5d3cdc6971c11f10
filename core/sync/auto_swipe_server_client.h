// The auto-swipe client, as the data writer sees it: telling the server what the user decided
// about a rule. The full client implements this interface.
#pragma once

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
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarder
// does nothing.
void auto_swipe_server_client_set_instance(std::shared_ptr<AutoSwipeServerClient> client);

void auto_swipe_server_client_send_auto_swipe_decision(int action, int count, const std::string& user_id,
                                                       jsonette::Json rule);

}  // namespace libkestrun::internal
