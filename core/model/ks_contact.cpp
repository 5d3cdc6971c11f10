#include "core/model/ks_contact.h"

#include <utility>

#include "core/accounts/account_manager.h"
#include "core/foundation/ks_string.h"
#include "core/model/kestrun_context.h"
#include "core/model/ks_email.h"
#include "localization/localization.h"

namespace {

using libkestrun::KSString;

std::string string_member(json_t* object, const char* key, bool* present = nullptr) {
  json_t* value = json_object_get(object, key);
  if (present != nullptr) *present = json_is_string(value);
  if (!json_is_string(value)) return "";
  return std::string(json_string_value(value), json_string_length(value));
}

void set_text(json_t* object, const char* key, const std::string& text) {
  json_t* value = json_stringn(text.data(), text.size());
  if (value != nullptr) json_object_set_new(object, key, value);
}

}  // namespace

KSContact::KSContact(KestrunContext* context) : KestrunObject(context, false) { setDefaults(); }

KSContact::KSContact(KestrunContext* context, CppSQLite3Query& query)
    : KestrunObject(context, true), row_(query) {}

void KSContact::setDefaults() {
  row_.set_ISPRIORITYACCESS(false);
  row_.set_SCORE(0);
  clearChangedFields();
}

void KSContact::setFromServerKey(const std::string& key, json_t* value) {
  if (!json_is_string(value)) return;
  std::string text(json_string_value(value), json_string_length(value));
  if (key == "contactID")
    setContactID(std::move(text));
  else if (key == "address")
    setEmailAddress(std::move(text));
  else if (key == "name")
    setName(std::move(text));
}

void KSContact::save() {
  if (isInserted()) {
    context()->insertContact(row_);
  } else if (isUpdated()) {
    context()->updateContact(row_);
  } else if (isDeleted()) {
    context()->removeContact(row_.get_CONTACTID());
  }
}

void KSContact::finishServerDocument(json_t*) {
  updateShortDisplayName();
  updateFullDisplayName();
}

json_t* KSContact::toJson() {
  json_t* document = json_object();
  set_text(document, "address", emailAddress());
  set_text(document, "name", name());
  return document;
}

json_t* KSContact::changesToJson(const std::unordered_set<std::string>& properties) {
  json_t* document = json_object();
  if (properties.count("emailAddress") != 0) set_text(document, "address", emailAddress());
  if (properties.count("name") != 0) set_text(document, "name", name());
  return document;
}

void KSContact::setContactID(std::string id) {
  if (row_.get_CONTACTID() == id) return;
  row_.set_CONTACTID(std::move(id));
  fieldChanged("contactID");
  std::shared_ptr<KestrunObject> self = weak_from_this().lock();
  if (self) context()->objectChanged(self);
}

void KSContact::setEmailAddress(std::string address) {
  if (row_.get_EMAILADDRESS() == address) return;
  row_.set_EMAILADDRESS(std::move(address));
  fieldChanged("emailAddress");
}

void KSContact::setName(std::string name) {
  if (row_.get_NAME() == name) return;
  row_.set_NAME(std::move(name));
  fieldChanged("name");
}

void KSContact::setShortDisplayName(std::string name) {
  if (row_.get_SHORTDISPLAYNAME() == name) return;
  row_.set_SHORTDISPLAYNAME(std::move(name));
  fieldChanged("shortDisplayName");
}

void KSContact::setFullDisplayName(std::string name) {
  if (row_.get_FULLDISPLAYNAME() == name) return;
  row_.set_FULLDISPLAYNAME(std::move(name));
  fieldChanged("fullDisplayName");
}

void KSContact::setIsPriorityAccess(bool value) {
  if (row_.get_ISPRIORITYACCESS() == value) return;
  row_.set_ISPRIORITYACCESS(value);
  fieldChanged("isPriorityAccess");
}

void KSContact::setScore(int32_t score) {
  if (this->score() == score) return;
  row_.set_SCORE(score);
  fieldChanged("score");
}

void KSContact::updateShortDisplayName() {
  const std::string shortName = KSString::short_name(name());
  setShortDisplayName(shortName.empty() || shortName == " " ? emailAddress() : shortName);
}

void KSContact::updateFullDisplayName() {
  std::string full = name();
  const size_t comma = full.find(", ");
  // "Last, First" (exactly one separator, text after it) reads "First Last".
  if (comma != std::string::npos && comma + 2 < full.size() &&
      full.find(", ", comma + 2) == std::string::npos) {
    full = full.substr(comma + 2) + " " + full.substr(0, comma);
  }
  setFullDisplayName(full.empty() || full == " " ? emailAddress() : full);
}

std::string KSContact::nameWithAddress() const { return fullDisplayName() + " <" + emailAddress() + ">"; }

std::string KSContact::nameWithAddressHtml() const {
  return fullDisplayName() + " <<a href=\"mailto:" + emailAddress() + "\" target=\"_blank\">" +
         emailAddress() + "</a>>";
}

json_t* KSContact::generateShortenedFromRepresentation(int64_t sentAt, bool isOriginalParticipant) const {
  const bool currentUser = libkestrun::account_manager_has_email_address(emailAddress());
  json_t* entry = json_object();
  if (currentUser) {
    set_text(
        entry, "short_display_name",
        LOCALIZED_STRING("Me", "SHORT, label indicating that a message was sent to or by the current user"));
    set_text(
        entry, "full_display_name",
        LOCALIZED_STRING("Note to self",
                         "SHORT, title indicating that the message is a note from the user to him/herself"));
  } else {
    set_text(entry, "short_display_name", shortDisplayName());
    set_text(entry, "full_display_name", fullDisplayName());
  }
  set_text(entry, "name", name());
  json_object_set_new(entry, "is_original_participant", json_boolean(isOriginalParticipant));
  json_object_set_new(entry, "is_current_user", json_boolean(currentUser));
  if (sentAt > 0) json_object_set_new(entry, "sent_at", json_integer(sentAt));
  json_t* result = json_object();
  json_object_setn_new(result, emailAddress().data(), emailAddress().size(), entry);
  return result;
}

KSContact::Emails KSContact::emails(EmailList& cache, Emails (KestrunContext::*fetch)(const std::string&)) {
  if (contactID().empty()) return nullptr;
  if (cache.read) {
    auto list = std::make_shared<std::vector<std::shared_ptr<KSEmail>>>();
    list->reserve(cache.emails.size());
    for (const auto& weak : cache.emails) {
      auto email = weak.lock();
      if (!email) break;
      list->push_back(std::move(email));
    }
    if (list->size() == cache.emails.size()) return list;
  }
  Emails fetched = (context()->*fetch)(contactID());
  cache.read = fetched != nullptr;
  cache.emails.clear();
  if (fetched) cache.emails.assign(fetched->begin(), fetched->end());
  return fetched;
}

KSContact::Emails KSContact::bccEmails() { return emails(bccEmails_, &KestrunContext::emailsWithBccContact); }
KSContact::Emails KSContact::ccEmails() { return emails(ccEmails_, &KestrunContext::emailsWithCcContact); }
KSContact::Emails KSContact::toEmails() { return emails(toEmails_, &KestrunContext::emailsWithToContact); }
KSContact::Emails KSContact::fromEmails() { return emails(fromEmails_, &KestrunContext::emailsFromContact); }
KSContact::Emails KSContact::replyToEmails() {
  return emails(replyToEmails_, &KestrunContext::emailsWithReplyToContact);
}

std::shared_ptr<KSContact> KSContact::fetch(const std::string& contactID, KestrunContext* context) {
  if (!context->contactExists(contactID)) return nullptr;
  return context->fetchContact(contactID);
}

std::shared_ptr<KSContact> KSContact::fetchForEmailAddress(const std::string& address,
                                                           KestrunContext* context) {
  auto contacts = context->contactForEmailAddress(address);
  if (!contacts || contacts->empty()) return nullptr;
  return contacts->front();
}

std::shared_ptr<std::vector<std::shared_ptr<KSContact>>> KSContact::contactsForEmailAddress(
    const std::string& address, KestrunContext* context) {
  return context->contactsForEmailAddress(address);
}

std::shared_ptr<KSContact> KSContact::fetchForAddressAndName(const std::string& address,
                                                             const std::string& name,
                                                             KestrunContext* context) {
  return fetch(KSString::to_lower_utf8(address) + "/" + name, context);
}

std::shared_ptr<KSContact> KSContact::findOrCreate(json_t* person, KestrunContext* context) {
  bool hasAddress = false;
  bool hasName = false;
  const std::string address = string_member(person, "address", &hasAddress);
  std::string name = string_member(person, "name", &hasName);
  const std::string lowered = KSString::to_lower_utf8(address);
  if (!hasAddress || !KSString::is_valid_email(lowered)) return nullptr;
  // Without a usable name the address, in its received case, stands for it.
  std::string keyName = address;
  KSString::strip_quotes_and_breaks(name);
  if (hasName && !name.empty()) keyName = name;

  if (auto found = fetchForAddressAndName(lowered, keyName, context)) return found;

  json_t* document = json_object();
  set_text(document, "address", lowered);
  set_text(document, "name", keyName);
  set_text(document, "contactID", lowered + "/" + keyName);
  auto object = KestrunContext::applyServerDocument(document, "contact", "contactID", context);
  json_decref(document);
  return std::static_pointer_cast<KSContact>(object);
}

bool KSContact::score_desc(const std::shared_ptr<KestrunObject>& a, const std::shared_ptr<KestrunObject>& b) {
  const int32_t x = static_cast<const KSContact&>(*a).score();
  const int32_t y = static_cast<const KSContact&>(*b).score();
  if (x != y) return x > y;
  return KestrunObject::OrderOnId()(a, b);
}
