// Bodies, attachments and files through the facade, against the local sync server's HTTPS side
// with the host's libcurl hooks. The device is registered on the server and its identity written
// to the host's key-value store; the e-mails quoted are stored locally through the data center as
// the sync connection would store them.
#include <gtest/gtest.h>

#include <jansson.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "api_fixture.h"
#include "brelt/semaphore.h"
#include "core/accounts/account_manager_impl.h"
#include "core/accounts/user_manager_impl.h"
#include "core/data/consumer_center.h"
#include "core/data/data_center.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/memory_store.h"
#include "core/services/zero_inbox_request.h"
#include "platform/localization/date_forms.h"
#include "platform/localization/localization.h"
#include "support/resource_outcomes.h"
#include "support/sample_mail.h"

namespace kestrun_test {
namespace {

namespace fs = std::filesystem;
using jsonette::Json;
using libkestrun::EmailSendType;

constexpr char kAccount[] = "acct-example-com";
constexpr char kPicture[] = "\xff\xd8\xff\xe0 picture";

std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// The text a success callback received as a JSON string.
std::string text_of(const std::string& outcome) {
  const std::string prefix = "success:";
  if (outcome.rfind(prefix, 0) != 0) return "<" + outcome + ">";
  std::string error;
  return Json::parse(outcome.substr(prefix.size()), error).string_value();
}

class ApiFilesTest : public ApiServerTest {
 protected:
  ApiFilesTest() {
    // A device of the server with the sample account; its identity becomes the user document.
    client_ = std::make_unique<sync_server_test::SyncClient>(server_->port());
    EXPECT_TRUE(client_->wait_connected());
    Json state = sync_server_test::register_device(*client_);
    client_->authenticate(state);
    client_->request("ACCOUNT_CREATE",
                     Json::object{{"credentials", Json::object{{"password", "sample-com-password"}}},
                                  {"data", "maya.lind@example.com"},
                                  {"locale", "en"},
                                  {"type", 1}});
    libkestrun::JsonKvStore(store_).set_json(libkestrun::kUserDocKey,
                                             Json::object{{"user_id", state["user_id"]},
                                                          {"device_id", state["device_id"]},
                                                          {"device_secret", state["device_secret"]}});
    libkestrun::JsonKvStore(store_).set_json(
        libkestrun::AccountManagerImpl::kAccountsKey,
        Json::array{Json::object{
            {"accountID", kAccount}, {"emailAddress", "maya.lind@example.com"}, {"authenticated", true}}});
    // Today's empty-inbox picture, fetched as the core starts.
    const std::string pictures = server_->pictures_directory();
    fs::create_directories(pictures);
    const std::string today = libkestrun::zero_inbox_date_string();
    std::ofstream(pictures + "/" + today + ".json")
        << Json(Json::object{{"mediaID", "m1"}, {"showDate", today}, {"uri", "https://pictures.example/m1"}})
               .dump();
    std::ofstream(pictures + "/" + today + ".jpg", std::ios::binary) << kPicture;
    libkestrun::Overrides overrides;
    overrides.kv_store = store_;
    start(server_config(), overrides);
  }
  ~ApiFilesTest() override { api_.reset(); }

  // A new conversation in the server's mailbox; its e-mail document.
  Json deliver(const std::string& subject) {
    return kestrun_test::deliver(
        *server_, *client_, {kAccount, "Ola Nordmann", "ola@example.com", subject, "<p>Lunch at noon?</p>"});
  }
  // Stores the server's e-mail document locally, as a pushed document is stored.
  void store_locally(const Json& email) {
    brelt::Semaphore stored;
    on_core([&] {
      KestrunDataCenter::processDocumentSnapshot(Json::object{{"email", Json::array{email}}}, Json(),
                                                 kAccount, nullptr,
                                                 [&](std::vector<std::string>&) { stored.notify(); });
    });
    stored.wait();
  }
  int64_t created_at(const std::string& email_id) {
    int64_t created = -1;
    KestrunConsumerCenter::withDBContext([&](DBContext& context) {
      if (auto email = context.fetchEmail(email_id)) created = email->get_CREATEDAT();
    });
    return created;
  }
  std::string plain_body(const std::string& email_id, EmailSendType type) {
    ResourceOutcomes outcome;
    api_->download_plain_full_body(kAccount, email_id, 1, type, outcome.callback("success"),
                                   outcome.callback("failure"));
    return text_of(outcome.wait().front());
  }
  size_t served(const char* operation) { return server_->resources().served(operation); }

  std::shared_ptr<libkestrun::KvStore> store_ = std::make_shared<libkestrun::MemoryStore>();
  std::unique_ptr<sync_server_test::SyncClient> client_;
  TempDir outside_;  // the user's own files, away from the core's data directory
};

TEST_F(ApiFilesTest, QuotedBodyStartsWithSignatureAndHeaderForEachSendType) {
  const Json email = deliver("Lunch");
  const std::string id = email["_id"].string_value();
  store_locally(email);
  const int64_t created = created_at(id);
  ASSERT_GT(created, 0);
  api_->set_email_signature_for_account("", "Maya");

  const std::string body = plain_body(id, EmailSendType::NewMessage);
  ASSERT_NE(body.find("Lunch at noon?"), std::string::npos) << body;
  const std::string header = "On " + LOCALIZED_TIMESTAMP(HVX_DATE_STRING_DATE, created) + " at " +
                             LOCALIZED_TIMESTAMP(HVX_DATE_STRING_TIME, created) +
                             ", Ola Nordmann <ola@example.com>, wrote:";
  const struct {
    EmailSendType type;
    std::string prefix;
  } cases[] = {
      {EmailSendType::Reply, "Maya\n\n" + header + "\n\n"},
      {EmailSendType::Forward, "Maya\n\nBegin forwarded message:\n\n" + header + "\n\n"},
      {EmailSendType::NewMessage, ""},
      {EmailSendType::ReplyAll, "Maya\n\n" + header + "\n\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(plain_body(id, c.type), c.prefix + body) << static_cast<int>(c.type);
}

TEST_F(ApiFilesTest, ReplyToAnEmailTheStoreLacksHasAnEmptyHeader) {
  const std::string id = deliver("Not synced yet")["_id"].string_value();
  api_->set_email_signature_for_account("", "");
  const std::string body = plain_body(id, EmailSendType::NewMessage);
  ASSERT_NE(body.find("Lunch at noon?"), std::string::npos) << body;
  EXPECT_EQ(plain_body(id, EmailSendType::Reply), "\n\n\n\n" + body);
  EXPECT_EQ(plain_body(id, EmailSendType::Forward), "\n\nBegin forwarded message:\n\n\n\n" + body);
}

// The address comes back at once, before the upload is answered; the user's own file stays where
// it was, a file the core prepared in its data directory is moved; what went up comes back from
// object storage.
TEST_F(ApiFilesTest, SentAttachmentIsUploadedAndTheUsersOriginalStays) {
  const struct {
    const char* name;
    std::string path;
    bool original_stays;
  } cases[] = {
      {"the user's file", outside_.file("docs/plan v2.pdf"), true},
      {"prepared by the core", dir_.file("prepared-plan.pdf"), false},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string email = "OUT-" + std::to_string(++n);
    const std::string content = std::string("%PDF bytes of ") + c.name;
    write(c.path, content);
    const size_t uploads = served("upload");
    ResourceOutcomes outcome;
    server_->resources().hold();
    EXPECT_EQ(api_->send_attachment("ATT-1", c.path, "plan.pdf", email, kAccount, outcome.callback("success"),
                                    outcome.callback("failure")),
              std::string("kestrun://s3_download/") + kAccount + "/" + email + "/ATT-1");
    EXPECT_EQ(fs::exists(c.path), c.original_stays);
    if (c.original_stays) {
      EXPECT_EQ(read(c.path), content);
    }
    EXPECT_EQ(read(api_->path_for_attachment(kAccount, email, "ATT-1")), content);
    ASSERT_TRUE(server_->resources().wait_for_held(1));
    server_->resources().release();
    EXPECT_EQ(outcome.wait(), std::vector<std::string>{"success:null"});
    EXPECT_EQ(served("upload"), uploads + 1);

    api_->clear_resources_from_email(kAccount, email);
    EXPECT_FALSE(api_->email_has_attachments(kAccount, email));
    ResourceOutcomes back;
    api_->download_sent_attachment(kAccount, email, "ATT-1", "plan.pdf", false, back.callback("success"),
                                   back.callback("failure"), back.callback("missing"), nullptr);
    ASSERT_EQ(back.wait().size(), 1u);
    EXPECT_EQ(read(api_->path_for_attachment(kAccount, email, "ATT-1")), content);
  }
  // No staging copy is left in the data directory.
  for (const auto& entry : fs::directory_iterator(dir_.path()))
    EXPECT_EQ(entry.path().filename().string().rfind("outgoing-", 0), std::string::npos) << entry.path();
}

TEST_F(ApiFilesTest, UnreadableFileFailsItsUpload) {
  ResourceOutcomes outcome;
  EXPECT_EQ(api_->send_attachment("ATT-9", outside_.file("gone.pdf"), "gone.pdf", "OUT-9", kAccount,
                                  outcome.callback("success"), outcome.callback("failure")),
            std::string("kestrun://s3_download/") + kAccount + "/OUT-9/ATT-9");
  EXPECT_EQ(outcome.wait(), std::vector<std::string>{"failure:null"});
  EXPECT_FALSE(api_->email_has_attachments(kAccount, "OUT-9"));
  EXPECT_EQ(served("upload"), 0u);
}

TEST_F(ApiFilesTest, DownloadedAttachmentIsRecordedAndCleared) {
  auto [email, attachment, size] = sample_attachment(*client_, kAccount);
  ResourceOutcomes outcome;
  std::mutex progress_mutex;
  int64_t progress = 0;
  api_->download_attachment(kAccount, email, attachment, "Photo.PNG", true, outcome.callback("success"),
                            outcome.callback("failure"), outcome.callback("missing"), [&](json_t* value) {
                              std::lock_guard<std::mutex> lock(progress_mutex);
                              progress = json_integer_value(json_object_get(value, "download_size"));
                            });
  ASSERT_EQ(outcome.wait().size(), 1u);
  EXPECT_EQ(outcome.seen()[0].rfind("success:", 0), 0u) << outcome.seen()[0];
  {
    std::lock_guard<std::mutex> lock(progress_mutex);
    EXPECT_GT(progress, 0);
  }

  EXPECT_TRUE(api_->attachment_exists(kAccount, email, attachment, "Photo.PNG", false));
  EXPECT_TRUE(api_->email_has_attachments(kAccount, email));
  const std::string path = api_->path_for_attachment(kAccount, email, attachment);
  EXPECT_EQ(path,
            api_->attachments_directory() + "/" + kAccount + "/" + email + "/" + attachment + "/Photo.PNG");
  EXPECT_EQ(api_->attachments_directory(), dir_.file("Attachments"));
  EXPECT_EQ(read(path).size(), size);
  const std::vector<std::string> entries{attachment + "/Photo.PNG"};
  EXPECT_EQ(*api_->attachments_for_email(kAccount, email), entries);
  EXPECT_EQ(*api_->image_attachments_for_email(kAccount, email), entries);

  api_->clear_resources_from_email(kAccount, email);
  EXPECT_FALSE(api_->attachment_exists(kAccount, email, attachment, "Photo.PNG", false));
  EXPECT_EQ(api_->path_for_attachment(kAccount, email, attachment), "");
  EXPECT_TRUE(api_->attachments_for_email(kAccount, email)->empty());
  EXPECT_FALSE(fs::exists(path));
}

// The facade takes its callbacks as success, failure, resource missing, progress.
TEST_F(ApiFilesTest, MissingAttachmentReachesTheResourceMissingCallback) {
  auto [email, attachment, size] = sample_attachment(*client_, kAccount);
  ResourceOutcomes outcome;
  api_->download_attachment(kAccount, email, "att-none", "x.bin", false, outcome.callback("success"),
                            outcome.callback("failure"), outcome.callback("missing"),
                            outcome.callback("progress"));
  auto has = [&](const std::string& kind) {
    for (const std::string& seen : outcome.seen())
      if (seen.rfind(kind, 0) == 0) return true;
    return false;
  };
  ASSERT_TRUE(wait_until([&] { return has("missing:\"att-none\""); }));
  EXPECT_FALSE(has("success:"));
  EXPECT_FALSE(has("failure:"));
  EXPECT_FALSE(api_->email_has_attachments(kAccount, email));
}

TEST_F(ApiFilesTest, ImagePathsAndDirectories) {
  const struct {
    const char* path;
    bool image;
  } cases[] = {{"/a/b.JPEG", true},     {"/a/b.gif", true},   {"/a/b.Tiff", true},
               {"/a/b.png.txt", false}, {"/a/b.pngx", false}, {"/a/jpg", false}};
  for (const auto& c : cases) EXPECT_EQ(api_->item_at_path_is_image(c.path), c.image) << c.path;

  const std::string made = dir_.file("made/deep/er");
  EXPECT_TRUE(api_->create_directory(made));
  EXPECT_TRUE(fs::is_directory(made));
  EXPECT_FALSE(api_->create_directory(made));
}

TEST_F(ApiFilesTest, TodaysPictureReadsBackWithItsBytes) {
  ASSERT_TRUE(wait_until([&] { return api_->get_zero_inbox_data().mediaID == "m1"; }));
  const ZeroInboxData data = api_->get_zero_inbox_data();
  EXPECT_EQ(data.uri, "https://pictures.example/m1");
  EXPECT_EQ(std::string(data.bytes.begin(), data.bytes.end()), kPicture);
}

}  // namespace
}  // namespace kestrun_test
