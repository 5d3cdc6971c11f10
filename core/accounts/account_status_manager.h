// Applies the server's per-account status documents (ACCOUNT_STATUS notifications): the counts go
// to the counts manager, "missingSpam" to the account's record, "archiveAll" to the sync status
// manager, and every health entry becomes an alert, posted as kAccountStatusAlertReceived with a
// localized title and message. Also supplies the texts of the missing-spam-folder alert.
//
// The provider's own error text is only ever an argument of a format, never the format: a "%" in
// it is shown as sent.
//
// Threads: processAccountStatus on the core thread; the two missing-spam texts anywhere. No state
// of its own beyond the four references set at construction, which must outlive it.
#pragma once

#include <jansson.h>

#include <memory>
#include <string>

#include "core/accounts/account_manager.h"
#include "core/foundation/notification_center.h"
#include "core/services/counts_manager.h"
#include "core/services/sync_status_manager.h"

namespace libkestrun {

// Payload {"account_id", "message", "reauth_required", "title"}.
extern const char* const kAccountStatusAlertReceived;  // "com.kestrun.ksaccount.status.alert.received"

class AccountStatusManager {
 public:
  AccountStatusManager(std::shared_ptr<NotificationCenter> center, AccountManager* accounts,
                       CountsManager* counts, SyncStatusManager* syncStatus);
  AccountStatusManager(const AccountStatusManager&) = delete;
  AccountStatusManager& operator=(const AccountStatusManager&) = delete;

  // A document that is not an object or lacks a string "acct_id" is dropped; members of another
  // type than expected are skipped one by one. Every document that names an account ends with
  // archiveAllStarted ("archiveAll" is "ongoing") or archiveAllFinished (anything else).
  void processAccountStatus(json_t* document);

  // One health entry {"code", "message"} of the account: builds and posts its alert.
  void _processHealthAlert(const jsonette::Json& entry, const std::string& accountID);
  std::string _alertTitleForCode(const std::string& code);
  // The message for the account's address, or the form without an address when the account is
  // not known; `providerText` ("" for none: "Unknown error") fills the "ALERT" texts and is
  // "GENERIC_ALERT"'s message unchanged.
  std::string _alertMessageForCode(const std::string& code, const std::string& providerText,
                                   const std::string& accountID);

  static std::string getAlertTitleForMissingSpam();
  static std::string getAlertMessageForMissingSpam();

 private:
  std::shared_ptr<NotificationCenter> center_;
  AccountManager* accounts_;
  CountsManager* counts_;
  SyncStatusManager* syncStatus_;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarder
// does nothing.
void account_status_manager_set_instance(std::shared_ptr<AccountStatusManager> manager);
// The document is borrowed: the caller keeps its reference.
void account_status_manager_process_account_status(json_t* document);

}  // namespace libkestrun
