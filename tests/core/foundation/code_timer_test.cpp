#include "core/foundation/code_timer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace patch {
namespace {

TEST(CodeTimer, ReportsElapsedTimeAndTheGapSinceThePreviousTimerEnded) {
  double first_elapsed = -1, second_elapsed = -1, gap = -1;
  { code_timer named("warm-up"); }  // reports nothing, but ends a timer
  {
    code_timer timer([&](double elapsed, double) { first_elapsed = elapsed; });
  }
  {
    code_timer timer([&](double elapsed, double since) {
      second_elapsed = elapsed;
      gap = since;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_GE(first_elapsed, 0.0);
  EXPECT_LE(first_elapsed, second_elapsed);
  EXPECT_GE(second_elapsed, 20.0);
  EXPECT_GE(gap, 20.0);  // the first timer ended before the sleep
}

}  // namespace
}  // namespace patch
