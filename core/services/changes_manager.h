// The change tokens of each account: how far the server's item, e-mail and list changes have been
// received. The data center stores the tokens of every applied account snapshot; the next
// snapshot request sends them back so that the server sends only what changed since. Tokens are
// unsigned 64-bit integers, kept and stored as JSON integers so that no bit is lost on the way
// (a token above the signed 64-bit range, which no server hands out, would be stored as the
// nearest JSON number).
//
// Threads: the core thread and set-up. mutex_ guards the three token maps.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "core/foundation/durable.h"

namespace libkestrun {

// The three tokens of an account; 0 for one never stored.
struct Tokens {
  uint64_t items = 0;
  uint64_t emails = 0;
  uint64_t lists = 0;

  bool operator==(const Tokens& other) const = default;
};

class ChangesManager {
 public:
  explicit ChangesManager(std::shared_ptr<KvStore> store);
  ChangesManager(const ChangesManager&) = delete;
  ChangesManager& operator=(const ChangesManager&) = delete;
  virtual ~ChangesManager() = default;

  // Stores each present token as the account's token of that family; absent ones keep theirs.
  virtual void setTokens(const std::string& accountID, std::optional<uint64_t> itemToken,
                         std::optional<uint64_t> emailToken, std::optional<uint64_t> listToken);
  virtual Tokens getTokens(const std::string& accountID);
  virtual void removeTokensForAccount(const std::string& accountID);
  // Forgets every account's tokens of all three families (each key then holds {}).
  virtual void clear();

 private:
  using TokenMap = std::map<std::string, uint64_t>;

  std::mutex mutex_;
  Durable<TokenMap> itemTokens_;   // guarded by mutex_
  Durable<TokenMap> emailTokens_;  // guarded by mutex_
  Durable<TokenMap> listTokens_;   // guarded by mutex_
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing.
void changes_manager_set_instance(std::shared_ptr<ChangesManager> manager);

void changes_manager_clear();
void changes_manager_set_tokens(const std::string& accountID, std::optional<uint64_t> itemToken,
                                std::optional<uint64_t> emailToken, std::optional<uint64_t> listToken);
Tokens changes_manager_get_tokens(const std::string& accountID);

}  // namespace libkestrun
