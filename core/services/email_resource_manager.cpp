#include "core/services/email_resource_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {
ProcessInstance<EmailResourceManager> instance;
}  // namespace

void email_resource_manager_set_instance(std::shared_ptr<EmailResourceManager> manager) {
  instance.set(std::move(manager));
}

void email_resource_manager_download_full_body_for_email(const std::string& accountID,
                                                         const std::string& emailID, int conversationLength,
                                                         ResourceCallback success, ResourceCallback failure) {
  instance.call(&EmailResourceManager::downloadFullBodyForEmail, accountID, emailID, conversationLength,
                std::move(success), std::move(failure));
}

void email_resource_manager_download_plain_full_body_for_email(
    const std::string& accountID, const std::string& emailID, int conversationLength,
    const std::string& prefix, ResourceCallback success, ResourceCallback failure) {
  instance.call(&EmailResourceManager::downloadPlainFullBodyForEmail, accountID, emailID, conversationLength,
                prefix, std::move(success), std::move(failure));
}

void email_resource_manager_download_attachment(const std::string& accountID, const std::string& emailID,
                                                const std::string& attachmentID, const std::string& fileName,
                                                bool isImage, ResourceCallback success,
                                                ResourceCallback progress, ResourceCallback clientError,
                                                ResourceCallback failure) {
  instance.call(&EmailResourceManager::downloadAttachment, accountID, emailID, attachmentID, fileName,
                isImage, std::move(success), std::move(progress), std::move(clientError), std::move(failure));
}

void email_resource_manager_download_sent_attachment(const std::string& accountID, const std::string& emailID,
                                                     const std::string& attachmentID,
                                                     const std::string& fileName, bool isImage,
                                                     ResourceCallback success, ResourceCallback progress,
                                                     ResourceCallback clientError, ResourceCallback failure) {
  instance.call(&EmailResourceManager::downloadSentAttachment, accountID, emailID, attachmentID, fileName,
                isImage, std::move(success), std::move(progress), std::move(clientError), std::move(failure));
}

void email_resource_manager_download_harnvik_attachment(
    const std::string& accountID, const std::string& emailID, const std::string& attachmentID,
    const std::string& fileName, bool isImage, ResourceCallback success, ResourceCallback progress,
    ResourceCallback clientError, ResourceCallback failure) {
  instance.call(&EmailResourceManager::downloadHarnvikAttachment, accountID, emailID, attachmentID, fileName,
                isImage, std::move(success), std::move(progress), std::move(clientError), std::move(failure));
}

std::string email_resource_manager_upload_attachment(const std::string& attachmentID,
                                                     const std::string& filePath, const std::string& fileName,
                                                     const std::string& emailID, const std::string& accountID,
                                                     bool persist, ResourceCallback success,
                                                     ResourceCallback failure) {
  return instance.call(&EmailResourceManager::uploadAttachment, attachmentID, filePath, fileName, emailID,
                       accountID, persist, std::move(success), std::move(failure));
}

void email_resource_manager_send_queued_attachments() {
  instance.call(&EmailResourceManager::sendQueuedAttachments);
}

bool email_resource_manager_has_no_queued_uploads_for_email(const std::string& emailID) {
  return instance.call(&EmailResourceManager::hasNoQueuedUploadsForEmail, emailID);
}

void email_resource_manager_remove_queued_uploads_for_account(const std::string& accountID) {
  instance.call(&EmailResourceManager::removeQueuedUploadsForAccount, accountID);
}

bool email_resource_manager_queue_email_send(const std::string& emailID, EmailSendType sendType,
                                             const std::string& associatedEmailID, bool fullBody) {
  return instance.call(&EmailResourceManager::queueEmailSend, emailID, sendType, associatedEmailID, fullBody);
}

}  // namespace libkestrun
