// A user manager over a real LevelDB store, a real notification centre on a core thread and the
// protocol trace in a scratch directory; the account manager and the sync clients are recording
// stand-ins. Operations run on the core thread, as in the product.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "brelt/uv_thread.h"
#include "core/accounts/user_manager_impl.h"
#include "core/foundation/json_kv_store.h"
#include "core/foundation/leveldb_store.h"
#include "core/foundation/notification_center.h"
#include "core/foundation/task_manager.h"
#include "core/services/sanity.h"
#include "core/sync/server_client.h"
#include "support/fake_server_client.h"
#include "support/fake_user_server_client.h"
#include "support/on_loop.h"
#include "support/recording_account_calls.h"
#include "support/temp_dir.h"

namespace kestrun_test {

// 36 letters and digits: UUID-like without dashes in their places.
inline constexpr char kSecret[] = "5EC2E7A1-0000-4000-8000-00000000AB12";
inline constexpr char kBackupSecret[] = "BACCA5EC-1111-4111-8111-111111111111";
inline constexpr char kDeviceID[] = "D0D0D0D0-2222-4222-8222-222222222222";
inline constexpr char kToken[] = "tok-9f8e7d";
inline constexpr char kTokenSecret[] = "toksec-1a2b3c";

class UserManagerTest : public ::testing::Test {
 protected:
  UserManagerTest() {
    libkestrun::sanity::initialize(tasks, trace_dir.path(), "https://localhost:1/sanity/dump");
    libkestrun::internal::user_server_client_set_instance(users_client);
    libkestrun::internal::server_client_set_instance(server);
  }

  ~UserManagerTest() override {
    run([&] { manager.reset(); });
    libkestrun::internal::user_server_client_set_instance(nullptr);
    libkestrun::internal::server_client_set_instance(nullptr);
    // The trace is uploaded on errors: nothing secret may be in it.
    const std::string written = trace();
    for (const char* secret : {kSecret, kBackupSecret, kToken, kTokenSecret}) {
      EXPECT_EQ(written.find(secret), std::string::npos) << secret << " in the trace:\n" << written;
    }
  }

  template <class F>
  auto run(F f) -> decltype(f()) {
    return run_on(thread, f);
  }

  // Waits until every notification posted so far has been delivered.
  void settle() {
    run([] {});
  }

  void storeDocument(const jsonette::Json& document) {
    json_store.set_json(libkestrun::kUserDocKey, document);
  }
  std::optional<jsonette::Json> storedDocument() { return json_store.get_json(libkestrun::kUserDocKey); }

  // A registered anonymous user "-7".
  void storeAnonymous() {
    storeDocument(
        jsonette::Json::object{{"user_id", "-7"}, {"device_id", kDeviceID}, {"device_secret", kSecret}});
  }

  std::string trace() const {
    std::ifstream in(trace_dir.file("sanity"));
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> traceLinesContaining(const std::string& text) const {
    std::vector<std::string> found;
    std::ifstream in(trace_dir.file("sanity"));
    for (std::string line; std::getline(in, line);) {
      if (line.find(text) != std::string::npos) found.push_back(line);
    }
    return found;
  }

  static std::shared_ptr<const libkestrun::HarnvikCredentials> harnvik(const std::string& uid) {
    return std::make_shared<libkestrun::HarnvikCredentialsOAuth1>(2, uid, kToken, kTokenSecret);
  }

  TempDir trace_dir;
  // Holds a task while the trace's one upload is under way (the worker pool is not started).
  std::shared_ptr<libkestrun::LoggingTaskManager> tasks = std::make_shared<libkestrun::LoggingTaskManager>();
  TempDir data_dir;
  brelt::UvThread thread{true};
  std::shared_ptr<libkestrun::NotificationCenter> center =
      std::make_shared<libkestrun::NotificationCenter>(thread);
  std::shared_ptr<libkestrun::KvStore> store =
      std::make_shared<libkestrun::LeveldbStore>(data_dir.file("defaultsdb"));
  libkestrun::JsonKvStore json_store{store};
  RecordingAccountCalls accounts;
  std::shared_ptr<FakeUserServerClient> users_client = std::make_shared<FakeUserServerClient>();
  std::shared_ptr<FakeServerClient> server = std::make_shared<FakeServerClient>();
  std::shared_ptr<libkestrun::UserManagerImpl> manager =
      std::make_shared<libkestrun::UserManagerImpl>(center, store, accounts);
};

}  // namespace kestrun_test
