// Building and tearing down the whole core through the facade: what each configuration leaves on
// disk and in the key-value store, a database of another version, failed constructions, and what
// the teardown finishes or ends.
#include "core/api/api.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "api_fixture.h"
#include "core/data/data_center.h"
#include "core/data/data_writer.h"
#include "core/foundation/defaults.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/memory_store.h"
#include "core/model/db_context.h"
#include "core/model/ks_item.h"
#include "core/services/changes_manager.h"
#include "core/services/file_manager.h"
#include "core/services/http_manager.h"
#include "core/store/cpp_sqlite3_db.h"
#include "core/store/cpp_sqlite3_exception.h"
#include "stalled_lookup.h"

namespace kestrun_test {
namespace {

namespace fs = std::filesystem;

const char kEncryptionKey[] = "kestrun.encryption.key";
const char kQueuedRequests[] = "offline.manager.queued.requests";

// Threads of this process now.
size_t thread_count() {
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/task")) {
    (void)entry;
    ++count;
  }
  return count;
}

// The file manager's instance answers with its directory while one is registered.
bool instances_registered() { return !libkestrun::file_manager_get_data_directory().empty(); }

// The first bytes of a plain SQLite file; a keyed one reads as noise.
bool plain_sqlite_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string header(15, '\0');
  in.read(header.data(), static_cast<std::streamsize>(header.size()));
  return header == "SQLite format 3";
}

void store_inbox_item(const std::string& id) {
  KestrunDataCenter::performSyncDataTask([&](std::vector<std::string>&, DBContext& context) {
    auto item = std::static_pointer_cast<KSItem>(context.createObject("KSITEM", id));
    item->setItemID(id);
    item->setAccountID("acct-1");
    item->setState(libkestrun::ItemState::Inbox);
  });
}

std::optional<libkestrun::ItemState> item_state(const std::string& id) {
  std::optional<libkestrun::ItemState> state;
  KestrunDataCenter::performSyncDataTask([&](std::vector<std::string>&, DBContext& context) {
    if (auto item = context.fetchItem(id)) state = item->row().get_STATE();
  });
  return state;
}

// Threads that the libraries start once per process (LevelDB's compaction, libuv's pool) are up
// before threads are counted: the first Api is built and destroyed before the cases.
TEST_F(ApiTest, BuildsTheCoreAndTearsItDownOnDiskAndInMemory) {
  start();
  api_.reset();
  struct Case {
    const char* name;
    bool in_memory;
  };
  for (const Case& c : {Case{"on disk", false}, Case{"in memory", true}}) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    libkestrun::Config settings = config();
    settings.data_directory = settings.resource_directory = dir.path();
    settings.in_memory_database = c.in_memory;
    const size_t threads_before = thread_count();

    start(settings);
    EXPECT_TRUE(instances_registered());
    store_inbox_item("I1");
    EXPECT_EQ(item_state("I1"), libkestrun::ItemState::Inbox);
    // The key-value store and the protocol trace live in the data directory in both cases; the
    // database only on disk.
    EXPECT_TRUE(fs::is_directory(dir.file("defaultsdb")));
    EXPECT_TRUE(fs::exists(dir.file("sanity")));
    EXPECT_EQ(fs::exists(dir.file("kestrun.db")), !c.in_memory);

    api_.reset();
    EXPECT_FALSE(instances_registered());
    EXPECT_EQ(thread_count(), threads_before);
  }
}

// The key-value store decides where the defaults live; the encryption flag whether a key is
// made and whether the database file is keyed.
TEST_F(ApiTest, KeyValueOverrideAndEncryptionFlag) {
  for (bool encrypted : {true, false}) {
    SCOPED_TRACE(encrypted ? "encrypted" : "plain");
    TempDir dir;
    auto store = std::make_shared<libkestrun::MemoryStore>();
    libkestrun::Config settings = config();
    settings.data_directory = settings.resource_directory = dir.path();
    settings.encrypt_database = encrypted;
    libkestrun::Overrides overrides;
    overrides.kv_store = store;

    start(settings, overrides);
    store_inbox_item("I1");
    api_.reset();

    EXPECT_FALSE(fs::exists(dir.file("defaultsdb")));
    EXPECT_EQ(store->get(kEncryptionKey).has_value(), encrypted);
    EXPECT_EQ(plain_sqlite_file(dir.file("kestrun.db")), !encrypted);
  }
}

// A database written under another schema version is deleted and built anew, and the change
// tokens go with it, so the next connection fetches everything again.
TEST_F(ApiTest, DatabaseOfAnotherVersionIsRebuiltWithEmptyChangeTokens) {
  auto store = std::make_shared<libkestrun::MemoryStore>();
  libkestrun::Overrides overrides;
  overrides.kv_store = store;
  start(config(), overrides);
  store_inbox_item("I1");
  api_.reset();

  {
    CppSQLite3DB db;
    db.open(dir_.file("kestrun.db").c_str());
    DBContext::set_key(db, libkestrun::Defaults(store).get_encryption_key());
    db.execDML("PRAGMA user_version(9999);");
  }
  libkestrun::ChangesManager(store).setTokens("acct-1", 11, 12, 13);

  start(config(), overrides);
  EXPECT_EQ(item_state("I1"), std::nullopt);
  EXPECT_EQ(libkestrun::ChangesManager(store).getTokens("acct-1"), libkestrun::Tokens{});
  // The same version again keeps what is stored.
  store_inbox_item("I2");
  api_.reset();
  start(config(), overrides);
  EXPECT_EQ(item_state("I2"), libkestrun::ItemState::Inbox);
}

// A construction that fails leaves nothing running and nothing registered, whichever step failed.
TEST_F(ApiTest, FailedConstructionLeavesNoThreadAndNoInstance) {
  // Threads the libraries start once per process (LevelDB's compaction, libuv's pool) are up
  // before counting.
  start();
  api_.reset();

  std::ofstream(dir_.file("plain-file")) << "not a directory";
  fs::create_directories(dir_.file("data/a-directory"));
  struct Case {
    const char* name;
    std::string data_directory;
    std::string database_name;
    std::string error;  // what reaches the host
  };
  const Case cases[] = {
      {"data directory under a file", dir_.file("plain-file/data"), "kestrun.db", "Unable to read Defaults"},
      {"database that cannot be opened", dir_.file("data"), "a-directory", "database error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    libkestrun::Config settings = config();
    settings.data_directory = settings.resource_directory = c.data_directory;
    settings.database_name = c.database_name;
    const size_t threads_before = thread_count();
    std::string error;
    try {
      start(settings);
    } catch (const libkestrun::InaccessibleFsError& failure) {
      error = failure.what();
    } catch (const CppSQLite3Exception&) {
      error = "database error";
    }
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(api_, nullptr);
    EXPECT_FALSE(instances_registered());
    EXPECT_EQ(thread_count(), threads_before);
  }
}

// The archive the user made just before quitting is committed and waits in the outgoing queue
// when the core comes up again.
TEST_F(ApiTest, TriagePostedJustBeforeDestructionIsKept) {
  auto store = std::make_shared<libkestrun::MemoryStore>();
  libkestrun::Overrides overrides;
  overrides.kv_store = store;
  start(config(), overrides);
  store_inbox_item("I1");

  KestrunDataWriter::completeItem("I1", nullptr);
  api_.reset();

  const std::string queued =
      libkestrun::JsonKvStore(store).get_json(kQueuedRequests).value_or(nullptr).dump();
  EXPECT_NE(queued.find("ITEM_UPDATE"), std::string::npos) << queued;
  EXPECT_NE(queued.find("I1"), std::string::npos) << queued;
  start(config(), overrides);
  EXPECT_EQ(item_state("I1"), libkestrun::ItemState::Archive);
}

// The daily picture's requests go elsewhere, so that the server holds only the test's own.
libkestrun::Config without_pictures(libkestrun::Config settings) {
  settings.zero_inbox_base_url = "https://127.0.0.1:1/kestrun-zero-inbox/";
  return settings;
}

// A request the HTTP queue saved in an earlier run goes out through the host's hook as soon as the
// core is up: the hooks are in place before a worker can take it, so it is not failed for want of
// one (which would put it off for up to its hour-long bound).
TEST_F(ApiServerTest, RestoredRequestsGoOutThroughTheHooks) {
  auto store = std::make_shared<libkestrun::MemoryStore>();
  const std::string url =
      "https://localhost:" + std::to_string(server_->resource_port()) + "/kestrun-zero-inbox/answer.json";
  libkestrun::JsonKvStore(store).set_json(
      libkestrun::HttpManager::kSavedUrlsKey,
      jsonette::Json::object{{"requests", jsonette::Json::object{{"r-1", jsonette::Json::object{
                                                                             {"email_id", "e-1"},
                                                                             {"id", "r-1"},
                                                                             {"max_delay_time", 3600},
                                                                             {"method", "GET"},
                                                                             {"num_errored_tries", 0},
                                                                             {"url", url},
                                                                         }}}}});
  server_->resources().hold();
  libkestrun::Overrides overrides;
  overrides.kv_store = store;
  start(without_pictures(server_config()), overrides);
  EXPECT_TRUE(server_->resources().wait_for_held(1));
  server_->resources().release();
}

// A transfer that hangs (a host-name lookup that never answers, a server that holds its reply)
// does not hold the teardown: it ends with status 0.
TEST_F(ApiServerTest, DestructionEndsStalledDownloadsWithStatusZero) {
  struct Case {
    const char* name;
    bool held_by_server;
  };
  for (const Case& c : {Case{"stalled lookup", false}, Case{"reply held by the server", true}}) {
    SCOPED_TRACE(c.name);
    start(without_pictures(server_config()));
    std::promise<int32_t> ended;
    auto downloader = std::make_shared<KSHttp::Downloader>(
        c.held_by_server ? server_config().server_env.body_url + "/acct-1/e-1"
                         : std::string("https://") + kestrun_host::kStalledHost + "/x",
        600000, 0, [&](KSHttp::Response response) { ended.set_value(response.status); },
        [&](KSHttp::Response response) { ended.set_value(response.status); });
    if (c.held_by_server) server_->resources().hold();
    downloader->post(jsonette::Json::object{{"email_id", "e-1"}});
    if (c.held_by_server) {
      ASSERT_TRUE(server_->resources().wait_for_held(1));
    } else {
      ASSERT_TRUE(kestrun_host::wait_for_stalled_lookup());
    }

    api_.reset();
    auto status = ended.get_future();
    ASSERT_EQ(status.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    EXPECT_EQ(status.get(), 0);
    server_->resources().release();
  }
  kestrun_host::release_stalled_lookups();
}

}  // namespace
}  // namespace kestrun_test
