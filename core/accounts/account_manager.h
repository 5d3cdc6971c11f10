// The keeper of the user's mail accounts, as the rest of the core sees it. Every operation takes
// the manager's own mutex; the manager never calls back into the preference manager, which may
// hold its own lock while calling here.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/model/ks_email_account.h"

namespace libkestrun {

class AccountManager {
 public:
  virtual ~AccountManager() = default;

  // The id of every known account, main and secondary alike.
  virtual std::shared_ptr<std::vector<std::string>> allAccountIDs() = 0;
  // A copy of the account with that id, or empty.
  virtual std::shared_ptr<KSEmailAccount> emailAccountWithID(const std::string& accountID) = 0;
  // The current default account, or empty.
  virtual std::shared_ptr<KSEmailAccount> getDefaultAccount() = 0;
  // Makes the account with that id the default and saves, when there is one; then, in every case,
  // posts "com.kestrun.new.default.account.chosen" with a null payload.
  virtual void setDefaultAccount(const std::string& accountID) = 0;
  // Sets the signature of the account and of its secondary accounts with the same address, and
  // saves; an unknown id changes and saves nothing.
  virtual void setEmailSignature(const std::string& accountID, const std::string& signature) = 0;
  // Account id to signature ("" where an account has none), for every account.
  virtual std::map<std::string, std::string> allEmailSignatures() = 0;
  // Applies each entry as setEmailSignature does, skipping unknown ids, then saves once.
  virtual void setEmailSignatures(const std::map<std::string, std::string>& signatures) = 0;
};

}  // namespace libkestrun
