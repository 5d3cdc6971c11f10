// The facade against the local sync server with this device registered: anonymous registration,
// the server's sample account added through the facade, and its first sync, as the host does them.
// Callbacks of the facade run on the core thread; `Outcome` hands their results to the test.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "api_fixture.h"
#include "core/data/consumer_center.h"
#include "core/foundation/task_manager.h"
#include "core/model/ks_item.h"
#include "core/services/sync_status_manager.h"

namespace kestrun_test {

// The server's sample account (tools/sync_server/sample_mailbox.cpp).
inline constexpr char kSampleAccount[] = "acct-example-com";
inline constexpr char kSampleAddress[] = "maya.lind@example.com";
inline constexpr char kSampleAccessCode[] = "sample-com-code";

// One value set once from another thread.
template <class T>
class Outcome {
 public:
  void set(T value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!value_) value_ = std::move(value);
    ++calls_;
  }
  // The value, once set; empty after a generous deadline.
  std::optional<T> wait() {
    wait_until([&] { return get().has_value(); });
    return get();
  }
  std::optional<T> get() {
    std::lock_guard<std::mutex> lock(mutex_);
    return value_;
  }
  // How often it was set.
  int calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }

 private:
  std::mutex mutex_;
  std::optional<T> value_;  // guarded by mutex_
  int calls_ = 0;           // guarded by mutex_
};

class RegisteredApiTest : public ApiServerTest {
 protected:
  // Starts the facade, registers this device anonymously and waits for the user document.
  void start_registered() {
    libkestrun::Overrides overrides;
    overrides.task_manager = tasks_;
    start(server_config(), std::move(overrides));
    synced_ = std::make_unique<NotificationWaiter>(libkestrun::kSyncInitialSyncCompleted);
    api_->register_anonymous_device("vendor-1", "macos", "test host");
    ASSERT_TRUE(wait_until([&] { return api_->device_is_registered(); }));
  }

  // Adds the sample account through the facade; its id, or empty when the add failed.
  std::string add_sample_account() {
    Outcome<std::string> added;
    api_->add_email_account(
        kSampleAddress, kSampleAccessCode, libkestrun::EmailAccountType::Gmail, "en",
        [&](std::string id) { added.set(id); },
        [&](libkestrun::AccountActionErrorType error) { added.set("failed " + std::to_string(int(error))); });
    std::optional<std::string> id = added.wait();
    return id && id->rfind("failed", 0) != 0 ? *id : "";
  }

  // Connects and waits for the first sync of the accounts added so far.
  void connect_and_sync() {
    api_->connect();
    ASSERT_TRUE(synced_->wait());
  }

  // Items of the account in the local store (any state), read as the read-outs do.
  int stored_items(const std::string& account_id) {
    int count = 0;
    KestrunConsumerCenter::withDBContext([&](DBContext& context) {
      count = static_cast<int>(KSItem::itemsForAccount(account_id, &context)->size());
    });
    return count;
  }

  // The core's background tasks: the outgoing queue holds one per request until the server
  // acknowledges it.
  std::shared_ptr<libkestrun::LoggingTaskManager> tasks_ = std::make_shared<libkestrun::LoggingTaskManager>();
  std::unique_ptr<NotificationWaiter> synced_;
};

}  // namespace kestrun_test
