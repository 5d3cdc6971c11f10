#include "core/services/attachment_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {
ProcessInstance<AttachmentManager> instance;
}  // namespace

void attachment_manager_set_instance(std::shared_ptr<AttachmentManager> manager) {
  instance.set(std::move(manager));
}

std::string attachment_manager_attachments_directory() {
  return instance.call(&AttachmentManager::attachmentsDirectory);
}

std::string attachment_manager_icons_directory() { return instance.call(&AttachmentManager::iconsDirectory); }

void attachment_manager_rebuild_index() { instance.call(&AttachmentManager::rebuildIndex); }

void attachment_manager_clear() { instance.call(&AttachmentManager::clear); }

void attachment_manager_remove_attachments_for_email(const std::string& emailID,
                                                     const std::string& accountID) {
  instance.call(&AttachmentManager::removeAttachmentsForEmail, emailID, accountID);
}

void attachment_manager_remove_attachments_for_account(const std::string& accountID) {
  instance.call(&AttachmentManager::removeAttachmentsForAccount, accountID);
}

bool attachment_manager_add_attachment(const std::string& sourcePath, const std::string& accountID,
                                       const std::string& emailID, const std::string& attachmentID,
                                       const std::string& fileName) {
  return instance.call(&AttachmentManager::addAttachment, sourcePath, accountID, emailID, attachmentID,
                       fileName);
}

bool attachment_manager_attachment_exists(const std::string& accountID, const std::string& emailID,
                                          const std::string& attachmentID, const std::string& fileName,
                                          bool migrate) {
  return instance.call(&AttachmentManager::attachmentExists, accountID, emailID, attachmentID, fileName,
                       migrate);
}

bool attachment_manager_email_has_attachments(const std::string& accountID, const std::string& emailID) {
  return instance.call(&AttachmentManager::emailHasAttachments, accountID, emailID);
}

std::string attachment_manager_path_for_attachment(const std::string& accountID, const std::string& emailID,
                                                   const std::string& attachmentID) {
  return instance.call(&AttachmentManager::pathForAttachment, accountID, emailID, attachmentID);
}

std::shared_ptr<std::vector<std::string>> attachment_manager_attachments_for_email(
    const std::string& accountID, const std::string& emailID) {
  return instance.call(&AttachmentManager::attachmentsForEmail, accountID, emailID);
}

std::shared_ptr<std::vector<std::string>> attachment_manager_image_attachments_for_email(
    const std::string& accountID, const std::string& emailID) {
  return instance.call(&AttachmentManager::imageAttachmentsForEmail, accountID, emailID);
}

}  // namespace libkestrun
