#include "locale_tables.h"

#include <fstream>
#include <sstream>

#include "core/locales/texts.h"

namespace kestrun_test {

using namespace libkestrun::text;

const std::vector<LocaleInfo>& all_locales() {
  static const std::vector<std::string> two = {"one", "other"}, one = {"other"},
                                        four = {"one", "few", "many", "other"};
  static const std::vector<LocaleInfo> locales = {
      {"da_DK", two}, {"de", two},    {"en", two},    {"es", two},    {"es_ES", two},
      {"fr", two},    {"id", one},    {"it", two},    {"ja", one},    {"ko", one},
      {"ms", one},    {"nl_NL", two}, {"pl", four},   {"pt_BR", two}, {"ru", four},
      {"sv_SE", two}, {"th_TH", one}, {"zh_CN", one}, {"zh_TW", one},
  };
  return locales;
}

libkestrun::locales::LocaleFile read_locale_file(const std::string& id) {
  std::ifstream in(std::string(KESTRUN_LOCALE_DATA_DIR) + "/" + id + ".strings", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return libkestrun::locales::parse_locale_file(text.str());
}

const std::vector<std::string>& common_texts() {
  static const std::vector<std::string> texts = {
      kFromLabel,
      kToLabel,
      kCcLabel,
      kBccLabel,
      kLoading,
      kNoSubject,
      kNoContent,
      kReplyHeader,
      kDeferredToDesktop,
      kDeferredToMobile,
      kNoReminderScheduled,
      kUnknown,
      kDeferredUntil,
      kDeferredUntilTomorrow,
      kDesktop,
      kMobile,
      kLaterToday,
      kTomorrow,
      kLaterThisWeek,
      kThisWeekend,
      kNextWeek,
      kInTwoWeeks,
      kInThreeWeeks,
      kInOneMonth,
      kInTwoMonths,
      kInThreeMonths,
      kInFourMonths,
      kInFiveMonths,
      kInSixMonths,
      kInSevenMonths,
      kInEightMonths,
      kInNineMonths,
      kInTenMonths,
      kInElevenMonths,
      kInAYear,
      kInTwoOrMoreYears,
      kNever,
      kThisEvening,
      kTomorrowEve,
      kNextWeekend,
      kInAMonth,
      kSomeday,
      kNone,
      kNameAndAddress,
      kArchive,
      kTrash,
      kSnoozeConversationTo,
      kSnoozeFromTo,
      kSnoozeRecipientTo,
      kSwipeConversationTo,
      kSwipeFromTo,
      kSwipeRecipientTo,
      kSwipeTo,
      kAutomaticallySwiped,
      kAutoSwipedByAnotherUser,
      kAutomaticallyArchived,
      kAutomaticallyTrashed,
      kAutomaticallySentToSpam,
      kAutoSnoozedTo,
      kAutoSwipedInto,
      kAlwaysSwipeToArchive,
      kAlwaysSwipeToTrash,
      kAlwaysMarkAsSpam,
      kAlwaysSnoozeTo,
      kAlwaysSwipeInto,
      kFailedToAuthorize,
      kConnectionError,
      kImapFoldersDisabled,
      kMaximumAccountsReached,
      kAuthorizationError,
      kAccountError,
      kProviderTemporarilyDisabled,
      kProviderTemporarilyUnavailable,
      kProviderDisabledNotice,
      kProviderUnavailableNotice,
      kTroubleAuthenticating,
      kProviderCannotGrantAccess,
      kRejectedByProvider,
      kRejected,
      kAlreadyAdded,
      kNeedsImapFolders,
      kAccountLimit,
      kMustBeAuthorizedToDelete,
      kTroubleDeleting,
      kTroubleEditing,
      kAccountNotOnDevice,
      kSpamUnableToSync,
      kSpamFolderMissing,
      kEmailProviderError,
      kEmailProviderDeniedAccess,
      kKestrunUnableToSync,
      kConnectionTroubleFor,
      kConnectionTrouble,
      kFoldersMissingFor,
      kFoldersMissing,
      kProviderErrorFor,
      kProviderError,
      kUnknownError,
      kProviderDownFor,
      kProviderDown,
      kConnectionLimitFor,
      kConnectionLimit,
      kStorageLimitFor,
      kStorageLimit,
      kSendQuotaFor,
      kSendQuota,
      kAccessQuotaFor,
      kAccessQuota,
      kLater,
      kInbox,
      kLists,
      kSpam,
      kGmail,
      kICloud,
      kOffice365,
      kOutlook,
      kExchange,
      kYahoo,
      kBeginForwardedMessage,
  };
  return texts;
}

}  // namespace kestrun_test
