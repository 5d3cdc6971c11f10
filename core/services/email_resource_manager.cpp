#include "core/services/email_resource_manager.h"

#include "core/foundation/process_instance.h"

namespace libkestrun {

namespace {
ProcessInstance<EmailResourceManager> instance;
}  // namespace

void email_resource_manager_set_instance(std::shared_ptr<EmailResourceManager> manager) {
  instance.set(std::move(manager));
}

bool email_resource_manager_has_no_queued_uploads_for_email(const std::string& emailID) {
  return instance.call(&EmailResourceManager::hasNoQueuedUploadsForEmail, emailID);
}

void email_resource_manager_remove_queued_uploads_for_account(const std::string& accountID) {
  instance.call(&EmailResourceManager::removeQueuedUploadsForAccount, accountID);
}

bool email_resource_manager_should_send_email_now(const std::string& emailID, EmailSendType sendType,
                                                  const std::string& associatedEmailID, bool fullBody) {
  return instance.call(&EmailResourceManager::shouldSendEmailNow, emailID, sendType, associatedEmailID,
                       fullBody);
}

}  // namespace libkestrun
