// One e-mail's read and starred flags, its report to the server and its downloaded full body.
#include <jansson.h>

#include "core/data/data_writer_routines.h"
#include "core/services/email_resource_manager.h"
#include "core/sync/kestrun_object_server_client.h"

using namespace libkestrun::internal;

namespace libkestrun::internal {

namespace {

enum class Flag { Read, Starred };

// Sets one flag of the e-mail (READ or STARRED), folds it into the conversation summary and sends
// it unless attachments of the e-mail still wait to upload. False when the flag had that value.
bool setFlag(const std::shared_ptr<KSEmail>& email, Flag flag, bool value, bool sendNow) {
  if (!email) return false;
  const bool read = flag == Flag::Read;
  if ((read ? email->get_READ() : email->get_STARRED()) == value) return false;
  if (read) {
    email->set_READ(value);
  } else {
    email->set_STARRED(value);
  }
  if (std::shared_ptr<KSItem> item = email->parentItem()) item->updateThreadFromEmail(*email);
  if (email_resource_manager_has_no_queued_uploads_for_email(email->id())) {
    json_t* changes = email->changesToJson({read ? "read" : "starred"});
    kestrun_object_server_client_update_email(changes, sendNow);
    json_decref(changes);
  }
  return true;
}

}  // namespace

std::shared_ptr<KSEmail> internalFetchEmail(const std::string& emailId, KestrunContext& context) {
  return context.fetchEmail(emailId);
}

bool internalReadEmail(const std::shared_ptr<KSEmail>& email, bool sendNow) {
  return setFlag(email, Flag::Read, true, sendNow);
}

bool internalUnstarEmail(const std::shared_ptr<KSEmail>& email, bool sendNow) {
  return setFlag(email, Flag::Starred, false, sendNow);
}

void internalStarEmail(const std::shared_ptr<KSEmail>& email) { setFlag(email, Flag::Starred, true, true); }

}  // namespace libkestrun::internal

namespace {

// Queues a task that runs `change` on the e-mail, when it exists.
void withEmail(const std::string& emailId, std::function<void(const std::shared_ptr<KSEmail>&)> change,
               KestrunDataWriter::Completion completion) {
  performWriterTask(
      [emailId, change = std::move(change)](Ids&, DBContext& context) {
        if (std::shared_ptr<KSEmail> email = internalFetchEmail(emailId, context)) change(email);
      },
      std::move(completion));
}

}  // namespace

void KestrunDataWriter::readEmail(const std::string& emailId, Completion completion) {
  withEmail(
      emailId, [](const auto& email) { internalReadEmail(email, true); }, std::move(completion));
}

void KestrunDataWriter::unreadEmail(const std::string& emailId, Completion completion) {
  withEmail(
      emailId, [](const auto& email) { setFlag(email, Flag::Read, false, true); }, std::move(completion));
}

void KestrunDataWriter::starEmail(const std::string& emailId, Completion completion) {
  withEmail(
      emailId, [](const auto& email) { internalStarEmail(email); }, std::move(completion));
}

void KestrunDataWriter::unstarEmail(const std::string& emailId, Completion completion) {
  withEmail(
      emailId, [](const auto& email) { internalUnstarEmail(email, true); }, std::move(completion));
}

void KestrunDataWriter::flagEmail(const std::string& emailId, const std::string& reason,
                                  Completion completion) {
  withEmail(
      emailId,
      [reason](const auto& email) {
        kestrun_object_server_client_flag_email(email->get_EMAILID(), email->accountID(), reason);
      },
      std::move(completion));
}

void KestrunDataWriter::saveFullBodyText(const std::string& text, const std::string& emailId,
                                         Completion completion) {
  withEmail(
      emailId,
      [text](const auto& email) {
        email->set_FULLBODY(text);
        email->set_HASFULLBODY(true);
        email->set_FULLBODYISHTML(true);
      },
      std::move(completion));
}
