#include "core/sync/auto_swipe_server_client_impl.h"

#include <cstdlib>
#include <utility>
#include <vector>

#include "brelt/uuid.h"
#include "core/accounts/user_manager.h"
#include "core/data/data_center.h"
#include "core/foundation/json_conversion.h"
#include "core/services/counts_manager.h"
#include "core/sync/server_client.h"

namespace libkestrun::internal {

AutoSwipeServerClientImpl::AutoSwipeServerClientImpl(ServerClient* server, CountsManager* counts,
                                                     UserManager* users)
    : server_(server), counts_(counts), users_(users) {}

AutoSwipeServerClientImpl::~AutoSwipeServerClientImpl() { *alive_ = false; }

bool AutoSwipeServerClientImpl::isCurrentUser(const std::string& user_id) {
  return user_id == users_->getUserId();
}

void AutoSwipeServerClientImpl::sendAutoSwipeDecision(int action, int count, const std::string& user_id,
                                                      jsonette::Json rule) {
  if (!isCurrentUser(user_id)) return;
  jsonette::Json params = jsonette::Json::object{
      {"user_id", user_id}, {"count", count}, {"action", action}, {"auto_swipe", std::move(rule)}};
  server_->send("AUTO_SWIPE_DECISION", params, brelt::generate_uuid_lower(), true);
}

void AutoSwipeServerClientImpl::sendAutoSwipeRulesGet(const std::string& user_id, long long before, int limit,
                                                      std::function<void(long long)> callback) {
  if (!isCurrentUser(user_id)) return;
  const std::string id = brelt::generate_uuid_lower();
  if (callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_[id] = std::move(callback);
  }
  // The server reads "before" as a double: the largest value goes out as 2^63.
  jsonette::Json params =
      jsonette::Json::object{{"user_id", user_id}, {"limit", limit}, {"before", static_cast<double>(before)}};
  server_->send("AUTO_SWIPE_RULES_GET", params, id, true);
}

void AutoSwipeServerClientImpl::handleAutoSwipeGetResponse(const std::string& request_id, json_t* result) {
  json_t* user_id = json_object_get(result, "user_id");
  if (json_is_object(result) && json_is_string(user_id) && json_string_length(user_id) > 0 &&
      isCurrentUser(std::string(json_string_value(user_id), json_string_length(user_id)))) {
    json_t* totals = json_object_get(result, "user");
    if (json_is_object(totals)) counts_->processAutoSwipeCounts(patch::json_from_jansson(totals));
    json_t* rules = json_object_get(result, "rules");
    if (json_is_array(rules)) {
      KestrunDataCenter::processAutoSwipeGet(
          rules,
          [this, alive = alive_, request_id](std::vector<std::string>& results) {
            if (!*alive) return;
            // A text that is no number reads as 0, as strtoll reads it.
            const long long value =
                results.empty() ? kNoMoreRules : std::strtoll(results.front().c_str(), nullptr, 10);
            finishAutoSwipeRulesGet(request_id, value);
          },
          nullptr);
      return;
    }
  }
  finishAutoSwipeRulesGet(request_id, kNoMoreRules);
}

void AutoSwipeServerClientImpl::finishAutoSwipeRulesGet(const std::string& request_id, long long value) {
  if (request_id.empty()) return;
  std::function<void(long long)> callback;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = pending_.find(request_id);
    if (found == pending_.end()) return;
    callback = std::move(found->second);
    pending_.erase(found);
  }
  callback(value);
}

}  // namespace libkestrun::internal
