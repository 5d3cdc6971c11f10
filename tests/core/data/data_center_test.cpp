#include "core/data/data_center.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/data/consumer_center.h"
#include "core/foundation/semaphore.h"
#include "core/model/item_orderings.h"
#include "core/model/ks_item.h"
#include "core/model/query_observer.h"
#include "core/model/query_updater.h"
#include "support/on_loop.h"
#include "support/temp_dir.h"

namespace {

using Results = std::vector<std::string>;

// Both centers over one fresh database on a real core thread, and a record of every notification.
class DataCenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DBContext::check_schema_version(dir_.file("kestrun.db"), false, std::nullopt, [] {});
    center_->listen_all([this](const std::string& name, const jsonette::Json&) {
      std::lock_guard<std::mutex> lock(mutex_);
      notifications_.push_back(name);
    });
    KestrunDataCenter::initialize(&thread_, center_, dir_.file("kestrun.db"), std::nullopt);
    KestrunConsumerCenter::initialize(&thread_, dir_.file("kestrun.db"), std::nullopt);
  }
  void TearDown() override {
    drain();  // no delivery may still reach the record while the fixture goes
    libkestrun::query_updater_set_instance(nullptr);
  }

  // Creates a new item with that id in the task's context.
  static void createItem(DBContext& context, const std::string& id) {
    auto item = std::static_pointer_cast<KSItem>(context.createObject("KSITEM", id));
    item->setItemID(id);
  }

  bool stored(const std::string& id) {
    bool found = false;
    KestrunDataCenter::performSyncDataTask(
        [&](Results&, DBContext& context) { found = context.itemExists(id); });
    return found;
  }

  // Blocks the core thread until the returned semaphore is notified.
  std::shared_ptr<patch::semaphore> holdLoop() {
    auto gate = std::make_shared<patch::semaphore>();
    thread_.post([gate] { gate->wait(); });
    return gate;
  }

  // Returns once everything queued so far, low priority included, and the deliveries it posted
  // have run.
  void drain() {
    patch::semaphore done;
    thread_.post_low([&] { done.notify(); });
    done.wait();
    kestrun_test::run_on(thread_, [] {});
  }

  std::vector<std::string> notifications() {
    std::lock_guard<std::mutex> lock(mutex_);
    return notifications_;
  }
  int count(const std::string& name) {
    int n = 0;
    for (const auto& seen : notifications()) n += seen == name;
    return n;
  }

  brelt::UvThread thread_{true};
  std::shared_ptr<libkestrun::NotificationCenter> center_ =
      std::make_shared<libkestrun::NotificationCenter>(thread_);
  kestrun_test::TempDir dir_;
  std::mutex mutex_;
  std::vector<std::string> notifications_;  // guarded by mutex_
};

TEST_F(DataCenterTest, PrioritiesChooseTheQueue) {
  std::vector<std::string> order;  // written on the core thread only
  auto gate = holdLoop();
  for (int priority : {1, 2, -2, 0}) {
    KestrunDataCenter::performDataTask(
        [&order, priority](Results&, DBContext&) { order.push_back(std::to_string(priority)); },
        static_cast<KSDataTaskBlockPriority>(priority), nullptr, nullptr);
  }
  KestrunDataCenter::performNormalDataTask([&](Results&, DBContext&) { order.push_back("normal"); }, nullptr,
                                           nullptr);
  KestrunDataCenter::performLowPriorityDataTask([&](Results&, DBContext&) { order.push_back("low"); },
                                                nullptr, nullptr);
  gate->notify();
  drain();
  EXPECT_EQ(order, (std::vector<std::string>{"0", "normal", "1", "2", "-2", "low"}));

  // -1 runs inline on the core thread, before anything queued; from another thread it waits.
  order.clear();
  KestrunDataCenter::performNormalDataTask(
      [&](Results&, DBContext&) {
        KestrunDataCenter::performNormalDataTask([&](Results&, DBContext&) { order.push_back("queued"); },
                                                 nullptr, nullptr);
        KestrunDataCenter::performDataTask([&](Results&, DBContext&) { order.push_back("sync"); },
                                           KSDataTaskBlockPrioritySync, nullptr, nullptr);
        order.push_back("outer");
      },
      nullptr, nullptr);
  drain();
  EXPECT_EQ(order, (std::vector<std::string>{"sync", "outer", "queued"}));
  bool ran = false;
  KestrunDataCenter::performSyncDataTask([&](Results&, DBContext&) { ran = thread_.is_current_thread(); });
  EXPECT_TRUE(ran);
}

TEST_F(DataCenterTest, SavedFollowsEveryDataTaskAndNoMemoryTask) {
  Results seen;
  KestrunDataCenter::performNormalDataTask(nullptr, nullptr, [&](Results& results) { seen = results; });
  KestrunDataCenter::performMemoryDataTask([](Results& results, MemoryContext&) { results.push_back("m"); },
                                           KSDataTaskBlockPriorityNormal, nullptr, nullptr);
  KestrunDataCenter::performLowPriorityDataTask(
      [](Results&, DBContext& context) { createItem(context, "A"); }, nullptr, nullptr);
  drain();
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(notifications(), (std::vector<std::string>{KestrunDataCenter::kSavedNotification,
                                                       KestrunDataCenter::kSavedNotification}));
  EXPECT_TRUE(stored("A"));
}

TEST_F(DataCenterTest, SecondCompletionSeesTheFirstsAppends) {
  Results second;
  patch::semaphore done;
  KestrunDataCenter::performNormalDataTask([](Results& results, DBContext&) { results.push_back("task"); },
                                           [](Results& results) { results.push_back("first"); },
                                           [&](Results& results) {
                                             second = results;
                                             done.notify();
                                           });
  done.wait();
  EXPECT_EQ(second, (Results{"task", "first"}));

  KestrunDataCenter::performMemoryDataTask(
      [](Results& results, MemoryContext&) { results.push_back("task"); }, KSDataTaskBlockPriorityLow,
      [](Results& results) { results.push_back("first"); },
      [&](Results& results) {
        second = results;
        done.notify();
      });
  done.wait();
  EXPECT_EQ(second, (Results{"task", "first"}));
}

// A throw from a task, from inside the commit's transaction or from a completion stays in its
// closure: the work is rolled back, both completions run, and the next task commits normally.
TEST_F(DataCenterTest, FailuresStayInTheirTask) {
  KestrunDataCenter::performSyncDataTask([](Results&, DBContext& context) { createItem(context, "A"); });
  int completions = 0;  // counted on the core thread
  const auto tally = [&](Results&) { ++completions; };
  KestrunDataCenter::performNormalDataTask(
      [](Results&, DBContext& context) {
        createItem(context, "B");
        throw std::runtime_error("task failed");
      },
      tally, tally);
  // "C" is saved inside the transaction before the second insert of "A" fails.
  KestrunDataCenter::performNormalDataTask(
      [](Results&, DBContext& context) {
        createItem(context, "C");
        createItem(context, "A");
      },
      tally, tally);
  KestrunDataCenter::performNormalDataTask(
      nullptr, [](Results&) { throw std::runtime_error("completion failed"); }, tally);
  KestrunDataCenter::performNormalDataTask([](Results&, DBContext& context) { createItem(context, "D"); },
                                           tally, tally);
  drain();
  EXPECT_EQ(completions, 7);
  EXPECT_EQ(count(KestrunDataCenter::kSavedNotification), 5);
  EXPECT_TRUE(stored("A"));
  EXPECT_FALSE(stored("B"));
  EXPECT_FALSE(stored("C"));
  EXPECT_TRUE(stored("D"));
}

// The teardown reset of the consumer center drops no data task that is still waiting.
TEST_F(DataCenterTest, TaskQueuedBeforeTheTeardownResetIsStored) {
  auto gate = holdLoop();
  KestrunDataCenter::performLowPriorityDataTask(
      [](Results&, DBContext& context) { createItem(context, "late"); }, nullptr, nullptr);
  KestrunConsumerCenter::resetToDefaultState();
  gate->notify();
  drain();
  EXPECT_TRUE(stored("late"));
}

// Keeps the core thread busy at the highest priority, so no low closure runs, until a drop of the
// queue ends it.
struct Spin {
  brelt::UvThread* thread;
  void operator()() const { thread->post(*this); }
};

TEST_F(DataCenterTest, ResetAllDataAnnouncesDropsAndRebuilds) {
  KestrunDataCenter::performSyncDataTask([](Results&, DBContext& context) { createItem(context, "old"); });
  std::vector<std::string> heard;  // written on the core thread
  center_->listen(KestrunDataCenter::kWillResetNotification, this,
                  [&](const std::string& name, const jsonette::Json&) { heard.push_back(name); });
  thread_.post(Spin{&thread_});
  bool droppedRan = false;
  KestrunDataCenter::performLowPriorityDataTask(
      [](Results&, DBContext& context) { createItem(context, "dropped"); },
      [&](Results&) { droppedRan = true; }, nullptr);
  KestrunDataCenter::resetAllDataToDefaultState();
  // Delivered before the queue was dropped.
  EXPECT_EQ(heard, (std::vector<std::string>{KestrunDataCenter::kWillResetNotification}));
  KestrunDataCenter::performNormalDataTask([](Results&, DBContext& context) { createItem(context, "new"); },
                                           nullptr, nullptr);
  drain();
  EXPECT_FALSE(droppedRan);
  EXPECT_FALSE(stored("old"));
  EXPECT_FALSE(stored("dropped"));
  EXPECT_TRUE(stored("new"));
  EXPECT_EQ(count(KestrunDataCenter::kDidResetNotification), 1);
  center_->stop_listening(this);
}

// A committed task reaches the live queries through the commit hook, while another thread reads
// the consumer context through the locked accessor; the two never overlap.
TEST_F(DataCenterTest, CommitsRerunQueriesWhileReadersUseTheLockedAccessor) {
  constexpr int kItems = 40;
  std::vector<std::string> seen;  // written by the observer, under the consumer mutex
  patch::semaphore last;
  auto observer = std::make_shared<libkestrun::FnDataQueryObserver>(
      [](const std::string&, const std::vector<std::shared_ptr<KestrunObject>>&) {},
      [](const std::string&) {},
      [&](const std::string&, std::shared_ptr<KestrunObject> row, libkestrun::ConsumerChangeType type, int,
          int) {
        if (type == libkestrun::ConsumerChangeType::Insert) seen.push_back(row->id());
      },
      [&](const std::string&) {
        if (seen.size() == kItems) last.notify();
      });
  KestrunConsumerCenter::addQuery(
      "inbox", "KSITEM",
      std::make_unique<libkestrun::FnObjectQuery>(
          "inbox",
          [](const std::string&, KestrunContext& context) { return context.inboxItemsSinceQuery(0); },
          KSItem::ModifiedAtDesc(), KSItem::ChangeIsUserVisible(), observer),
      false);

  std::thread reader([] {
    for (int n = 0; n < kItems * 4; ++n) {
      KestrunConsumerCenter::withDBContext([](DBContext& context) {
        context.fetchItem("I0");
        context.inboxItemsSinceQuery(0);
      });
    }
  });
  for (int n = 0; n < kItems; ++n) {
    KestrunDataCenter::performNormalDataTask(
        [n](Results&, DBContext& context) {
          const std::string id = "I" + std::to_string(n);
          createItem(context, id);
          auto item = context.fetchItem(id);
          item->setState(libkestrun::ItemState::Inbox);
          item->setThreadHasEmails(true);
          item->setModifiedAt(1000 + n);
        },
        nullptr, nullptr);
  }
  last.wait();
  reader.join();
  KestrunConsumerCenter::endQuery("inbox");
  EXPECT_EQ(seen.size(), static_cast<size_t>(kItems));
}

// The memory warning empties the search results on the core thread, after the memory task that
// is still queued.
TEST_F(DataCenterTest, MemoryWarningClearsTheStoreOnTheCoreThread) {
  auto gate = holdLoop();
  KestrunDataCenter::performMemoryDataTask(
      [](Results&, MemoryContext& memory) { memory.createObject("KSITEM", "found"); },
      KSDataTaskBlockPriorityNormal, nullptr, nullptr);
  KestrunDataCenter::clearMemoryStore();
  gate->notify();
  drain();
  EXPECT_EQ(MemoryContext::fetchObject<KSItem>("KSITEM", "found"), nullptr);
}

// A second core in one process (a new Api) starts without the first one's search results; its
// own results are stored as before.
TEST_F(DataCenterTest, InitializeAgainForgetsTheSearchResults) {
  auto find = [this](const char* id) {
    KestrunDataCenter::performMemoryDataTask(
        [id](Results&, MemoryContext& memory) { memory.createObject("KSITEM", id); },
        KSDataTaskBlockPriorityNormal, nullptr, nullptr);
    drain();
  };
  find("first");
  ASSERT_NE(MemoryContext::fetchObject<KSItem>("KSITEM", "first"), nullptr);
  KestrunDataCenter::initialize(&thread_, center_, dir_.file("kestrun.db"), std::nullopt);
  EXPECT_EQ(MemoryContext::fetchObject<KSItem>("KSITEM", "first"), nullptr);
  find("second");
  EXPECT_NE(MemoryContext::fetchObject<KSItem>("KSITEM", "second"), nullptr);
  KestrunDataCenter::clearMemoryStore();
  drain();
}

TEST_F(DataCenterTest, FailedOpenWakesTheCallerWithTheError) {
  EXPECT_ANY_THROW(
      KestrunDataCenter::initialize(&thread_, center_, dir_.file("missing/dir/kestrun.db"), std::nullopt));
}

}  // namespace
