#include "core/services/attachment_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {
ProcessInstance<AttachmentManager> instance;
}  // namespace

void attachment_manager_set_instance(std::shared_ptr<AttachmentManager> manager) {
  instance.set(std::move(manager));
}

void attachment_manager_remove_all_attachments() { instance.call(&AttachmentManager::removeAllAttachments); }

void attachment_manager_remove_attachments_for_email(const std::string& emailID,
                                                     const std::string& accountID) {
  instance.call(&AttachmentManager::removeAttachmentsForEmail, emailID, accountID);
}

void attachment_manager_remove_attachments_for_account(const std::string& accountID) {
  instance.call(&AttachmentManager::removeAttachmentsForAccount, accountID);
}

}  // namespace libkestrun
