#include "core/data/ui_utility.h"

#include <algorithm>

#include "core/foundation/ks_string.h"
#include "core/locales/texts.h"
#include "hvx/base64.h"
#include "localization/localization.h"

namespace libkestrun {

namespace {

const char kDocumentHead[] =
    "<html lang=\"en\"><head><meta http-equiv=Content-Type content=\"text/html; charset=UTF-8\">"
    "<style type=\"text/css\">"
    "body {font-family: \"Helvetica Neue\"; font-size: 16px;} "
    "div.ksprint-container { padding: 10px; } "
    "div.ksprint-threadinfo { display: inline-block; width: 100%; padding-bottom: 14px; } "
    "span.ksprint-subject {float: left; font-family: \"Helvetica Neue\"; font-weight: bold; font-size: "
    "18px;} "
    "span.ksprint-threadcount {padding-top: 4px; float: right; font-family: \"Helvetica Neue\"; font-size: "
    "14px; color:rgb(146, 146, 146);} "
    "div.ksprint-emailrow { padding: 6px 0px; border-top-style: solid; border-top-color: black; "
    "border-top-width: 3px; } "
    "div.ksprint-contactrow { padding:0px 0px 4px 0px; } "
    "span.ksprint-descriptor { font-family: \"Helvetica Neue\"; font-weight: bold; font-size: 16px; "
    "padding-right: 4px; } "
    "span.ksprint-contact { font-family: \"Helvetica Neue\"; font-size: 16px; } "
    "div.ksprint-conversation { padding: 0px 0px 25px 20px; } "
    "div.ksprint-conversation pre span { font-family: \"Helvetica Neue\"; font-size: 16px; } "
    "</style></head><body><div class =\"ksprint-container\">";

const char kImageStart[] = "<img src=\"";
const char kImageDataPrefix[] = "data:image/png;base64,";
// The image is drawn at twice its printed size; halving its width on load keeps it sharp.
const char kImageEnd[] = "\" style=\"display: block; padding: 10px\" onload=\"this.width*=0.5\"/>";
const char kThreadInfoStart[] = "<div class=\"ksprint-threadinfo\">";
const char kSubjectStart[] = "<span class=\"ksprint-subject\">";
const char kCountStart[] = "<span class=\"ksprint-threadcount\">";
const char kCountEnd[] = " messages</span>";
const char kEmailRowStart[] = "<div class=\"ksprint-emailrow\">";
const char kContactRowStart[] = "<div class=\"ksprint-contactrow\">";
const char kLabelStart[] = "<span class=\"ksprint-descriptor\">";
const char kContactListStart[] = "<span class=\"ksprint-contact\">";
const char kBodyStart[] = "<div class=\"ksprint-conversation\">";
const char kPlainTextStart[] = "<pre><span>";
const char kPlainTextEnd[] = "</span></pre>";
const char kSpanEnd[] = "</span>";
const char kDivisionEnd[] = "</div>";
const char kPageEnd[] = "</div></body></html>";

// The sender's address; "" for an e-mail without a sender.
std::string sender_address(KSEmail& email) {
  auto contact = email.from();
  return contact ? contact->emailAddress() : std::string();
}

int recipient_count(KSEmail& email) {
  auto to = email.to();
  auto cc = email.cc();
  return static_cast<int>((to ? to->size() : 0) + (cc ? cc->size() : 0));
}

// A plain-text body shown as preformatted text; HTML as it is.
std::string body_html(const std::string& text, bool isHtml) {
  if (isHtml) return text;
  return kPlainTextStart + KSString::escape_xml(text) + kPlainTextEnd;
}

}  // namespace

std::vector<std::shared_ptr<KSEmail>> UiUtility::emails_to_reply_to(
    const std::shared_ptr<KSItem>& item, const std::string& accountAddress, int sendType,
    const std::vector<std::string>& visibleIDs, const std::unordered_set<std::string>& openedIDs) const {
  Emails result;
  if (!item) return result;
  const Emails& emails = *item->emails();

  Emails candidates;
  for (const std::string& id : visibleIDs) {
    if (openedIDs.count(id) == 0) continue;
    auto it =
        std::find_if(emails.begin(), emails.end(), [&](const auto& e) { return e->get_EMAILID() == id; });
    if (it != emails.end()) candidates.push_back(*it);
  }
  if (candidates.empty()) {
    for (const auto& email : emails) {
      if (openedIDs.count(email->get_EMAILID()) != 0) candidates.push_back(email);
    }
  }
  if (candidates.empty() && !emails.empty()) {
    // The store returns a conversation's e-mails in no set order, so the newest is found by time.
    std::shared_ptr<KSEmail> newest;
    for (const auto& email : emails) {
      if (!newest || email->get_CREATEDAT() >= newest->get_CREATEDAT()) newest = email;
    }
    candidates.push_back(newest);
  }
  if (candidates.size() >= 2) {
    Emails others;
    for (const auto& email : candidates) {
      if (sender_address(*email) != accountAddress) others.push_back(email);
    }
    if (!others.empty()) candidates = std::move(others);
  }
  if (candidates.size() == 1) return candidates;

  switch (static_cast<EmailSendType>(sendType)) {
    case EmailSendType::Reply: {
      std::unordered_set<std::string> seen;
      for (const auto& email : candidates) {
        const std::string sender = sender_address(*email);
        if (!seen.insert(sender).second) continue;
        result.push_back(choose_latest_email(candidates, 0, &sender));
      }
      break;
    }
    case EmailSendType::Forward:
      if (auto email = choose_latest_email(candidates, 0, nullptr)) result.push_back(email);
      break;
    case EmailSendType::ReplyAll:
      if (auto email = choose_latest_email(candidates, 2, nullptr)) result.push_back(email);
      break;
    default:
      break;
  }
  return result;
}

std::shared_ptr<KSEmail> UiUtility::choose_latest_email(const Emails& candidates, int minRecipients,
                                                        const std::string* sender) {
  if (candidates.empty()) return nullptr;
  if (candidates.size() == 1) return candidates.front();
  std::shared_ptr<KSEmail> best;
  for (const auto& email : candidates) {
    if (recipient_count(*email) < minRecipients) continue;
    if (best && email->get_CREATEDAT() <= best->get_CREATEDAT()) continue;
    if (sender && sender_address(*email) != *sender) continue;
    best = email;
  }
  return best ? best : candidates.front();
}

std::string UiUtility::print_conversation(const std::shared_ptr<KSItem>& item) const {
  if (!item) return "";
  std::string page = print_header(item->threadSubject(), item->threadCount());
  for (const auto& email : *item->emails()) page += email_row(email, false);
  return page + kPageEnd;
}

std::string UiUtility::print_email(const std::shared_ptr<KSEmail>& email) const {
  if (!email) return "";
  auto item = email->parentItem();
  std::string page = print_header(item ? item->threadSubject() : email->emailSubject(), 1);
  return page + email_row(email, true) + kPageEnd;
}

std::string UiUtility::print_header(const std::string& subject, int count) {
  const std::vector<unsigned char>& image = print_header_image();
  std::string header = kDocumentHead;
  header += kImageStart;
  header += kImageDataPrefix;
  header += hvx_base64_encode(std::string_view(reinterpret_cast<const char*>(image.data()), image.size()));
  header += kImageEnd;
  header += kThreadInfoStart;
  // A received subject is text: "<script>" in it must not become markup of the page.
  header += kSubjectStart + KSString::escape_xml(subject) + kSpanEnd;
  if (count > 1) header += kCountStart + std::to_string(count) + kCountEnd;
  return header + kDivisionEnd;
}

std::string UiUtility::contact_row(const std::string& label,
                                   const std::vector<std::shared_ptr<KSContact>>& contacts) {
  std::string list;
  for (const auto& contact : contacts) {
    if (!list.empty()) list += ", ";
    list += KSString::escape_xml(contact->nameWithAddress());
  }
  return std::string(kContactRowStart) + kLabelStart + label + kSpanEnd + kContactListStart + list +
         kSpanEnd + kDivisionEnd;
}

std::string UiUtility::email_row(const std::shared_ptr<KSEmail>& email, bool fullBody) {
  std::string row = kEmailRowStart;
  if (auto sender = email->from()) {
    row += contact_row(LOCALIZED_STRING(text::kFromLabel, "specifies the sender of the email"), {sender});
  }
  struct Recipients {
    KSEmail::Contacts contacts;
    const char* label;
    const char* comment;
  } const recipients[] = {
      {email->to(), text::kToLabel, "specifies who the email is sent to"},
      {email->cc(), text::kCcLabel, "specifies any CC'ed recipients of the email"},
      {email->bcc(), text::kBccLabel, "specifies any BCC'ed recipients of the email"},
  };
  for (const auto& r : recipients) {
    if (r.contacts && !r.contacts->empty())
      row += contact_row(LOCALIZED_STRING(r.label, r.comment), *r.contacts);
  }
  std::string body = body_html(email->emailConversation(), email->get_CONVERSATIONISHTML());
  if (fullBody && email->get_HASFULLBODY() && !email->get_FULLBODY().empty()) {
    body = body_html(email->get_FULLBODY(), email->get_FULLBODYISHTML());
  }
  return row + kBodyStart + body + kDivisionEnd + kDivisionEnd;
}

}  // namespace libkestrun
