// Full bodies, attachment transfers and the persisted queue of attachment uploads, as the data
// writer sees them: an e-mail with uploads still waiting is sent only when its last upload is done.
// The full manager keeps the queue under its own mutex; it implements this interface.
#pragma once

#include <memory>
#include <string>

#include "core/store/model_enums.h"

namespace libkestrun {

class EmailResourceManager {
 public:
  virtual ~EmailResourceManager() = default;

  // True when no attachment upload is queued for the e-mail.
  virtual bool hasNoQueuedUploadsForEmail(const std::string& emailID) = 0;
  // Drops every queued upload of the account and stores the queue.
  virtual void removeQueuedUploadsForAccount(const std::string& accountID) = 0;
  // True when the e-mail may go now. Otherwise its uploads are still waiting: the send is stored
  // with them, the last upload sends it, and the answer is false.
  virtual bool shouldSendEmailNow(const std::string& emailID, EmailSendType sendType,
                                  const std::string& associatedEmailID, bool fullBody) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing and answer false.
void email_resource_manager_set_instance(std::shared_ptr<EmailResourceManager> manager);

bool email_resource_manager_has_no_queued_uploads_for_email(const std::string& emailID);
void email_resource_manager_remove_queued_uploads_for_account(const std::string& accountID);
bool email_resource_manager_should_send_email_now(const std::string& emailID, EmailSendType sendType,
                                                  const std::string& associatedEmailID, bool fullBody);

}  // namespace libkestrun
