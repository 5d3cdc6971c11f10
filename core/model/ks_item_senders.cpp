// The people of a conversation as replies see them: its distinct senders and the e-mail that a
// reply all answers.
#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/accounts/account_manager.h"
#include "core/foundation/ks_string.h"
#include "core/model/ks_contact.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"

namespace {

// The conversation's e-mails, newest first; equal times keep the conversation's order. An item
// without an id has none.
std::vector<std::shared_ptr<KSEmail>> newest_first(
    const std::shared_ptr<std::vector<std::shared_ptr<KSEmail>>>& emails) {
  if (!emails) return {};
  std::vector<std::shared_ptr<KSEmail>> sorted = *emails;
  std::stable_sort(sorted.begin(), sorted.end(),
                   [](const auto& a, const auto& b) { return a->get_CREATEDAT() > b->get_CREATEDAT(); });
  return sorted;
}

std::string lowered(const std::string& address) {
  std::string text = address;
  libkestrun::KSString::to_lower(text);
  return text;
}

}  // namespace

std::vector<std::shared_ptr<KSContact>> KSItem::distinctSenders() {
  std::vector<std::shared_ptr<KSContact>> senders;
  std::unordered_set<std::string> seen;
  for (const auto& email : newest_first(emails())) {
    auto sender = email->from();
    if (!sender) continue;
    const std::string address = lowered(sender->emailAddress());
    if (!seen.insert(address).second) continue;
    if (!libkestrun::account_manager_has_email_address(address)) senders.push_back(sender);
  }
  return senders;
}

std::string KSItem::replyAllEmailID() {
  const auto sorted = newest_first(emails());
  if (sorted.empty()) return "";
  for (const auto& email : sorted) {
    if (email->isForward()) continue;
    std::unordered_set<std::string> people;
    if (auto sender = email->from()) people.insert(lowered(sender->emailAddress()));
    for (const KSEmail::Contacts& list : {email->to(), email->cc()}) {
      if (!list) continue;
      for (const auto& contact : *list) people.insert(lowered(contact->emailAddress()));
    }
    if (people.size() > 2) return email->get_EMAILID();
  }
  return sorted.front()->get_EMAILID();
}

std::string KSItem::joinParticipantName(const std::string& name, int index, int count) {
  if (index == 0) return name;
  if (index < count - 1) return ", " + name;
  return (count < 3 ? " & " : ", & ") + name;
}
