#include "core/services/changes_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {

const std::string kKeyPrefix = "kestrun.changes.manager.";

uint64_t tokenOf(const std::map<std::string, uint64_t>& tokens, const std::string& accountID) {
  auto token = tokens.find(accountID);
  return token == tokens.end() ? 0 : token->second;
}

}  // namespace

ChangesManager::ChangesManager(std::shared_ptr<KvStore> store)
    : itemTokens_(kKeyPrefix + "items.tokens", store, {}),
      emailTokens_(kKeyPrefix + "emails.tokens", store, {}),
      listTokens_(kKeyPrefix + "lists.tokens", store, {}) {}

void ChangesManager::setTokens(const std::string& accountID, std::optional<uint64_t> itemToken,
                               std::optional<uint64_t> emailToken, std::optional<uint64_t> listToken) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (itemToken) itemTokens_.set(accountID, *itemToken);
  if (emailToken) emailTokens_.set(accountID, *emailToken);
  if (listToken) listTokens_.set(accountID, *listToken);
}

Tokens ChangesManager::getTokens(const std::string& accountID) {
  std::lock_guard<std::mutex> lock(mutex_);
  return {tokenOf(itemTokens_.get(), accountID), tokenOf(emailTokens_.get(), accountID),
          tokenOf(listTokens_.get(), accountID)};
}

void ChangesManager::removeTokensForAccount(const std::string& accountID) {
  std::lock_guard<std::mutex> lock(mutex_);
  itemTokens_.erase(accountID);
  emailTokens_.erase(accountID);
  listTokens_.erase(accountID);
}

void ChangesManager::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  itemTokens_.clear();
  emailTokens_.clear();
  listTokens_.clear();
}

namespace {
ProcessInstance<ChangesManager> instance;
}  // namespace

void changes_manager_set_instance(std::shared_ptr<ChangesManager> manager) {
  instance.set(std::move(manager));
}

void changes_manager_clear() { instance.call(&ChangesManager::clear); }

void changes_manager_set_tokens(const std::string& accountID, std::optional<uint64_t> itemToken,
                                std::optional<uint64_t> emailToken, std::optional<uint64_t> listToken) {
  instance.call(&ChangesManager::setTokens, accountID, itemToken, emailToken, listToken);
}

Tokens changes_manager_get_tokens(const std::string& accountID) {
  return instance.call(&ChangesManager::getTokens, accountID);
}

}  // namespace libkestrun
