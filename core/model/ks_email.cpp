#include "core/model/ks_email.h"

#include <cstdlib>
#include <utility>

#include "core/foundation/utility.h"
#include "core/model/kestrun_context.h"
#include "core/model/ks_contact.h"
#include "core/model/ks_item.h"
#include "core/model/utf8_cut.h"
#include "core/services/sync_status_manager.h"
#include "localization/localization.h"

namespace {

using libkestrun::EmailSendState;

const char kNoContent[] = "This message has no content.";
const char kNoContentComment[] = "Short message saying that an email has no content";
constexpr size_t kPreviewBytes = 100;

std::string string_of(const json_t* value) {
  return std::string(json_string_value(value), json_string_length(value));
}

// Leaves the key out when the text is not valid UTF-8 (jansson gives no value for it).
void set_text(json_t* object, const char* key, const std::string& text) {
  json_t* value = json_stringn(text.data(), text.size());
  if (value != nullptr) json_object_set_new(object, key, value);
}

void set_flag(json_t* object, const char* key, bool flag) {
  json_object_set_new(object, key, json_integer(flag ? 1 : 0));
}

json_t* contacts_json(const KSEmail::Contacts& contacts) {
  json_t* array = json_array();
  if (contacts) {
    for (const auto& contact : *contacts) json_array_append_new(array, contact->toJson());
  }
  return array;
}

// Adds the array under the key when it has elements; takes it over either way.
void set_list(json_t* object, const char* key, json_t* array) {
  if (json_is_array(array) && json_array_size(array) > 0) {
    json_object_set_new(object, key, array);
  } else if (array != nullptr) {
    json_decref(array);
  }
}

}  // namespace

KSEmail::KSEmail(KestrunContext* context) : DBKestrunObject(context, false) {
  setDefaults();
  registerChangeListener();
}

KSEmail::KSEmail(KestrunContext* context, CppSQLite3Query& query)
    : DBKestrunObject(context, true), Email(query) {
  registerChangeListener();
}

KSEmail::KSEmail(KestrunContext* context, const libkestrun::internal::Email& record)
    : DBKestrunObject(context, false), Email(record) {
  clearChangedFields();
  registerChangeListener();
}

void KSEmail::registerChangeListener() {
  row.change_callback = [this] { checkFirstChange(); };
}

void KSEmail::checkFirstChange() { reportFirstChange(changedColumnCount()); }

void KSEmail::setDefaults() {
  set_BADCONVO(false);
  set_CONVERSATIONISHTML(true);
  set_CREATEDAT(unsetTime);
  set_FULLBODYISHTML(true);
  set_HASATTACHMENTS(false);
  set_HASFULLBODY(false);
  set_PREVIEW(kNoContent);
  set_READ(false);
  set_SENDSTATE(EmailSendState::None);
  set_SENT(false);
  set_STARRED(false);
  clearChangedFields();
}

void KSEmail::setFromServerKey(const std::string& key, json_t* value) {
  if (value == nullptr || json_is_null(value)) return;
  if (json_is_string(value)) {
    const std::string text = string_of(value);
    if (key == "_id")
      set_EMAILID(text);
    else if (key == "acct_id")
      set_ACCOUNTID(text);
    else if (key == "full_conversation")
      set_FULLCONVERSATION(text);
    else if (key == "conversation")
      set_CONVERSATION(text);
    else if (key == "p_id")
      set_PARENTITEMID(text);
    else if (key == "preview")
      set_PREVIEW(text);
    else if (key == "subject")
      set_SUBJECT(text);
  } else if (json_is_integer(value)) {
    const json_int_t number = json_integer_value(value);
    if (key == "created_at")
      set_CREATEDAT(number);
    else if (key == "saved_at")
      set_SAVEDAT(number);
    else if (key == "send_state")
      set_SENDSTATE(static_cast<EmailSendState>(number));
  } else if (json_is_boolean(value)) {
    const bool flag = json_is_true(value);
    if (key == "is_html")
      set_CONVERSATIONISHTML(flag);
    else if (key == "loadedOnce")
      setLoadedOnce(flag);
    else if (key == "read")
      set_READ(flag);
    else if (key == "sent")
      set_SENT(flag);
    else if (key == "starred")
      set_STARRED(flag);
  }
}

void KSEmail::finishServerDocument(json_t* document) {
  readSendState(document);
  if (!get_LOADEDONCE()) readPeople(document);
  readBody(document);
  joinParentItem();
  readSyncData(document);
  if (!get_LOADEDONCE()) setLoadedOnce(true);
}

void KSEmail::readSendState(json_t* document) {
  if (json_object_get(document, "saved_at") != nullptr && get_SENDSTATE() == EmailSendState::Sending) {
    set_SENDSTATE(EmailSendState::Sent);
  }
  json_t* failed = json_object_get(document, "send_failed");
  if (json_is_integer(failed) &&
      json_integer_value(failed) == static_cast<json_int_t>(EmailSendState::SendFailed)) {
    set_SENDSTATE(EmailSendState::SendFailed);
  }
}

void KSEmail::readPeople(json_t* document) {
  json_t* replyTo = json_object_get(document, "reply_to");
  if (json_is_object(replyTo)) {
    if (auto contact = KSContact::findOrCreate(replyTo, context())) setReplyTo(contact);
  }
  json_t* sender = json_object_get(document, "from");
  if (json_is_object(sender)) {
    if (auto contact = KSContact::findOrCreate(sender, context())) setFrom(contact);
  }
  readRecipients(document, "to", &KSEmail::addTo);
  readRecipients(document, "cc", &KSEmail::addCc);
  readRecipients(document, "bcc", &KSEmail::addBcc);
}

void KSEmail::readRecipients(json_t* document, const char* key,
                             void (KSEmail::*add)(const std::shared_ptr<KSContact>&)) {
  json_t* array = json_object_get(document, key);
  if (!json_is_array(array)) return;
  size_t index;
  json_t* element;
  json_array_foreach(array, index, element) {
    if (!json_is_object(element)) continue;
    auto contact = KSContact::findOrCreate(element, context());
    if (!contact) continue;
    (this->*add)(contact);
    // The people the user writes to are the likeliest completions.
    contact->addToScore(get_SENT() ? 10 : 1);
  }
}

void KSEmail::readBody(json_t* document) {
  json_t* stylings = json_object_get(document, "stylings");
  if (json_is_array(stylings) && json_array_size(stylings) > 0) {
    if (char* text = json_dumps(stylings, 0)) {
      set_SERVERSTYLINGS(text);
      std::free(text);
    }
  }
  if (!(get_HASFULLBODY() && !get_HASATTACHMENTS()) && json_is_true(json_object_get(document, "full_body"))) {
    set_HASFULLBODY(true);
    set_FULLBODY(get_CONVERSATION());
    set_FULLBODYISHTML(get_CONVERSATIONISHTML());
  }
  if (!get_HASATTACHMENTS()) {
    const std::string& text = get_CONVERSATION();
    if (text.find("<kestrun-attach") != std::string::npos || text.find("<kestrun-img") != std::string::npos ||
        text.find("class=\"ks-hv-attachment-link\"") != std::string::npos) {
      set_HASATTACHMENTS(true);
    }
  }
}

void KSEmail::joinParentItem() {
  auto self = std::static_pointer_cast<KSEmail>(shared_from_this());
  auto item = parentItem();
  if (item && item->itemID() == get_PARENTITEMID()) {
    if (get_LOADEDONCE()) {
      item->updateThreadFromEmail(*this);
    } else {
      item->addEmail(self);
    }
    return;
  }
  if (auto found = KSItem::fetch(get_PARENTITEMID(), context())) {
    setParentItem(found);
    found->addEmail(self);
  }
}

void KSEmail::save() {
  const std::string& emailID = get_EMAILID();
  if (isInserted()) {
    // The links are keyed by the e-mail's id; without one there is nothing to write.
    if (emailID.empty()) return;
    context()->insertEmail(*this);
    if (auto list = to()) {
      for (const auto& contact : *list) context()->addToRecipient(contact->contactID(), emailID);
    }
    if (auto list = cc()) {
      for (const auto& contact : *list) context()->addCcRecipient(contact->contactID(), emailID);
    }
    if (auto list = bcc()) {
      for (const auto& contact : *list) context()->addBccRecipient(contact->contactID(), emailID);
    }
  } else if (isUpdated()) {
    context()->updateEmail(*this);
  } else if (isDeleted()) {
    context()->removeEmail(emailID);
    context()->removeToRecipients(emailID);
    context()->removeCcRecipients(emailID);
    context()->removeBccRecipients(emailID);
  }
}

json_t* KSEmail::toJson() {
  json_t* document = envelope();
  json_object_set_new(document, "created_at", json_integer(get_CREATEDAT()));
  set_text(document, "conversation", get_CONVERSATION());
  set_text(document, "full_conversation", get_FULLCONVERSATION());
  set_flag(document, "is_html", get_CONVERSATIONISHTML());
  set_text(document, "full_body", get_FULLBODY());
  set_text(document, "p_id", get_PARENTITEMID());
  set_text(document, "preview", get_PREVIEW());
  set_flag(document, "read", get_READ());
  set_flag(document, "sent", get_SENT());
  set_flag(document, "starred", get_STARRED());
  set_text(document, "subject", get_SUBJECT());
  if (auto contact = replyTo()) json_object_set_new(document, "reply_to", contact->toJson());
  if (auto contact = from()) json_object_set_new(document, "from", contact->toJson());
  set_list(document, "to", contacts_json(to()));
  set_list(document, "cc", contacts_json(cc()));
  set_list(document, "bcc", contacts_json(bcc()));
  return document;
}

json_t* KSEmail::changesToJson(const std::unordered_set<std::string>& properties) {
  json_t* document = envelope();
  set_text(document, "p_id", get_PARENTITEMID());
  for (const std::string& name : properties) {
    if (name == "createdAt")
      json_object_set_new(document, "created_at", json_integer(get_CREATEDAT()));
    else if (name == "conversation")
      set_text(document, "conversation", get_CONVERSATION());
    else if (name == "fullConversation")
      set_text(document, "full_conversation", get_FULLCONVERSATION());
    else if (name == "conversationIsHTML")
      set_flag(document, "is_html", get_CONVERSATIONISHTML());
    else if (name == "fullBody")
      set_text(document, "full_body", get_FULLBODY());
    else if (name == "parentItemID")
      set_text(document, "p_id", get_PARENTITEMID());
    else if (name == "preview")
      set_text(document, "preview", get_PREVIEW());
    else if (name == "read")
      set_flag(document, "read", get_READ());
    else if (name == "sent")
      set_flag(document, "sent", get_SENT());
    else if (name == "starred")
      set_flag(document, "starred", get_STARRED());
    else if (name == "subject")
      set_text(document, "subject", get_SUBJECT());
  }
  return document;
}

KSEmail::Contacts KSEmail::recipients(Contacts& cache,
                                      Contacts (KestrunContext::*fetch)(const std::string&)) {
  if (cache || get_EMAILID().empty()) return cache;
  // An e-mail new to the database has no stored links yet: asking for them would cost three
  // queries per e-mail of a snapshot and find nothing.
  if (isInserted() && context()->kind() == KestrunContext::kPersistentKind) {
    cache = std::make_shared<std::vector<std::shared_ptr<KSContact>>>();
  } else {
    cache = (context()->*fetch)(get_EMAILID());
  }
  return cache;
}

KSEmail::Contacts KSEmail::to() { return recipients(to_, &KestrunContext::toContactsForEmail); }
KSEmail::Contacts KSEmail::cc() { return recipients(cc_, &KestrunContext::ccContactsForEmail); }
KSEmail::Contacts KSEmail::bcc() { return recipients(bcc_, &KestrunContext::bccContactsForEmail); }

std::shared_ptr<KSContact> KSEmail::from() {
  if (!from_ && !get_MFROMID().empty()) from_ = context()->fetchContact(get_MFROMID());
  return from_;
}

std::shared_ptr<KSContact> KSEmail::replyTo() {
  if (!replyTo_ && !get_MREPLYTOID().empty()) replyTo_ = context()->fetchContact(get_MREPLYTOID());
  return replyTo_;
}

std::shared_ptr<KSItem> KSEmail::parentItem() {
  std::shared_ptr<KSItem> item = parentItem_.lock();
  if (!item && !get_PARENTITEMID().empty()) {
    item = context()->fetchItem(get_PARENTITEMID());
    parentItem_ = item;
  }
  return item;
}

void KSEmail::addRecipient(Contacts list, const std::shared_ptr<KSContact>& contact) {
  // A context that keeps no links answers null; the e-mail then holds its recipients itself.
  if (!list) return;
  for (const auto& present : *list) {
    if (present->contactID() == contact->contactID()) return;
  }
  list->push_back(contact);
  checkFirstChange();
}

void KSEmail::addTo(const std::shared_ptr<KSContact>& contact) { addRecipient(to(), contact); }
void KSEmail::addCc(const std::shared_ptr<KSContact>& contact) { addRecipient(cc(), contact); }
void KSEmail::addBcc(const std::shared_ptr<KSContact>& contact) { addRecipient(bcc(), contact); }

void KSEmail::setFrom(const std::shared_ptr<KSContact>& contact) {
  from_ = contact;
  set_MFROMID(contact ? contact->id() : std::string());
  checkFirstChange();
}

void KSEmail::setReplyTo(const std::shared_ptr<KSContact>& contact) {
  replyTo_ = contact;
  set_MREPLYTOID(contact ? contact->id() : std::string());
  checkFirstChange();
}

void KSEmail::setParentItem(const std::shared_ptr<KSItem>& item) {
  parentItem_ = item;
  set_PARENTITEMID(item ? item->itemID() : std::string());
  checkFirstChange();
}

std::string KSEmail::emailConversation() const {
  if (!get_CONVERSATION().empty()) return get_CONVERSATION();
  if (get_HASFULLBODY() && get_FULLBODY().empty()) return LOCALIZED_STRING(kNoContent, kNoContentComment);
  return "...";
}

bool KSEmail::isNewIncomingInboxEmail() {
  auto item = parentItem();
  if (item && item->state() != libkestrun::ItemState::Inbox) return false;
  return isInserted() && !get_SENT() &&
         libkestrun::sync_status_manager_is_new_email_timestamp(get_CREATEDAT());
}

void KSEmail::updateParentItem(const std::string& searchID, KestrunContext* context) {
  auto item = parentItem();
  if (item && item->itemID() == get_PARENTITEMID()) {
    item->setSearchID(searchID);
    item->updateThreadFromEmail(*this);
    return;
  }
  KSItem::itemForSearchEmail(std::static_pointer_cast<KSEmail>(shared_from_this()), searchID, context);
}

std::shared_ptr<KSEmail> KSEmail::fetch(const std::string& emailID, KestrunContext* context) {
  if (!context->emailExists(emailID)) return nullptr;
  return context->fetchEmail(emailID);
}

std::shared_ptr<std::vector<std::shared_ptr<KSEmail>>> KSEmail::emailsForItem(const std::string& itemID,
                                                                              KestrunContext* context) {
  return context->emailsWithParentItem(itemID);
}

std::shared_ptr<std::vector<std::shared_ptr<KSEmail>>> KSEmail::emailsForAccount(const std::string& accountID,
                                                                                 KestrunContext* context) {
  return context->emailsForAccount(accountID);
}

json_t* KSEmail::makeSendDocument(const std::string& emailID, const std::string& subject,
                                  const std::string& conversation, const std::string& fullBody,
                                  json_t* sender, json_t* to, json_t* cc, json_t* bcc,
                                  const std::string& accountID, const std::string& signature,
                                  const std::string& parentItemID, libkestrun::EmailSendType sendType) {
  const bool isFullBody = conversation.empty();
  const std::string text = isFullBody ? fullBody : conversation;
  const std::string longText = isFullBody ? fullBody : conversation + signature;

  std::string preview = libkestrun::utf8_prefix(libkestrun::Utility::html_to_text(text), kPreviewBytes);
  if (preview.empty()) {
    using libkestrun::EmailSendType;
    if (!text.empty())
      preview = "...";
    else if (sendType == EmailSendType::Reply || sendType == EmailSendType::ReplyAll)
      preview = "reply body contents";
    else if (sendType == EmailSendType::Forward)
      preview = "forwarded message";
    else
      preview = LOCALIZED_STRING(kNoContent, kNoContentComment);
  }

  json_t* document = json_object();
  set_text(document, "_id", emailID);
  json_object_set_new(document, "created_at", json_integer(libkestrun::Utility::now_ms()));
  set_text(document, "acct_id", accountID);
  set_text(document, "conversation", text);
  set_text(document, "full_conversation", longText);
  set_text(document, "preview", preview);
  json_object_set_new(document, "read", json_true());
  set_text(document, "p_id", parentItemID);
  json_object_set_new(document, "send_state", json_integer(static_cast<json_int_t>(EmailSendState::Sending)));
  json_object_set_new(document, "sent", json_true());
  set_text(document, "subject", subject);
  if (sender != nullptr) {
    json_object_set(document, "reply_to", sender);
    json_object_set(document, "from", sender);
  }
  json_object_set_new(document, "full_body", json_boolean(isFullBody));
  json_object_set_new(document, "is_html", json_true());
  set_list(document, "to", to);
  set_list(document, "cc", cc);
  set_list(document, "bcc", bcc);
  return document;
}

bool KSEmail::CreatedAtAsc::operator()(const std::shared_ptr<KestrunObject>& a,
                                       const std::shared_ptr<KestrunObject>& b) const {
  return static_cast<const KSEmail&>(*a).get_CREATEDAT() < static_cast<const KSEmail&>(*b).get_CREATEDAT();
}
