#include "core/foundation/notification_center.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace libkestrun {
namespace {

class NotificationCenterTest : public ::testing::Test {
 protected:
  // A listener that records "<tag>:<name>" and whether it ran on the core thread.
  NotificationListener record(const std::string& tag) {
    return [this, tag](const std::string& name, const jsonette::Json&) {
      std::lock_guard<std::mutex> lock(mutex_);
      calls_.push_back(tag + ":" + name);
      if (!thread_.is_current_thread()) off_core_thread_ = true;
    };
  }

  // Every notification posted before this call has been delivered when it returns.
  std::vector<std::string> delivered() {
    thread_.post_sync([] {});
    std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(calls_, {});
  }

  void* key(int i) { return &keys_[i]; }

  brelt::UvThread thread_{true};
  NotificationCenter center_{thread_};
  std::mutex mutex_;
  std::vector<std::string> calls_;
  bool off_core_thread_ = false;
  int keys_[4] = {};
};

using Calls = std::vector<std::string>;

TEST_F(NotificationCenterTest, ListenersOfANameOnlyHearThatName) {
  center_.listen("a", key(0), record("first"));
  center_.listen("a", key(0), record("second"));  // same key: replaces
  center_.listen("b", key(1), record("b"));
  center_.listen_all(record("all"));

  center_.post_notification("a", jsonette::Json(1));
  EXPECT_EQ(delivered(), (Calls{"all:a", "second:a"}));
  center_.post_notification("c", nullptr);
  EXPECT_EQ(delivered(), (Calls{"all:c"}));
}

TEST_F(NotificationCenterTest, RemovingKeysStopsOnlyThoseListeners) {
  center_.listen("a", key(0), record("k0"));
  center_.listen("a", key(1), record("k1"));
  center_.stop_listening("a", key(0));
  center_.post_notification("a", nullptr);
  EXPECT_EQ(delivered(), (Calls{"k1:a"}));

  center_.stop_listening("a", key(1));
  center_.stop_listening("never", key(1));  // unknown name: nothing to do
  center_.post_notification("a", nullptr);
  EXPECT_EQ(delivered(), Calls{});

  for (const char* name : {"x", "y", "z"}) center_.listen(name, key(2), record("k2"));
  center_.listen("x", key(3), record("k3"));
  center_.stop_listening(key(2));
  for (const char* name : {"x", "y", "z"}) center_.post_notification(name, nullptr);
  EXPECT_EQ(delivered(), (Calls{"k3:x"}));
}

TEST_F(NotificationCenterTest, PostsFromAnyThreadAreDeliveredOnTheCoreThreadWithTheirPayload) {
  std::vector<int> payloads;
  center_.listen("n", key(0), [&](const std::string&, const jsonette::Json& payload) {
    EXPECT_TRUE(thread_.is_current_thread());
    payloads.push_back(payload["i"].int_value());
  });
  std::thread poster([&] {
    for (int i = 0; i < 50; ++i) center_.post_notification("n", jsonette::Json::object{{"i", i}});
  });
  poster.join();
  thread_.post_sync([] {});
  ASSERT_EQ(payloads.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(payloads[i], i);
}

TEST_F(NotificationCenterTest, AListenerThatRemovesItselfDoesNotStopTheOthers) {
  auto self_removing = [this](const std::string& name, const jsonette::Json& payload) {
    record("self")(name, payload);
    center_.stop_listening(name, key(0));
  };
  center_.listen("a", key(0), self_removing);
  center_.listen("a", key(1), record("other"));
  center_.listen("a", key(2), record("third"));

  center_.post_notification("a", nullptr);
  Calls first = delivered();
  std::sort(first.begin(), first.end());
  EXPECT_EQ(first, (Calls{"other:a", "self:a", "third:a"}));
  center_.post_notification("a", nullptr);
  Calls second = delivered();
  std::sort(second.begin(), second.end());
  EXPECT_EQ(second, (Calls{"other:a", "third:a"}));
}

TEST_F(NotificationCenterTest, APostFromACoreClosureIsDeliveredAfterTheClosureEnds) {
  center_.listen("a", key(0), record("listener"));
  thread_.post_sync([this] {
    center_.post_notification("a", nullptr);
    record("closure")("end", nullptr);
  });
  EXPECT_EQ(delivered(), (Calls{"closure:end", "listener:a"}));
}

TEST_F(NotificationCenterTest, AnObserverListensUntilItIsDestroyed) {
  { NotificationObserver empty; }  // never touches a center
  NotificationObserver kept;
  {
    NotificationObserver observer = center_.observe("a", record("observer"));
    center_.post_notification("a", nullptr);
    EXPECT_EQ(delivered(), (Calls{"observer:a"}));
    kept = center_.observe("b", record("kept"));
  }
  center_.post_notification("a", nullptr);
  center_.post_notification("b", nullptr);
  EXPECT_EQ(delivered(), (Calls{"kept:b"}));

  kept = NotificationObserver();  // ends the registration it held
  center_.post_notification("b", nullptr);
  EXPECT_EQ(delivered(), Calls{});
  EXPECT_FALSE(off_core_thread_);
}

TEST_F(NotificationCenterTest, TheProcessWideInstanceForwards) {
  auto center = std::make_shared<NotificationCenter>(thread_);
  notification_center_set_instance(center);
  notification_center_listen("a", key(0), record("k0"));
  notification_center_post_notification("a", nullptr);
  EXPECT_EQ(delivered(), (Calls{"k0:a"}));
  notification_center_stop_listening(key(0));
  notification_center_listen("b", key(1), record("k1"));
  notification_center_stop_listening("b", key(1));
  notification_center_post_notification("a", nullptr);
  notification_center_post_notification("b", nullptr);
  EXPECT_EQ(delivered(), Calls{});
  notification_center_set_instance(nullptr);
}

}  // namespace
}  // namespace libkestrun
