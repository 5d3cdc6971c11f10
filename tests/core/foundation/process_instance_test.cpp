#include "core/foundation/process_instance.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "brelt/semaphore.h"

namespace libkestrun {
namespace {

struct Component {
  int value = 7;
  std::vector<std::string> calls;
  int answer() const { return value; }
  std::string name(const std::string& prefix) { return prefix + "component"; }
  void note(std::string call) { calls.push_back(std::move(call)); }
};

TEST(ProcessInstanceTest, WithoutAnInstanceEveryCallAnswersTheNeutralValue) {
  ProcessInstance<Component> slot;
  EXPECT_EQ(slot.get(), nullptr);
  EXPECT_EQ(slot.call(&Component::answer), 0);
  EXPECT_EQ(slot.call(&Component::name, "a "), "");
  slot.call(&Component::note, "lost");  // does nothing

  auto component = std::make_shared<Component>();
  slot.set(component);
  EXPECT_EQ(slot.call(&Component::answer), 7);
  EXPECT_EQ(slot.call(&Component::name, "a "), "a component");
  slot.call([](Component& c) { c.note("lambda"); });
  EXPECT_EQ(component->calls, std::vector<std::string>{"lambda"});

  slot.clear();
  EXPECT_EQ(slot.call(&Component::answer), 0);
  EXPECT_EQ(component.use_count(), 1);  // the slot let go of it
}

// A call in progress keeps the instance it started on alive even when another thread replaces it.
TEST(ProcessInstanceTest, ReplacingDuringACallDestroysTheOldInstanceAfterTheCall) {
  ProcessInstance<Component> slot;
  std::weak_ptr<Component> watched;
  {
    auto first = std::make_shared<Component>();
    watched = first;
    slot.set(std::move(first));
  }
  brelt::Semaphore inside, replaced;
  bool alive_after_replace = false;
  std::thread caller([&] {
    slot.call([&](Component&) {
      inside.notify();
      replaced.wait();
      alive_after_replace = !watched.expired();
    });
  });
  inside.wait();
  slot.set(std::make_shared<Component>());
  replaced.notify();
  caller.join();
  EXPECT_TRUE(alive_after_replace);
  EXPECT_TRUE(watched.expired());
}

// The previous instance is released outside the slot's lock, so its destructor may read the slot.
struct ReadsTheSlotOnDestruction {
  ProcessInstance<ReadsTheSlotOnDestruction>* slot;
  ~ReadsTheSlotOnDestruction() { slot->get(); }
};

TEST(ProcessInstanceTest, ThePreviousInstanceIsReleasedOutsideTheLock) {
  ProcessInstance<ReadsTheSlotOnDestruction> slot;
  slot.set(std::make_shared<ReadsTheSlotOnDestruction>(ReadsTheSlotOnDestruction{&slot}));
  slot.clear();  // would deadlock if the destructor ran under the lock
  EXPECT_EQ(slot.get(), nullptr);
}

}  // namespace
}  // namespace libkestrun
