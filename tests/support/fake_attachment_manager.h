// A recording stand-in for the attachment files, for the tests of the layers below the services.
// Its clear() is the manager's; the record is emptied with CallLog::clear().
#pragma once

#include "core/services/attachment_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeAttachmentManager : public libkestrun::AttachmentManager, public CallLog {
 public:
  std::string attachmentsDirectory() override {
    record("attachmentsDirectory");
    return "";
  }
  std::string iconsDirectory() override {
    record("iconsDirectory");
    return "";
  }
  void rebuildIndex() override { record("rebuildIndex"); }
  void clear() override { record("clear"); }
  void resetDirectory() override { record("resetDirectory"); }
  void removeAttachmentsForEmail(const std::string& emailID, const std::string& accountID) override {
    record("removeAttachmentsForEmail", {emailID, accountID});
  }
  void removeAttachmentsForAccount(const std::string& accountID) override {
    record("removeAttachmentsForAccount", {accountID});
  }
  bool addAttachment(const std::string& sourcePath, const std::string& accountID, const std::string& emailID,
                     const std::string& attachmentID, const std::string& fileName) override {
    record("addAttachment", {sourcePath, accountID, emailID, attachmentID, fileName});
    return true;
  }
  bool attachmentExists(const std::string& accountID, const std::string& emailID,
                        const std::string& attachmentID, const std::string& fileName, bool migrate) override {
    record("attachmentExists", {accountID, emailID, attachmentID, fileName, migrate});
    return false;
  }
  bool emailHasAttachments(const std::string& accountID, const std::string& emailID) override {
    record("emailHasAttachments", {accountID, emailID});
    return false;
  }
  std::string pathForAttachment(const std::string& accountID, const std::string& emailID,
                                const std::string& attachmentID) override {
    record("pathForAttachment", {accountID, emailID, attachmentID});
    return "";
  }
  std::shared_ptr<std::vector<std::string>> attachmentsForEmail(const std::string& accountID,
                                                                const std::string& emailID) override {
    record("attachmentsForEmail", {accountID, emailID});
    return std::make_shared<std::vector<std::string>>();
  }
  std::shared_ptr<std::vector<std::string>> imageAttachmentsForEmail(const std::string& accountID,
                                                                     const std::string& emailID) override {
    record("imageAttachmentsForEmail", {accountID, emailID});
    return std::make_shared<std::vector<std::string>>();
  }
};

}  // namespace kestrun_test
