#include "core/sync/account_reset_manager.h"

namespace libkestrun::internal {

namespace {
const char kMappingKey[] = "kestrun.account.reset.manager.mapping.key";
}  // namespace

AccountResetManager::AccountResetManager(const std::shared_ptr<KvStore>& store)
    : mapping_(kMappingKey, store, {}) {}

bool AccountResetManager::needsReset(const std::string& account_id, const std::string& token) {
  if (token.empty()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  const auto& mapping = mapping_.get();
  auto it = mapping.find(account_id);
  return it == mapping.end() || it->second != token;
}

void AccountResetManager::recordResetToken(const std::string& account_id, const std::string& token) {
  if (account_id.empty() || token.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  mapping_.set(account_id, token);
}

void AccountResetManager::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  mapping_.clear();
}

}  // namespace libkestrun::internal
