// A person the user has exchanged mail with: one row of KSCONTACT, made the first time an address
// is seen as the sender, reply-to or a recipient of an e-mail. A contact is its address and name
// together (id: lower-case address, "/", name), so one address under two names is two contacts.
// Contacts give the names shown for people, the participants of a conversation's summary and the
// candidates of address completion, weighted by their score.
//
// Setters store only a differing value and report the first changed column to the context.
// Contacts belong to their context's thread and take no lock.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/model/kestrun_object.h"
#include "core/store/contact_record.h"
#include "core/store/cpp_sqlite3_query.h"

class KSContact : public KestrunObject {
 public:
  using Emails = std::shared_ptr<std::vector<std::shared_ptr<KSEmail>>>;

  // A new contact (inserted) with the defaults and no changed column.
  explicit KSContact(KestrunContext* context);
  // A contact loaded from the current row of a KSCONTACT query.
  KSContact(KestrunContext* context, CppSQLite3Query& query);

  static std::string primaryKey() { return "CONTACTID"; }

  void setDefaults() override;
  std::string id() const override { return row_.get_CONTACTID(); }
  std::string tableName() const override { return libkestrun::internal::LocalContact::table_name; }
  // String values of "contactID", "address" and "name"; anything else is ignored.
  void setFromServerKey(const std::string& key, json_t* value) override;
  void save() override;
  void clearChangedFields() override { clearChanged(row_); }
  size_t changedColumnCount() const override { return countChanged(row_); }
  // The display names follow the name.
  void finishServerDocument(json_t* document) override;
  std::string idKey() const override { return "contactID"; }
  // Exactly {"address", "name"}: the form e-mail documents use for people.
  json_t* toJson() override;
  json_t* changesToJson(const std::unordered_set<std::string>& properties) override;

  const libkestrun::internal::LocalContact& row() const { return row_; }

  const std::string& contactID() const { return row_.get_CONTACTID(); }
  // Also always reports the contact, as the id of a new contact is set after its other columns.
  void setContactID(std::string id);
  const std::string& emailAddress() const { return row_.get_EMAILADDRESS(); }
  void setEmailAddress(std::string address);
  const std::string& name() const { return row_.get_NAME(); }
  void setName(std::string name);
  const std::string& shortDisplayName() const { return row_.get_SHORTDISPLAYNAME(); }
  void setShortDisplayName(std::string name);
  const std::string& fullDisplayName() const { return row_.get_FULLDISPLAYNAME(); }
  void setFullDisplayName(std::string name);
  bool isPriorityAccess() const { return row_.get_ISPRIORITYACCESS(); }
  void setIsPriorityAccess(bool value);
  int32_t score() const { return static_cast<int32_t>(row_.get_SCORE()); }
  void setScore(int32_t score);
  void addToScore(int32_t n) { setScore(score() + n); }

  // SHORTDISPLAYNAME from the name's short form, the address when that is empty or a blank.
  void updateShortDisplayName();
  // FULLDISPLAYNAME from the name ("Last, First" becomes "First Last"), else the address.
  void updateFullDisplayName();

  // "Full Name <address>", and the same with the address as a mailto link.
  std::string nameWithAddress() const;
  std::string nameWithAddressHtml() const;
  // {address: participant}: the entry of a conversation summary, "Me" and "Note to self" for one
  // of the user's own addresses; "sent_at" only when `sentAt` is after 1970. A new reference.
  json_t* generateShortenedFromRepresentation(int64_t sentAt, bool isOriginalParticipant) const;

  // The e-mails of the contact by role, read once and read again only after one of them went
  // away (null while the contact has no id). The contact does not keep its e-mails alive: an
  // e-mail keeps its people, and the reverse would make a cycle that outlives the context's cache.
  Emails bccEmails();
  Emails ccEmails();
  Emails toEmails();
  Emails fromEmails();
  Emails replyToEmails();

  static std::shared_ptr<KSContact> fetch(const std::string& contactID, KestrunContext* context);
  static std::shared_ptr<KSContact> fetchForEmailAddress(const std::string& address, KestrunContext* context);
  static std::shared_ptr<std::vector<std::shared_ptr<KSContact>>> contactsForEmailAddress(
      const std::string& address, KestrunContext* context);
  static std::shared_ptr<KSContact> fetchForAddressAndName(const std::string& address,
                                                           const std::string& name, KestrunContext* context);
  // The contact of an e-mail's {"address", "name"} object, created when missing; null when the
  // address is missing or not an e-mail address.
  static std::shared_ptr<KSContact> findOrCreate(json_t* person, KestrunContext* context);

  // Completion order: the higher score first; equal scores by id, so that the order is strict and
  // safe for sorting (a comparison true both ways breaks std::sort).
  static bool score_desc(const std::shared_ptr<KestrunObject>& a, const std::shared_ptr<KestrunObject>& b);

 private:
  // One role's e-mails as last read; `read` tells an empty list from one never read.
  struct EmailList {
    bool read = false;
    std::vector<std::weak_ptr<KSEmail>> emails;
  };

  Emails emails(EmailList& cache, Emails (KestrunContext::*fetch)(const std::string&));

  libkestrun::internal::LocalContact row_;
  EmailList bccEmails_;
  EmailList ccEmails_;
  EmailList toEmails_;
  EmailList fromEmails_;
  EmailList replyToEmails_;
};
