// A recording stand-in for the attachment files.
#pragma once

#include "core/services/attachment_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeAttachmentManager : public libkestrun::AttachmentManager, public CallLog {
 public:
  void removeAllAttachments() override { record("removeAllAttachments"); }
  void removeAttachmentsForEmail(const std::string& emailID, const std::string& accountID) override {
    record("removeAttachmentsForEmail", {emailID, accountID});
  }
  void removeAttachmentsForAccount(const std::string& accountID) override {
    record("removeAttachmentsForAccount", {accountID});
  }
};

}  // namespace kestrun_test
