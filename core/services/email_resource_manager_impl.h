// The e-mail resource manager: full bodies and attachments fetched over HTTP from the resource
// servers, and the uploads of outgoing attachments with their persisted queue. Every request is a
// POST signed with the device's credentials (object_signer.h), except the shared-link download,
// which sends a JSON null and no credentials.
//
// Shared transfers. Requests for the same resource share one transfer: the tables below hold the
// transfer in flight under its key, and each caller's callbacks wait on it as listeners of its
// downloader. Body keys name the variant too ("html_body_download_" or "text_body_download_" +
// account + "_" + e-mail), so a plain request never receives HTML and every HTML answer is stored;
// each plain caller's prefix is put before the text for that caller alone. Attachment keys are
// e-mail + "_" + attachment. An entry lives from the request that starts its transfer until the
// outcome has reached every listener; a later request starts a new transfer.
//
// Upload queue, under "email.resource.manager.queued.uploads.key" of the defaults store, rewritten
// whole on every change and erased when empty:
//   {<e-mail id>: {"queued_email_attachments_requests": [{"account_id", "email_id", "filename",
//                   "filesize", "image" (the local path), "uuid" (the attachment id)}, ...],
//                  "queued_email_send_type", "queued_email_associated_email",
//                  "queued_email_full_body"  (present once the e-mail's send is held back)}}
// Credentials are read afresh for every upload and never stored. An e-mail's send waits while its
// entry has requests; the last confirmed upload hands it to the data writer, whose completion
// deletes the entry and stores the queue. A queued request whose file is gone is dropped; when it
// was the last of a held-back send, the e-mail is marked send failed instead of waiting for ever.
//
// Threads: downloads are started on the caller's thread (listeners are added under mutex_ before
// the transfer is posted, so an outcome that comes at once still reaches every caller); transfer
// outcomes arrive on worker threads, the stored HTML body's completion and the held-back send's
// completion on the core thread. mutex_ (recursive) guards the three tables and the queue; a
// downloader's callbacks take it while their downloader's own mutex is held, so it is never held
// while calling a downloader operation that takes that mutex once its transfer runs.
//
// Lifetime: build it with std::make_shared; transfer callbacks hold it weakly, so an outcome that
// arrives after it is gone does nothing.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/accounts/account_manager.h"
#include "core/accounts/user_manager.h"
#include "core/api/server_env.h"
#include "core/foundation/defaults.h"
#include "core/foundation/file_utility.h"
#include "core/foundation/task_manager.h"
#include "core/services/attachment_manager.h"
#include "core/services/email_resource_manager.h"
#include "core/services/ks_http.h"
#include "core/services/object_signer.h"
#include "core/services/offline_manager.h"

namespace libkestrun {

class EmailResourceManagerImpl : public EmailResourceManager,
                                 public std::enable_shared_from_this<EmailResourceManagerImpl> {
 public:
  static constexpr char kQueuedUploadsKey[] = "email.resource.manager.queued.uploads.key";

  // The pointers are not owned and must outlive the manager. Loads the upload queue.
  EmailResourceManagerImpl(const std::vector<uint8_t>& signingKey, const ServerUrls& urls,
                           std::shared_ptr<Defaults> defaults, std::shared_ptr<FileUtility> fileUtility,
                           std::shared_ptr<TaskManager> taskManager, AccountManager* accounts,
                           AttachmentManager* attachments, OfflineManager* offline, UserManager* users);
  ~EmailResourceManagerImpl() override;
  EmailResourceManagerImpl(const EmailResourceManagerImpl&) = delete;
  EmailResourceManagerImpl& operator=(const EmailResourceManagerImpl&) = delete;

  // Letters, digits and ! ' ( ) * . _ ~ stay; every other byte becomes "%" and two hex digits.
  static std::string escapeUrlComponent(const std::string& text);

  void downloadFullBodyForEmail(const std::string& accountID, const std::string& emailID,
                                int conversationLength, ResourceCallback success,
                                ResourceCallback failure) override;
  void downloadPlainFullBodyForEmail(const std::string& accountID, const std::string& emailID,
                                     int conversationLength, const std::string& prefix,
                                     ResourceCallback success, ResourceCallback failure) override;
  void downloadAttachment(const std::string& accountID, const std::string& emailID,
                          const std::string& attachmentID, const std::string& fileName, bool isImage,
                          ResourceCallback success, ResourceCallback progress, ResourceCallback clientError,
                          ResourceCallback failure) override;
  void downloadSentAttachment(const std::string& accountID, const std::string& emailID,
                              const std::string& attachmentID, const std::string& fileName, bool isImage,
                              ResourceCallback success, ResourceCallback progress,
                              ResourceCallback clientError, ResourceCallback failure) override;
  void downloadHarnvikAttachment(const std::string& accountID, const std::string& emailID,
                                 const std::string& attachmentID, const std::string& fileName, bool isImage,
                                 ResourceCallback success, ResourceCallback progress,
                                 ResourceCallback clientError, ResourceCallback failure) override;

  // A failed precondition (an empty id, no file, no account) calls failure with null at once and
  // queues nothing; the address is returned all the same.
  std::string uploadAttachment(const std::string& attachmentID, const std::string& filePath,
                               const std::string& fileName, const std::string& emailID,
                               const std::string& accountID, bool persist, ResourceCallback success,
                               ResourceCallback failure) override;
  void sendQueuedAttachments() override;
  bool hasNoQueuedUploadsForEmail(const std::string& emailID) override;
  void removeQueuedUploadsForAccount(const std::string& accountID) override;
  bool queueEmailSend(const std::string& emailID, EmailSendType sendType,
                      const std::string& associatedEmailID, bool fullBody) override;

  // Transfers in flight, for tests.
  size_t bodyDownloadsInFlight();
  size_t attachmentDownloadsInFlight();
  size_t uploadsInFlight();

 private:
  struct Credentials {
    std::string userID, deviceID, deviceSecret;
  };
  using Downloads = std::unordered_map<std::string, std::shared_ptr<KSHttp::Downloader>>;

  Credentials credentials();
  // The signed object's credentials added; returns the request parameters: the five members
  // "user_id", "device_id", "device_secret", "sig", "nonce", or with `allFields` every signed one.
  jsonette::Json signedParams(jsonette::Json::object fields, bool allFields);

  // Starts or joins the body transfer and adds the caller's listeners. The listeners receive the
  // body text as a JSON string, or null on failure.
  void bodyDownload(bool html, const std::string& accountID, const std::string& emailID,
                    int conversationLength, ResourceCallback success, ResourceCallback failure);
  void bodyArrived(const std::string& key, bool html, const std::string& emailID, std::string text);
  void attachmentDownload(const std::string& url, const jsonette::Json& params, const std::string& accountID,
                          const std::string& emailID, const std::string& attachmentID,
                          const std::string& fileName, ResourceCallback success, ResourceCallback progress,
                          ResourceCallback clientError, ResourceCallback failure);
  // Erases `key` only while it still names `downloader`.
  void eraseDownload(Downloads& table, const std::string& key, const KSHttp::Downloader* downloader);

  void dequeueAttachment(const std::string& attachmentID, const std::string& emailID);
  // The queue's entry of the e-mail, null when none. mutex_ held.
  json_t* queueEntry(const std::string& emailID);
  // Hands the held-back send of the entry to the data writer. mutex_ held.
  void sendHeldBackEmail(const std::string& emailID, json_t* entry);
  void saveUploadQueue();

  const ObjectSigner signer_;
  const ServerUrls urls_;
  const std::shared_ptr<Defaults> defaults_;
  const std::shared_ptr<FileUtility> fileUtility_;
  const std::shared_ptr<TaskManager> taskManager_;
  AccountManager* const accounts_;
  AttachmentManager* const attachments_;
  OfflineManager* const offline_;
  UserManager* const users_;

  std::recursive_mutex mutex_;
  Downloads bodyDownloads_;  // guarded by mutex_, as are the members below
  Downloads attachmentDownloads_;
  std::unordered_map<std::string, std::shared_ptr<KSHttp::Uploader>> uploads_;
  json_t* queue_;  // owned; an object
};

}  // namespace libkestrun
