#include "core/foundation/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "support/wait.h"

namespace libkestrun {
namespace {

TEST(ThreadPool, RunsPostedWorkOnItsWorkers) {
  thread_pool::start(2);
  std::atomic<int> ran{0};
  const auto caller = std::this_thread::get_id();
  std::atomic<bool> on_caller{false};
  for (int i = 0; i < 100; ++i) {
    thread_pool::post([&] {
      if (std::this_thread::get_id() == caller) on_caller = true;
      ++ran;
    });
  }
  EXPECT_TRUE(kestrun_test::wait_until([&] { return ran == 100; }));
  thread_pool::stop();
  EXPECT_FALSE(on_caller);
}

TEST(ThreadPool, StopWaitsForRunningWorkAndDestroysQueuedWork) {
  thread_pool::start(1);
  std::atomic<bool> entered{false}, finished{false};
  thread_pool::post([&] {
    entered = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    finished = true;
  });
  ASSERT_TRUE(kestrun_test::wait_until([&] { return entered.load(); }));
  auto captured = std::make_shared<int>(0);
  std::weak_ptr<int> watch = captured;
  thread_pool::post([captured = std::move(captured)] {});
  thread_pool::stop();
  EXPECT_TRUE(finished);
  EXPECT_TRUE(watch.expired());  // run or dropped, but not kept past stop
}

TEST(ThreadPool, WorkPostedAfterStopNeverRuns) {
  thread_pool::start(2);
  thread_pool::stop();
  std::atomic<bool> ran{false};
  auto captured = std::make_shared<int>(0);
  std::weak_ptr<int> watch = captured;
  thread_pool::post([&ran, captured = std::move(captured)] { ran = true; });
  thread_pool::stop();
  EXPECT_FALSE(ran);
  EXPECT_TRUE(watch.expired());

  thread_pool::start(2);  // a restarted pool runs new work
  thread_pool::post([&] { ran = true; });
  EXPECT_TRUE(kestrun_test::wait_until([&] { return ran.load(); }));
  thread_pool::stop();
}

}  // namespace
}  // namespace libkestrun
