#include "core/services/zero_inbox_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/foundation/posix_file_utility.h"
#include "core/foundation/semaphore.h"
#include "services_fixtures.h"
#include "support/on_loop.h"
#include "support/pinned_zone.h"
#include "support/test_certificates.h"
#include "support/test_trust_anchors.h"
#include "support/wait.h"
#include "tools/https_test_server/https_test_server.h"
#include "tools/sync_server/sync_server.h"

namespace libkestrun {
namespace {

using jsonette::Json;
using kestrun_test::run_on;
using kestrun_test::wait_until;
using kestrun_test::Wall;
using kestrun_test::wall_ms;

constexpr char kImage[] = "\xff\xd8\xff\xe0\0JFIF picture";
const std::string image_bytes(kImage, sizeof(kImage) - 1);

std::vector<unsigned char> bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The core thread, the sync server's HTTPS side with a pictures folder, and a pinned zone.
class ZeroInboxTest : public ::testing::Test {
 protected:
  ZeroInboxTest() {
    signal(SIGPIPE, SIG_IGN);
    sync_server::ServerOptions options;
    options.state_directory = dir.file("server");
    options.hmac_key = bytes("zero-inbox-test-key");
    server = std::make_unique<sync_server::SyncServer>(options);
    kestrun_test::trust_authority_pem(server->authority_pem());
    std::filesystem::create_directories(server->pictures_directory());
  }

  std::string base_url() const {
    return "https://localhost:" + std::to_string(server->resource_port()) + "/kestrun-zero-inbox/";
  }
  void serve(const std::string& name, const std::string& content) {
    std::ofstream(server->pictures_directory() + "/" + name, std::ios::binary) << content;
  }
  void serve_day(const std::string& date, const std::string& media_id) {
    serve(date + ".json", Json(Json::object{{"mediaID", media_id},
                                            {"showDate", "1-1-2000"},
                                            {"uri", "https://pictures.example/" + media_id}})
                              .dump());
    serve(date + ".jpg", image_bytes + date);
  }

  // Runs one request to its end on the core thread; its result.
  std::optional<ZeroInboxData> fetch(const std::string& url_base, const std::string& date) {
    std::atomic<int> calls{0};
    std::optional<ZeroInboxData> result;
    std::unique_ptr<ZeroInboxRequest> request;
    run_on(thread, [&] {
      request =
          std::make_unique<ZeroInboxRequest>(thread, url_base, date, [&](std::optional<ZeroInboxData> data) {
            result = std::move(data);
            ++calls;
          });
    });
    EXPECT_TRUE(wait_until([&] { return calls > 0; }));
    run_on(thread, [&] { request.reset(); });
    EXPECT_EQ(calls, 1);
    return result;
  }

  kestrun_test::PinnedZone zone{"America/Los_Angeles"};
  kestrun_test::StoreDir dir;
  std::unique_ptr<sync_server::SyncServer> server;
  brelt::UvThread thread{true};
};

TEST(ZeroInboxDate, IsTheLocalDateAsMonthDayYearWithoutLeadingZeros) {
  kestrun_test::PinnedZone zone("America/Los_Angeles");
  EXPECT_EQ(zero_inbox_date_string(wall_ms(Wall{2015, 3, 7, 0, 0, 0})), "3-7-2015");
  EXPECT_EQ(zero_inbox_date_string(wall_ms(Wall{2015, 3, 7, 23, 59, 59})), "3-7-2015");
  EXPECT_EQ(zero_inbox_date_string(wall_ms(Wall{2015, 12, 31, 12, 0, 0})), "12-31-2015");
  // 04:00 UTC on the 8th is still the evening of the 7th here.
  EXPECT_EQ(zero_inbox_date_string(1425787200000), "3-7-2015");
}

TEST(ZeroInboxDataJson, KeepsOnlyTheThreeStrings) {
  ZeroInboxData data{"3-7-2015", "https://p/1", "m1", {1, 2, 3}};
  EXPECT_EQ(data.to_json().dump(), R"({"mediaID":"m1","showDate":"3-7-2015","uri":"https://p/1"})");
  std::optional<ZeroInboxData> back = ZeroInboxData::from_json(
      Json::object{{"mediaID", "m1"}, {"showDate", "3-7-2015"}, {"uri", "https://p/1"}, {"extra", 1}});
  ASSERT_TRUE(back);
  EXPECT_EQ(back->mediaID, "m1");
  EXPECT_TRUE(back->bytes.empty());
  EXPECT_FALSE(ZeroInboxData::from_json(std::nullopt));
  EXPECT_FALSE(
      ZeroInboxData::from_json(Json::object{{"showDate", "3-7-2015"}, {"uri", "u"}, {"mediaID", 5}}));
  EXPECT_FALSE(ZeroInboxData::from_json(Json("text")));
}

TEST_F(ZeroInboxTest, ARequestDeliversBothAnswersWithItsOwnDate) {
  serve_day("3-7-2015", "m7");
  std::optional<ZeroInboxData> data = fetch(base_url(), "3-7-2015");
  ASSERT_TRUE(data);
  EXPECT_EQ(data->showDate, "3-7-2015");  // not the description's own
  EXPECT_EQ(data->uri, "https://pictures.example/m7");
  EXPECT_EQ(data->mediaID, "m7");
  EXPECT_EQ(data->bytes, bytes(image_bytes + "3-7-2015"));
}

TEST_F(ZeroInboxTest, AnyFailedAnswerCompletesOnceWithNothing) {
  struct Case {
    const char* name;
    std::string description;  // empty: not served
    bool image;
  };
  const std::vector<Case> cases = {
      {"description without mediaID", R"({"showDate":"x","uri":"u"})", true},
      {"description that is not JSON", "{not json", true},
      {"description missing", "", true},
      {"image missing", R"({"showDate":"x","uri":"u","mediaID":"m"})", false},
  };
  int day = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string date = "4-" + std::to_string(day++) + "-2015";
    if (!c.description.empty()) serve(date + ".json", c.description);
    if (c.image) serve(date + ".jpg", image_bytes);
    EXPECT_FALSE(fetch(base_url(), date));
  }
  // Nothing listens there.
  EXPECT_FALSE(fetch("https://localhost:1/kestrun-zero-inbox/", "3-7-2015"));
}

TEST_F(ZeroInboxTest, AnImageArrivingFirstWaitsForItsDescription) {
  kestrun_test::trust_test_authority();
  const auto& certificate = kestrun_test::test_certificates().localhost;
  https_test_server::HttpsTestServer pictures(certificate.certificate_pem, certificate.key_pem);
  https_test_server::Reply description;
  description.body = R"({"showDate":"9-9-1999","uri":"https://pictures.example/held","mediaID":"held"})";
  description.hold_after = 0;
  pictures.script("/kestrun-zero-inbox/3-7-2015.json", description);
  https_test_server::Reply image;
  image.body = image_bytes;
  pictures.script("/kestrun-zero-inbox/3-7-2015.jpg", image);

  std::atomic<int> calls{0};
  std::optional<ZeroInboxData> result;
  std::unique_ptr<ZeroInboxRequest> request;
  run_on(thread, [&] {
    request = std::make_unique<ZeroInboxRequest>(thread, pictures.url("/kestrun-zero-inbox/"), "3-7-2015",
                                                 [&](std::optional<ZeroInboxData> data) {
                                                   result = std::move(data);
                                                   ++calls;
                                                 });
  });
  ASSERT_TRUE(pictures.wait_for_hold());
  ASSERT_TRUE(pictures.wait_for_requests(2));
  EXPECT_EQ(calls, 0);
  pictures.release();
  ASSERT_TRUE(wait_until([&] { return calls > 0; }));
  run_on(thread, [&] { request.reset(); });
  EXPECT_EQ(calls, 1);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->showDate, "3-7-2015");
  EXPECT_EQ(result->mediaID, "held");
  EXPECT_EQ(result->bytes, bytes(image_bytes));
}

TEST_F(ZeroInboxTest, AnswersAfterTheRequestIsGoneReachNobody) {
  kestrun_test::trust_test_authority();
  const auto& certificate = kestrun_test::test_certificates().localhost;
  https_test_server::HttpsTestServer pictures(certificate.certificate_pem, certificate.key_pem);
  https_test_server::Reply held;
  held.hold_after = 0;
  held.body = "{}";
  pictures.script("/kestrun-zero-inbox/3-7-2015.json", held);
  pictures.script("/kestrun-zero-inbox/3-7-2015.jpg", held);
  std::atomic<int> calls{0};
  std::unique_ptr<ZeroInboxRequest> request;
  run_on(thread, [&] {
    request = std::make_unique<ZeroInboxRequest>(thread, pictures.url("/kestrun-zero-inbox/"), "3-7-2015",
                                                 [&](std::optional<ZeroInboxData>) { ++calls; });
  });
  ASSERT_TRUE(pictures.wait_for_requests(2));
  run_on(thread, [&] { request.reset(); });
  pictures.release();
  run_on(thread, [] {});
  EXPECT_EQ(calls, 0);
}

// Forwards to another store. Once armed, the next write of a picture's bytes stops right after it
// is made until the test has read the picture, so the read falls between the two writes of one
// store. A reader kept out until the store is whole cannot report; the write then goes on after a
// second, which decides nothing but how long the test takes.
class PausingStore : public KvStore {
 public:
  explicit PausingStore(std::shared_ptr<KvStore> inner) : inner_(std::move(inner)) {}

  std::optional<Bytes> get(const std::string& key) override { return inner_->get(key); }
  void set(const std::string& key, const Bytes& value) override {
    inner_->set(key, value);
    if (key != ZeroInboxManager::kPhotoKey || !armed.exchange(false)) return;
    bytes_written.notify();
    std::unique_lock<std::mutex> lock(mutex_);
    read_cv_.wait_for(lock, std::chrono::seconds(1), [this] { return read_; });
  }
  void erase(const std::string& key) override { inner_->erase(key); }
  void for_each_key(const KeyFn& fn) override { inner_->for_each_key(fn); }

  void read_done() {
    std::lock_guard<std::mutex> lock(mutex_);
    read_ = true;
    read_cv_.notify_all();
  }

  std::atomic<bool> armed{false};
  patch::semaphore bytes_written;

 private:
  const std::shared_ptr<KvStore> inner_;
  std::mutex mutex_;
  std::condition_variable read_cv_;
  bool read_ = false;  // guarded by mutex_
};

// The manager over a LevelDB store and a real notification centre, with a pinned clock.
class ZeroInboxManagerTest : public ZeroInboxTest {
 protected:
  ~ZeroInboxManagerTest() override { manager.reset(); }

  void open() {
    manager = std::make_unique<ZeroInboxManager>(dir.store(), files, recorder.center(), file_manager, thread,
                                                 base_url(), [this] {
                                                   ++clock_reads;
                                                   return now_ms.load();
                                                 });
  }
  // Waits until `count` notifications were posted in all; then every post made so far is in.
  bool wait_for_posts(size_t count) {
    bool reached = wait_until([&] {
      std::vector<kestrun_test::Posted> more = recorder.take();
      posted.insert(posted.end(), more.begin(), more.end());
      return posted.size() >= count;
    });
    run_on(thread, [] {});
    std::vector<kestrun_test::Posted> more = recorder.take();
    posted.insert(posted.end(), more.begin(), more.end());
    return reached;
  }

  std::shared_ptr<FileUtility> files = std::make_shared<posix::PosixFileUtility>();
  FileManager file_manager{dir.file("data"), dir.file("resources"), files};
  kestrun_test::PostRecorder recorder;
  // Four seconds before the next day's first fetch: room for a slow store before the timer fires.
  std::atomic<int64_t> now_ms{wall_ms(Wall{2015, 3, 7, 23, 59, 57})};
  std::atomic<int> clock_reads{0};
  std::vector<kestrun_test::Posted> posted;
  std::unique_ptr<ZeroInboxManager> manager;
};

TEST_F(ZeroInboxManagerTest, AnEmptyStoreFetchesTodaysPictureAndAnnouncesItOnce) {
  serve_day("3-7-2015", "m7");
  file_manager.initialize();
  std::filesystem::create_directories(dir.file("data") + "/ZeroInbox");
  std::ofstream(dir.file("data") + "/ZeroInbox/zero-image.jpg") << "old";
  JsonKvStore(dir.store()).set("pellavine.zero.inbox.date.checked", std::string("3-6-2015"));

  open();
  EXPECT_FALSE(std::filesystem::exists(dir.file("data") + "/ZeroInbox/zero-image.jpg"));
  EXPECT_EQ(dir.stored("pellavine.zero.inbox.date.checked"), "absent");
  ASSERT_TRUE(wait_for_posts(1));
  EXPECT_EQ(posted, (std::vector<kestrun_test::Posted>{{ZeroInboxManager::kNewDataNotification, nullptr}}));
  ZeroInboxData photo = manager->get_current_photo();
  EXPECT_EQ(photo.showDate, "3-7-2015");
  EXPECT_EQ(photo.mediaID, "m7");
  EXPECT_EQ(photo.bytes, bytes(image_bytes + "3-7-2015"));
  EXPECT_EQ(dir.stored(ZeroInboxManager::kMetadataKey),
            R"({"mediaID":"m7","showDate":"3-7-2015","uri":"https://pictures.example/m7"})");
}

TEST_F(ZeroInboxManagerTest, TwoSchedulingsOnAStoredDayLeaveOneTimer) {
  serve_day("3-7-2015", "m7");
  serve_day("3-8-2015", "m8");
  open();
  ASSERT_TRUE(wait_for_posts(1));
  EXPECT_EQ(clock_reads, 2);  // the first scheduling fetched; storing scheduled the next day

  // Both timers would fire in the same turn of the loop; the second replaced the first.
  run_on(thread, [&] {
    manager->_schedule_next_download();
    manager->_schedule_next_download();
  });
  EXPECT_EQ(clock_reads, 4);
  now_ms = wall_ms(Wall{2015, 3, 8, 0, 0, 1});  // the timer fires on the next day

  ASSERT_TRUE(wait_for_posts(2));
  EXPECT_EQ(posted.size(), 2u);
  EXPECT_EQ(manager->get_current_photo().mediaID, "m8");
  // One firing scheduled once (fetching the new day), and storing it scheduled once more.
  EXPECT_EQ(clock_reads, 6);
}

TEST_F(ZeroInboxManagerTest, ASchedulingFromAnotherThreadRunsOnTheCoreThread) {
  serve_day("3-7-2015", "m7");
  open();
  ASSERT_TRUE(wait_for_posts(1));
  manager->_schedule_next_download();  // the test's own thread: a stored day sets the timer
  run_on(thread, [] {});
  EXPECT_EQ(clock_reads, 3);
  EXPECT_EQ(posted.size(), 1u);
}

TEST_F(ZeroInboxManagerTest, AReadDuringAStoreNeverPairsOnePicturesDescriptionWithAnothersBytes) {
  auto store = std::make_shared<PausingStore>(dir.store());
  manager = std::make_unique<ZeroInboxManager>(store, files, recorder.center(), file_manager, thread,
                                               base_url(), [this] { return now_ms.load(); });
  const ZeroInboxData yesterday{"3-6-2015", "https://p/6", "m6", bytes("six")};
  const ZeroInboxData today{"3-7-2015", "https://p/7", "m7", bytes("seven")};
  run_on(thread, [&] { manager->_store_photo(yesterday); });

  store->armed = true;
  thread.post([&] { manager->_store_photo(today); });
  store->bytes_written.wait();
  ZeroInboxData read = manager->get_current_photo();  // from the application's thread
  store->read_done();
  run_on(thread, [] {});
  EXPECT_EQ(read.showDate, "3-7-2015");
  EXPECT_EQ(read.bytes, bytes("seven"));
}

}  // namespace
}  // namespace libkestrun
