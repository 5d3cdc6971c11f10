// The keeper of the user's mail accounts, as the rest of the core sees it. Every operation takes
// the manager's own mutex; the manager never calls back into the preference manager, which may
// hold its own lock while calling here. The full manager implements this interface; the data model
// and the data writer reach it through the process-wide instance and the forwarders below.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
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

  // The id of every primary account of this device, aliases excluded.
  virtual std::shared_ptr<std::vector<std::string>> allPrimaryAccountIDs() = 0;
  // The id of the first primary account whose address equals `address` byte for byte, or empty.
  virtual std::optional<std::string> getPrimaryAccountIDForEmailAddress(const std::string& address) = 0;
  // A new {"address", "name"} object of the account (the sender of an outgoing e-mail), owned by
  // the caller.
  virtual json_t* accountJson(const std::string& accountID) = 0;
  // The primary account's address and the addresses of its aliases; empty for an id that names no
  // primary account.
  virtual std::shared_ptr<std::unordered_set<std::string>> addressesForPrimaryAccount(
      const std::string& primaryID) = 0;
  // The number of aliases of the primary account, or UINT32_MAX when the id names none.
  virtual uint32_t getNumberOfSecondaryAccountsForPrimaryAccount(const std::string& primaryID) = 0;
  // True when the address belongs to one of the user's accounts or aliases.
  virtual bool hasEmailAddress(const std::string& address) = 0;
  virtual bool isAccountAuthenticated(const std::string& accountID) = 0;
  // True when one of the primary account's aliases has exactly this address (the primary account's
  // own address is not compared).
  virtual bool isAddressOfPrimaryAccount(const std::string& address, const std::string& primaryID) = 0;
  // The parent of an alias; any other id unchanged.
  virtual std::string primaryAccountIDForAccountID(const std::string& accountID) = 0;
  // The alias of the primary account with that address, or empty.
  virtual std::shared_ptr<KSEmailAccount> secondaryAccountWithAddress(const std::string& address,
                                                                      const std::string& primaryID) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h). Without one every forwarder
// answers its neutral value: false, 0, an empty pointer or optional, an empty string, null; the
// account ids and the addresses, which callers walk, are empty containers rather than null.
void account_manager_set_instance(std::shared_ptr<AccountManager> manager);

std::shared_ptr<std::vector<std::string>> account_manager_all_primary_account_ids();
std::optional<std::string> account_manager_get_primary_account_id_for_email_address(
    const std::string& address);
json_t* account_manager_account_json(const std::string& accountID);
std::shared_ptr<std::unordered_set<std::string>> account_manager_addresses_for_primary_account(
    const std::string& primaryID);
std::shared_ptr<KSEmailAccount> account_manager_email_account_with_id(const std::string& accountID);
uint32_t account_manager_get_number_of_secondary_accounts_for_primary_account(const std::string& primaryID);
bool account_manager_has_email_address(const std::string& address);
bool account_manager_is_account_authenticated(const std::string& accountID);
bool account_manager_is_address_of_primary_account(const std::string& address, const std::string& primaryID);
std::string account_manager_primary_account_id_for_account_id(const std::string& accountID);
std::shared_ptr<KSEmailAccount> account_manager_secondary_account_with_address(const std::string& address,
                                                                               const std::string& primaryID);

}  // namespace libkestrun
