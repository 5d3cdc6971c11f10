// The reset token ("client_reset") that this device last accepted for each mail account. The
// server announces a token with every account authorisation; a token that differs from the one
// recorded here means the account's local data must be reset before it is used again.
//
// The mapping is stored as one JSON object (account id to token) under
// "kestrun.account.reset.manager.mapping.key" of the core key-value store and rewritten whole on
// every change. Any thread: a mutex guards the mapping, since a reset's completion may record its
// token later than the notification that started it.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "core/foundation/durable.h"
#include "core/foundation/kv_store.h"

namespace libkestrun::internal {

class AccountResetManager {
 public:
  explicit AccountResetManager(const std::shared_ptr<KvStore>& store);
  AccountResetManager(const AccountResetManager&) = delete;
  AccountResetManager& operator=(const AccountResetManager&) = delete;

  // False for an empty token; true when no token is recorded for the account or the recorded one
  // differs byte for byte.
  bool needsReset(const std::string& account_id, const std::string& token);
  // Records the token; does nothing when either argument is empty.
  void recordResetToken(const std::string& account_id, const std::string& token);
  // Forgets every token, so the next token of each account resets it.
  void clear();

 private:
  std::mutex mutex_;
  Durable<std::map<std::string, std::string>> mapping_;  // guarded by mutex_
};

}  // namespace libkestrun::internal
