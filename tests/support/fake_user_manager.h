// A recording stand-in for the user manager, with settable answers.
#pragma once

#include "core/accounts/user_manager.h"
#include "support/call_log.h"

namespace kestrun_test {

class FakeUserManager : public libkestrun::UserManager, public CallLog {
 public:
  std::string getDeviceId() override {
    record("getDeviceId");
    return device_id;
  }
  std::string getUserId() override {
    record("getUserId");
    return user_id;
  }

  // Answers; set before installing.
  std::string device_id;
  std::string user_id;
};

}  // namespace kestrun_test
