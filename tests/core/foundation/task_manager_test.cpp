#include "core/foundation/task_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace libkestrun {
namespace {

// Counts its hooks and the completed listener calls.
class CountingTaskManager final : public TaskManager {
 public:
  CountingTaskManager() {
    listen<all_tasks_completed>([this] { ++completed; });
  }
  std::atomic<int> first{0}, finished{0}, completed{0};

 protected:
  void on_first_task() override { ++first; }
  void on_all_tasks_finished() override {
    EXPECT_EQ(completed.load(), finished.load() + 1);  // listeners run before the hook
    ++finished;
  }
};

TEST(TaskManager, HooksFireOncePerBusyPeriod) {
  CountingTaskManager tasks;
  EXPECT_FALSE(tasks.has_tasks());
  {
    TaskHandle a = tasks.start_task();
    TaskHandle b = tasks.start_task();
    EXPECT_TRUE(tasks.has_tasks());
    EXPECT_EQ(tasks.first, 1);
    a = TaskHandle();  // assigning over releases
    EXPECT_EQ(tasks.finished, 0);
  }
  EXPECT_FALSE(tasks.has_tasks());
  EXPECT_EQ(tasks.finished, 1);
  EXPECT_EQ(tasks.completed, 1);

  tasks.start_task();  // a temporary: one whole busy period
  EXPECT_EQ(tasks.first, 2);
  EXPECT_EQ(tasks.finished, 2);
}

TEST(TaskManager, HandlesReleaseExactlyOnceWhereverTheyAreMoved) {
  CountingTaskManager tasks;
  std::map<std::string, TaskHandle> pending;
  pending["r1"] = tasks.start_task();
  pending["r1"] = tasks.start_task();  // the old task is released, the temporary releases nothing
  EXPECT_EQ(tasks.first, 1);
  EXPECT_EQ(tasks.finished, 0);
  EXPECT_TRUE(tasks.has_tasks());

  auto shared = std::make_shared<TaskHandle>(tasks.start_task());
  pending.erase("r1");
  EXPECT_TRUE(tasks.has_tasks());
  TaskHandle moved(std::move(*shared));
  shared.reset();
  EXPECT_TRUE(tasks.has_tasks());
  moved = std::move(moved);
  EXPECT_TRUE(tasks.has_tasks());
  { TaskHandle gone(std::move(moved)); }
  EXPECT_FALSE(tasks.has_tasks());
  EXPECT_EQ(tasks.finished, 1);
  EXPECT_EQ(tasks.completed, 1);
}

TEST(TaskManager, CountsFromManyThreads) {
  CountingTaskManager tasks;
  TaskHandle outer = tasks.start_task();  // keeps one busy period open across the threads
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        TaskHandle h = tasks.start_task();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(tasks.first, 1);
  EXPECT_EQ(tasks.finished, 0);
  outer = TaskHandle();
  EXPECT_EQ(tasks.finished, 1);
  EXPECT_EQ(tasks.completed, 1);
}

TEST(TaskManager, CancelTellsTheCancelledListenersInOrderAndKeepsTheCount) {
  CountingTaskManager tasks;
  std::vector<int> order;
  tasks.listen<all_tasks_cancelled>([&] { order.push_back(1); });
  tasks.listen<all_tasks_cancelled>([&] { order.push_back(2); });
  TaskHandle h = tasks.start_task();
  tasks.cancel_all_tasks();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_TRUE(tasks.has_tasks());
}

}  // namespace
}  // namespace libkestrun
