// Drafts and sending e-mail.
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/accounts/account_manager.h"
#include "core/data/data_writer_routines.h"
#include "core/foundation/pref_manager.h"
#include "core/foundation/utility.h"
#include "core/services/email_resource_manager.h"
#include "core/services/sync_status_manager.h"
#include "core/sync/kestrun_object_server_client.h"
#include "core/sync/server_client.h"
#include "core/sync/user_item_commands.h"

using libkestrun::EmailSendState;
using libkestrun::EmailSendType;
using libkestrun::internal::Draft;
using libkestrun::internal::Ids;

namespace {

// The recipient arrays of an outgoing e-mail, owned until the e-mail document takes them over; a
// task that ends early, or never runs, releases them.
class Recipients {
 public:
  Recipients(json_t* to, json_t* cc, json_t* bcc) : to_(to), cc_(cc), bcc_(bcc) {}
  ~Recipients() {
    for (json_t* list : {to_, cc_, bcc_}) json_decref(list);
  }
  Recipients(const Recipients&) = delete;
  Recipients& operator=(const Recipients&) = delete;

  // True when one of the three is an array with an element.
  bool any() const {
    for (const json_t* list : {to_, cc_, bcc_}) {
      if (json_is_array(list) && json_array_size(list) > 0) return true;
    }
    return false;
  }
  json_t* take_to() { return std::exchange(to_, nullptr); }
  json_t* take_cc() { return std::exchange(cc_, nullptr); }
  json_t* take_bcc() { return std::exchange(bcc_, nullptr); }

 private:
  json_t* to_;
  json_t* cc_;
  json_t* bcc_;
};

bool is_answer(EmailSendType type) {
  return type == EmailSendType::Reply || type == EmailSendType::ReplyAll || type == EmailSendType::Forward;
}

// Empties the attachment tags of the bodies and writes "EMAIL_SAVE" at once.
void internalSendEmail(KSEmail& email, EmailSendType type, std::optional<std::string> refEmail,
                       std::optional<std::string> refSyncData, bool fullBody) {
  email.processAttachmentTags();
  json_t* document = email.toJson();
  libkestrun::internal::kestrun_object_server_client_save_email(document, type, std::move(refEmail),
                                                                std::move(refSyncData), fullBody, true);
  json_decref(document);
}

// A new archived conversation for an outgoing e-mail, sent to the server at once; null (nothing
// made) for an empty account id.
std::shared_ptr<KSItem> makeItem(const std::string& subject, const std::string& accountID,
                                 DBContext& context) {
  json_t* document = KSItem::makeDocument(KestrunObject::generateID(), subject, accountID);
  if (document == nullptr) return nullptr;
  auto item = std::static_pointer_cast<KSItem>(
      KestrunContext::applyServerDocument(document, "item", "_id", &context));
  json_decref(document);
  if (item) {
    json_t* full = item->toJson();
    libkestrun::internal::kestrun_object_server_client_save_item(full, true);
    json_decref(full);
  }
  return item;
}

struct Outgoing {
  std::string emailID, subject, conversation, fullBody, from, associatedEmailID;
  EmailSendType sendType;
};

void runSendEmail(const Outgoing& out, Recipients& recipients, Ids& ids, DBContext& context) {
  using namespace libkestrun;
  const bool answer = is_answer(out.sendType);
  if (!answer && out.sendType != EmailSendType::NewMessage) return;

  std::shared_ptr<KSEmail> associated;
  std::string accountID;       // of the e-mail and its conversation
  std::string sendingAccount;  // whose address the e-mail goes out from
  bool fullBody = true;
  if (answer) {
    associated = internal::internalFetchEmail(out.associatedEmailID, context);
    if (!associated) return;
    accountID = associated->accountID();
    // The chosen account or one of its aliases sends; another account's choice does not.
    sendingAccount =
        account_manager_primary_account_id_for_account_id(out.from) == accountID ? out.from : accountID;
    fullBody = out.conversation.empty() && !out.fullBody.empty();
  } else {
    accountID = account_manager_primary_account_id_for_account_id(out.from);
    sendingAccount = out.from;
  }

  std::string subject = out.subject;
  std::string parentItemID;
  const EmailSendType documentType =
      answer && out.sendType != EmailSendType::Forward ? EmailSendType::Reply : out.sendType;
  if (documentType == EmailSendType::Reply) {
    subject = associated->generateReplySubject();
    parentItemID = associated->get_PARENTITEMID();
  } else {
    if (subject.empty() && associated) subject = associated->get_SUBJECT();
    auto item = makeItem(subject, accountID, context);
    if (!item) return;
    parentItemID = item->itemID();
    ids.push_back(parentItemID);
  }

  json_t* sender = account_manager_account_json(sendingAccount);
  json_t* document = KSEmail::makeSendDocument(
      out.emailID, subject, out.conversation, out.fullBody, sender, recipients.take_to(),
      recipients.take_cc(), recipients.take_bcc(), accountID,
      pref_manager_get_email_signature_to_insert(out.from), parentItemID, documentType);
  json_decref(sender);
  auto email = std::static_pointer_cast<KSEmail>(
      KestrunContext::applyServerDocument(document, "email", "_id", &context));
  json_decref(document);
  if (!email) return;

  if (out.sendType == EmailSendType::NewMessage) {
    email->set_HASFULLBODY(true);
    email->set_FULLBODY(email->get_CONVERSATION());
    email->set_FULLBODYISHTML(email->get_FULLBODY() != Utility::html_to_text(email->get_FULLBODY()));
  }

  if (internal::server_client_is_connected()) sync_status_manager_started_sending_message();
  if (email_resource_manager_queue_email_send(out.emailID, documentType, out.associatedEmailID, fullBody)) {
    std::optional<std::string> refEmail, refSyncData;
    if (associated) {
      refEmail = out.associatedEmailID;
      refSyncData = associated->syncData();
    }
    internalSendEmail(*email, documentType, std::move(refEmail), std::move(refSyncData), fullBody);
  }
  ids.push_back(out.emailID);
}

}  // namespace

void KestrunDataWriter::save_draft(const Draft& draft, Completion completion) {
  libkestrun::internal::performWriterTask(
      [draft](Ids&, DBContext& context) {
        context.insertDraft(draft);
        context.updateItemForDraft(draft);
        libkestrun::internal::server_client_send_command(std::make_unique<libkestrun::UserItemSave>(draft));
      },
      std::move(completion));
}

void KestrunDataWriter::delete_draft(const Draft& draft, Completion completion) {
  libkestrun::internal::performWriterTask(
      [draft](Ids&, DBContext& context) { libkestrun::internal::internalDeleteDraft(draft, context); },
      std::move(completion));
}

void KestrunDataWriter::sendEmail(const std::string& emailID, const std::string& subject,
                                  const std::string& conversation, const std::string& fullBody,
                                  const std::string& from, json_t* to, json_t* cc, json_t* bcc,
                                  const std::string& associatedEmailID, EmailSendType sendType,
                                  Completion completion) {
  // The arrays are ours from here on, also when the checks below turn the call down.
  auto recipients = std::make_shared<Recipients>(to, cc, bcc);
  if (!recipients->any()) return;
  if (is_answer(sendType) && associatedEmailID.empty()) return;
  if (sendType == EmailSendType::NewMessage && from.empty()) return;

  Outgoing out{emailID, subject, conversation, fullBody, from, associatedEmailID, sendType};
  libkestrun::internal::performWriterTask(
      [out = std::move(out), recipients](Ids& ids, DBContext& context) {
        runSendEmail(out, *recipients, ids, context);
      },
      std::move(completion));
}

void KestrunDataWriter::sendSavedEmail(const std::string& emailID, EmailSendType sendType,
                                       const std::optional<std::string>& associatedEmailID, bool isFullBody,
                                       Completion completion) {
  libkestrun::internal::performWriterTask(
      [emailID, sendType, associatedEmailID, isFullBody](Ids&, DBContext& context) {
        auto email = libkestrun::internal::internalFetchEmail(emailID, context);
        if (!email) return;
        if (email->sendState() != EmailSendState::Sending &&
            email->sendState() != EmailSendState::SendFailed) {
          return;
        }
        std::optional<std::string> refSyncData;
        if (!email->syncData().empty()) refSyncData = email->syncData();
        internalSendEmail(*email, sendType, associatedEmailID, std::move(refSyncData), isFullBody);
      },
      std::move(completion));
}

void KestrunDataWriter::markEmailSendFailed(const std::string& emailID, Completion completion) {
  libkestrun::internal::performWriterTask(
      [emailID](Ids& ids, DBContext& context) {
        auto email = libkestrun::internal::internalFetchEmail(emailID, context);
        if (!email || email->sendState() != EmailSendState::Sending) return;
        email->set_SENDSTATE(EmailSendState::SendFailed);
        ids.push_back(emailID);
      },
      std::move(completion));
}
