// The texts of a rule. Each is looked up when asked for, so it follows the current language.
#include <map>
#include <string>

#include "core/locales/texts.h"
#include "core/model/ks_auto_swipe.h"
#include "core/model/snooze_time_calculator.h"
#include "harnvik/strings.h"
#include "jsonette/json.h"
#include "localization/localization.h"

using libkestrun::AutoSwipeField;
using libkestrun::AutoSwipeRuleState;
using libkestrun::ItemState;
using libkestrun::SnoozeType;
namespace text = libkestrun::text;
using harnvik::verdane::lang::str_printf;

namespace {

struct Format {
  const char* text;
  const char* comment;
};

// The question offering a rule, by what the rule matches; the snooze form for deferring rules.
const std::map<AutoSwipeField, Format> kSwipeFormats = {
    {AutoSwipeField::Conversation,
     {text::kSwipeConversationTo,
      "Question offering to always swipe this conversation; %s is the destination (Archive, Trash or a "
      "list)"}},
    {AutoSwipeField::Sender,
     {text::kSwipeFromTo,
      "Question offering to always swipe mail of a sender; the first %s is the sender, the second the "
      "destination (Archive, Trash or a list)"}},
    {AutoSwipeField::Recipient,
     {text::kSwipeRecipientTo,
      "Question offering to always swipe mail to a recipient; the first %s is the recipient, the second "
      "the destination (Archive, Trash or a list)"}},
};

const std::map<AutoSwipeField, Format> kSnoozeFormats = {
    {AutoSwipeField::Conversation,
     {text::kSnoozeConversationTo,
      "Question offering to always snooze this conversation; %s is the snooze choice or time"}},
    {AutoSwipeField::Sender,
     {text::kSnoozeFromTo,
      "Question offering to always snooze mail of a sender; the first %s is the sender, the second the "
      "snooze choice or time"}},
    {AutoSwipeField::Recipient,
     {text::kSnoozeRecipientTo,
      "Question offering to always snooze mail to a recipient; the first %s is the recipient, the second "
      "the snooze choice or time"}},
};

bool namesPerson(AutoSwipeField field) {
  return field == AutoSwipeField::Sender || field == AutoSwipeField::Recipient;
}

std::string deferralDescription(const std::string& deferralData) {
  if (deferralData.empty()) return "";
  std::string error;
  const jsonette::Json deferral = jsonette::Json::parse(deferralData, error);
  if (!error.empty()) return "";
  if (deferral["snooze_type"].is_number()) {
    return libkestrun::nameForSnoozeType(static_cast<SnoozeType>(deferral["snooze_type"].int_value()));
  }
  if (deferral["remind_at"].is_number()) {
    return LOCALIZED_TIMESTAMP(HVX_DATE_STRING_DATE_TIME,
                               static_cast<int64_t>(deferral["remind_at"].number_value()));
  }
  return "";
}

}  // namespace

std::string KSAutoSwipe::identifierString(bool withAddress) const {
  if (field() == AutoSwipeField::Conversation) return auxiliaryInfo();
  if (!namesPerson(field())) return "";
  if (auxiliaryInfo().empty()) return value();
  if (!withAddress) return auxiliaryInfo();
  const std::string format =
      LOCALIZED_STRING(text::kNameAndAddress,
                       "A person of an auto-swipe rule: the first %s is the name, the second the address");
  return str_printf(format.c_str(), auxiliaryInfo(), value());
}

std::string KSAutoSwipe::canonicalDescription() const {
  switch (itemState()) {
    case ItemState::Archive:
      return LOCALIZED_STRING(text::kArchive, "Destination of an auto-swipe rule: the archive");
    case ItemState::Trash:
      return LOCALIZED_STRING(text::kTrash, "Destination of an auto-swipe rule: the trash");
    case ItemState::Later:
      return deferralDescription(deferralData());
    case ItemState::List:
      return listName();
    case ItemState::Spam:
      return "Spam";
    default:
      return "";
  }
}

std::string KSAutoSwipe::formattedToolTipString() const {
  const auto& formats = itemState() == ItemState::Later ? kSnoozeFormats : kSwipeFormats;
  auto found = formats.find(field());
  const std::string format =
      found == formats.end() ? "" : LOCALIZED_STRING(found->second.text, found->second.comment);
  if (format.empty()) {
    const std::string fallback = LOCALIZED_STRING(
        text::kSwipeTo,
        "Question offering to always swipe such mail; %s is the destination or snooze choice");
    return str_printf(fallback.c_str(), canonicalDescription());
  }
  if (namesPerson(field())) return str_printf(format.c_str(), identifierString(true), canonicalDescription());
  return str_printf(format.c_str(), canonicalDescription());
}

std::string KSAutoSwipe::bannerText() const {
  if (state() == AutoSwipeRuleState::SwipedByOtherUser) {
    return LOCALIZED_STRING(text::kAutoSwipedByAnotherUser,
                            "Banner of a conversation that another user's rule swiped");
  }
  if (state() == AutoSwipeRuleState::Suggested) {
    switch (itemState()) {
      case ItemState::Archive:
        return LOCALIZED_STRING(text::kAlwaysSwipeToArchive, "Banner offering to always archive such mail");
      case ItemState::Trash:
        return LOCALIZED_STRING(text::kAlwaysSwipeToTrash, "Banner offering to always trash such mail");
      case ItemState::Spam:
        return LOCALIZED_STRING(text::kAlwaysMarkAsSpam, "Banner offering to always mark such mail as spam");
      case ItemState::Later:
        return str_printf(LOCALIZED_STRING(text::kAlwaysSnoozeTo,
                                           "Banner offering to always snooze such mail; %s is the snooze "
                                           "choice or time")
                              .c_str(),
                          canonicalDescription());
      case ItemState::List:
        return str_printf(LOCALIZED_STRING(text::kAlwaysSwipeInto,
                                           "Banner offering to always file such mail; %s is the list")
                              .c_str(),
                          listName());
      default:
        break;
    }
  } else if (state() == AutoSwipeRuleState::Active) {
    switch (itemState()) {
      case ItemState::Archive:
        return LOCALIZED_STRING(text::kAutomaticallyArchived, "Banner of a conversation a rule archived");
      case ItemState::Trash:
        return LOCALIZED_STRING(text::kAutomaticallyTrashed, "Banner of a conversation a rule trashed");
      case ItemState::Later:
        return str_printf(
            LOCALIZED_STRING(text::kAutoSnoozedTo,
                             "Banner of a conversation a rule snoozed; %s is the snooze choice or time")
                .c_str(),
            canonicalDescription());
      case ItemState::List:
        return str_printf(
            LOCALIZED_STRING(text::kAutoSwipedInto, "Banner of a conversation a rule filed; %s is the list")
                .c_str(),
            listName());
      case ItemState::Spam:
        return LOCALIZED_STRING(text::kAutomaticallySentToSpam,
                                "Banner of a conversation a rule sent to spam");
      default:
        break;
    }
  }
  return LOCALIZED_STRING(text::kAutomaticallySwiped, "Banner of a conversation an auto-swipe rule concerns");
}
