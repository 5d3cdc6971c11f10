// The auto-swipe client: sends the user's decisions about auto-swipe rules, and pages the user's
// rules down from the server. A page request keeps its callback under its request id until the
// reply has been stored; the reply's rules go to the data center, the user's auto-swipe totals
// to the counts manager, and the callback learns where the next page starts (the smallest
// "last_action" of the page, or kNoMoreRules).
//
// Both senders drop a request silently when the user id is not the current user's. Decisions are
// not tracked here: the outgoing queue keeps them until the server acknowledges them and writes
// them again after a reconnection. A page request that gets no reply keeps its entry for the life
// of the client (there is no time-out).
//
// Threads: the core thread, the destructor included (the server client releases it there). mutex_
// guards only the callback table; a callback is called after its entry has left the table and
// without the mutex, so it may ask for the next page at once.
#pragma once

#include <jansson.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "core/sync/auto_swipe_server_client.h"

namespace libkestrun {
class CountsManager;
class UserManager;
}  // namespace libkestrun

namespace libkestrun::internal {

class ServerClient;

class AutoSwipeServerClientImpl : public AutoSwipeServerClient {
 public:
  // The "before" of a page request that asks from the newest rule on, and the value a page
  // request ends with when there are no more rules or the request was refused.
  static constexpr long long kNoMoreRules = 9223372036854775807LL;

  // None is owned; each outlives the client (the server client builds it and keeps it).
  AutoSwipeServerClientImpl(ServerClient* server, CountsManager* counts, UserManager* users);
  // The completions of rule pages still queued as data tasks find the client gone and do nothing.
  ~AutoSwipeServerClientImpl() override;
  AutoSwipeServerClientImpl(const AutoSwipeServerClientImpl&) = delete;
  AutoSwipeServerClientImpl& operator=(const AutoSwipeServerClientImpl&) = delete;

  void sendAutoSwipeDecision(int action, int count, const std::string& user_id, jsonette::Json rule) override;
  void sendAutoSwipeRulesGet(const std::string& user_id, long long before, int limit,
                             std::function<void(long long)> callback) override;

  // The reply to the page request `request_id`; `result` is null when the reply has none (or a
  // JSON null). The caller keeps its reference.
  void handleAutoSwipeGetResponse(const std::string& request_id, json_t* result);
  // Takes the request's callback out of the table and calls it with `value`; an unknown or empty
  // id does nothing.
  void finishAutoSwipeRulesGet(const std::string& request_id, long long value);

 private:
  bool isCurrentUser(const std::string& user_id);

  ServerClient* const server_;
  CountsManager* const counts_;
  UserManager* const users_;
  std::mutex mutex_;
  std::unordered_map<std::string, std::function<void(long long)>> pending_;  // guarded by mutex_
  // Cleared by the destructor; the completions of the data tasks that store a page check it.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace libkestrun::internal
