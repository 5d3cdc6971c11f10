// A recording stand-in for the e-mail resource manager, with settable answers, for the tests of
// the layers below the services. Transfers are recorded and never answered.
#pragma once

#include "core/services/email_resource_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeEmailResourceManager : public libkestrun::EmailResourceManager, public CallLog {
 public:
  using Callback = libkestrun::ResourceCallback;

  void downloadFullBodyForEmail(const std::string& accountID, const std::string& emailID,
                                int conversationLength, Callback, Callback) override {
    record("downloadFullBodyForEmail", {accountID, emailID, conversationLength});
  }
  void downloadPlainFullBodyForEmail(const std::string& accountID, const std::string& emailID,
                                     int conversationLength, const std::string& prefix, Callback,
                                     Callback) override {
    record("downloadPlainFullBodyForEmail", {accountID, emailID, conversationLength, prefix});
  }
  void downloadAttachment(const std::string& accountID, const std::string& emailID,
                          const std::string& attachmentID, const std::string& fileName, bool isImage,
                          Callback, Callback, Callback, Callback) override {
    record("downloadAttachment", {accountID, emailID, attachmentID, fileName, isImage});
  }
  void downloadSentAttachment(const std::string& accountID, const std::string& emailID,
                              const std::string& attachmentID, const std::string& fileName, bool isImage,
                              Callback, Callback, Callback, Callback) override {
    record("downloadSentAttachment", {accountID, emailID, attachmentID, fileName, isImage});
  }
  void downloadHarnvikAttachment(const std::string& accountID, const std::string& emailID,
                                 const std::string& attachmentID, const std::string& fileName, bool isImage,
                                 Callback, Callback, Callback, Callback) override {
    record("downloadHarnvikAttachment", {accountID, emailID, attachmentID, fileName, isImage});
  }
  std::string uploadAttachment(const std::string& attachmentID, const std::string& filePath,
                               const std::string& fileName, const std::string& emailID,
                               const std::string& accountID, bool persist, Callback, Callback) override {
    record("uploadAttachment", {attachmentID, filePath, fileName, emailID, accountID, persist});
    return "";
  }
  void sendQueuedAttachments() override { record("sendQueuedAttachments"); }
  bool hasNoQueuedUploadsForEmail(const std::string& emailID) override {
    record("hasNoQueuedUploadsForEmail", {emailID});
    return no_queued_uploads;
  }
  void removeQueuedUploadsForAccount(const std::string& accountID) override {
    record("removeQueuedUploadsForAccount", {accountID});
  }
  bool queueEmailSend(const std::string& emailID, libkestrun::EmailSendType sendType,
                      const std::string& associatedEmailID, bool fullBody) override {
    record("queueEmailSend", {emailID, number(sendType), associatedEmailID, fullBody});
    return send_now;
  }

  // Answers; set before installing.
  bool no_queued_uploads = true;
  bool send_now = true;
};

}  // namespace kestrun_test
