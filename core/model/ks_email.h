// One e-mail of a conversation: a model object over one row of KSEMAIL, whose PARENTITEMID names
// its conversation item. The e-mail is its own row record (the column accessors are the row's);
// it reports its first changed column to its context like an item does.
//
// Its people are contacts: the sender and reply-to address by contact id in the row, the
// recipients as links in TOEMAILS, CCEMAILS and BCCEMAILS. They are taken from the first server
// document of the e-mail only (LOADEDONCE); later documents change columns, not people. The
// relation caches are filled by whichever reader asks first and kept for the object's life.
//
// E-mails belong to their context's thread (the core thread) and take no lock.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/model/db_kestrun_object.h"
#include "core/model/ks_email_account.h"
#include "core/store/cpp_sqlite3_query.h"
#include "core/store/email_record.h"
#include "core/store/model_enums.h"

class KSEmail : public DBKestrunObject, public libkestrun::internal::Email {
 public:
  using Contacts = std::shared_ptr<std::vector<std::shared_ptr<KSContact>>>;

  // A new e-mail with the defaults of a received message and no changed column.
  explicit KSEmail(KestrunContext* context);
  // An e-mail loaded from the current row of a KSEMAIL query.
  KSEmail(KestrunContext* context, CppSQLite3Query& query);
  // A new e-mail over a copy of a row; no defaults are applied.
  KSEmail(KestrunContext* context, const libkestrun::internal::Email& record);

  static std::string primaryKey() { return "EMAILID"; }

  void setDefaults() override;
  std::string id() const override { return get_EMAILID(); }
  std::string tableName() const override { return libkestrun::internal::Email::table_name; }
  // The keys of an e-mail document, each only with its JSON type; others are ignored.
  void setFromServerKey(const std::string& key, json_t* value) override;
  // Send state, people (first document only), stylings and full body, attachment marker, the
  // place in the conversation item, sync data, loaded once.
  void finishServerDocument(json_t* document) override;
  // Insert with the recipient links when new, else update the row when changed, else remove the
  // row and its links when deleted. An e-mail without an id is never written.
  void save() override;
  void clearChangedFields() override { clearChanged(*this); }
  size_t changedColumnCount() const override { return countChanged(*this); }
  std::string idKey() const override { return "_id"; }
  // The whole e-mail as a server document; flags are written as 0 or 1.
  json_t* toJson() override;
  // The envelope, "p_id", and one key per camel-case property named.
  json_t* changesToJson(const std::unordered_set<std::string>& properties) override;

  const std::string& accountID() const override { return get_ACCOUNTID(); }
  int64_t savedAt() const override { return get_SAVEDAT(); }
  void setSyncData(std::string text) override { set_SYNCDATA(std::move(text)); }
  const std::string& syncData() const override { return get_SYNCDATA(); }
  bool loadedOnce() const override { return get_LOADEDONCE(); }
  void setLoadedOnce(bool value) override { set_LOADEDONCE(value); }

  libkestrun::EmailSendState sendState() const { return get_SENDSTATE(); }

  // Relations. The recipient lists are read once (null while the e-mail has no id); the sender,
  // reply-to and item are kept only once found, so a miss is asked again next time. The item is
  // not owned: once nothing else holds it, it is fetched again.
  Contacts to();
  Contacts cc();
  Contacts bcc();
  std::shared_ptr<KSContact> from();
  std::shared_ptr<KSContact> replyTo();
  std::shared_ptr<KSItem> parentItem();
  // Appends a contact not yet in the list (by contact id). Nothing for an e-mail without an id.
  void addTo(const std::shared_ptr<KSContact>& contact);
  void addCc(const std::shared_ptr<KSContact>& contact);
  void addBcc(const std::shared_ptr<KSContact>& contact);
  void setFrom(const std::shared_ptr<KSContact>& contact);
  void setReplyTo(const std::shared_ptr<KSContact>& contact);
  void setParentItem(const std::shared_ptr<KSItem>& item);

  // The text to show for the body: CONVERSATION, else "This message has no content." for a known
  // empty body, else "...".
  std::string emailConversation() const;

  // --- Texts and replies (ks_email_texts.cpp) ---
  // SUBJECT, or "(No Subject)" when it is empty.
  std::string emailSubject() const;
  // The subject begins with "Fwd:", "FWd:", "FWD:" or "fwd:" (case-sensitive).
  bool isForward() const;
  // SUBJECT when it begins with "Re:", "RE:" or "re:", else "Re: " + SUBJECT.
  std::string generateReplySubject() const;
  // SUBJECT when isForward(), else "Fwd: " + SUBJECT.
  std::string generateForwardSubject() const;
  // The line above a quoted e-mail: "On <date> at <time>, <sender>, wrote:" in the current
  // locale, the sender as "Name <address>" or, for HTML, with the address as a mailto link; the
  // sender part is empty when the e-mail has no sender.
  std::string generateReplyBodyText(bool plainText);
  // Empties our inline image and attachment tags in CONVERSATION, FULLCONVERSATION and FULLBODY
  // (the tags stay, their content goes) before the e-mail is sent.
  void processAttachmentTags();
  // The TO list of a reply from `ownAddress`: the reply-to contact (else the sender); when the
  // user wrote the e-mail, its own TO list (the same vector), or the user when it had no
  // recipient at all. Empty when the e-mail has neither a reply-to nor a sender.
  Contacts generateToContactsForEmailReply(const std::string& ownAddress);
  // The CC list of a reply all: for the user's own e-mail with recipients, its CC list (the same
  // vector); otherwise every TO, then CC, contact whose address is not one of the account's
  // addresses or aliases.
  Contacts generateCcContactsForEmailReply(const std::string& ownAddress);
  // The account or alias a reply is sent from: the alias that received the e-mail when the
  // account's own address did not; null when the user has no account of ACCOUNTID.
  std::shared_ptr<KSEmailAccount> generateUserResponseFromEmailAccount();

  // True for an e-mail that has just arrived in the inbox: its item is absent or in the inbox,
  // the e-mail is new and not sent by the user, and its time passes the new-mail threshold.
  bool isNewIncomingInboxEmail();
  // Files a cloud-search e-mail under its item in the memory context, building the search-only
  // item when there is none.
  void updateParentItem(const std::string& searchID, KestrunContext* context);

  static std::shared_ptr<KSEmail> fetch(const std::string& emailID, KestrunContext* context);
  static std::shared_ptr<std::vector<std::shared_ptr<KSEmail>>> emailsForItem(const std::string& itemID,
                                                                              KestrunContext* context);
  static std::shared_ptr<std::vector<std::shared_ptr<KSEmail>>> emailsForAccount(const std::string& accountID,
                                                                                 KestrunContext* context);
  static std::string generateID() { return KestrunObject::generateID(); }

  // The document of an outgoing e-mail, applied as an "email" document: read, sent, sending,
  // with the sender as "from" and "reply_to". `sender` is borrowed; the three recipient arrays
  // are taken over (null or empty ones are left out). The preview is at most 100 bytes and ends
  // on a character boundary. A new reference.
  static json_t* makeSendDocument(const std::string& emailID, const std::string& subject,
                                  const std::string& conversation, const std::string& fullBody,
                                  json_t* sender, json_t* to, json_t* cc, json_t* bcc,
                                  const std::string& accountID, const std::string& signature,
                                  const std::string& parentItemID, libkestrun::EmailSendType sendType);

  // The e-mail queries' order: CREATEDAT ascending, equal times equivalent.
  struct CreatedAtAsc {
    bool operator()(const std::shared_ptr<KestrunObject>& a, const std::shared_ptr<KestrunObject>& b) const;
  };
  // The change filter of a conversation's e-mail query: (old e-mail, new e-mail) of one id, true
  // when a column other than LOADEDONCE, SAVEDAT and SYNCDATA differs (those follow every save and
  // sync and are never shown).
  struct ChangeIsUserVisible {
    bool operator()(const std::shared_ptr<KestrunObject>& old_email,
                    const std::shared_ptr<KestrunObject>& new_email) const;
  };

 private:
  void registerChangeListener();
  void checkFirstChange();
  Contacts recipients(Contacts& cache, Contacts (KestrunContext::*fetch)(const std::string&));
  void addRecipient(Contacts list, const std::shared_ptr<KSContact>& contact);
  // Steps of finishing a document.
  void readSendState(json_t* document);
  void readPeople(json_t* document);
  void readRecipients(json_t* document, const char* key,
                      void (KSEmail::*add)(const std::shared_ptr<KSContact>&));
  void readBody(json_t* document);
  void joinParentItem();

  Contacts bcc_;
  Contacts cc_;
  Contacts to_;
  std::shared_ptr<KSContact> from_;
  std::shared_ptr<KSContact> replyTo_;
  // Weak: the item keeps its e-mails, and a strong pointer back would keep both alive for good.
  std::weak_ptr<KSItem> parentItem_;
};
