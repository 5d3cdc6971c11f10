// The attachment files of downloaded and outgoing mail and their index, as the layers below the
// services see them; AttachmentManagerImpl (attachment_manager_impl.h) is the manager itself.
//
// The files live under the data directory's "Attachments" folder, one folder per account, e-mail
// and attachment, holding the file under its own name. Ids and names come from mail: one that is
// empty, "." or "..", or holds "/" or a NUL byte is refused, so nothing leaves that folder.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace libkestrun {

class AttachmentManager {
 public:
  virtual ~AttachmentManager() = default;

  virtual std::string attachmentsDirectory() = 0;
  // The icons folder, inside the attachments folder.
  virtual std::string iconsDirectory() = 0;
  // Forgets the index and reads it again from the folders of the primary accounts.
  virtual void rebuildIndex() = 0;
  // Removes every account's attachment files and empties the index; for the full reset only.
  virtual void clear() = 0;
  // As clear, then makes the attachments folder again.
  virtual void resetDirectory() = 0;
  // Removes the e-mail's attachment folder and index entry; nothing when either id is refused.
  virtual void removeAttachmentsForEmail(const std::string& emailID, const std::string& accountID) = 0;
  // Removes the account's attachment folder and its index entries; the other accounts' files and
  // the queued uploads stay.
  virtual void removeAttachmentsForAccount(const std::string& accountID) = 0;
  // Moves the finished file into its folder and indexes it. False, with nothing moved or indexed,
  // when a name is refused or the file could not be put in place.
  virtual bool addAttachment(const std::string& sourcePath, const std::string& accountID,
                             const std::string& emailID, const std::string& attachmentID,
                             const std::string& fileName) = 0;
  // True when the attachment is indexed; with `migrate`, a file of the older layout (its folder
  // named after the file's base name) is first moved to the attachment's own folder.
  virtual bool attachmentExists(const std::string& accountID, const std::string& emailID,
                                const std::string& attachmentID, const std::string& fileName,
                                bool migrate) = 0;
  virtual bool emailHasAttachments(const std::string& accountID, const std::string& emailID) = 0;
  // The indexed file's path; "" when it is not indexed.
  virtual std::string pathForAttachment(const std::string& accountID, const std::string& emailID,
                                        const std::string& attachmentID) = 0;
  // "attachment id/file name" of each indexed attachment of the e-mail (images only for the
  // second); never null.
  virtual std::shared_ptr<std::vector<std::string>> attachmentsForEmail(const std::string& accountID,
                                                                        const std::string& emailID) = 0;
  virtual std::shared_ptr<std::vector<std::string>> imageAttachmentsForEmail(const std::string& accountID,
                                                                             const std::string& emailID) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing and answer false, "" or null.
void attachment_manager_set_instance(std::shared_ptr<AttachmentManager> manager);

std::string attachment_manager_attachments_directory();
std::string attachment_manager_icons_directory();
void attachment_manager_rebuild_index();
void attachment_manager_clear();
void attachment_manager_remove_attachments_for_email(const std::string& emailID,
                                                     const std::string& accountID);
void attachment_manager_remove_attachments_for_account(const std::string& accountID);
bool attachment_manager_add_attachment(const std::string& sourcePath, const std::string& accountID,
                                       const std::string& emailID, const std::string& attachmentID,
                                       const std::string& fileName);
bool attachment_manager_attachment_exists(const std::string& accountID, const std::string& emailID,
                                          const std::string& attachmentID, const std::string& fileName,
                                          bool migrate);
bool attachment_manager_email_has_attachments(const std::string& accountID, const std::string& emailID);
std::string attachment_manager_path_for_attachment(const std::string& accountID, const std::string& emailID,
                                                   const std::string& attachmentID);
std::shared_ptr<std::vector<std::string>> attachment_manager_attachments_for_email(
    const std::string& accountID, const std::string& emailID);
std::shared_ptr<std::vector<std::string>> attachment_manager_image_attachments_for_email(
    const std::string& accountID, const std::string& emailID);

}  // namespace libkestrun
