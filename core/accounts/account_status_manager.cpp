#include "core/accounts/account_status_manager.h"

#include "core/foundation/json_conversion.h"
#include "core/foundation/process_instance.h"
#include "core/locales/texts.h"
#include "harnvik/strings.h"
#include "localization/localization.h"

namespace libkestrun {

const char* const kAccountStatusAlertReceived = "com.kestrun.ksaccount.status.alert.received";

namespace {

ProcessInstance<AccountStatusManager> instance;

const char kGenericAlert[] = "GENERIC_ALERT";
const char kRequiredFolder[] = "REQUIRED_FOLDER";

// A localized text and its translator comment.
struct Text {
  const char* text;
  const char* comment;
};

// The two forms of one alert message: for the account's address (one %s, "ALERT" two) and for
// when the address is not known ("ALERT" one %s: the provider's text).
struct AlertMessage {
  const char* codes[2];
  Text withAddress;
  Text withoutAddress;
};

const AlertMessage kGenericMessage = {
    {},
    {text::kConnectionTroubleFor,
     "Generic error message that there is a problem with the app's connection to the user's accounts. The "
     "user's email address is inserted at the %s"},
    {text::kConnectionTrouble,
     "Generic error message that there is a problem with the app's connection to the user's accounts"},
};

const AlertMessage kMessages[] = {
    {{"ALERT"},
     {text::kProviderErrorFor,
      "Error message describing the error message returned by the user's email provider. The user's email "
      "address is inserted at the first %s"},
     {text::kProviderError,
      "Error message describing the error message returned by the user's email provider"}},
    {{"TOO_MANY_CONN"},
     {text::kConnectionLimitFor,
      "Error message indicating that the user has too many active IMAP connections. The users email address "
      "is inserted at the %s"},
     {text::kConnectionLimit, "Error message indicating that the user has too many active IMAP connections"}},
    {{"GMAIL_DOWN", "PROVIDER_DOWN"},
     {text::kProviderDownFor,
      "Error message indicating that the servers are having trouble connecting to the email provider for one "
      "of the user's accounts. The user's email address is inserted at the %s"},
     {text::kProviderDown,
      "Error message indicating that the servers are having trouble connecting to the email provider for one "
      "of the user's accounts"}},
    {{"STORAGE_QUOTA"},
     {text::kStorageLimitFor,
      "Error message indicating that the user has gone over the storage quota for an account. The user's "
      "email address is inserted at the %s"},
     {text::kStorageLimit,
      "Error message indicating that the user has gone over the storage quota for an account"}},
    {{"SEND_QUOTA"},
     {text::kSendQuotaFor,
      "Error message indicating that the user has gone over the quota of sent emails for all devices. The "
      "user's email address is inserted at the %s"},
     {text::kSendQuota,
      "Error message indicating that the user has gone over the quota of sent emails for all devices"}},
    {{"BANDWIDTH_QUOTA"},
     {text::kAccessQuotaFor,
      "Error message indicating that the user has gone over the bandwidth quota for all devices. The user's "
      "email address is inserted at the %s"},
     {text::kAccessQuota,
      "Error message indicating that the user has gone over the bandwidth quota for all devices"}},
    {{kRequiredFolder},
     {text::kFoldersMissingFor,
      "Error message indicating that the user's folders are not accessible via IMAP. The user's email "
      "address "
      "is inserted at the %s"},
     {text::kFoldersMissing, "Error message indicating that the user's folders are not accessible via IMAP"}},
};

const Text kProviderErrorTitle = {text::kEmailProviderError,
                                  "SHORT, title indicating an email provider error"};

struct AlertTitle {
  const char* codes[3];
  Text title;
};

const AlertTitle kTitles[] = {
    {{"ALERT", "GMAIL_DOWN", "PROVIDER_DOWN"}, kProviderErrorTitle},
    {{"TOO_MANY_CONN"}, {text::kConnectionError, "SHORT, title indicating a connection error"}},
    {{"STORAGE_QUOTA", "SEND_QUOTA", "BANDWIDTH_QUOTA"},
     {text::kEmailProviderDeniedAccess,
      "SHORT, title indicating that the email provider denied access to the app"}},
    {{kRequiredFolder},
     {text::kKestrunUnableToSync,
      "SHORT, title indicating that the app was unable to sync with the user's email accounts"}},
};

template <size_t N>
bool listed(const char* const (&codes)[N], const std::string& code) {
  for (const char* listed : codes) {
    if (listed && code == listed) return true;
  }
  return false;
}

std::string localized(const Text& text) { return LOCALIZED_STRING(text.text, text.comment); }

}  // namespace

AccountStatusManager::AccountStatusManager(std::shared_ptr<NotificationCenter> center,
                                           AccountManager* accounts, CountsManager* counts,
                                           SyncStatusManager* syncStatus)
    : center_(std::move(center)), accounts_(accounts), counts_(counts), syncStatus_(syncStatus) {}

void AccountStatusManager::processAccountStatus(json_t* document) {
  if (!json_is_object(document)) return;
  json_t* id = json_object_get(document, "acct_id");
  if (!json_is_string(id)) return;
  const std::string accountID = json_string_value(id);

  json_t* counts = json_object_get(document, "counts");
  if (json_is_object(counts)) counts_->updateCounts(patch::json_from_jansson(counts), accountID);

  json_t* health = json_object_get(document, "health");
  size_t index;
  json_t* entry;
  json_array_foreach(health, index, entry) {
    if (json_is_object(entry)) _processHealthAlert(patch::json_from_jansson(entry), accountID);
  }

  json_t* missingSpam = json_object_get(document, "missingSpam");
  if (json_is_boolean(missingSpam)) accounts_->setHasSpam(accountID, !json_is_true(missingSpam));

  json_t* archiveAll = json_object_get(document, "archiveAll");
  if (json_is_string(archiveAll) && std::string(json_string_value(archiveAll)) == "ongoing") {
    syncStatus_->archiveAllStarted(accountID);
  } else {
    syncStatus_->archiveAllFinished(accountID);
  }
}

void AccountStatusManager::_processHealthAlert(const jsonette::Json& entry, const std::string& accountID) {
  const std::string& code = entry["code"].string_value();
  jsonette::Json::object payload{
      {"account_id", accountID},
      {"message", _alertMessageForCode(code, entry["message"].string_value(), accountID)},
      {"reauth_required", code == kRequiredFolder},
      {"title", _alertTitleForCode(code)},
  };
  center_->post_notification(kAccountStatusAlertReceived, jsonette::Json(std::move(payload)));
}

std::string AccountStatusManager::_alertTitleForCode(const std::string& code) {
  if (code == kGenericAlert) return "";
  for (const AlertTitle& title : kTitles) {
    if (listed(title.codes, code)) return localized(title.title);
  }
  return localized(kProviderErrorTitle);
}

std::string AccountStatusManager::_alertMessageForCode(const std::string& code,
                                                       const std::string& providerText,
                                                       const std::string& accountID) {
  using harnvik::verdane::lang::str_printf;
  const std::string detail =
      providerText.empty()
          ? LOCALIZED_STRING(text::kUnknownError, "Short message indicating that the error is unknown")
          : providerText;
  if (code == kGenericAlert) return detail;

  const AlertMessage* message = &kGenericMessage;
  for (const AlertMessage& candidate : kMessages) {
    if (listed(candidate.codes, code)) message = &candidate;
  }
  const bool isAlert = code == "ALERT";
  const std::string address = accounts_->emailAddressForAccountID(accountID);
  if (!address.empty()) {
    const std::string format = localized(message->withAddress);
    return isAlert ? str_printf(format.c_str(), address, detail) : str_printf(format.c_str(), address);
  }
  const std::string format = localized(message->withoutAddress);
  // The forms without an address have no conversion, except "ALERT"'s provider text; any "%" in a
  // translation of them stays as written.
  return isAlert ? str_printf(format.c_str(), detail) : format;
}

std::string AccountStatusManager::getAlertTitleForMissingSpam() {
  return LOCALIZED_STRING(text::kSpamUnableToSync,
                          "Error title indicating that we can't access the user's spam folder");
}

std::string AccountStatusManager::getAlertMessageForMissingSpam() {
  return LOCALIZED_STRING(text::kSpamFolderMissing,
                          "Error message indicating that we can't access the user's spam folder");
}

void account_status_manager_set_instance(std::shared_ptr<AccountStatusManager> manager) {
  instance.set(std::move(manager));
}

void account_status_manager_process_account_status(json_t* document) {
  instance.call(&AccountStatusManager::processAccountStatus, document);
}

}  // namespace libkestrun
