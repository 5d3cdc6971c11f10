// The account manager as the user manager and the account status manager call it: an account's
// address and type for a new association, marking an account's spam folder, associating an
// account that the user auto-authorises, and importing the account documents of a user state
// document. The full account manager implements this beside the shared interface of
// account_manager.h (emailAccountWithID is the same operation in both).
//
// Threads: the core thread.
#pragma once

#include <jansson.h>

#include <functional>
#include <memory>
#include <string>

#include "core/accounts/account_action_error.h"
#include "core/model/ks_email_account.h"

namespace libkestrun {

class AccountManagerCalls {
 public:
  virtual ~AccountManagerCalls() = default;

  // A copy of the account with that id, or empty.
  virtual std::shared_ptr<KSEmailAccount> emailAccountWithID(const std::string& accountID) = 0;
  // The account's address, or "" when there is no such account.
  virtual std::string emailAddressForAccountID(const std::string& accountID) = 0;
  // Sets whether the provider's spam folder is reachable; an unknown account changes nothing.
  virtual void setHasSpam(const std::string& accountID, bool hasSpam) = 0;
  // Associates the account with this device through the server; exactly one callback is called.
  virtual void associateEmailAccount(const std::string& accountID, std::function<void(std::string)> success,
                                     std::function<void(AccountActionErrorType)> failure) = 0;
  // Applies one account document (borrowed: the caller keeps its reference) and answers the
  // account's id, or "" when the document was refused.
  virtual std::string updateFromStateDoc(json_t* document) = 0;
};

}  // namespace libkestrun
