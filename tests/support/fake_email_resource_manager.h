// A recording stand-in for the e-mail resource manager, with settable answers.
#pragma once

#include "core/services/email_resource_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeEmailResourceManager : public libkestrun::EmailResourceManager, public CallLog {
 public:
  bool hasNoQueuedUploadsForEmail(const std::string& emailID) override {
    record("hasNoQueuedUploadsForEmail", {emailID});
    return no_queued_uploads;
  }
  void removeQueuedUploadsForAccount(const std::string& accountID) override {
    record("removeQueuedUploadsForAccount", {accountID});
  }
  bool shouldSendEmailNow(const std::string& emailID, libkestrun::EmailSendType sendType,
                          const std::string& associatedEmailID, bool fullBody) override {
    record("shouldSendEmailNow", {emailID, number(sendType), associatedEmailID, fullBody});
    return send_now;
  }

  // Answers; set before installing.
  bool no_queued_uploads = true;
  bool send_now = true;
};

}  // namespace kestrun_test
