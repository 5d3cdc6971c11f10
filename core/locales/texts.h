// The English source texts of every user-visible text that the core looks up. Each is passed to
// LOCALIZED_STRING (the two plural pairs to PLURALIZED_STRING) and is, byte for byte, the key of
// its translations in the locale tables (data/<locale>.strings): a literal that differs by one
// character finds no translation. Conversions are in the order the callers pass the arguments.
#pragma once

namespace libkestrun::text {

// Header-row labels of the printable conversation.
inline constexpr char kFromLabel[] = "From:";
inline constexpr char kToLabel[] = "To:";
inline constexpr char kCcLabel[] = "Cc:";
inline constexpr char kBccLabel[] = "Bcc:";

// Conversation rows and e-mails.
inline constexpr char kLoading[] = "Loading...";
inline constexpr char kNoSubject[] = "(No Subject)";
inline constexpr char kNoContent[] = "This message has no content.";
inline constexpr char kUnsentMessage[] = "%d unsent message";    // singular; the count
inline constexpr char kUnsentMessages[] = "%d unsent messages";  // plural; the count
// A participant who is the user; no table translates these.
inline constexpr char kMe[] = "Me";
inline constexpr char kNoteToSelf[] = "Note to self";
// The reply's line above the quoted text: date, time, sender's name and address.
inline constexpr char kReplyHeader[] = "On %s at %s, %s, wrote:";

// Subtext of a deferred item; the argument is the reminder time.
inline constexpr char kDeferredToDesktop[] = "Deferred to Desktop";
inline constexpr char kDeferredToMobile[] = "Deferred to Mobile";
inline constexpr char kNoReminderScheduled[] = "No reminder scheduled";
inline constexpr char kUnknown[] = "Unknown";
inline constexpr char kDeferredUntil[] = "Deferred until %s";
inline constexpr char kDeferredUntilTomorrow[] = "Deferred until %s tomorrow";

// Section titles of deferred items and names of snooze choices.
inline constexpr char kDesktop[] = "Desktop";
inline constexpr char kMobile[] = "Mobile";
inline constexpr char kLaterToday[] = "Later Today";
inline constexpr char kTomorrow[] = "Tomorrow";
inline constexpr char kLaterThisWeek[] = "Later This Week";
inline constexpr char kThisWeekend[] = "This Weekend";
inline constexpr char kNextWeek[] = "Next Week";
inline constexpr char kInTwoWeeks[] = "In Two Weeks";
inline constexpr char kInThreeWeeks[] = "In Three Weeks";
inline constexpr char kInOneMonth[] = "In One Month";
inline constexpr char kInTwoMonths[] = "In Two Months";
inline constexpr char kInThreeMonths[] = "In Three Months";
inline constexpr char kInFourMonths[] = "In Four Months";
inline constexpr char kInFiveMonths[] = "In Five Months";
inline constexpr char kInSixMonths[] = "In Six Months";
inline constexpr char kInSevenMonths[] = "In Seven Months";
inline constexpr char kInEightMonths[] = "In Eight Months";
inline constexpr char kInNineMonths[] = "In Nine Months";
inline constexpr char kInTenMonths[] = "In Ten Months";
inline constexpr char kInElevenMonths[] = "In Eleven Months";
inline constexpr char kInAYear[] = "In a Year";
inline constexpr char kInTwoOrMoreYears[] = "In Two or More Years";
inline constexpr char kNever[] = "Never";
inline constexpr char kThisEvening[] = "This Evening";
inline constexpr char kTomorrowEve[] = "Tomorrow Eve";
inline constexpr char kNextWeekend[] = "Next Weekend";
inline constexpr char kInAMonth[] = "In a Month";
inline constexpr char kSomeday[] = "Someday";
inline constexpr char kNone[] = "None";

// Auto-swipe rules. A person is named "%s <%s>" (name, address) or by the bare address.
inline constexpr char kNameAndAddress[] = "%s <%s>";
inline constexpr char kArchive[] = "Archive";
inline constexpr char kTrash[] = "Trash";
// Tool tips of snooze rules: the sender or recipient, then the snooze name or time.
inline constexpr char kSnoozeConversationTo[] = "Always snooze messages in this conversation to %s?";
inline constexpr char kSnoozeFromTo[] = "Always snooze messages from\n%s\nto %s?";
inline constexpr char kSnoozeRecipientTo[] = "Always snooze messages to\n%s\nto %s?";
// Tool tips of other rules: the sender or recipient, then the destination's name.
inline constexpr char kSwipeConversationTo[] = "Always swipe messages in this conversation to %s?";
inline constexpr char kSwipeFromTo[] = "Always swipe messages from\n%s\nto %s?";
inline constexpr char kSwipeRecipientTo[] = "Always swipe messages to\n%s\nto %s?";
inline constexpr char kSwipeTo[] = "Always swipe messages to %s?";
// Banners of an item that a rule moved; the snooze name or time, or the list's name.
inline constexpr char kAutomaticallySwiped[] = "Automatically swiped";
inline constexpr char kAutoSwipedByAnotherUser[] = "Auto-swiped by another user";
inline constexpr char kAutomaticallyArchived[] = "Automatically archived";
inline constexpr char kAutomaticallyTrashed[] = "Automatically trashed";
inline constexpr char kAutomaticallySentToSpam[] = "Automatically sent to spam";
inline constexpr char kAutoSnoozedTo[] = "Auto-snoozed to %s";
inline constexpr char kAutoSwipedInto[] = "Auto-swiped into %s";
// Questions that offer a rule; the snooze name or time, or the list's name.
inline constexpr char kAlwaysSwipeToArchive[] = "Always swipe to Archive?";
inline constexpr char kAlwaysSwipeToTrash[] = "Always swipe to Trash?";
inline constexpr char kAlwaysMarkAsSpam[] = "Always mark as spam?";
inline constexpr char kAlwaysSnoozeTo[] = "Always snooze to %s?";
inline constexpr char kAlwaysSwipeInto[] = "Always swipe into %s?";

// Alerts of failed account operations.
inline constexpr char kFailedToAuthorize[] = "Failed to Authorize";
inline constexpr char kConnectionError[] = "Connection Error";
inline constexpr char kImapFoldersDisabled[] = "IMAP Folders Disabled";
inline constexpr char kMaximumAccountsReached[] = "Maximum Accounts Reached";
inline constexpr char kAuthorizationError[] = "Authorization Error";
inline constexpr char kAccountError[] = "Account Error";
inline constexpr char kProviderTemporarilyDisabled[] = "Provider Temporarily Disabled";
inline constexpr char kProviderTemporarilyUnavailable[] = "Provider Temporarily Unavailable";
inline constexpr char kProviderDisabledNotice[] =
    "This provider is temporarily disabled. Please see https://www.kestrun.com/blog for more information or "
    "contact us at support@kestrun.com.";
inline constexpr char kProviderUnavailableNotice[] =
    "This provider is temporarily unavailable. Please see https://www.kestrun.com/blog for more information or "
    "contact us at support@kestrun.com.";
inline constexpr char kTroubleAuthenticating[] =
    "Kestrun is having trouble authenticating. Make sure you have a network connection and try again.";
inline constexpr char kProviderCannotGrantAccess[] =
    "Your email provider can't grant access to that account right now. We're getting an error.";
inline constexpr char kRejectedByProvider[] =
    "The information you entered was rejected by your email provider. Please try again.";
inline constexpr char kRejected[] = "The information you entered was rejected. Please try again.";
inline constexpr char kAlreadyAdded[] = "You already added that email address to Kestrun.";
inline constexpr char kNeedsImapFolders[] =
    "Kestrun needs access to your IMAP folders in order to sync your data. Please make sure your All Mail, "
    "Sent, "
    "Trash and Kestrun folders are enabled in your email provider's settings and try again.";
inline constexpr char kAccountLimit[] =
    "Kestrun limits you to 10 email accounts per device. Please remove one of your 10 accounts in Settings "
    "if "
    "you'd like to add a new one.";
inline constexpr char kMustBeAuthorizedToDelete[] =
    "Your device must be authorized for this account in order to delete it from all devices. Please "
    "reauthorize "
    "and try again.";
inline constexpr char kTroubleDeleting[] =
    "We're having trouble deleting that account. Please check your connection and try again.";
inline constexpr char kTroubleEditing[] =
    "We're having trouble editing that account. Please check your connection and try again.";
inline constexpr char kAccountNotOnDevice[] = "That account does not exist on this device.";

// Account health alerts. Each message comes in a form for the account's address (%s) and one
// for when the address is not known.
inline constexpr char kSpamUnableToSync[] = "Spam Unable to Sync";
inline constexpr char kSpamFolderMissing[] =
    "Kestrun can't find your spam folder. Please verify in your email provider's settings that \"show in "
    "IMAP\" "
    "is checked for Spam.";
inline constexpr char kEmailProviderError[] = "Email Provider Error";
inline constexpr char kEmailProviderDeniedAccess[] = "Email Provider Denied Access";
inline constexpr char kKestrunUnableToSync[] = "Kestrun Unable to Sync";
inline constexpr char kConnectionTroubleFor[] =
    "Something went wrong with the connection for %s. Kestrun will keep trying to make a connection and "
    "deliver "
    "your data as soon as possible.";
inline constexpr char kConnectionTrouble[] =
    "Something went wrong with the connection for one of your accounts. Kestrun will keep trying to make a "
    "connection and deliver your data as soon as possible.";
inline constexpr char kFoldersMissingFor[] =
    "Kestrun can't find one or more of your folders for %s. Please verify in your email provider's settings "
    "that "
    "\"show in IMAP\" is checked for All Mail or Archive, Sent, & Trash.";
inline constexpr char kFoldersMissing[] =
    "Kestrun can't find one or more of your folders for one of your accounts. Please verify in your email "
    "provider's settings that \"show in IMAP\" is checked for All Mail or Archive, Sent, & Trash.";
// The address, then the provider's error text.
inline constexpr char kProviderErrorFor[] = "Your email provider is delivering this error for %s: %s";
inline constexpr char kProviderError[] =
    "Your email provider is delivering this error for one of your accounts: %s";
inline constexpr char kUnknownError[] = "Unknown error";
inline constexpr char kProviderDownFor[] =
    "The email provider for %s is unavailable. Kestrun will keep trying to make a connection and deliver "
    "your data "
    "as soon as possible.";
inline constexpr char kProviderDown[] =
    "The email provider for one of your accounts is unavailable. Kestrun will keep trying to make a "
    "connection and "
    "deliver your data as soon as possible.";
inline constexpr char kConnectionLimitFor[] =
    "Kestrun is having trouble accessing data for %s: you've reached the maximum allowable IMAP connections. "
    "Please try again.";
inline constexpr char kConnectionLimit[] =
    "Kestrun is having trouble accessing data for one of your accounts: you've reached the maximum allowable "
    "IMAP "
    "connections. Please try again.";
inline constexpr char kStorageLimitFor[] =
    "You've exceeded your email provider's storage limit for %s. Please create or purchase more space from "
    "your "
    "email provider then try again.";
inline constexpr char kStorageLimit[] =
    "You've exceeded your email provider's storage limit for one of your accounts. Please create or purchase "
    "more "
    "space from your email provider then try again.";
inline constexpr char kSendQuotaFor[] =
    "You've exceeded your quota of sent emails across all your devices for %s. Kestrun will keep trying and "
    "deliver your data as soon as possible.";
inline constexpr char kSendQuota[] =
    "You've exceeded your quota of sent emails across all your devices for one of your accounts. Kestrun "
    "will keep "
    "trying and deliver your data as soon as possible.";
inline constexpr char kAccessQuotaFor[] =
    "You've exceeded your quota of email accessed across all your devices for %s. Kestrun will keep trying "
    "and "
    "deliver your data as soon as possible.";
inline constexpr char kAccessQuota[] =
    "You've exceeded your quota of email accessed across all your devices for one of your accounts. Kestrun "
    "will "
    "keep trying and deliver your data as soon as possible.";

// The undo prompt: the number of items (64-bit), the folder they leave, the folder they return
// to; and the folder names by item state.
inline constexpr char kUndoMoveItem[] =
    "Are you sure you want to undo that, and move %d item from %s back to %s?";
inline constexpr char kUndoMoveItems[] =
    "Are you sure you want to undo that, and move %lu items from %s back to %s?";
inline constexpr char kLater[] = "Later";
inline constexpr char kInbox[] = "Inbox";
inline constexpr char kLists[] = "Lists";
inline constexpr char kSpam[] = "Spam";

// Names of the mail account types; they stay in English in every locale.
inline constexpr char kGmail[] = "Gmail";
inline constexpr char kICloud[] = "iCloud";
inline constexpr char kOffice365[] = "Office365";
inline constexpr char kOutlook[] = "Outlook";
inline constexpr char kExchange[] = "Exchange";
inline constexpr char kYahoo[] = "Yahoo!";

// The line that opens the quoted part of a forwarded message.
inline constexpr char kBeginForwardedMessage[] = "Begin forwarded message:";

// The default e-mail signature (HTML). Only the English table has it; elsewhere it stays English.
inline constexpr char kDefaultSignature[] =
    "\u2014<br>Sent from <a href=\"https://www.kestrun.com/download\">Kestrun</a>";

}  // namespace libkestrun::text
