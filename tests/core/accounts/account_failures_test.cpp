// The failures of account operations: the account errors of the request failures (a time-out
// also traces and uploads the trace) and the alert texts of every operation for every value.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "accounts_fixture.h"
#include "core/foundation/task_manager.h"
#include "core/foundation/thread_pool.h"
#include "core/services/ks_http.h"
#include "core/services/sanity.h"
#include "localization/localization.h"
#include "support/wait.h"

namespace kestrun_test {
namespace {

using libkestrun::AccountActionErrorType;
using Code = KSServerClientAccountModifyFailureType;

std::vector<std::string> lines(const std::string& path) {
  std::vector<std::string> result;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

TEST(AccountFailuresTest, ATimeOutIsTracedOnceAndUploadsTheTrace) {
  TempDir dir;
  libkestrun::thread_pool::start(2);
  std::atomic<int> uploads{0};
  std::string uploaded_part;
  KSHttp::setUploadFunction([&](const std::string&, const std::string&, const jsonette::Json&,
                                const std::string&, const std::string& file_name, int, int) {
    uploaded_part = file_name;
    ++uploads;
    KSHttp::Response response;
    response.status = 200;
    return response;
  });
  libkestrun::sanity::initialize(std::make_shared<libkestrun::LoggingTaskManager>(), dir.path(),
                                 "https://localhost:1/sanity/dump");

  EXPECT_EQ(libkestrun::toAccountActionErrorType(Code::Timeout), AccountActionErrorType::TimedOut);
  ASSERT_TRUE(wait_until([&] { return uploads > 0; }));
  // Once both workers have taken what was queued and finished it, every upload is in.
  std::promise<void> drained;
  libkestrun::thread_pool::post([&drained] { drained.set_value(); });
  drained.get_future().wait();
  libkestrun::thread_pool::stop();
  KSHttp::setUploadFunction(nullptr);

  EXPECT_EQ(uploads, 1);
  EXPECT_EQ(uploaded_part, "sanity");
  int timeouts = 0;
  for (const std::string& line : lines(dir.file("sanity"))) {
    if (line.size() >= 23 && line.compare(line.size() - 23, 23, "|AccountManager timeout") == 0) ++timeouts;
  }
  EXPECT_EQ(timeouts, 1);
  libkestrun::sanity::stop();
}

TEST(AccountFailuresTest, OtherFailuresAreNotTraced) {
  const struct {
    Code code;
    AccountActionErrorType error;
  } cases[] = {
      {Code::Other, AccountActionErrorType::Rejected},
      {Code::Refused, AccountActionErrorType::RejectedByProvider},
      {Code::EmptyArguments, AccountActionErrorType::Rejected},
      {Code::ImapFoldersDisabled, AccountActionErrorType::ImapFoldersDisabled},
      {Code::NoSuchAccount, AccountActionErrorType::NoSuchAccount},
      {static_cast<Code>(9), AccountActionErrorType::Rejected},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(libkestrun::toAccountActionErrorType(c.code), c.error) << static_cast<int>(c.code);
  }
}

class AccountAlertsTest : public AccountsTest {
 protected:
  AccountAlertsTest() { Localization::instance().set_current_locale("en"); }
  ~AccountAlertsTest() override { Localization::instance().set_current_locale(""); }
};

const char kConnectionError[] = "Connection Error";
const char kFailedToAuthorize[] = "Failed to Authorize";
const char kAccountError[] = "Account Error";
const char kDisabled[] = "Provider Temporarily Disabled";
const char kUnavailable[] = "Provider Temporarily Unavailable";
const char kDisabledNotice[] =
    "This provider is temporarily disabled. Please see https://www.kestrun.com/blog for more information or "
    "contact "
    "us at support@kestrun.com.";
const char kUnavailableNotice[] =
    "This provider is temporarily unavailable. Please see https://www.kestrun.com/blog for more information "
    "or "
    "contact us at support@kestrun.com.";
const char kByProvider[] =
    "The information you entered was rejected by your email provider. Please try again.";
const char kAuthenticating[] =
    "Kestrun is having trouble authenticating. Make sure you have a network connection and try again.";
const char kNotOnDevice[] = "That account does not exist on this device.";

TEST_F(AccountAlertsTest, EveryGetterForTheValuesZeroToTwelve) {
  const char* const cant_grant =
      "Your email provider can't grant access to that account right now. We're getting an error.";
  const char* const deleting =
      "We're having trouble deleting that account. Please check your connection and try again.";
  const char* const editing =
      "We're having trouble editing that account. Please check your connection and try again.";
  // One row per value 0 to 12: add title, add message, delete title, delete message, edit title,
  // edit message.
  const std::vector<std::vector<std::string>> rows = {
      {kFailedToAuthorize, cant_grant, kConnectionError, deleting, kConnectionError, editing},
      {kConnectionError, kAuthenticating, kConnectionError, deleting, kConnectionError, editing},
      {kFailedToAuthorize, kByProvider, "Authorization Error",
       "Your device must be authorized for this account in order to delete it from all devices. Please "
       "reauthorize "
       "and try again.",
       kConnectionError, editing},
      {kFailedToAuthorize, "The information you entered was rejected. Please try again.", kConnectionError,
       deleting, kConnectionError, editing},
      {kFailedToAuthorize, "You already added that email address to Kestrun.", kConnectionError, deleting,
       kConnectionError, editing},
      {kFailedToAuthorize, kByProvider, kAccountError, kNotOnDevice, kAccountError, kNotOnDevice},
      {"IMAP Folders Disabled",
       "Kestrun needs access to your IMAP folders in order to sync your data. Please make sure your All "
       "Mail, Sent, "
       "Trash and Kestrun folders are enabled in your email provider's settings and try again.",
       kConnectionError, deleting, kConnectionError, editing},
      {kFailedToAuthorize, kAuthenticating, kConnectionError, deleting, kConnectionError, editing},
      {"Maximum Accounts Reached",
       "Kestrun limits you to 10 email accounts per device. Please remove one of your 10 accounts in "
       "Settings if "
       "you'd like to add a new one.",
       kConnectionError, deleting, kConnectionError, editing},
      {kFailedToAuthorize, cant_grant, kConnectionError, deleting, kConnectionError, editing},
      {kDisabled, kDisabledNotice, kDisabled, kDisabledNotice, kDisabled, kDisabledNotice},
      {kUnavailable, kUnavailableNotice, kUnavailable, kUnavailableNotice, kUnavailable, kUnavailableNotice},
      {kFailedToAuthorize, cant_grant, kConnectionError, deleting, kConnectionError, editing},
  };
  for (int value = 0; value <= 12; ++value) {
    const auto error = static_cast<AccountActionErrorType>(value);
    const std::vector<std::string> texts = {
        manager->getAlertTitleForAccountAddError(error),
        manager->getAlertMessageForAccountAddError(error),
        manager->getAlertTitleForAccountDeleteError(error),
        manager->getAlertMessageForAccountDeleteError(error),
        manager->getAlertTitleForAccountEditError(error),
        manager->getAlertMessageForAccountEditError(error),
    };
    EXPECT_EQ(texts, rows[value]) << value;
  }
}

TEST_F(AccountAlertsTest, TheForwardersGiveTheCurrentLocalesText) {
  libkestrun::account_manager_set_instance(manager);
  Localization::instance().set_current_locale("de");
  EXPECT_EQ(libkestrun::account_manager_get_alert_title_for_account_edit_error(
                AccountActionErrorType::RejectedByProvider),
            "Verbindungsfehler");
  EXPECT_NE(libkestrun::account_manager_get_alert_message_for_account_add_error(
                AccountActionErrorType::ProviderDisabled)
                .find("https://www.kestrun.com/blog"),
            std::string::npos);
  libkestrun::account_manager_set_instance(nullptr);
  EXPECT_EQ(libkestrun::account_manager_get_alert_title_for_account_edit_error(
                AccountActionErrorType::RejectedByProvider),
            "");
}

}  // namespace
}  // namespace kestrun_test
