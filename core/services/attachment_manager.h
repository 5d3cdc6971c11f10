// The downloaded attachment files and their index, as the data model sees them. The full manager
// implements this interface.
#pragma once

#include <memory>
#include <string>

namespace libkestrun {

class AttachmentManager {
 public:
  virtual ~AttachmentManager() = default;

  // Removes every attachment file (file errors are ignored) and empties the index.
  virtual void removeAllAttachments() = 0;
  // Removes the e-mail's attachment folder and index entry; nothing when either id is empty.
  virtual void removeAttachmentsForEmail(const std::string& emailID, const std::string& accountID) = 0;
  // Removes the account's attachment folder and its index entries; the other accounts' files and
  // the queued uploads stay.
  virtual void removeAttachmentsForAccount(const std::string& accountID) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing.
void attachment_manager_set_instance(std::shared_ptr<AttachmentManager> manager);

void attachment_manager_remove_all_attachments();
void attachment_manager_remove_attachments_for_email(const std::string& emailID,
                                                     const std::string& accountID);
void attachment_manager_remove_attachments_for_account(const std::string& accountID);

}  // namespace libkestrun
