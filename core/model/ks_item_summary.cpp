// The conversation summary of an item: how e-mails and drafts are folded into its thread
// columns, the texts shown for it, and local search scoring.
#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "core/accounts/account_manager.h"
#include "core/foundation/json_conversion.h"
#include "core/foundation/utility.h"
#include "core/model/kestrun_context.h"
#include "core/model/ks_auto_swipe.h"
#include "core/model/ks_contact.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/utf8_cut.h"
#include "harnvik/strings.h"
#include "localization/localization.h"

namespace {

using libkestrun::internal::Draft;

constexpr size_t kAggregateBytes = 1000;
constexpr size_t kDraftPreviewBytes = 100;
// The recency term of the search score grows without bound as the time since the last change
// shrinks; changes of the last second count as one second old.
constexpr int64_t kMostRecentMs = 1000;

std::string no_content() {
  return LOCALIZED_STRING("This message has no content.",
                          "Short message saying that an email has no content");
}

// The column's JSON object, or null when it is empty or holds something else.
json_t* parse_object(const std::string& text) {
  if (text.empty()) return nullptr;
  json_t* value = json_loadb(text.data(), text.size(), 0, nullptr);
  if (json_is_object(value)) return value;
  json_decref(value);
  return nullptr;
}

json_t* object_or_new(json_t* parsed) { return parsed != nullptr ? parsed : json_object(); }

// Copies the single entry of a {address: participant} object into `target`.
void add_participant(json_t* target, json_t* single) {
  const char* address;
  json_t* entry;
  json_object_foreach(single, address, entry) { json_object_set(target, address, entry); }
  json_decref(single);
}

json_t* name_and_address(json_t* entry, const char* address) {
  json_t* person = json_object();
  json_t* name = json_object_get(entry, "name");
  json_object_set_new(person, "name", json_is_string(name) ? json_copy(name) : json_string(""));
  json_object_set_new(person, "address", json_string(address));
  return person;
}

bool is_original(json_t* entry) { return json_is_true(json_object_get(entry, "is_original_participant")); }

}  // namespace

std::vector<std::shared_ptr<KSEmail>>& KSItem::emailCache() {
  if (!emails()) emails_ = std::make_shared<std::vector<std::shared_ptr<KSEmail>>>();
  return *emails_;
}

std::vector<Draft>& KSItem::draftCache() {
  if (!drafts()) drafts_ = std::make_shared<std::vector<Draft>>();
  return *drafts_;
}

void KSItem::addEmail(const std::shared_ptr<KSEmail>& email) {
  if (email->get_EMAILID().empty()) return;
  // Read before this e-mail changes it: the people of the conversation's first message.
  const bool first = isFirstMessage();
  auto& cache = emailCache();
  // A context that already lists the new e-mail among the item's (the memory context) must not
  // count it twice.
  if (std::find(cache.begin(), cache.end(), email) == cache.end()) cache.push_back(email);
  setThreadHasEmails(true);
  updatePreviewFromEmail(*email);
  updateParticipantsFromEmail(*email, first);
  setAggregateConvo(libkestrun::utf8_prefix(aggregateConvo() + email->get_CONVERSATION(), kAggregateBytes));
  if (!email->get_READ()) {
    setThreadUnreadCount(std::max(threadUnreadCount(), 0) + 1);
    setThreadRead(false);
  }
  if (email->get_STARRED()) {
    setThreadStarredCount(std::max(threadStarredCount(), 0) + 1);
    setThreadStarred(true);
  }
  if (email->get_HASATTACHMENTS()) setThreadHasAttachments(true);
  if (email->get_SENDSTATE() == libkestrun::EmailSendState::Sending)
    setThreadUnsentCount(threadUnsentCount() + 1);
  setThreadCount(threadCount() + 1);
  if (autoSwipeState() == libkestrun::AutoSwipeRuleState::Active) {
    if (auto rule = autoSwipe()) {
      if (auto self = std::static_pointer_cast<KSItem>(weak_from_this().lock())) rule->recordAction(self);
    }
  }
}

void KSItem::updateThreadFromEmail(const KSEmail& email) {
  if (email.get_EMAILID().empty()) return;
  if (email.is_changed_READ()) {
    const int unread = std::max(threadUnreadCount() + (email.get_READ() ? -1 : 1), 0);
    setThreadUnreadCount(unread);
    setThreadRead(unread == 0);
  }
  if (email.is_changed_STARRED()) {
    const int starred = std::max(threadStarredCount() + (email.get_STARRED() ? 1 : -1), 0);
    setThreadStarredCount(starred);
    setThreadStarred(starred > 0);
  }
  if (email.is_changed_SENDSTATE() && email.get_SENDSTATE() == libkestrun::EmailSendState::Sent) {
    setThreadUnsentCount(std::max(threadUnsentCount() - 1, 0));
  }
  if (threadPreview().empty()) {
    setThreadPreview(email.get_PREVIEW().empty() ? email.emailConversation() : email.get_PREVIEW());
  }
}

void KSItem::updatePreviewFromEmail(const KSEmail& email) {
  if (threadTimestamp() != unsetTime && email.get_CREATEDAT() < threadTimestamp()) return;
  std::string preview = email.get_PREVIEW();
  std::replace_if(
      preview.begin(), preview.end(), [](char c) { return c == '\r' || c == '\t' || c == '\n'; }, ' ');
  setThreadPreview(preview.empty() ? email.emailConversation() : preview);
  setThreadTimestamp(email.get_CREATEDAT());
  if (modifiedAt() == unsetTime) setModifiedAt(email.get_CREATEDAT());
}

void KSItem::updatePreviewFromDraft(const Draft& draft) {
  if (threadTimestamp() != unsetTime && draft.get_modified_at() < threadTimestamp()) return;
  const std::string preview = libkestrun::utf8_prefix(draft.get_plain_content(), kDraftPreviewBytes);
  setThreadPreview(preview.empty() ? no_content() : preview);
}

json_t* KSItem::participantsFor(ParsedParticipants& cache, const std::string& text) {
  if (!cache.object || cache.text != text) cache.object.reset(object_or_new(parse_object(text)));
  return cache.object.get();
}

std::string KSItem::storeParticipants(ParsedParticipants& cache) {
  cache.text = patch::compact_text(cache.object.get());
  return cache.text;
}

void KSItem::updateParticipantsFromEmail(KSEmail& email, bool first) {
  json_t* senders = participantsFor(parsedSenders_, row_.get_THREADSENDERS());
  json_t* receivers = participantsFor(parsedReceivers_, row_.get_THREADRECEIVERS());
  const int64_t sentAt = email.get_CREATEDAT();
  if (auto sender = email.from()) {
    json_t* entry = json_object_get(senders, sender->emailAddress().c_str());
    if (entry != nullptr) {
      if (json_is_object(entry)) json_object_set_new(entry, "sent_at", json_integer(sentAt));
    } else {
      add_participant(senders, sender->generateShortenedFromRepresentation(sentAt, first));
    }
  }
  setThreadSenders(storeParticipants(parsedSenders_));
  for (const auto& list : {email.to(), email.cc(), email.bcc()}) {
    if (!list) continue;
    for (const auto& contact : *list) {
      if (json_object_get(receivers, contact->emailAddress().c_str()) != nullptr) continue;
      add_participant(receivers, contact->generateShortenedFromRepresentation(0, first));
    }
  }
  setThreadReceivers(storeParticipants(parsedReceivers_));
}

void KSItem::updateParticipantsFromDraft(const Draft& draft, bool first) {
  json_t* senders = json_object();
  json_t* receivers = json_object();
  add_participant(senders,
                  patch::jansson_from_json(participantJson(draft.get_from(), draft.get_created_at(), first)));
  for (const auto* list : {&draft.get_to(), &draft.get_cc(), &draft.get_bcc()}) {
    for (const auto& name : *list) {
      if (json_object_get(receivers, name.address.c_str()) != nullptr) continue;
      add_participant(receivers, patch::jansson_from_json(participantJson(name, 0, first)));
    }
  }
  setThreadSenders(patch::compact_text(senders));
  setThreadReceivers(patch::compact_text(receivers));
  json_decref(senders);
  json_decref(receivers);
}

jsonette::Json KSItem::participantJson(const libkestrun::internal::EmailName& name, int64_t sentAt,
                                       bool first) {
  jsonette::Json::object entry;
  if (libkestrun::account_manager_has_email_address(name.address)) {
    entry["short_display_name"] =
        LOCALIZED_STRING("Me", "SHORT, label indicating that a message was sent to or by the current user");
    entry["full_display_name"] = LOCALIZED_STRING(
        "Note to self", "SHORT, title indicating that the message is a note from the user to him/herself");
  } else {
    entry["short_display_name"] = name.name;
    entry["full_display_name"] = name.name;
  }
  entry["name"] = name.name;
  entry["is_original_participant"] = first;
  if (sentAt > 0) entry["sent_at"] = static_cast<long long>(sentAt);
  return jsonette::Json(jsonette::Json::object{{name.address, jsonette::Json(std::move(entry))}});
}

void KSItem::addDraft(const Draft& draft) {
  const std::string& draftID = draft.get_draft_id();
  if (draftID.empty()) return;
  // A draft saved again is still the first message when it was the first.
  std::set<std::string> ids = row_.get_DRAFTIDS();
  const bool first = !threadHasEmails() && (ids.empty() || (ids.size() == 1 && ids.count(draftID) != 0));
  // The cache may already hold the draft (read from the table, where the caller stored it): keep
  // one copy, the given one, so that a later purge does not re-file a removed draft.
  auto& cache = draftCache();
  auto cached =
      std::find_if(cache.begin(), cache.end(), [&](const Draft& d) { return d.get_draft_id() == draftID; });
  if (cached != cache.end()) {
    *cached = draft;
  } else {
    cache.push_back(draft);
  }
  if (ids.count(draftID) == 0) {
    ids.insert(draftID);
    row_.set_DRAFTIDS(std::move(ids));
    setThreadCount(threadCount() + 1);
  }
  updatePreviewFromDraft(draft);
  if (!threadHasEmails()) updateParticipantsFromDraft(draft, first);
}

void KSItem::removeDraft(const std::string& draftID) {
  auto drafts = this->drafts();
  if (!drafts) return;
  auto found = std::find_if(drafts->begin(), drafts->end(),
                            [&](const Draft& draft) { return draft.get_draft_id() == draftID; });
  if (found == drafts->end()) return;
  drafts->erase(found);
  std::set<std::string> ids = row_.get_DRAFTIDS();
  const size_t removed = ids.erase(draftID);
  if (removed != 0) {
    row_.set_DRAFTIDS(std::move(ids));
    setThreadCount(threadCount() - static_cast<int>(removed));
  }

  // The caches hold messages in arrival order: compare the newest of each kind, or the text of
  // the removed draft can stay as the preview.
  auto emails = this->emails();
  const bool haveEmails = emails && !emails->empty();
  auto newestDraft = std::max_element(drafts->begin(), drafts->end(), [](const Draft& a, const Draft& b) {
    return a.get_modified_at() < b.get_modified_at();
  });
  if (haveEmails) {
    auto newestEmail = std::max_element(emails->begin(), emails->end(), [](const auto& a, const auto& b) {
      return a->get_CREATEDAT() < b->get_CREATEDAT();
    });
    if (newestDraft == drafts->end() || newestDraft->get_modified_at() < (*newestEmail)->get_CREATEDAT()) {
      updatePreviewFromEmail(**newestEmail);
      return;
    }
  }
  if (newestDraft != drafts->end()) updatePreviewFromDraft(*newestDraft);
}

void KSItem::foldInEmailsOnce() {
  if (loadedOnce()) return;
  auto emails = KSEmail::emailsForItem(itemID(), context());
  if (!emails) return;
  auto self = std::static_pointer_cast<KSItem>(shared_from_this());
  for (const auto& email : *emails) {
    email->setParentItem(self);
    addEmail(email);
  }
}

void KSItem::foldInDraftsOnce() {
  if (loadedOnce()) return;
  auto drafts = context()->draftsForItem(itemID());
  if (!drafts) return;
  for (const auto& draft : *drafts) addDraft(draft);
}

std::string KSItem::threadSubject() const {
  if (!subject().empty()) return subject();
  return LOCALIZED_STRING("(No Subject)", "String indicating message has no subject");
}

std::string KSItem::previewText() {
  std::string text = state() == ItemState::Later  ? deferralSubtext()
                     : state() == ItemState::List ? threadPreview()
                                                  : std::string();
  if (threadUnsentCount() > 0) {
    const std::string format = PLURALIZED_STRING(
        "%d unsent message", "%d unsent messages",
        "Message indicating that there are some number of unsent messages on this email thread",
        threadUnsentCount());
    text = harnvik::verdane::lang::str_printf(format.c_str(), threadUnsentCount());
  }
  if (text.empty()) text = threadPreview();
  if (text.empty()) text = no_content();
  return text;
}

bool KSItem::shouldShowBanner() const {
  using libkestrun::AutoSwipeRuleState;
  const ItemState current = state();
  if (current == ItemState::Later || current == ItemState::List || current == ItemState::Spam) return true;
  const AutoSwipeRuleState rule = autoSwipeState();
  if (rule == AutoSwipeRuleState::Suggested) return true;
  if (rule == AutoSwipeRuleState::Active || rule == AutoSwipeRuleState::SwipedByOtherUser) {
    return autoSwipeItemState() == current;
  }
  return false;
}

json_t* KSItem::threadSendersJson() const { return parse_object(threadSenders()); }
json_t* KSItem::threadReceiversJson() const { return parse_object(threadReceivers()); }

json_t* KSItem::originalSender() const {
  json_t* senders = threadSendersJson();
  if (senders == nullptr) return nullptr;
  json_t* result = nullptr;
  const char* address;
  json_t* entry;
  json_object_foreach(senders, address, entry) {
    if (is_original(entry)) {
      result = name_and_address(entry, address);
      break;
    }
  }
  json_decref(senders);
  return result;
}

json_t* KSItem::originalRecipients() const {
  json_t* result = json_array();
  json_t* receivers = threadReceiversJson();
  if (receivers == nullptr) return result;
  const char* address;
  json_t* entry;
  json_object_foreach(receivers, address, entry) {
    if (is_original(entry)) json_array_append_new(result, name_and_address(entry, address));
  }
  json_decref(receivers);
  return result;
}

json_t* KSItem::allParticipants() const {
  json_t* result = object_or_new(threadSendersJson());
  if (json_t* receivers = threadReceiversJson()) {
    json_object_update(result, receivers);
    json_decref(receivers);
  }
  return result;
}

void KSItem::populateSearchContentsInMemoryProperties() {
  searchContents_.clear();
  const std::pair<std::string, std::string*> parts[] = {
      {subject(), &searchSubject_},
      {threadReceivers(), &searchReceivers_},
      {threadSenders(), &searchSenders_},
      {aggregateConvo(), &searchAggregate_},
  };
  for (const auto& [text, copy] : parts) {
    if (text.empty()) continue;
    searchContents_ += text;
    *copy = text;
  }
}

int KSItem::countOccurrences(const std::string& text, const std::string& term) {
  if (term.empty()) return 0;
  int count = 0;
  for (size_t at = text.find(term); at != std::string::npos; at = text.find(term, at + term.size())) ++count;
  return count;
}

void KSItem::scoreItemForSearchTerms(const std::vector<std::string>& terms) {
  int64_t score = 0;
  for (const std::string& term : terms) {
    if (term.empty()) continue;
    score += countOccurrences(searchAggregate_, term) + 5 * countOccurrences(searchSubject_, term) +
             6 * countOccurrences(searchSenders_, term) + 6 * countOccurrences(searchReceivers_, term) - 18;
  }
  // A change at or after now (a clock step, another device's clock) is the most recent there is.
  const int64_t now = libkestrun::Utility::now_ms();
  const int64_t elapsed = std::max<int64_t>(now > modifiedAt() ? now - modifiedAt() : 0, kMostRecentMs);
  const float days = static_cast<float>(static_cast<uint64_t>(elapsed)) / 1000.0f / 60.0f / 60.0f / 24.0f;
  const double recency = std::floor(2.0 / days);
  searchMatchScore_ = static_cast<int32_t>(static_cast<double>(score) + recency);
}

std::shared_ptr<KSItem> KSItem::itemForSearchEmail(const std::shared_ptr<KSEmail>& email,
                                                   const std::string& searchID, KestrunContext* context) {
  const std::string& itemID = email->get_PARENTITEMID();
  auto item = fetch(itemID, context);
  if (!item) {
    item = std::static_pointer_cast<KSItem>(context->createObject("KSITEM", itemID));
    if (!item) return nullptr;
    item->setSearchID(searchID);
    item->setAccountID(email->get_ACCOUNTID());
    item->setCreatedAt(email->get_CREATEDAT());
    item->setMasterRev(kSearchOnlyMasterRev);
    item->setModifiedAt(email->get_CREATEDAT());
    item->setItemID(itemID);
    item->setSubject(email->get_SUBJECT());
    item->setState(ItemState::None);
  }
  email->setParentItem(item);
  item->addEmail(email);
  return item;
}
