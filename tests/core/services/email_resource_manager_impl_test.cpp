// Bodies, attachments and uploads through the host's real HTTP hooks to the local sync server's
// HTTPS side, signed with a device the server registered; the real data writer stores bodies in a
// keyed temporary database, the real attachment manager keeps the files. The sync connection's
// clients are still recording stand-ins (WriterTest), so a held-back send is seen as the object
// client's "saveEmail".
#include "core/services/email_resource_manager_impl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/accounts/account_manager_impl.h"
#include "core/accounts/user_manager_impl.h"
#include "core/data/background_writer.h"
#include "core/data/writer_fixture.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/leveldb_store.h"
#include "core/foundation/posix_file_utility.h"
#include "core/foundation/thread_pool.h"
#include "core/foundation/utility.h"
#include "core/services/attachment_manager_impl.h"
#include "core/services/file_manager.h"
#include "support/resource_outcomes.h"
#include "support/sample_mail.h"
#include "support/wait.h"
#include "tools/host_http/http_bridge.h"
#include "tools/sync_server/sync_client.h"
#include "tools/sync_server/sync_server.h"

namespace libkestrun {
namespace {

namespace fs = std::filesystem;
using jsonette::Json;
using kestrun_test::ResourceOutcomes;
using kestrun_test::wait_until;

constexpr char kAccount[] = "acct-example-com";

std::string read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::string text(json_t* value) {
  return json_is_string(value) ? std::string(json_string_value(value), json_string_length(value))
                               : "<not text>";
}

std::string quoted(const std::string& text) { return Json(text).dump(); }

class ResourceManagerTest : public kestrun_test::WriterTest {
 protected:
  ResourceManagerTest() {
    signal(SIGPIPE, SIG_IGN);
    sync_server::ServerOptions options;
    options.state_directory = dir_.file("server");
    options.hmac_key = sync_server_test::test_key();
    server = std::make_unique<sync_server::SyncServer>(options);
    sync_server_test::trust_authority(server->authority_pem());

    // A device of the server with the sample account; its credentials become the user document.
    client = std::make_unique<sync_server_test::SyncClient>(server->port());
    EXPECT_TRUE(client->wait_connected());
    Json state = client->request(
        "USER_NEW_DEVICE", Json::object{{"name", "mac"}, {"type", "macos"}, {"vendor_id", "V"}})["result"];
    client->authenticate(state);
    client->request("ACCOUNT_CREATE",
                    Json::object{{"credentials", Json::object{{"password", "sample-com-password"}}},
                                 {"data", "maya.lind@example.com"},
                                 {"locale", "en"},
                                 {"type", 1}});
    secret = state["device_secret"].string_value();
    JsonKvStore(user_store)
        .set_json(kUserDocKey, Json::object{{"user_id", state["user_id"]},
                                            {"device_id", state["device_id"]},
                                            {"device_secret", state["device_secret"]}});
    JsonKvStore(user_store)
        .set_json(
            AccountManagerImpl::kAccountsKey,
            Json::array{Json::object{{"accountID", kAccount}, {"emailAddress", "maya.lind@example.com"}}});
    accounts->load();
    users = std::make_shared<UserManagerImpl>(center_, user_store, *accounts);
    files.initialize();

    fs::create_directories(dir_.file("downloads"));
    thread_pool::start(2);
    bridge = std::make_shared<kestrun_host::HttpBridge>(dir_.file("downloads"));
    KSHttp::Downloader::initialize(kestrun_host::HttpBridge::download_hook(bridge));
    KSHttp::Uploader::initialize(kestrun_host::HttpBridge::upload_hook(bridge));
    open();
  }

  ~ResourceManagerTest() override {
    thread_pool::stop();
    KSHttp::setDownloadFunction(nullptr);
    KSHttp::setUploadFunction(nullptr);
    attachment_manager_set_instance(nullptr);
    manager.reset();
    thread_.post_sync([] {});  // completions already queued on the core thread run first
  }

  std::string base() const { return "https://localhost:" + std::to_string(server->resource_port()); }
  ServerUrls urls(const std::string& upload_path = "/upload") const {
    return {base() + "/service/mail/attachment_download",
            base() + "/service/mail/body",
            base() + "/service/mail/text_body",
            base() + "/s3_download",
            base() + "/s",
            base() + upload_path};
  }

  // A manager over the queue's LevelDB store, opened again as after a restart.
  void open(const std::string& upload_path = "/upload") {
    email_resource_manager_set_instance(nullptr);  // the instance holds the store too
    manager.reset();
    queue_store.reset();
    queue_store = std::make_shared<LeveldbStore>(dir_.file("defaultsdb"));
    manager = std::make_shared<EmailResourceManagerImpl>(
        sync_server_test::test_key(), urls(upload_path), std::make_shared<Defaults>(queue_store), utility,
        tasks, accounts.get(), attachments.get(), offline.get(), users.get());
    email_resource_manager_set_instance(manager);
    attachment_manager_set_instance(attachments);
  }

  // The stored upload queue's text, or "absent".
  std::string storedQueue() {
    auto json = JsonKvStore(queue_store).get_json(EmailResourceManagerImpl::kQueuedUploadsKey);
    return json ? json->dump() : "absent";
  }

  std::vector<Json> serverEmails() { return kestrun_test::server_emails(*client, kAccount); }
  // A new conversation in the server's mailbox; its e-mail document.
  Json deliver(const std::string& subject, const std::string& html) {
    return kestrun_test::deliver(*server, *client, {kAccount, "Ola", "ola@example.com", subject, html});
  }
  // The e-mail in the local store, so that a downloaded body has a row to go to.
  void storeLocal(const std::string& emailID,
                  libkestrun::EmailSendState state = libkestrun::EmailSendState::None) {
    storeItem("I-" + emailID);
    storeEmail(emailID, "I-" + emailID, [&](KSEmail& email) { email.set_SENDSTATE(state); });
  }
  size_t served(const char* operation) { return server->resources().served(operation); }

  std::unique_ptr<sync_server::SyncServer> server;
  std::unique_ptr<sync_server_test::SyncClient> client;
  std::string secret;
  std::shared_ptr<KvStore> user_store = std::make_shared<MemoryStore>();
  std::shared_ptr<AccountManagerImpl> accounts = std::make_shared<AccountManagerImpl>(center_, user_store);
  std::shared_ptr<UserManagerImpl> users;
  std::shared_ptr<FileUtility> utility = std::make_shared<posix::PosixFileUtility>();
  FileManager files{dir_.file("data"), dir_.file("resources"), utility};
  std::shared_ptr<AttachmentManagerImpl> attachments =
      std::make_shared<AttachmentManagerImpl>(utility, accounts.get(), &files);
  std::shared_ptr<TaskManager> tasks = std::make_shared<LoggingTaskManager>();
  std::shared_ptr<OfflineManager> offline = std::make_shared<OfflineManager>(
      OfflineManager::kConnectionWifi, std::make_shared<Defaults>(std::make_shared<MemoryStore>()), tasks,
      nullptr);
  std::shared_ptr<kestrun_host::HttpBridge> bridge;
  std::shared_ptr<KvStore> queue_store;
  std::shared_ptr<EmailResourceManagerImpl> manager;
};

TEST(EscapeUrlComponentTest, KeepsOnlyTheUnreservedCharacters) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"A.b_~*'()!9", "A.b_~*'()!9"},
      {"-", "%2d"},
      {" ", "%20"},
      {"/", "%2f"},
      {"%", "%25"},
      {"\xc3\xa9", "%c3%a9"},
      {"a/../b", "a%2f..%2fb"},
      {"", ""},
      {std::string("\0", 1), "%00"},
      {"?#&=+", "%3f%23%26%3d%2b"},
  };
  for (const auto& c : cases) EXPECT_EQ(EmailResourceManagerImpl::escapeUrlComponent(c.in), c.out) << c.in;
}

TEST_F(ResourceManagerTest, TwoHtmlCallsShareOneRequestAndTheBodyIsStored) {
  const Json email = serverEmails().front();
  const std::string id = email["_id"].string_value();
  const std::string html = email["conversation"].string_value();
  storeLocal(id);
  ResourceOutcomes first, second;
  server->resources().hold();
  manager->downloadFullBodyForEmail(kAccount, id, 1, first.callback("success"), first.callback("failure"));
  ASSERT_TRUE(server->resources().wait_for_held(1));
  manager->downloadFullBodyForEmail(kAccount, id, 1, second.callback("success"), second.callback("failure"));
  server->resources().release();

  EXPECT_EQ(first.wait(1), std::vector<std::string>{"success:" + quoted(html)});
  EXPECT_EQ(second.wait(1), std::vector<std::string>{"success:" + quoted(html)});
  EXPECT_EQ(served("body"), 1u);
  EXPECT_EQ(manager->bodyDownloadsInFlight(), 0u);
  auto row = this->email(id);
  EXPECT_EQ(row.get_FULLBODY(), html);
  EXPECT_TRUE(row.get_HASFULLBODY());
  EXPECT_TRUE(row.get_FULLBODYISHTML());
}

TEST_F(ResourceManagerTest, PlainCallBesideARunningHtmlOneGetsItsOwnTextWithPrefix) {
  const Json email = serverEmails().front();
  const std::string id = email["_id"].string_value();
  storeLocal(id);
  ResourceOutcomes html, plain;
  server->resources().hold();
  manager->downloadFullBodyForEmail(kAccount, id, 1, html.callback("success"), html.callback("failure"));
  ASSERT_TRUE(server->resources().wait_for_held(1));
  manager->downloadPlainFullBodyForEmail(kAccount, id, 1, "> ", plain.callback("success"),
                                         plain.callback("failure"));
  ASSERT_TRUE(server->resources().wait_for_held(2));  // a request of its own
  server->resources().release();

  std::vector<std::string> got = plain.wait(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].rfind("success:\"> ", 0), 0u) << got[0];
  EXPECT_EQ(got[0].find('<'), std::string::npos) << "plain text, not HTML: " << got[0];
  EXPECT_EQ(html.wait(1),
            std::vector<std::string>{"success:" + quoted(email["conversation"].string_value())});
  EXPECT_EQ(served("text_body"), 1u);
  EXPECT_EQ(this->email(id).get_FULLBODY(), email["conversation"].string_value());
}

TEST_F(ResourceManagerTest, BodyFailuresGiveNull) {
  const std::string empty = deliver("Nothing inside", "")["_id"].string_value();
  storeLocal(empty);
  const struct {
    const char* name;
    std::string email;
    int conversationLength;
    bool connected;
    std::string outcome;
  } cases[] = {
      {"answered 404", "no-such-email", 0, true, "failure:null"},
      {"empty body, no conversation", empty, 0, true, "success:\"\""},
      {"empty body of a conversation", empty, 1, true, "failure:null"},
      {"offline", empty, 0, false, "failure:null"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    offline->setConnectionType(c.connected ? OfflineManager::kConnectionWifi
                                           : OfflineManager::kConnectionNone);
    const size_t before = served("body");
    ResourceOutcomes html, plain;
    manager->downloadFullBodyForEmail(kAccount, c.email, c.conversationLength, html.callback("success"),
                                      html.callback("failure"));
    manager->downloadPlainFullBodyForEmail(kAccount, c.email, c.conversationLength, "",
                                           plain.callback("success"), plain.callback("failure"));
    if (!c.connected) {  // at once, on the calling thread, and nothing sent
      EXPECT_EQ(html.seen(), std::vector<std::string>{c.outcome});
      EXPECT_EQ(served("body"), before);
    }
    EXPECT_EQ(html.wait(1), std::vector<std::string>{c.outcome});
    EXPECT_EQ(plain.wait(1), std::vector<std::string>{c.outcome});
  }
  EXPECT_EQ(this->email(empty).get_FULLBODY(), "");
  EXPECT_TRUE(this->email(empty).get_HASFULLBODY());
}

TEST_F(ResourceManagerTest, AttachmentsArriveInTheirFolderWithGrowingProgress) {
  auto [email, attachment, size] = kestrun_test::sample_attachment(*client, kAccount);
  ResourceOutcomes outcome;
  std::vector<int64_t> progress;
  std::mutex progress_mutex;
  manager->downloadAttachment(
      kAccount, email, attachment, "sample.bin", false, outcome.callback("success"),
      [&](json_t* value) {
        std::lock_guard<std::mutex> lock(progress_mutex);
        progress.push_back(json_integer_value(json_object_get(value, "download_size")));
        EXPECT_EQ(text(json_object_get(value, "attachment_id")), attachment);
      },
      outcome.callback("client_error"), outcome.callback("failure"));
  // Members in the order the manager builds them.
  EXPECT_EQ(outcome.wait(1),
            std::vector<std::string>{"success:{\"account_id\":\"" + std::string(kAccount) +
                                     "\",\"email_id\":\"" + email + "\",\"attachment_id\":\"" + attachment +
                                     "\",\"file_name\":\"sample.bin\"}"});
  EXPECT_EQ(read(attachments->pathForAttachment(kAccount, email, attachment)).size(), size);
  std::lock_guard<std::mutex> lock(progress_mutex);
  ASSERT_FALSE(progress.empty());
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_LE(progress.back(), static_cast<int64_t>(size));
}

TEST_F(ResourceManagerTest, MissingAttachmentReachesOnlyTheClientErrorCallbacks) {
  auto [email, attachment, size] = kestrun_test::sample_attachment(*client, kAccount);
  ResourceOutcomes outcome;
  manager->downloadAttachment(kAccount, email, "att-none", "x.bin", false, outcome.callback("success"),
                              nullptr, outcome.callback("client_error"), outcome.callback("failure"));
  EXPECT_EQ(outcome.wait(1), std::vector<std::string>{"client_error:\"att-none\""});
  EXPECT_EQ(manager->attachmentDownloadsInFlight(), 0u);
  EXPECT_FALSE(attachments->emailHasAttachments(kAccount, email));
}

TEST_F(ResourceManagerTest, SharedLinkDownloadSendsNoCredentials) {
  // The server refuses a shared-link request that carries any field.
  write(server->shared_directory() + "/SHARED-1/plan v2.txt", "shared bytes");
  ResourceOutcomes outcome;
  manager->downloadHarnvikAttachment(kAccount, "E-shared", "SHARED-1", "plan v2.txt", false,
                                     outcome.callback("success"), nullptr, outcome.callback("client_error"),
                                     outcome.callback("failure"));
  ASSERT_EQ(outcome.wait(1).size(), 1u);
  EXPECT_EQ(outcome.seen()[0].rfind("success:", 0), 0u) << outcome.seen()[0];
  EXPECT_EQ(read(attachments->pathForAttachment(kAccount, "E-shared", "SHARED-1")), "shared bytes");
  EXPECT_EQ(served("s"), 1u);
}

TEST_F(ResourceManagerTest, HeldBackSendGoesOutOnceAfterBothUploads) {
  storeLocal("OUT-1", libkestrun::EmailSendState::Sending);
  write(dir_.file("outgoing/a.pdf"), "first attachment");
  write(dir_.file("outgoing/b.png"), std::string("\x89PNG\0\x01", 6));
  ResourceOutcomes outcome;
  server->resources().hold();
  EXPECT_EQ(manager->uploadAttachment("ATT-A", dir_.file("outgoing/a.pdf"), "a.pdf", "OUT-1", kAccount, true,
                                      outcome.callback("success"), outcome.callback("failure")),
            std::string("kestrun://s3_download/") + kAccount + "/OUT-1/ATT-A");
  manager->uploadAttachment("ATT-B", dir_.file("outgoing/b.png"), "b.png", "OUT-1", kAccount, true,
                            outcome.callback("success"), outcome.callback("failure"));
  ASSERT_TRUE(server->resources().wait_for_held(2));
  EXPECT_FALSE(manager->queueEmailSend("OUT-1", EmailSendType::NewMessage, "", true));
  EXPECT_FALSE(manager->hasNoQueuedUploadsForEmail("OUT-1"));
  const std::string stored = storedQueue();
  EXPECT_NE(stored.find("ATT-B"), std::string::npos) << stored;
  EXPECT_EQ(stored.find("device_secret"), std::string::npos) << stored;
  EXPECT_EQ(stored.find(secret), std::string::npos) << stored;
  EXPECT_TRUE(objects_->calls().empty());
  server->resources().release();

  EXPECT_EQ(outcome.wait(2), (std::vector<std::string>{"success:null", "success:null"}));
  ASSERT_TRUE(wait_until([&] { return storedQueue() == "absent"; }));
  EXPECT_TRUE(manager->hasNoQueuedUploadsForEmail("OUT-1"));
  std::vector<kestrun_test::Call> sends;
  for (const auto& call : objects_->calls())
    if (call.method == "saveEmail") sends.push_back(call);
  EXPECT_EQ(sends.size(), 1u);

  // What went up comes back from object storage.
  ResourceOutcomes back;
  manager->downloadSentAttachment(kAccount, "OUT-1", "ATT-B", "b.png", true, back.callback("success"),
                                  nullptr, back.callback("client_error"), back.callback("failure"));
  ASSERT_EQ(back.wait(1).size(), 1u);
  EXPECT_EQ(read(attachments->pathForAttachment(kAccount, "OUT-1", "ATT-B")),
            std::string("\x89PNG\0\x01", 6));
}

TEST_F(ResourceManagerTest, QueueSurvivesReopeningAndResumesOnTheNextConnection) {
  write(dir_.file("outgoing/a.pdf"), "resumed");
  open("/upload-unreachable");  // the upload fails: 404
  ResourceOutcomes outcome;
  manager->uploadAttachment("ATT-R", dir_.file("outgoing/a.pdf"), "a.pdf", "OUT-R", kAccount, true,
                            outcome.callback("success"), outcome.callback("failure"));
  EXPECT_EQ(outcome.wait(1), std::vector<std::string>{"failure:null"});

  open();  // a restart
  EXPECT_FALSE(manager->hasNoQueuedUploadsForEmail("OUT-R"));
  manager->sendQueuedAttachments();  // a new sync connection
  ASSERT_TRUE(wait_until([&] { return storedQueue() == "absent"; }));
  EXPECT_EQ(served("upload"), 1u);
  EXPECT_TRUE(manager->hasNoQueuedUploadsForEmail("OUT-R"));
}

TEST_F(ResourceManagerTest, SameAttachmentSentTwiceKeepsBothUploadsToTheirEnd) {
  write(dir_.file("outgoing/a.pdf"), "twice");
  ResourceOutcomes outcome;
  server->resources().hold();
  for (int i = 0; i < 2; ++i)
    manager->uploadAttachment("ATT-2", dir_.file("outgoing/a.pdf"), "a.pdf", "OUT-2", kAccount, true,
                              outcome.callback("success"), outcome.callback("failure"));
  ASSERT_TRUE(server->resources().wait_for_held(2));
  server->resources().release();
  EXPECT_EQ(outcome.wait(2), (std::vector<std::string>{"success:null", "success:null"}));
  ASSERT_TRUE(wait_until([&] { return storedQueue() == "absent"; }));
  EXPECT_EQ(served("upload"), 2u);
}

TEST_F(ResourceManagerTest, GoneFileFailsItsHeldBackSend) {
  storeLocal("OUT-G", libkestrun::EmailSendState::Sending);
  write(dir_.file("outgoing/gone.pdf"), "soon gone");
  open("/upload-unreachable");
  ResourceOutcomes outcome;
  manager->uploadAttachment("ATT-G", dir_.file("outgoing/gone.pdf"), "gone.pdf", "OUT-G", kAccount, true,
                            outcome.callback("success"), outcome.callback("failure"));
  EXPECT_EQ(outcome.wait(1), std::vector<std::string>{"failure:null"});
  EXPECT_FALSE(manager->queueEmailSend("OUT-G", EmailSendType::NewMessage, "", false));
  fs::remove(dir_.file("outgoing/gone.pdf"));

  manager->sendQueuedAttachments();
  EXPECT_EQ(storedQueue(), "absent");
  EXPECT_TRUE(manager->hasNoQueuedUploadsForEmail("OUT-G"));
  inStore([](DBContext&) {});  // the failing task ran before this one
  EXPECT_EQ(email("OUT-G").get_SENDSTATE(), libkestrun::EmailSendState::SendFailed);
}

TEST_F(ResourceManagerTest, NewConnectionWhileTheHeldBackSendRunsLeavesItAlone) {
  storeLocal("OUT-C", libkestrun::EmailSendState::Sending);
  write(dir_.file("outgoing/c.pdf"), "last one");
  ResourceOutcomes outcome;
  server->resources().hold();
  manager->uploadAttachment("ATT-C", dir_.file("outgoing/c.pdf"), "c.pdf", "OUT-C", kAccount, true,
                            outcome.callback("success"), outcome.callback("failure"));
  ASSERT_TRUE(server->resources().wait_for_held(1));
  EXPECT_FALSE(manager->queueEmailSend("OUT-C", EmailSendType::NewMessage, "", false));

  // The core thread is held so the handed-over send is still on its way when a connection comes.
  std::promise<void> gate;
  std::shared_future<void> opened = gate.get_future().share();
  thread_.post([opened] { opened.wait(); });
  server->resources().release();
  EXPECT_EQ(outcome.wait(1), std::vector<std::string>{"success:null"});
  ASSERT_TRUE(wait_until([&] { return manager->uploadsInFlight() == 0; }));
  manager->sendQueuedAttachments();
  gate.set_value();

  ASSERT_TRUE(wait_until([&] { return storedQueue() == "absent"; }));
  inStore([](DBContext&) {});
  EXPECT_NE(email("OUT-C").get_SENDSTATE(), libkestrun::EmailSendState::SendFailed);
  const std::vector<kestrun_test::Call> calls = objects_->calls();
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                          [](const kestrun_test::Call& call) { return call.method == "saveEmail"; }),
            1);
}

TEST_F(ResourceManagerTest, FailedPreconditionsCallFailureAndQueueNothing) {
  write(dir_.file("outgoing/a.pdf"), "x");
  const struct {
    const char* name;
    std::string attachment, path, email;
  } cases[] = {
      {"no attachment id", "", dir_.file("outgoing/a.pdf"), "E"},
      {"no e-mail id", "T", dir_.file("outgoing/a.pdf"), ""},
      {"no file", "T", dir_.file("outgoing/none.pdf"), "E"},
  };
  for (const auto& c : cases) {
    ResourceOutcomes outcome;
    EXPECT_EQ(manager->uploadAttachment(c.attachment, c.path, "a.pdf", c.email, kAccount, true,
                                        outcome.callback("success"), outcome.callback("failure")),
              std::string("kestrun://s3_download/") + kAccount + "/" + c.email + "/" + c.attachment)
        << c.name;
    EXPECT_EQ(outcome.seen(), std::vector<std::string>{"failure:null"}) << c.name;
  }
  EXPECT_EQ(storedQueue(), "absent");
  EXPECT_EQ(served("upload"), 0u);
}

TEST_F(ResourceManagerTest, PurgingAnAccountKeepsTheOtherAccountsUploadsAndFiles) {
  open("/upload-unreachable");
  write(dir_.file("outgoing/a.pdf"), "of A");
  write(dir_.file("outgoing/b.pdf"), "of B");
  ResourceOutcomes outcome;
  manager->uploadAttachment("TA", dir_.file("outgoing/a.pdf"), "a.pdf", "EA", "A", true, nullptr,
                            outcome.callback("failure"));
  manager->uploadAttachment("TB", dir_.file("outgoing/b.pdf"), "b.pdf", "EB", "B", true, nullptr,
                            outcome.callback("failure"));
  outcome.wait(2);
  write(dir_.file("downloads/x"), "file of A");
  write(dir_.file("downloads/y"), "file of B");
  ASSERT_TRUE(attachments->addAttachment(dir_.file("downloads/x"), "A", "EA", "TA", "a.pdf"));
  ASSERT_TRUE(attachments->addAttachment(dir_.file("downloads/y"), "B", "EB", "TB", "b.pdf"));

  perform([](Completion done) { KestrunDataBackgroundWriter::purgeAllDataForAccount("A", std::move(done)); });

  EXPECT_TRUE(manager->hasNoQueuedUploadsForEmail("EA"));
  EXPECT_FALSE(manager->hasNoQueuedUploadsForEmail("EB"));
  EXPECT_EQ(attachments->pathForAttachment("A", "EA", "TA"), "");
  EXPECT_EQ(read(attachments->pathForAttachment("B", "EB", "TB")), "file of B");
}

TEST_F(ResourceManagerTest, DeeplyNestedBodyConvertsWithoutStallingTheCoreThread) {
  std::string html;
  for (int i = 0; i < 200000; ++i) html += "<div>";
  html += "deep words";
  const std::string id = deliver("Nested", html)["_id"].string_value();
  storeLocal(id);
  ResourceOutcomes outcome;
  manager->downloadFullBodyForEmail(kAccount, id, 1, outcome.callback("success"),
                                    outcome.callback("failure"));
  ASSERT_EQ(outcome.wait(1).size(), 1u);
  // Quoting the stored body for a reply converts it on the core thread.
  std::string quote;
  inStore([&](DBContext& context) { quote = Utility::html_to_text(context.fetchEmail(id)->get_FULLBODY()); });
  EXPECT_NE(quote.find("deep words"), std::string::npos);
  thread_.post_sync([] {});  // the core thread still answers
}

}  // namespace
}  // namespace libkestrun
