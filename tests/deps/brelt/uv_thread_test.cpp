#include "brelt/uv_thread.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "brelt/semaphore.h"
#include "brelt/stable_priority_queue.h"
#include "support/wait.h"

namespace brelt {
namespace {

// Records the order in which closures ran on the loop thread.
class Recorder {
 public:
  void add(std::string s) {
    std::lock_guard<std::mutex> lock(mutex_);
    order_.push_back(std::move(s));
  }
  std::vector<std::string> order() {
    std::lock_guard<std::mutex> lock(mutex_);
    return order_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> order_;
};

// Holds the loop thread inside a closure until released, so that posts queue up behind it.
class Blocker {
 public:
  explicit Blocker(UvThread& thread) {
    thread.post([this] {
      entered_.notify();
      release_.wait();
    });
    entered_.wait();
  }
  void release() { release_.notify(); }

 private:
  Semaphore entered_;
  Semaphore release_;
};

TEST(StablePriorityQueue, PopsByPriorityThenPushOrder) {
  stable_priority_queue<int> q;
  q.push_low(1);
  q.push_custom(2, 5);
  q.push_custom(3, 7);
  q.push_custom(4, 5);
  q.push_high(5);
  q.push_high(6);
  q.push_low(7);
  std::vector<int> popped;
  while (!q.empty()) {
    popped.push_back(q.top());
    q.pop();
  }
  EXPECT_EQ(popped, (std::vector<int>{5, 6, 3, 2, 4, 1, 7}));
}

TEST(StablePriorityQueue, TakeAllResetsSequence) {
  stable_priority_queue<int> q;
  q.push_high(1);
  q.push_high(2);
  EXPECT_EQ(q.counter(), 2u);
  EXPECT_EQ(q.take_all().size(), 2u);
  EXPECT_TRUE(q.empty());
  q.push_low(3);
  EXPECT_EQ(q.counter(), 1u);
}

TEST(StablePriorityQueue, TakenEntriesRankAsTheyWouldHavePopped) {
  stable_priority_queue<int> q;
  q.push_low(1);
  q.push_custom(2, 5);
  q.push_high(3);
  q.push_low(4);
  q.push_custom(5, 7);
  q.push_high(6);
  auto taken = q.take_all();
  std::sort(taken.begin(), taken.end(), [](const auto& a, const auto& b) {
    return stable_priority_queue<int>::highest_priority()(b, a);
  });
  std::vector<int> order;
  for (const auto& entry : taken) order.push_back(std::get<0>(entry));
  EXPECT_EQ(order, (std::vector<int>{3, 6, 5, 2, 1, 4}));
}

TEST(UvThread, QueuedClosuresRunByPriorityThenPostingOrder) {
  UvThread thread(true);
  Recorder rec;
  Blocker blocker(thread);
  thread.post_low([&] { rec.add("low"); });
  thread.post_custom([&] { rec.add("5a"); }, 5);
  thread.post_custom([&] { rec.add("7"); }, 7);
  thread.post_custom([&] { rec.add("5b"); }, 5);
  thread.post([&] { rec.add("high1"); });
  thread.post([&] { rec.add("high2"); });
  thread.post([&] { rec.add("high3"); });
  blocker.release();
  thread.post_sync([] {});
  ASSERT_TRUE(kestrun_test::wait_until([&] { return rec.order().size() == 7; }));
  EXPECT_EQ(rec.order(), (std::vector<std::string>{"high1", "high2", "high3", "7", "5a", "5b", "low"}));
}

TEST(UvThread, ClosurePostedDuringDrainOvertakesLowerPriorities) {
  UvThread thread(true);
  Recorder rec;
  Blocker blocker(thread);
  thread.post([&] {
    rec.add("first");
    thread.post([&] { rec.add("posted-inside"); });
  });
  thread.post_low([&] { rec.add("low"); });
  blocker.release();
  ASSERT_TRUE(kestrun_test::wait_until([&] { return rec.order().size() == 3; }));
  EXPECT_EQ(rec.order(), (std::vector<std::string>{"first", "posted-inside", "low"}));
}

TEST(UvThread, PostSyncOnLoopThreadRunsInline) {
  UvThread thread(true);
  Recorder rec;
  thread.post_sync([&] {
    EXPECT_TRUE(thread.is_current_thread());
    thread.post([&] { rec.add("queued"); });
    thread.post_sync([&] { rec.add("inline"); });
    rec.add("after-inline");
  });
  thread.post_sync([] {});
  EXPECT_EQ(rec.order(), (std::vector<std::string>{"inline", "after-inline", "queued"}));
  EXPECT_FALSE(thread.is_current_thread());
}

TEST(UvThread, PostSyncFromAnotherThreadWaitsBehindEarlierHighPriorityWork) {
  UvThread thread(true);
  Recorder rec;
  Blocker blocker(thread);
  thread.post([&] { rec.add("earlier"); });
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    thread.post_sync([&] { rec.add("sync"); });
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(returned.load());
  blocker.release();
  caller.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(rec.order(), (std::vector<std::string>{"earlier", "sync"}));
}

TEST(UvThread, ClearDropsQueuedClosuresOutsideTheLock) {
  UvThread thread(true);
  std::atomic<int> ran{0};
  Blocker blocker(thread);
  // The closure's captured state posts from its destructor: destroying it under the queue lock
  // would deadlock.
  struct PostsOnDestroy {
    UvThread* thread;
    std::atomic<int>* ran;
    ~PostsOnDestroy() {
      auto* r = ran;
      thread->post([r] { *r += 100; });
    }
  };
  auto guard = std::make_shared<PostsOnDestroy>(&thread, &ran);
  thread.post([&ran, guard] { ran += 1; });
  thread.post_low([&ran] { ran += 1; });
  guard.reset();
  thread.clear();
  blocker.release();
  thread.post_sync([] {});
  EXPECT_EQ(ran.load(), 100);  // only the closure posted by the destructor ran
}

TEST(UvThread, ClearKeepsWhatPostSyncCallersWaitFor) {
  UvThread thread(true);
  Blocker blocker(thread);
  std::atomic<bool> ran{false};
  std::thread caller([&] { thread.post_sync([&] { ran = true; }); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  thread.clear();
  blocker.release();
  caller.join();  // would hang forever if the waited-for closure had been dropped
  EXPECT_TRUE(ran.load());
}

TEST(UvThread, DestructionDropsQueuedClosuresAndJoins) {
  std::atomic<int> ran{0};
  std::atomic<bool> dropped{false};
  auto thread = std::make_unique<UvThread>(true);
  Blocker blocker(*thread);
  // The loop stays blocked until the queued closure has been dropped, so it cannot run first.
  struct SignalsOnDestroy {
    std::atomic<bool>* dropped;
    ~SignalsOnDestroy() { *dropped = true; }
  };
  auto probe = std::make_shared<SignalsOnDestroy>(&dropped);
  thread->post([&ran, probe] { ++ran; });
  probe.reset();
  std::thread releaser([&] {
    kestrun_test::wait_until([&] { return dropped.load(); });
    blocker.release();
  });
  thread.reset();
  releaser.join();
  EXPECT_TRUE(dropped.load());
  EXPECT_EQ(ran.load(), 0);
}

TEST(UvThread, NeverStartedThreadIsDestroyedWithoutWaiting) {
  UvThread thread(false);
  EXPECT_EQ(thread.get_loop(), nullptr);
}

TEST(UvThread, PostToThreadPoolRunsAfterWorkOnLoop) {
  UvThread thread(true);
  std::atomic<bool> work_on_loop{true};
  std::atomic<bool> after_on_loop{false};
  std::atomic<bool> done{false};
  thread.post_to_thread_pool([&] { work_on_loop = thread.is_current_thread(); },
                             [&] {
                               after_on_loop = thread.is_current_thread();
                               done = true;
                             });
  ASSERT_TRUE(kestrun_test::wait_until([&] { return done.load(); }));
  EXPECT_FALSE(work_on_loop.load());
  EXPECT_TRUE(after_on_loop.load());
}

}  // namespace
}  // namespace brelt
