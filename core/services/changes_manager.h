// The change tokens of each account (how far the server's item, e-mail and list changes have been
// received), as the data model sees them. The full manager keeps them under its own mutex as
// durable values; it implements this interface.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace libkestrun {

class ChangesManager {
 public:
  virtual ~ChangesManager() = default;

  // Forgets every account's tokens of all three families.
  virtual void clear() = 0;
  // Stores each present token as the account's token of that family; absent ones keep theirs.
  virtual void setTokens(const std::string& accountID, std::optional<uint64_t> itemToken,
                         std::optional<uint64_t> emailToken, std::optional<uint64_t> listToken) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing.
void changes_manager_set_instance(std::shared_ptr<ChangesManager> manager);

void changes_manager_clear();
void changes_manager_set_tokens(const std::string& accountID, std::optional<uint64_t> itemToken,
                                std::optional<uint64_t> emailToken, std::optional<uint64_t> listToken);

}  // namespace libkestrun
