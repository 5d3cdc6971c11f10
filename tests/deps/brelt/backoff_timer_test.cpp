#include "brelt/backoff_timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace brelt {
namespace {

using namespace std::chrono_literals;

// A back-off on a loop of the test's own thread, with a clock the test moves by hand.
class BackoffTimerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    uv_loop_init(&loop_);
    backoff_ = std::make_unique<BackoffTimer>(
        &loop_, BackoffTimer::kInitialMs, BackoffTimer::kMaximumMs, BackoffTimer::kWindowMs,
        [this] { ++fired_; }, BackoffTimer::kFactor, [this] { return now_; });
  }
  void TearDown() override {
    backoff_.reset();
    uv_run(&loop_, UV_RUN_DEFAULT);  // lets closed handles finish closing
    EXPECT_EQ(uv_loop_close(&loop_), 0);
  }
  uint64_t attempt_after(std::chrono::milliseconds elapsed) {
    now_ += elapsed;
    return backoff_->attempt();
  }

  uv_loop_t loop_;
  std::chrono::steady_clock::time_point now_ = std::chrono::steady_clock::time_point(1h);
  int fired_ = 0;
  std::unique_ptr<BackoffTimer> backoff_;
};

TEST_F(BackoffTimerTest, AttemptsInQuickSuccessionFollowTheSchedule) {
  const std::vector<uint64_t> expected = {0,    125,  200,  320,  512,   819,   1310,
                                          2096, 3353, 5364, 8582, 10000, 10000, 10000};
  std::vector<uint64_t> delays;
  for (size_t i = 0; i < expected.size(); ++i) delays.push_back(attempt_after(10ms));
  EXPECT_EQ(delays, expected);
}

TEST_F(BackoffTimerTest, DelayThatOutgrowsTheIntegerRangeStopsAtTheMaximum) {
  const uint64_t maximum = UINT64_MAX;
  BackoffTimer huge(
      &loop_, uint64_t{1} << 62, maximum, BackoffTimer::kWindowMs, [] {}, 16.0, [this] { return now_; });
  testing::internal::CaptureStdout();
  std::vector<uint64_t> delays;
  for (int i = 0; i < 3; ++i) delays.push_back(huge.attempt());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(delays, (std::vector<uint64_t>{0, uint64_t{1} << 62, maximum}));
}

TEST_F(BackoffTimerTest, WindowSinceThePreviousAttemptDecidesWhetherToStartOver) {
  struct Case {
    std::chrono::milliseconds gap;
    uint64_t delay;
  };
  // Each gap is measured from the attempt before it, so a long wait does not hide behind a chain
  // of short ones.
  const std::vector<Case> cases = {
      {0ms, 0},   {14999ms, 125}, {14999ms, 200}, {15000ms, 0},
      {1ms, 125}, {20000ms, 0},   {0ms, 125},     {0ms, 200},
  };
  for (const auto& c : cases) EXPECT_EQ(attempt_after(c.gap), c.delay) << "after " << c.gap.count() << " ms";
}

TEST_F(BackoffTimerTest, ResetStartsTheDelaysOverButKeepsTheWindow) {
  attempt_after(0ms);
  attempt_after(1ms);
  attempt_after(1ms);
  backoff_->reset();
  EXPECT_FALSE(backoff_->is_waiting());
  EXPECT_EQ(attempt_after(1ms), 125u);
  EXPECT_EQ(attempt_after(1ms), 200u);
}

TEST_F(BackoffTimerTest, DelayedAttemptPrintsTheBackOffLine) {
  attempt_after(0ms);
  testing::internal::CaptureStdout();
  attempt_after(1ms);
  attempt_after(1ms);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "reconnect is too soon, backing off 125 ms\n\nreconnect is too soon, backing off 200 ms\n\n");
}

TEST_F(BackoffTimerTest, ImmediateAttemptRunsOnTheLoopNotInsideTheCall) {
  EXPECT_EQ(backoff_->attempt(), 0u);
  EXPECT_EQ(fired_, 0);
  EXPECT_TRUE(backoff_->is_waiting());
  uv_run(&loop_, UV_RUN_DEFAULT);
  EXPECT_EQ(fired_, 1);
  EXPECT_FALSE(backoff_->is_waiting());
}

TEST_F(BackoffTimerTest, ResetCancelsAWaitingAttempt) {
  backoff_->attempt();
  backoff_->reset();
  uv_run(&loop_, UV_RUN_DEFAULT);
  EXPECT_EQ(fired_, 0);
}

TEST_F(BackoffTimerTest, NewAttemptReplacesTheWaitingOne) {
  attempt_after(0ms);
  testing::internal::CaptureStdout();
  attempt_after(0ms);
  testing::internal::GetCapturedStdout();
  // The second attempt's 125 ms wait replaced the immediate one: nothing is due yet.
  uv_run(&loop_, UV_RUN_NOWAIT);
  EXPECT_EQ(fired_, 0);
  EXPECT_TRUE(backoff_->is_waiting());
}

}  // namespace
}  // namespace brelt
