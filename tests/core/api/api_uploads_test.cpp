// An outgoing e-mail with attachments through the facade, against the local sync server: the
// attachments go up over HTTPS, the e-mail waits for the last of them and then goes over the sync
// connection. The device registers and adds the sample account through the facade, with the
// defaults store on disk in the data directory, so a second facade over the same directory is the
// application started again.
//
// What reaches the server is read where a recipient sees it: the e-mails are addressed to another
// sample mailbox, which every e-mail the server accepts adds one conversation to, and a second
// user who holds that mailbox counts them.
#include <gtest/gtest.h>

#include <jansson.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/accounts/user_manager_impl.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/leveldb_store.h"
#include "core/services/email_resource_manager.h"
#include "core/services/email_resource_manager_impl.h"
#include "registered_fixture.h"
#include "support/sample_mail.h"

namespace kestrun_test {
namespace {

namespace fs = std::filesystem;
using jsonette::Json;
using libkestrun::EmailSendType;
using libkestrun::ResourceCallback;

// The sample mailbox the e-mails are sent to (tools/sync_server/sample_mailbox.cpp).
constexpr char kRecipientAccount[] = "acct-example-net";
constexpr char kRecipientAddress[] = "jon.ferris@example.net";

class ApiUploadsTest : public RegisteredApiTest {
 protected:
  ApiUploadsTest() {
    // The recipient: a user of its own, on a connection of its own.
    recipient_ = std::make_unique<sync_server_test::SyncClient>(server_->port());
    EXPECT_TRUE(recipient_->wait_connected());
    recipient_->authenticate(sync_server_test::register_device(*recipient_, "recipient"));
    Json added = recipient_->request(
        "ACCOUNT_CREATE", Json::object{{"credentials", Json::object{{"password", "sample-net-password"}}},
                                       {"data", kRecipientAddress},
                                       {"locale", "en"},
                                       {"type", 2}});
    EXPECT_TRUE(added["error"].is_null()) << added.dump();
  }

  // A file of the user's, outside the data directory.
  std::string attachment_file(const std::string& name, const std::string& content) {
    const std::string path = outside_.file(name);
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  // Starts the upload of one attachment of `email_id`; `outcome` is set true on success, false on
  // failure.
  void send_attachment(const std::string& attachment_id, const std::string& path, const std::string& email_id,
                       Outcome<bool>& outcome) {
    api_->send_attachment(
        attachment_id, path, fs::path(path).filename().string(), email_id, kSampleAccount,
        [&outcome](json_t*) { outcome.set(true); }, [&outcome](json_t*) { outcome.set(false); });
  }

  // Sends a new e-mail to the recipient, as the compose window does, and waits until the data
  // writer has stored it.
  void send_email(const std::string& email_id, const std::string& subject) {
    Outcome<bool> stored;
    json_t* to = json_pack("[{s:s, s:s}]", "address", kRecipientAddress, "name", "Jon Ferris");
    api_->send_email(email_id, subject, "<p>The plan is attached.</p>", "", kSampleAccount, to, json_array(),
                     json_array(), "", EmailSendType::NewMessage,
                     [&](std::vector<std::string>&) { stored.set(true); });
    ASSERT_TRUE(stored.wait());
  }

  // E-mails with `subject` in the recipient's mailbox.
  size_t delivered(const std::string& subject) {
    size_t count = 0;
    for (const Json& email : server_emails(*recipient_, kRecipientAccount))
      if (email["subject"].string_value() == subject) ++count;
    return count;
  }

  // Waits until the e-mail's uploads, its held-back send and every outgoing request have ended
  // (the server has answered them all), then counts what reached the recipient.
  size_t delivered_when_settled(const std::string& email_id, const std::string& subject) {
    EXPECT_TRUE(wait_until(
        [&] {
          return libkestrun::email_resource_manager_has_no_queued_uploads_for_email(email_id) &&
                 !tasks_->has_tasks();
        },
        std::chrono::seconds(60)));
    return delivered(subject);
  }

  std::unique_ptr<sync_server_test::SyncClient> recipient_;
  TempDir outside_;
};

TEST_F(ApiUploadsTest, EmailWithTwoAttachmentsReachesTheServerOnceAfterBothUploads) {
  start_registered();
  ASSERT_EQ(add_sample_account(), kSampleAccount);
  connect_and_sync();

  server_->resources().hold();
  Outcome<bool> first, second;
  send_attachment("ATT-1", attachment_file("plan.pdf", "%PDF the plan"), "OUT-1", first);
  send_attachment("ATT-2", attachment_file("chart.png", std::string("\x89PNG\0\x01", 6)), "OUT-1", second);
  send_email("OUT-1", "Quarterly plan");
  // Held back while its attachments are on their way: the connection is up, so an e-mail sent at
  // once would be in the trace by the time the data writer is done.
  EXPECT_FALSE(libkestrun::email_resource_manager_has_no_queued_uploads_for_email("OUT-1"));
  EXPECT_EQ(trace().find("EMAIL_SAVE"), std::string::npos);
  EXPECT_EQ(delivered("Quarterly plan"), 0u);
  server_->resources().release();

  EXPECT_EQ(first.wait(), true);
  EXPECT_EQ(second.wait(), true);
  EXPECT_EQ(delivered_when_settled("OUT-1", "Quarterly plan"), 1u);
  EXPECT_EQ(server_->resources().served("upload"), 2u);
}

// The application stops while both uploads are unanswered; started again over the same data
// directory it uploads them on its next connection and then sends the e-mail, once.
TEST_F(ApiUploadsTest, QueuedUploadsSurviveARestartAndResumeOnTheNextConnection) {
  start_registered();
  ASSERT_EQ(add_sample_account(), kSampleAccount);

  server_->resources().hold();
  Outcome<bool> first, second;
  send_attachment("ATT-1", attachment_file("plan.pdf", "%PDF the plan"), "OUT-R", first);
  send_attachment("ATT-2", attachment_file("notes.txt", "notes"), "OUT-R", second);
  send_email("OUT-R", "Plan after restart");
  api_.reset();  // stopping ends the unanswered uploads
  EXPECT_NE(first.get(), true);
  EXPECT_NE(second.get(), true);
  server_->resources().release();

  {
    auto store = std::make_shared<libkestrun::LeveldbStore>(dir_.file("defaultsdb"));
    libkestrun::JsonKvStore json(store);
    const std::string secret =
        json.get_json(libkestrun::kUserDocKey).value_or(Json())["device_secret"].string_value();
    ASSERT_FALSE(secret.empty());
    const std::string queue =
        json.get_json(libkestrun::EmailResourceManagerImpl::kQueuedUploadsKey).value_or(Json()).dump();
    EXPECT_NE(queue.find("ATT-1"), std::string::npos) << queue;
    EXPECT_NE(queue.find("ATT-2"), std::string::npos) << queue;
    EXPECT_NE(queue.find("queued_email_send_type"), std::string::npos) << queue;
    EXPECT_EQ(queue.find("device_secret"), std::string::npos) << queue;
    EXPECT_EQ(queue.find(secret), std::string::npos) << queue;
  }
  EXPECT_EQ(delivered("Plan after restart"), 0u);

  tasks_ = std::make_shared<libkestrun::LoggingTaskManager>();
  libkestrun::Overrides overrides;
  overrides.task_manager = tasks_;
  start(server_config(), overrides);
  EXPECT_FALSE(libkestrun::email_resource_manager_has_no_queued_uploads_for_email("OUT-R"));
  api_->connect();

  EXPECT_EQ(delivered_when_settled("OUT-R", "Plan after restart"), 1u);
  api_.reset();
  auto store = std::make_shared<libkestrun::LeveldbStore>(dir_.file("defaultsdb"));
  EXPECT_FALSE(
      libkestrun::JsonKvStore(store).get_json(libkestrun::EmailResourceManagerImpl::kQueuedUploadsKey));
}

}  // namespace
}  // namespace kestrun_test
