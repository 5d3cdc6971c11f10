#include "core/services/email_resource_manager_impl.h"

#include <utility>

#include "core/data/data_writer.h"
#include "harnvik/strings.h"

namespace libkestrun {

namespace {

using jsonette::Json;

const char kRequests[] = "queued_email_attachments_requests";
const char kSendType[] = "queued_email_send_type";
const char kAssociated[] = "queued_email_associated_email";
const char kFullBody[] = "queued_email_full_body";
const char kSig[] = "sig";
const char kNonce[] = "nonce";

const int kTimeout = 300000;
const int kBodyRetries = 5;
const int kAttachmentRetries = 2;

// A jansson value that is released when the scope ends.
struct Value {
  explicit Value(json_t* value) : value(value) {}
  ~Value() { json_decref(value); }
  Value(const Value&) = delete;
  Value& operator=(const Value&) = delete;
  json_t* value;
};

// The text up to its first zero byte, as the resource servers' bodies are read.
json_t* textValue(const std::string& text) { return json_string_nocheck(text.c_str()); }

void call(const ResourceCallback& callback, json_t* value) {
  if (callback) callback(value);
}

std::string member(json_t* object, const char* key) {
  json_t* value = json_object_get(object, key);
  return json_is_string(value) ? json_string_value(value) : "";
}

}  // namespace

EmailResourceManagerImpl::EmailResourceManagerImpl(const std::vector<uint8_t>& signingKey,
                                                   const ServerUrls& urls, std::shared_ptr<Defaults> defaults,
                                                   std::shared_ptr<FileUtility> fileUtility,
                                                   std::shared_ptr<TaskManager> taskManager,
                                                   AccountManager* accounts, AttachmentManager* attachments,
                                                   OfflineManager* offline, UserManager* users)
    : signer_(signingKey),
      urls_(urls),
      defaults_(std::move(defaults)),
      fileUtility_(std::move(fileUtility)),
      taskManager_(std::move(taskManager)),
      accounts_(accounts),
      attachments_(attachments),
      offline_(offline),
      users_(users),
      queue_(defaults_->get_json_t(kQueuedUploadsKey)) {
  if (!json_is_object(queue_)) {
    json_decref(queue_);
    queue_ = json_object();
  }
}

EmailResourceManagerImpl::~EmailResourceManagerImpl() { json_decref(queue_); }

std::string EmailResourceManagerImpl::escapeUrlComponent(const std::string& text) {
  static const std::string kKept = "!'()*._~";
  std::string escaped;
  for (char c : text) {
    if (harnvik::verdane::ascii_alphanumeric(c) || kKept.find(c) != std::string::npos) {
      escaped += c;
    } else {
      escaped += '%';
      escaped += harnvik::verdane::hex_encode(std::string_view(&c, 1));
    }
  }
  return escaped;
}

EmailResourceManagerImpl::Credentials EmailResourceManagerImpl::credentials() {
  return {users_->getUserId(), users_->getDeviceId(), users_->getDeviceSecret()};
}

Json EmailResourceManagerImpl::signedParams(Json::object fields, bool allFields) {
  const Credentials owner = credentials();
  fields["user_id"] = owner.userID;
  fields["device_id"] = owner.deviceID;
  fields["device_secret"] = owner.deviceSecret;
  auto [nonce, sig] = signer_.sign(Json(fields));
  Json::object params = allFields ? fields
                                  : Json::object{{"user_id", owner.userID},
                                                 {"device_id", owner.deviceID},
                                                 {"device_secret", owner.deviceSecret}};
  params[kSig] = sig;
  params[kNonce] = nonce;
  return Json(std::move(params));
}

// --- Bodies ---

void EmailResourceManagerImpl::downloadFullBodyForEmail(const std::string& accountID,
                                                        const std::string& emailID, int conversationLength,
                                                        ResourceCallback success, ResourceCallback failure) {
  bodyDownload(true, accountID, emailID, conversationLength, std::move(success), std::move(failure));
}

void EmailResourceManagerImpl::downloadPlainFullBodyForEmail(
    const std::string& accountID, const std::string& emailID, int conversationLength,
    const std::string& prefix, ResourceCallback success, ResourceCallback failure) {
  ResourceCallback prefixed;
  if (success) {
    prefixed = [prefix, success = std::move(success)](json_t* text) {
      Value value(textValue(prefix + json_string_value(text)));
      success(value.value);
    };
  }
  bodyDownload(false, accountID, emailID, conversationLength, std::move(prefixed), std::move(failure));
}

void EmailResourceManagerImpl::bodyDownload(bool html, const std::string& accountID,
                                            const std::string& emailID, int conversationLength,
                                            ResourceCallback success, ResourceCallback failure) {
  if (!offline_->isConnected()) {
    call(failure, nullptr);
    return;
  }
  const std::string key = (html ? "html_body_download_" : "text_body_download_") + accountID + "_" + emailID;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto found = bodyDownloads_.find(key);
  std::shared_ptr<KSHttp::Downloader> downloader;
  const bool start = found == bodyDownloads_.end();
  if (start) {
    const std::string url = (html ? urls_.body_url : urls_.text_body_url) + "/" +
                            escapeUrlComponent(accountID) + "/" + escapeUrlComponent(emailID);
    downloader = std::make_shared<KSHttp::Downloader>(url, kTimeout, kBodyRetries);
    std::weak_ptr<EmailResourceManagerImpl> weak = weak_from_this();
    const KSHttp::Downloader* raw = downloader.get();
    downloader->setSuccessCallback(
        [weak, key, html, emailID, conversationLength, raw](KSHttp::Response response) {
          auto self = weak.lock();
          if (!self) return;
          std::string text(response.body ? response.body : "", static_cast<size_t>(response.body_size));
          if (conversationLength != 0 && text.empty()) {
            std::lock_guard<std::recursive_mutex> lock(self->mutex_);
            auto held = self->bodyDownloads_.find(key);
            if (held == self->bodyDownloads_.end() || held->second.get() != raw) return;
            std::shared_ptr<KSHttp::Downloader> downloader = held->second;
            self->bodyDownloads_.erase(held);
            downloader->notifyFailure(nullptr);
            return;
          }
          self->bodyArrived(key, html, emailID, std::move(text));
        });
    downloader->setFailureCallback([weak, key, raw](KSHttp::Response) {
      auto self = weak.lock();
      if (!self) return;
      std::lock_guard<std::recursive_mutex> lock(self->mutex_);
      auto held = self->bodyDownloads_.find(key);
      if (held == self->bodyDownloads_.end() || held->second.get() != raw) return;
      std::shared_ptr<KSHttp::Downloader> downloader = held->second;
      self->bodyDownloads_.erase(held);
      downloader->notifyFailure(nullptr);
    });
    bodyDownloads_[key] = downloader;
  } else {
    downloader = found->second;
  }
  if (success) downloader->addSuccessListener(std::move(success));
  if (failure) downloader->addFailureListener(std::move(failure));
  if (start) {
    Json::object fields{{"account_id", accountID}, {"email_id", emailID}};
    downloader->post(signedParams(std::move(fields), false));
  }
}

void EmailResourceManagerImpl::bodyArrived(const std::string& key, bool html, const std::string& emailID,
                                           std::string text) {
  // Delivered and erased together, under mutex_, so a caller that joins meanwhile is either
  // notified with the others or starts a transfer of its own.
  auto deliver = [weak = weak_from_this(), key](const std::string& text) {
    auto self = weak.lock();
    if (!self) return;
    std::lock_guard<std::recursive_mutex> lock(self->mutex_);
    auto held = self->bodyDownloads_.find(key);
    if (held == self->bodyDownloads_.end()) return;
    std::shared_ptr<KSHttp::Downloader> downloader = held->second;
    self->bodyDownloads_.erase(held);
    Value value(textValue(text));
    downloader->notifySuccess(value.value);
  };
  if (!html) {
    deliver(text);
    return;
  }
  KestrunDataWriter::saveFullBodyText(text, emailID,
                                      [deliver, text](const std::vector<std::string>&) { deliver(text); });
}

// --- Attachments ---

void EmailResourceManagerImpl::downloadAttachment(const std::string& accountID, const std::string& emailID,
                                                  const std::string& attachmentID,
                                                  const std::string& fileName, bool, ResourceCallback success,
                                                  ResourceCallback progress, ResourceCallback clientError,
                                                  ResourceCallback failure) {
  const std::string url = urls_.attachment_download_url + "/" + escapeUrlComponent(accountID) + "/" +
                          escapeUrlComponent(emailID) + "/" + escapeUrlComponent(attachmentID);
  Json::object fields{{"account_id", accountID}, {"email_id", emailID}, {"part_id", attachmentID}};
  attachmentDownload(url, signedParams(std::move(fields), false), accountID, emailID, attachmentID, fileName,
                     std::move(success), std::move(progress), std::move(clientError), std::move(failure));
}

void EmailResourceManagerImpl::downloadSentAttachment(
    const std::string& accountID, const std::string& emailID, const std::string& attachmentID,
    const std::string& fileName, bool, ResourceCallback success, ResourceCallback progress,
    ResourceCallback clientError, ResourceCallback failure) {
  const std::string url = urls_.object_download_url + "/" + escapeUrlComponent(accountID) + "/" +
                          escapeUrlComponent(emailID) + "/" + escapeUrlComponent(attachmentID) + "/" +
                          escapeUrlComponent(fileName);
  Json::object fields{{"account_id", accountID},
                      {"attachment_id", attachmentID},
                      {"email_id", emailID},
                      {"filename", fileName}};
  attachmentDownload(url, signedParams(std::move(fields), false), accountID, emailID, attachmentID, fileName,
                     std::move(success), std::move(progress), std::move(clientError), std::move(failure));
}

void EmailResourceManagerImpl::downloadHarnvikAttachment(
    const std::string& accountID, const std::string& emailID, const std::string& attachmentID,
    const std::string& fileName, bool, ResourceCallback success, ResourceCallback progress,
    ResourceCallback clientError, ResourceCallback failure) {
  const std::string url =
      urls_.shared_link_url + "/" + escapeUrlComponent(attachmentID) + "/" + escapeUrlComponent(fileName);
  attachmentDownload(url, Json(nullptr), accountID, emailID, attachmentID, fileName, std::move(success),
                     std::move(progress), std::move(clientError), std::move(failure));
}

void EmailResourceManagerImpl::attachmentDownload(const std::string& url, const Json& params,
                                                  const std::string& accountID, const std::string& emailID,
                                                  const std::string& attachmentID,
                                                  const std::string& fileName, ResourceCallback success,
                                                  ResourceCallback progress, ResourceCallback clientError,
                                                  ResourceCallback failure) {
  if (!offline_->isConnected()) {
    call(failure, nullptr);
    return;
  }
  const std::string key = emailID + "_" + attachmentID;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  auto found = attachmentDownloads_.find(key);
  std::shared_ptr<KSHttp::Downloader> downloader;
  const bool start = found == attachmentDownloads_.end();
  if (start) {
    downloader = std::make_shared<KSHttp::Downloader>(url, kTimeout, kAttachmentRetries);
    std::weak_ptr<EmailResourceManagerImpl> weak = weak_from_this();
    const KSHttp::Downloader* raw = downloader.get();
    // Takes the entry out of the table (only while it still names this transfer) and notifies.
    auto finish = [weak, key, raw](void (KSHttp::Downloader::*notify)(json_t*), json_t* value) {
      auto self = weak.lock();
      if (!self) return;
      std::lock_guard<std::recursive_mutex> lock(self->mutex_);
      auto held = self->attachmentDownloads_.find(key);
      if (held == self->attachmentDownloads_.end() || held->second.get() != raw) return;
      std::shared_ptr<KSHttp::Downloader> downloader = held->second;
      self->attachmentDownloads_.erase(held);
      (downloader.get()->*notify)(value);
    };
    downloader->setSuccessCallback(
        [weak, finish, accountID, emailID, attachmentID, fileName](KSHttp::Response response) {
          auto self = weak.lock();
          if (!self) return;
          if (!self->attachments_->addAttachment(response.file_path, accountID, emailID, attachmentID,
                                                 fileName)) {
            self->fileUtility_->remove(response.file_path);
            Value id(json_string_nocheck(attachmentID.c_str()));
            finish(&KSHttp::Downloader::notifyFailure, id.value);
            return;
          }
          Value done(json_pack("{s:s, s:s, s:s, s:s}", "account_id", accountID.c_str(), "email_id",
                               emailID.c_str(), "attachment_id", attachmentID.c_str(), "file_name",
                               fileName.c_str()));
          finish(&KSHttp::Downloader::notifySuccess, done.value);
        });
    downloader->setFailureCallback([finish, attachmentID](KSHttp::Response) {
      Value id(json_string_nocheck(attachmentID.c_str()));
      finish(&KSHttp::Downloader::notifyFailure, id.value);
    });
    downloader->setClientErrorCallback([finish, attachmentID](KSHttp::Response) {
      Value id(json_string_nocheck(attachmentID.c_str()));
      finish(&KSHttp::Downloader::notifyClientError, id.value);
    });
    downloader->setProgressCallback([weak, key, raw, attachmentID](int64_t bytes) {
      auto self = weak.lock();
      if (!self) return;
      std::lock_guard<std::recursive_mutex> lock(self->mutex_);
      auto held = self->attachmentDownloads_.find(key);
      if (held == self->attachmentDownloads_.end() || held->second.get() != raw) return;
      Value value(json_pack("{s:I, s:s}", "download_size", static_cast<json_int_t>(bytes), "attachment_id",
                            attachmentID.c_str()));
      held->second->notifyProgress(value.value);
    });
    attachmentDownloads_[key] = downloader;
  } else {
    downloader = found->second;
  }
  if (success) downloader->addSuccessListener(std::move(success));
  if (progress) downloader->addProgressListener(std::move(progress));
  if (clientError) downloader->addClientErrorListener(std::move(clientError));
  if (failure) downloader->addFailureListener(std::move(failure));
  if (start) downloader->postToFile(params);
}

size_t EmailResourceManagerImpl::bodyDownloadsInFlight() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return bodyDownloads_.size();
}

size_t EmailResourceManagerImpl::attachmentDownloadsInFlight() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return attachmentDownloads_.size();
}

size_t EmailResourceManagerImpl::uploadsInFlight() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return uploads_.size();
}

// --- Uploads ---

std::string EmailResourceManagerImpl::uploadAttachment(const std::string& attachmentID,
                                                       const std::string& filePath,
                                                       const std::string& fileName,
                                                       const std::string& emailID,
                                                       const std::string& accountID, bool persist,
                                                       ResourceCallback success, ResourceCallback failure) {
  const std::string address = "kestrun://s3_download/" + accountID + "/" + emailID + "/" + attachmentID;
  if (attachmentID.empty() || emailID.empty() || !fileUtility_->exists(filePath) ||
      !accounts_->hasAccounts()) {
    call(failure, nullptr);
    return address;
  }
  const int64_t size = static_cast<int64_t>(fileUtility_->file_size(filePath));
  Json::object fields{{"account_id", accountID},
                      {"email_id", emailID},
                      {"filename", fileName},
                      {"filesize", static_cast<long long>(size)},
                      {"uuid", attachmentID}};
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (persist) {
    json_t* entry = queueEntry(emailID);
    if (!entry) {
      entry = json_object();
      json_object_set_new(queue_, emailID.c_str(), entry);
    }
    json_t* requests = json_object_get(entry, kRequests);
    if (!json_is_array(requests)) {
      requests = json_array();
      json_object_set_new(entry, kRequests, requests);
    }
    json_t* request =
        json_pack("{s:s, s:s, s:s, s:I, s:s, s:s}", "account_id", accountID.c_str(), "email_id",
                  emailID.c_str(), "filename", fileName.c_str(), "filesize", static_cast<json_int_t>(size),
                  "image", filePath.c_str(), "uuid", attachmentID.c_str());
    json_array_append_new(requests, request);
    saveUploadQueue();
  }

  const std::string key = emailID + "_" + attachmentID;
  auto uploader =
      std::make_shared<KSHttp::Uploader>(urls_.upload_url, taskManager_, kTimeout, kAttachmentRetries);
  std::weak_ptr<EmailResourceManagerImpl> weak = weak_from_this();
  const KSHttp::Uploader* raw = uploader.get();
  // A second upload of the same attachment replaces the first in the table; each erases the
  // entry only while it is still its own.
  auto forget = [weak, key, raw] {
    auto self = weak.lock();
    if (!self) return;
    std::lock_guard<std::recursive_mutex> lock(self->mutex_);
    auto held = self->uploads_.find(key);
    if (held != self->uploads_.end() && held->second.get() == raw) self->uploads_.erase(held);
  };
  uploader->setSuccessCallback([weak, forget, success, attachmentID, emailID](KSHttp::Response) {
    call(success, nullptr);
    if (auto self = weak.lock()) self->dequeueAttachment(attachmentID, emailID);
    forget();
  });
  uploader->setFailureCallback([forget, failure](KSHttp::Response) {
    call(failure, nullptr);
    forget();
  });
  uploads_[key] = uploader;
  uploader->post(signedParams(std::move(fields), true), filePath, fileName);
  return address;
}

json_t* EmailResourceManagerImpl::queueEntry(const std::string& emailID) {
  json_t* entry = json_object_get(queue_, emailID.c_str());
  return json_is_object(entry) ? entry : nullptr;
}

void EmailResourceManagerImpl::dequeueAttachment(const std::string& attachmentID,
                                                 const std::string& emailID) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  json_t* entry = queueEntry(emailID);
  json_t* requests = json_object_get(entry, kRequests);
  if (!json_is_array(requests)) return;
  // An upload whose request is already gone (sent again at a new connection while the first
  // was still running) must not hand the e-mail over a second time.
  bool removed = false;
  for (size_t i = 0; i < json_array_size(requests) && !removed; ++i) {
    if (member(json_array_get(requests, i), "uuid") == attachmentID)
      removed = json_array_remove(requests, i) == 0;
  }
  if (!removed) return;
  if (json_array_size(requests) > 0) {
    saveUploadQueue();
    return;
  }
  if (json_is_integer(json_object_get(entry, kSendType))) {
    sendHeldBackEmail(emailID, entry);
    return;
  }
  json_object_del(queue_, emailID.c_str());
  saveUploadQueue();
}

void EmailResourceManagerImpl::sendHeldBackEmail(const std::string& emailID, json_t* entry) {
  const auto sendType = static_cast<EmailSendType>(json_integer_value(json_object_get(entry, kSendType)));
  std::optional<std::string> associated;
  if (json_is_string(json_object_get(entry, kAssociated))) associated = member(entry, kAssociated);
  const bool fullBody = json_is_true(json_object_get(entry, kFullBody));
  // The task lasts until the data writer drops the completion.
  auto task = std::make_shared<TaskHandle>(taskManager_->start_task());
  KestrunDataWriter::sendSavedEmail(
      emailID, sendType, associated, fullBody,
      [weak = weak_from_this(), emailID, task](const std::vector<std::string>&) {
        auto self = weak.lock();
        if (!self) return;
        std::lock_guard<std::recursive_mutex> lock(self->mutex_);
        json_object_del(self->queue_, emailID.c_str());
        self->saveUploadQueue();
      });
}

void EmailResourceManagerImpl::sendQueuedAttachments() {
  struct Upload {
    std::string uuid, image, filename, emailID, accountID;
  };
  std::vector<Upload> uploads;
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<std::string> emails;
  const char* key;
  json_t* entry;
  json_object_foreach(queue_, key, entry) emails.emplace_back(key);
  for (const std::string& emailID : emails) {
    entry = json_object_get(queue_, emailID.c_str());
    json_t* requests = json_object_get(entry, kRequests);
    const bool heldBack = json_is_integer(json_object_get(entry, kSendType));
    // A held-back send whose requests are all done is with the data writer already; its
    // completion removes the entry.
    if (heldBack && json_array_size(requests) == 0) continue;
    // Requests that can never go up are dropped: a file that is gone, a member missing.
    for (size_t i = json_array_size(requests); i-- > 0;) {
      json_t* request = json_array_get(requests, i);
      Upload upload{member(request, "uuid"), member(request, "image"), member(request, "filename"),
                    member(request, "email_id"), member(request, "account_id")};
      if (upload.uuid.empty() || upload.emailID.empty() || upload.accountID.empty() ||
          !fileUtility_->exists(upload.image)) {
        json_array_remove(requests, i);
      }
    }
    if (json_array_size(requests) == 0) {
      // Its last attachment can no longer go up: the send fails rather than wait for ever.
      if (heldBack) KestrunDataWriter::markEmailSendFailed(emailID, nullptr);
      json_object_del(queue_, emailID.c_str());
      continue;
    }
    for (size_t i = 0; i < json_array_size(requests); ++i) {
      json_t* request = json_array_get(requests, i);
      uploads.push_back({member(request, "uuid"), member(request, "image"), member(request, "filename"),
                         member(request, "email_id"), member(request, "account_id")});
    }
  }
  saveUploadQueue();
  for (const Upload& upload : uploads) {
    uploadAttachment(upload.uuid, upload.image, upload.filename, upload.emailID, upload.accountID, false,
                     nullptr, nullptr);
  }
}

bool EmailResourceManagerImpl::hasNoQueuedUploadsForEmail(const std::string& emailID) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  json_t* entry = queueEntry(emailID);
  return !entry || json_object_size(entry) == 0;
}

void EmailResourceManagerImpl::removeQueuedUploadsForAccount(const std::string& accountID) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  std::vector<std::string> doomed;
  const char* key;
  json_t* entry;
  json_object_foreach(queue_, key, entry) {
    json_t* first = json_array_get(json_object_get(entry, kRequests), 0);
    if (first && member(first, "account_id") == accountID) doomed.emplace_back(key);
  }
  for (const std::string& emailID : doomed) json_object_del(queue_, emailID.c_str());
  saveUploadQueue();
}

bool EmailResourceManagerImpl::queueEmailSend(const std::string& emailID, EmailSendType sendType,
                                              const std::string& associatedEmailID, bool fullBody) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  json_t* entry = queueEntry(emailID);
  if (!entry || json_object_size(entry) == 0) return true;
  json_object_set_new(entry, kSendType, json_integer(static_cast<json_int_t>(sendType)));
  if (!associatedEmailID.empty())
    json_object_set_new(entry, kAssociated, json_string(associatedEmailID.c_str()));
  json_object_set_new(entry, kFullBody, json_boolean(fullBody));
  saveUploadQueue();
  return false;
}

void EmailResourceManagerImpl::saveUploadQueue() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (json_object_size(queue_) > 0) {
    defaults_->set_json_t(kQueuedUploadsKey, queue_);
  } else {
    defaults_->erase(kQueuedUploadsKey);
  }
}

}  // namespace libkestrun
