// Pending server requests whose answer a caller waits for. The owning client starts a
// transaction under the request's id just before it sends the request; its reply handler ends it
// with transactionSucceeded or transactionFailed, and the time-out closure the owner supplies
// ends it when no reply came in time. Whichever comes first runs exactly one of the record's two
// callbacks, once; every later end for that id returns false and runs nothing.
//
// The manager knows nothing of the wire and never ends a record by itself: the time-out closure
// belongs to the owner, who calls transactionFailed with its own time-out value. That closure
// runs from the record's own timer, so it must copy the id into a local before ending the record
// and touch none of its captures afterwards.
//
// Instances: the account requests use <std::function<void(json_t*)>, AccountRequestFailure>, the
// user and device requests <std::function<void(jsonette::Json&)>, UserRequestFailure>; the
// result given to transactionSucceeded is handed to the success callback as an lvalue.
//
// Threads: starts, ends and time-outs happen on the core thread. `mutex_` guards `table_` only
// and is never held while a callback runs, so a callback may start or end other transactions.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <utility>

#include "brelt/timer_handle.h"
#include "brelt/uv_thread.h"

namespace libkestrun::internal {

// The value type a one-argument std::function takes.
template <class F>
struct CallbackArgument;
template <class R, class A>
struct CallbackArgument<std::function<R(A)>> {
  using type = std::decay_t<A>;
};

template <class Success, class Failure>
class TransactionManager {
 public:
  // One pending request.
  struct AccountTransaction {
    std::string accountID;  // empty for account creation and for user and device requests
    bool reauth = false;    // the account re-authorisation request
    Success success;
    Failure failure;
    brelt::TimerHandle timeout;  // destroying the record cancels the time-out
  };

  using Result = typename CallbackArgument<Success>::type;
  using FailureValue = typename CallbackArgument<Failure>::type;

  static constexpr std::chrono::milliseconds kDefaultTimeout = std::chrono::seconds(20);

  // `thread` (not owned) runs the time-outs, each `timeout` after its start.
  explicit TransactionManager(brelt::UvThread* thread, std::chrono::milliseconds timeout = kDefaultTimeout)
      : thread_(thread), timeout_(timeout) {}

  TransactionManager(const TransactionManager&) = delete;
  TransactionManager& operator=(const TransactionManager&) = delete;

  // Records the request and arms its time-out. A record already pending under `id` is replaced
  // and dropped without calling either of its callbacks; its time-out is cancelled.
  void startTransaction(std::string id, std::string accountID, bool reauth, Success success, Failure failure,
                        std::function<void()> onTimeout) {
    auto record = std::make_unique<AccountTransaction>();
    record->accountID = std::move(accountID);
    record->reauth = reauth;
    record->success = std::move(success);
    record->failure = std::move(failure);
    std::unique_ptr<AccountTransaction> replaced;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // Armed under the lock: on the core thread the timer starts inline, and a time-out cannot
      // look for the record before it is in the table.
      record->timeout = thread_->defer(timeout_, std::move(onTimeout));
      std::unique_ptr<AccountTransaction>& slot = table_[id];
      replaced = std::move(slot);
      slot = std::move(record);
    }
    // `replaced` dies here, outside the lock: its callbacks' captures may do anything.
  }

  void startTransaction(std::string id, std::string accountID, Success success, Failure failure,
                        std::function<void()> onTimeout) {
    startTransaction(std::move(id), std::move(accountID), false, std::move(success), std::move(failure),
                     std::move(onTimeout));
  }

  void startTransaction(std::string id, Success success, Failure failure, std::function<void()> onTimeout) {
    startTransaction(std::move(id), std::string(), false, std::move(success), std::move(failure),
                     std::move(onTimeout));
  }

  // Ends the request through its success callback; false (and no call) when none is pending.
  bool transactionSucceeded(std::string id, Result result) {
    std::unique_ptr<AccountTransaction> record = _popTransaction(std::move(id));
    if (!record) return false;
    if (record->success) record->success(result);
    return true;
  }

  // Ends the request through its failure callback; false (and no call) when none is pending.
  bool transactionFailed(std::string id, FailureValue failure) {
    std::unique_ptr<AccountTransaction> record = _popTransaction(std::move(id));
    if (!record) return false;
    if (record->failure) record->failure(failure);
    return true;
  }

  // The pending record's account id; empty when none is pending.
  std::string idForTransaction(std::string id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = table_.find(id);
    return it == table_.end() ? std::string() : it->second->accountID;
  }

  // True only while a re-authorisation request is pending under `id`.
  bool transactionIsReauth(std::string id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = table_.find(id);
    return it != table_.end() && it->second->reauth;
  }

  // Takes the record out of the table; null when none is pending.
  std::unique_ptr<AccountTransaction> _popTransaction(std::string id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = table_.find(id);
    if (it == table_.end()) return nullptr;
    std::unique_ptr<AccountTransaction> record = std::move(it->second);
    table_.erase(it);
    return record;
  }

 private:
  brelt::UvThread* const thread_;
  const std::chrono::milliseconds timeout_;
  std::mutex mutex_;
  std::unordered_map<std::string, std::unique_ptr<AccountTransaction>> table_;
};

}  // namespace libkestrun::internal
