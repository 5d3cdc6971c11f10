#include "core/sync/auto_swipe_server_client.h"

#include "core/foundation/process_instance.h"

namespace libkestrun::internal {

namespace {
ProcessInstance<AutoSwipeServerClient> instance;
}  // namespace

void auto_swipe_server_client_set_instance(std::shared_ptr<AutoSwipeServerClient> client) {
  instance.set(std::move(client));
}

void auto_swipe_server_client_send_auto_swipe_decision(int action, int count, const std::string& user_id,
                                                       jsonette::Json rule) {
  instance.call(&AutoSwipeServerClient::sendAutoSwipeDecision, action, count, user_id, std::move(rule));
}

void auto_swipe_server_client_send_auto_swipe_rules_get(const std::string& user_id, long long before,
                                                        int limit, std::function<void(long long)> callback) {
  instance.call(&AutoSwipeServerClient::sendAutoSwipeRulesGet, user_id, before, limit, std::move(callback));
}

}  // namespace libkestrun::internal
