// Full bodies, attachment transfers and the persisted queue of attachment uploads, as the layers
// below the services see them; EmailResourceManagerImpl (email_resource_manager_impl.h) is the
// manager itself. An e-mail with uploads still waiting is sent only when its last upload is done.
//
// Results reach the callbacks as jansson values owned by the manager, valid only during the call,
// on a worker thread or the core thread; a callback hands its work to its own thread.
#pragma once

#include <jansson.h>

#include <functional>
#include <memory>
#include <string>

#include "core/store/model_enums.h"

namespace libkestrun {

using ResourceCallback = std::function<void(json_t*)>;

class EmailResourceManager {
 public:
  virtual ~EmailResourceManager() = default;

  // The e-mail's body as HTML, stored in the e-mail before success gets it as a JSON string.
  // Failure gets null: offline, any status but 200, or an empty body for a conversation that has
  // e-mails (`conversationLength` not 0).
  virtual void downloadFullBodyForEmail(const std::string& accountID, const std::string& emailID,
                                        int conversationLength, ResourceCallback success,
                                        ResourceCallback failure) = 0;
  // The body as plain text for quoting, not stored; success gets `prefix` followed by the text.
  virtual void downloadPlainFullBodyForEmail(const std::string& accountID, const std::string& emailID,
                                             int conversationLength, const std::string& prefix,
                                             ResourceCallback success, ResourceCallback failure) = 0;
  // An attachment of a received e-mail, of a sent e-mail (from object storage) or of a shared
  // link, moved into the attachment files. Success gets {"account_id", "email_id",
  // "attachment_id", "file_name"}; progress {"download_size", "attachment_id"}; client error (a
  // 4xx answer: the resource is missing) and failure the attachment id, or null when offline.
  virtual void downloadAttachment(const std::string& accountID, const std::string& emailID,
                                  const std::string& attachmentID, const std::string& fileName, bool isImage,
                                  ResourceCallback success, ResourceCallback progress,
                                  ResourceCallback clientError, ResourceCallback failure) = 0;
  virtual void downloadSentAttachment(const std::string& accountID, const std::string& emailID,
                                      const std::string& attachmentID, const std::string& fileName,
                                      bool isImage, ResourceCallback success, ResourceCallback progress,
                                      ResourceCallback clientError, ResourceCallback failure) = 0;
  virtual void downloadHarnvikAttachment(const std::string& accountID, const std::string& emailID,
                                         const std::string& attachmentID, const std::string& fileName,
                                         bool isImage, ResourceCallback success, ResourceCallback progress,
                                         ResourceCallback clientError, ResourceCallback failure) = 0;
  // Uploads the file; with `persist` it is queued first and uploaded again on later connections
  // until it succeeds. Returns the object-storage address "kestrun://s3_download/<account>/
  // <e-mail>/<attachment>".
  virtual std::string uploadAttachment(const std::string& attachmentID, const std::string& filePath,
                                       const std::string& fileName, const std::string& emailID,
                                       const std::string& accountID, bool persist, ResourceCallback success,
                                       ResourceCallback failure) = 0;
  // Uploads every queued request again; called on each new sync connection.
  virtual void sendQueuedAttachments() = 0;

  // True when no attachment upload is queued for the e-mail.
  virtual bool hasNoQueuedUploadsForEmail(const std::string& emailID) = 0;
  // Drops every queued upload of the account and stores the queue.
  virtual void removeQueuedUploadsForAccount(const std::string& accountID) = 0;
  // True when the e-mail may go now. Otherwise its uploads are still waiting: the send is stored
  // with them, the last upload sends it, and the answer is false.
  virtual bool queueEmailSend(const std::string& emailID, EmailSendType sendType,
                              const std::string& associatedEmailID, bool fullBody) = 0;
};

// The process-wide instance (see core/foundation/process_instance.h); without one the forwarders
// do nothing and answer false or "".
void email_resource_manager_set_instance(std::shared_ptr<EmailResourceManager> manager);

void email_resource_manager_download_full_body_for_email(const std::string& accountID,
                                                         const std::string& emailID, int conversationLength,
                                                         ResourceCallback success, ResourceCallback failure);
void email_resource_manager_download_plain_full_body_for_email(
    const std::string& accountID, const std::string& emailID, int conversationLength,
    const std::string& prefix, ResourceCallback success, ResourceCallback failure);
void email_resource_manager_download_attachment(const std::string& accountID, const std::string& emailID,
                                                const std::string& attachmentID, const std::string& fileName,
                                                bool isImage, ResourceCallback success,
                                                ResourceCallback progress, ResourceCallback clientError,
                                                ResourceCallback failure);
void email_resource_manager_download_sent_attachment(const std::string& accountID, const std::string& emailID,
                                                     const std::string& attachmentID,
                                                     const std::string& fileName, bool isImage,
                                                     ResourceCallback success, ResourceCallback progress,
                                                     ResourceCallback clientError, ResourceCallback failure);
void email_resource_manager_download_harnvik_attachment(
    const std::string& accountID, const std::string& emailID, const std::string& attachmentID,
    const std::string& fileName, bool isImage, ResourceCallback success, ResourceCallback progress,
    ResourceCallback clientError, ResourceCallback failure);
std::string email_resource_manager_upload_attachment(const std::string& attachmentID,
                                                     const std::string& filePath, const std::string& fileName,
                                                     const std::string& emailID, const std::string& accountID,
                                                     bool persist, ResourceCallback success,
                                                     ResourceCallback failure);
void email_resource_manager_send_queued_attachments();
bool email_resource_manager_has_no_queued_uploads_for_email(const std::string& emailID);
void email_resource_manager_remove_queued_uploads_for_account(const std::string& accountID);
bool email_resource_manager_queue_email_send(const std::string& emailID, EmailSendType sendType,
                                             const std::string& associatedEmailID, bool fullBody);

}  // namespace libkestrun
