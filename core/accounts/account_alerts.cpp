// The titles and messages of the alerts that the application shows when an account operation
// fails. Each getter touches no member; a value without a row of its own reads as any other
// failure.
#include "core/accounts/account_manager_impl.h"
#include "core/locales/texts.h"
#include "localization/localization.h"

namespace libkestrun {

using Error = AccountActionErrorType;

namespace {

std::string connectionErrorTitle() {
  return LOCALIZED_STRING(text::kConnectionError,
                          "SHORT, title indicating a generic error regarding the connection");
}

std::string accountErrorTitle() {
  return LOCALIZED_STRING(
      text::kAccountError,
      "SHORT, title indicating that an error occurred trying to access the user's email account");
}

std::string accountNotOnDeviceMessage() {
  return LOCALIZED_STRING(text::kAccountNotOnDevice,
                          "Message indicating that the email account does not exist on the user's device");
}

// The provider titles and messages for 10 and 11, shared by every kind of operation; empty for
// any other value.
std::string providerTitle(Error error) {
  if (error == Error::ProviderDisabled) {
    return LOCALIZED_STRING(text::kProviderTemporarilyDisabled,
                            "SHORT, title indicating that the email provider is temporarily disabled");
  }
  if (error == Error::ProviderUnavailable) {
    return LOCALIZED_STRING(text::kProviderTemporarilyUnavailable,
                            "SHORT, title indicating that the email provider is temporarily unavailable");
  }
  return "";
}

std::string providerMessage(Error error) {
  if (error == Error::ProviderDisabled) {
    return LOCALIZED_STRING(text::kProviderDisabledNotice,
                            "Message indicating that the email provider is temporarily disabled");
  }
  if (error == Error::ProviderUnavailable) {
    return LOCALIZED_STRING(text::kProviderUnavailableNotice,
                            "Message indicating that the email provider is temporarily unavailable");
  }
  return "";
}

bool isProviderError(Error error) {
  return error == Error::ProviderDisabled || error == Error::ProviderUnavailable;
}

}  // namespace

std::string AccountManagerImpl::getAlertTitleForAccountAddError(Error error) {
  if (isProviderError(error)) return providerTitle(error);
  switch (error) {
    case Error::NoConnection:
      return connectionErrorTitle();
    case Error::ImapFoldersDisabled:
      return LOCALIZED_STRING(
          text::kImapFoldersDisabled,
          "SHORT, title indicating that the user's email account has disabled IMAP folders");
    case Error::AccountLimitReached:
      return LOCALIZED_STRING(
          text::kMaximumAccountsReached,
          "SHORT, title indicating that the user has already registered the maximum number of accounts");
    default:
      return LOCALIZED_STRING(text::kFailedToAuthorize,
                              "SHORT, title indicating that the app failed to authorize the user's account");
  }
}

std::string AccountManagerImpl::getAlertMessageForAccountAddError(Error error) {
  if (isProviderError(error)) return providerMessage(error);
  switch (error) {
    case Error::NoConnection:
    case Error::TimedOut:
      return LOCALIZED_STRING(
          text::kTroubleAuthenticating,
          "Message indicating that the app cannot establish a connection to authenticate the "
          "user");
    case Error::RejectedByProvider:
      return LOCALIZED_STRING(text::kRejectedByProvider,
                              "Message indicating that the user's provided credentials are invalid");
    case Error::Rejected:
      return LOCALIZED_STRING(text::kRejected,
                              "Message indicating that the user's provided credentials were rejected");
    case Error::AlreadyAdded:
      return LOCALIZED_STRING(
          text::kAlreadyAdded,
          "Message indicating that the user is trying to add an account that they have already "
          "linked to the app");
    case Error::NoSuchAccount:
      return LOCALIZED_STRING(text::kRejectedByProvider,
                              "Message indicating that the email account specified by the user is invalid");
    case Error::ImapFoldersDisabled:
      return LOCALIZED_STRING(
          text::kNeedsImapFolders,
          "Message indicating that the app was unable to communicate with required folders");
    case Error::AccountLimitReached:
      return LOCALIZED_STRING(
          text::kAccountLimit,
          "Message indicating that the user has already added the maximum allotted number of "
          "accounts");
    default:
      return LOCALIZED_STRING(
          text::kProviderCannotGrantAccess,
          "Message indicating that the app cannot link the account due to an unspecified error");
  }
}

std::string AccountManagerImpl::getAlertTitleForAccountDeleteError(Error error) {
  if (isProviderError(error)) return providerTitle(error);
  switch (error) {
    case Error::RejectedByProvider:
      return LOCALIZED_STRING(text::kAuthorizationError,
                              "SHORT, title indicating that the user authentication process has failed");
    case Error::NoSuchAccount:
      return accountErrorTitle();
    default:
      return connectionErrorTitle();
  }
}

std::string AccountManagerImpl::getAlertMessageForAccountDeleteError(Error error) {
  if (isProviderError(error)) return providerMessage(error);
  switch (error) {
    case Error::RejectedByProvider:
      return LOCALIZED_STRING(
          text::kMustBeAuthorizedToDelete,
          "Message that the user's device must be authorized in order to delete an account "
          "from all devices");
    case Error::NoSuchAccount:
      return accountNotOnDeviceMessage();
    default:
      return LOCALIZED_STRING(text::kTroubleDeleting,
                              "Message indicating a generic problem with deleting the user's account");
  }
}

std::string AccountManagerImpl::getAlertTitleForAccountEditError(Error error) {
  if (isProviderError(error)) return providerTitle(error);
  return error == Error::NoSuchAccount ? accountErrorTitle() : connectionErrorTitle();
}

std::string AccountManagerImpl::getAlertMessageForAccountEditError(Error error) {
  if (isProviderError(error)) return providerMessage(error);
  if (error == Error::NoSuchAccount) return accountNotOnDeviceMessage();
  return LOCALIZED_STRING(text::kTroubleEditing,
                          "Generic error message indicating app failure to edit the user's account");
}

}  // namespace libkestrun
