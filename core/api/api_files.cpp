// Bodies, attachments and files. Every method runs on the caller's thread and hands the work to the
// resource manager, the attachment manager, the empty-inbox manager or the file utility, which
// start their own transfers; the facade adds only the text put before a quoted body and the
// staging of an attachment that lies outside the core's data directory.
#include <filesystem>
#include <system_error>

#include "brelt/uuid.h"
#include "core/api/api.h"
#include "core/data/consumer_center.h"
#include "core/locales/texts.h"
#include "core/model/ks_email.h"
#include "platform/localization/localization.h"

namespace libkestrun {

namespace {

namespace fs = std::filesystem;

constexpr char kForwardComment[] = "Message to indicate to the user that what follows is a forwarded message";

// The reply's line above the quoted text, from the e-mail in the consumer context; empty when the
// store does not hold the e-mail (a reply can still be written, only without that line).
std::string quote_header(const std::string& email_id) {
  std::string header;
  KestrunConsumerCenter::withDBContext([&](DBContext& context) {
    if (std::shared_ptr<KSEmail> email = context.fetchEmail(email_id))
      header = email->generateReplyBodyText(true);
  });
  return header;
}

// True when `path`, with its links resolved, names something inside `directory`.
bool lies_inside(const std::string& path, const std::string& directory) {
  std::error_code error;
  const fs::path file = fs::weakly_canonical(path, error);
  if (error) return false;
  const fs::path root = fs::weakly_canonical(directory, error);
  if (error || root.empty()) return false;
  const fs::path relative = file.lexically_relative(root);
  return !relative.empty() && *relative.begin() != ".." && *relative.begin() != ".";
}

// A copy of the user's file inside the data directory, for the attachment manager to move into
// place; "" when the copy fails (nothing is then left behind).
std::string stage_copy(const std::string& path, const std::string& data_directory) {
  const std::string staged = data_directory + "/outgoing-" + brelt::generate_uuid_upper();
  std::error_code error;
  if (fs::copy_file(path, staged, fs::copy_options::none, error)) return staged;
  fs::remove(staged, error);
  return "";
}

// What goes before the quoted text: see download_plain_full_body in api.h.
std::string quoting_prefix(PrefManager& prefs, const std::string& account_id, const std::string& email_id,
                           EmailSendType send_type) {
  const std::string signature = prefs.getEmailSignature(account_id);
  switch (send_type) {
    case EmailSendType::Reply:
    case EmailSendType::ReplyAll:
      return signature + "\n\n" + quote_header(email_id) + "\n\n";
    case EmailSendType::Forward:
      return signature + "\n\n" + LOCALIZED_STRING(text::kBeginForwardedMessage, kForwardComment) + "\n\n" +
             quote_header(email_id) + "\n\n";
    default:
      return "";
  }
}

}  // namespace

void Api::download_plain_full_body(const std::string& account_id, const std::string& email_id,
                                   int32_t conversation_length, EmailSendType send_type,
                                   ResourceCallback success, ResourceCallback failure) {
  managers_.email_resource_manager->downloadPlainFullBodyForEmail(
      account_id, email_id, conversation_length,
      quoting_prefix(*managers_.pref_manager, account_id, email_id, send_type), std::move(success),
      std::move(failure));
}

void Api::download_full_body(const std::string& account_id, const std::string& email_id,
                             int32_t conversation_length, ResourceCallback success,
                             ResourceCallback failure) {
  managers_.email_resource_manager->downloadFullBodyForEmail(account_id, email_id, conversation_length,
                                                             std::move(success), std::move(failure));
}

void Api::download_attachment(const std::string& account_id, const std::string& email_id,
                              const std::string& attachment_id, const std::string& file_name, bool is_image,
                              ResourceCallback success, ResourceCallback failure,
                              ResourceCallback resource_missing, ResourceCallback progress) {
  managers_.email_resource_manager->downloadAttachment(account_id, email_id, attachment_id, file_name,
                                                       is_image, std::move(success), std::move(progress),
                                                       std::move(resource_missing), std::move(failure));
}

void Api::download_sent_attachment(const std::string& account_id, const std::string& email_id,
                                   const std::string& attachment_id, const std::string& file_name,
                                   bool is_image, ResourceCallback success, ResourceCallback failure,
                                   ResourceCallback resource_missing, ResourceCallback progress) {
  managers_.email_resource_manager->downloadSentAttachment(account_id, email_id, attachment_id, file_name,
                                                           is_image, std::move(success), std::move(progress),
                                                           std::move(resource_missing), std::move(failure));
}

void Api::download_harnvik_attachment(const std::string& account_id, const std::string& email_id,
                                      const std::string& attachment_id, const std::string& file_name,
                                      bool is_image, ResourceCallback success, ResourceCallback failure,
                                      ResourceCallback resource_missing, ResourceCallback progress) {
  managers_.email_resource_manager->downloadHarnvikAttachment(
      account_id, email_id, attachment_id, file_name, is_image, std::move(success), std::move(progress),
      std::move(resource_missing), std::move(failure));
}

std::string Api::send_attachment(const std::string& attachment_id, const std::string& path,
                                 const std::string& file_name, const std::string& email_id,
                                 const std::string& account_id, ResourceCallback success,
                                 ResourceCallback failure) {
  AttachmentManager& attachments = *managers_.attachment_manager;
  // The attachment manager moves the file it is given. A file the core prepared in its data
  // directory is moved; the user's own file elsewhere is copied, and the original stays.
  const std::string data_directory = managers_.file_manager->getDataDirectory();
  const bool staged = !lies_inside(path, data_directory);
  const std::string source = staged ? stage_copy(path, data_directory) : path;
  if (!attachments.addAttachment(source, account_id, email_id, attachment_id, file_name) && staged &&
      !source.empty()) {
    std::error_code error;
    fs::remove(source, error);
  }
  const std::string stored = attachments.pathForAttachment(account_id, email_id, attachment_id);
  return managers_.email_resource_manager->uploadAttachment(
      attachment_id, stored, file_name, email_id, account_id, true, std::move(success), std::move(failure));
}

ZeroInboxData Api::get_zero_inbox_data() { return managers_.zero_inbox_manager->get_current_photo(); }

bool Api::attachment_exists(const std::string& account_id, const std::string& email_id,
                            const std::string& attachment_id, const std::string& file_name, bool migrate) {
  return managers_.attachment_manager->attachmentExists(account_id, email_id, attachment_id, file_name,
                                                        migrate);
}

std::string Api::path_for_attachment(const std::string& account_id, const std::string& email_id,
                                     const std::string& attachment_id) {
  return managers_.attachment_manager->pathForAttachment(account_id, email_id, attachment_id);
}

std::shared_ptr<std::vector<std::string>> Api::attachments_for_email(const std::string& account_id,
                                                                     const std::string& email_id) {
  return managers_.attachment_manager->attachmentsForEmail(account_id, email_id);
}

std::shared_ptr<std::vector<std::string>> Api::image_attachments_for_email(const std::string& account_id,
                                                                           const std::string& email_id) {
  return managers_.attachment_manager->imageAttachmentsForEmail(account_id, email_id);
}

std::string Api::attachments_directory() { return managers_.attachment_manager->attachmentsDirectory(); }

bool Api::email_has_attachments(const std::string& account_id, const std::string& email_id) {
  return managers_.attachment_manager->emailHasAttachments(account_id, email_id);
}

void Api::clear_resources_from_email(const std::string& account_id, const std::string& email_id) {
  managers_.attachment_manager->removeAttachmentsForEmail(email_id, account_id);
}

bool Api::item_at_path_is_image(const std::string& path) { return file_utility_->is_image_file(path); }

bool Api::create_directory(const std::string& path) { return file_utility_->ensure_directory(path); }

}  // namespace libkestrun
