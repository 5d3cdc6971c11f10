// The texts of an e-mail that replies and forwards need, and the choice of the people and the
// account a reply goes to and from.
#include <cstdint>
#include <string>

#include "core/accounts/account_manager.h"
#include "core/foundation/ks_string.h"
#include "core/locales/texts.h"
#include "core/model/ks_contact.h"
#include "core/model/ks_email.h"
#include "harnvik/strings.h"
#include "localization/localization.h"

namespace {

using libkestrun::KSString;

const char kReplyHeaderComment[] =
    "String describing when an email being forwarded or replied to was originally sent. The first %s is "
    "replaced by the date, the second %s is replaced by the time, and the third %s is replaced by the "
    "user's name and email address";

bool starts_with_any(const std::string& text, std::initializer_list<const char*> prefixes) {
  for (const char* prefix : prefixes) {
    if (text.rfind(prefix, 0) == 0) return true;
  }
  return false;
}

bool is_reply_subject(const std::string& subject) { return starts_with_any(subject, {"Re:", "RE:", "re:"}); }

bool is_empty(const KSEmail::Contacts& contacts) { return !contacts || contacts->empty(); }

KSEmail::Contacts list_of(std::shared_ptr<KSContact> contact) {
  auto list = std::make_shared<std::vector<std::shared_ptr<KSContact>>>();
  if (contact) list->push_back(std::move(contact));
  return list;
}

// The list itself, or a new empty one where the e-mail has none (it has no id yet).
KSEmail::Contacts or_empty(KSEmail::Contacts contacts) { return contacts ? contacts : list_of(nullptr); }

}  // namespace

std::string KSEmail::emailSubject() const {
  if (!get_SUBJECT().empty()) return get_SUBJECT();
  return LOCALIZED_STRING(libkestrun::text::kNoSubject, "String indicating message has no subject");
}

bool KSEmail::isForward() const { return starts_with_any(get_SUBJECT(), {"Fwd:", "FWd:", "FWD:", "fwd:"}); }

std::string KSEmail::generateReplySubject() const {
  if (is_reply_subject(get_SUBJECT())) return get_SUBJECT();
  return "Re: " + get_SUBJECT();
}

std::string KSEmail::generateForwardSubject() const {
  if (isForward()) return get_SUBJECT();
  return "Fwd: " + get_SUBJECT();
}

std::string KSEmail::generateReplyBodyText(bool plainText) {
  const std::string date = LOCALIZED_TIMESTAMP(HVX_DATE_STRING_DATE, get_CREATEDAT());
  const std::string time = LOCALIZED_TIMESTAMP(HVX_DATE_STRING_TIME, get_CREATEDAT());
  std::string sender;
  if (auto contact = from()) sender = plainText ? contact->nameWithAddress() : contact->nameWithAddressHtml();
  const std::string format = LOCALIZED_STRING(libkestrun::text::kReplyHeader, kReplyHeaderComment);
  return harnvik::verdane::lang::str_printf(format.c_str(), date, time, sender);
}

void KSEmail::processAttachmentTags() {
  set_CONVERSATION(KSString::empty_kestrun_tags(get_CONVERSATION()));
  set_FULLCONVERSATION(KSString::empty_kestrun_tags(get_FULLCONVERSATION()));
  set_FULLBODY(KSString::empty_kestrun_tags(get_FULLBODY()));
}

KSEmail::Contacts KSEmail::generateToContactsForEmailReply(const std::string& ownAddress) {
  std::shared_ptr<KSContact> answered = replyTo() ? replyTo() : from();
  if (!answered) return list_of(nullptr);
  if (answered->emailAddress() != ownAddress) return list_of(answered);
  // The user wrote it: answer the same people again, or the user for a note to nobody.
  if (!is_empty(to()) || !is_empty(cc())) return or_empty(to());
  return list_of(answered);
}

KSEmail::Contacts KSEmail::generateCcContactsForEmailReply(const std::string& ownAddress) {
  std::shared_ptr<KSContact> answered = replyTo() ? replyTo() : from();
  if (answered && answered->emailAddress() == ownAddress && (!is_empty(to()) || !is_empty(cc()))) {
    return or_empty(cc());
  }
  auto own = libkestrun::account_manager_addresses_for_primary_account(get_ACCOUNTID());
  auto result = list_of(nullptr);
  for (const Contacts& list : {to(), cc()}) {
    if (!list) continue;
    for (const auto& contact : *list) {
      if (own->count(contact->emailAddress()) == 0) result->push_back(contact);
    }
  }
  return result;
}

std::shared_ptr<KSEmailAccount> KSEmail::generateUserResponseFromEmailAccount() {
  const std::string& accountID = get_ACCOUNTID();
  auto account = libkestrun::account_manager_email_account_with_id(accountID);
  if (!account) return nullptr;
  // The manager answers UINT32_MAX for an unknown id; read as signed it is -1, below 1 like 0.
  const auto aliases = static_cast<int32_t>(
      libkestrun::account_manager_get_number_of_secondary_accounts_for_primary_account(accountID));
  if (aliases < 1) return account;

  auto is_alias = [&](const std::string& address) {
    return libkestrun::account_manager_is_address_of_primary_account(address, accountID);
  };
  std::string candidate;
  for (const Contacts& list : {to(), cc(), bcc()}) {
    if (!list) continue;
    for (const auto& contact : *list) {
      if (contact->emailAddress() == account->emailAddress) return account;
      if (is_alias(contact->emailAddress())) candidate = contact->emailAddress();
    }
  }
  if (candidate.empty()) {
    if (auto contact = replyTo(); contact && is_alias(contact->emailAddress())) {
      candidate = contact->emailAddress();
    } else if (auto sender = from(); sender && is_alias(sender->emailAddress())) {
      candidate = sender->emailAddress();
    }
  }
  if (candidate.empty()) return account;
  return libkestrun::account_manager_secondary_account_with_address(candidate, accountID);
}
