// Registration and linking through the facade, end to end against the local sync server.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/accounts/harnvik_credentials.h"
#include "registered_fixture.h"

namespace kestrun_test {
namespace {

using libkestrun::UserActionErrorType;

std::shared_ptr<const libkestrun::HarnvikCredentials> harnvik_user(const std::string& uid) {
  return std::make_shared<libkestrun::HarnvikCredentialsOAuth1>(2, uid, "token-" + uid, "secret-" + uid);
}

// The lines of the trace that the facade wrote ("Api::..."), in order.
std::vector<std::string> facade_lines(const std::string& trace) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < trace.size()) {
    size_t end = trace.find('\n', start);
    if (end == std::string::npos) end = trace.size();
    const std::string line = trace.substr(start, end - start);
    const size_t text = line.rfind("|Api::");
    if (text != std::string::npos) lines.push_back(line.substr(text + 1));
    start = end + 1;
  }
  return lines;
}

class RegistrationTest : public RegisteredApiTest {
 protected:
  // Registers the device for the Harnvik user `uid` and returns the user id success received.
  std::string register_harnvik(const std::string& uid) {
    Outcome<std::string> registered;
    api_->register_device(
        harnvik_user(uid), "vendor-1", "macos", "test host", [&](std::string id) { registered.set(id); },
        [&](UserActionErrorType error) { registered.set("failed " + std::to_string(int(error))); });
    return registered.wait().value_or("no answer");
  }
};

TEST_F(RegistrationTest, AnAnonymousRegistrationGivesAnAnonymousUser) {
  start_registered();
  const std::string user = api_->user_id();
  ASSERT_FALSE(user.empty());
  EXPECT_EQ(user[0], '-') << user;
  EXPECT_FALSE(api_->device_id().empty());
  EXPECT_FALSE(api_->user_is_harnvik_linked());
  EXPECT_TRUE(api_->user_has_desktop_kestrun_app());
  EXPECT_FALSE(api_->user_has_mobile_kestrun_app());
  EXPECT_EQ(server_->devices_of(user), std::vector<std::string>{api_->device_id()});
}

TEST_F(RegistrationTest, UnregisteringAnUnregisteredDeviceAnswersAnEmptyUserAndResetsNothing) {
  start();
  Outcome<std::string> unregistered;
  api_->unregister_device(
      libkestrun::UserUnlinkReason::UserInitiated, [&](std::string id) { unregistered.set(id); },
      [&](UserActionErrorType) { unregistered.set("failed"); });
  EXPECT_EQ(unregistered.wait(), std::optional<std::string>(""));
  EXPECT_EQ(facade_lines(trace()), std::vector<std::string>{"Api::unregister_device"});
}

// Registering the user that is registered answers at once; registering another one unlinks this
// device (reason "reregister"), wipes the old user's accounts and mail, and only then registers.
TEST_F(RegistrationTest, AnotherHarnvikUserReplacesTheRegistrationAfterTheOldDataIsWiped) {
  start_with_server();
  synced_ = std::make_unique<NotificationWaiter>(libkestrun::kSyncInitialSyncCompleted);
  ASSERT_EQ(register_harnvik("harnvik-anna"), "harnvik-anna");
  const std::string old_device = api_->device_id();
  const std::string account = add_sample_account();
  ASSERT_EQ(account, kSampleAccount);
  connect_and_sync();
  ASSERT_GT(stored_items(account), 0);

  EXPECT_EQ(register_harnvik("harnvik-anna"), "harnvik-anna");
  EXPECT_EQ(api_->device_id(), old_device) << "no new registration";
  EXPECT_EQ(facade_lines(trace()),
            (std::vector<std::string>{"Api::register_device", "Api::connect", "Api::register_device"}))
      << "no unlinking";

  // What the new registration's success sees on the core thread.
  struct Seen {
    std::string user;
    bool accounts = true;
    int items = -1;
  };
  Outcome<Seen> seen;
  api_->register_device(
      harnvik_user("harnvik-ben"), "vendor-1", "macos", "test host",
      [&](std::string id) {
        seen.set(Seen{id, api_->has_accounts() || api_->has_associated_accounts(), stored_items(account)});
      },
      [&](UserActionErrorType error) { seen.set(Seen{"failed " + std::to_string(int(error))}); });
  std::optional<Seen> result = seen.wait();
  ASSERT_TRUE(result);
  EXPECT_EQ(result->user, "harnvik-ben");
  EXPECT_FALSE(result->accounts) << "the old user's accounts are gone first";
  EXPECT_EQ(result->items, 0) << "the old user's mail is gone first";
  EXPECT_EQ(api_->user_id(), "harnvik-ben");
  EXPECT_TRUE(api_->user_is_harnvik_linked());
  EXPECT_NE(api_->device_id(), old_device);
  EXPECT_TRUE(server_->devices_of("harnvik-anna").empty()) << "the old registration was unlinked";

  const std::vector<std::string> lines = facade_lines(trace());
  const std::vector<std::string> expected = {
      "Api::register_device", "Api::register_device Unlinking due to re-register", "Api::unregister_device"};
  ASSERT_GE(lines.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(lines.end() - 3, lines.end()), expected);
}

TEST_F(RegistrationTest, AFailedUnlinkKeepsTheRegistrationAndFailsOnce) {
  start_with_server();
  ASSERT_EQ(register_harnvik("harnvik-anna"), "harnvik-anna");
  // "H1" asks for no upload of the protocol trace, which could still be pending when this test's
  // process ends; that is not what this test is about.
  server_->fail_next("USER_UNLINK", 1, "H1");
  Outcome<std::string> outcome;
  api_->register_device(
      harnvik_user("harnvik-ben"), "vendor-1", "macos", "test host", [&](std::string id) { outcome.set(id); },
      [&](UserActionErrorType error) { outcome.set("failed " + std::to_string(int(error))); });
  EXPECT_EQ(outcome.wait(), std::optional<std::string>("failed 3"));
  // Anything queued behind the failure has run by now.
  on_core([] {});
  EXPECT_EQ(outcome.calls(), 1);
  EXPECT_EQ(api_->user_id(), "harnvik-anna");
  EXPECT_EQ(server_->devices_of("harnvik-anna").size(), 1u);
}

}  // namespace
}  // namespace kestrun_test
