#include "core/services/changes_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

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

}  // namespace libkestrun
