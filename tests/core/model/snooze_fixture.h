// A snooze time calculator over a real preference manager with the default preferences, kept in
// memory and registered as the process-wide calculator for the life of the object.
#pragma once

#include <memory>

#include "brelt/uv_thread.h"
#include "core/foundation/memory_store.h"
#include "core/foundation/notification_center.h"
#include "core/foundation/pref_manager.h"
#include "core/model/snooze_time_calculator.h"
#include "support/fake_account_manager.h"

namespace kestrun_test {

class SnoozeFixture {
 public:
  SnoozeFixture() { libkestrun::SnoozeTimeCalculator::setGlobalInstance(calculator); }
  ~SnoozeFixture() { libkestrun::SnoozeTimeCalculator::setGlobalInstance(nullptr); }
  SnoozeFixture(const SnoozeFixture&) = delete;
  SnoozeFixture& operator=(const SnoozeFixture&) = delete;

  brelt::UvThread thread{true};
  std::shared_ptr<libkestrun::NotificationCenter> center =
      std::make_shared<libkestrun::NotificationCenter>(thread);
  FakeAccountManager accounts;
  std::shared_ptr<libkestrun::PrefManager> prefs = std::make_shared<libkestrun::PrefManager>(
      &thread, center, std::make_shared<libkestrun::MemoryStore>(), &accounts);
  std::shared_ptr<libkestrun::SnoozeTimeCalculator> calculator =
      std::make_shared<libkestrun::SnoozeTimeCalculator>(prefs.get());
};

}  // namespace kestrun_test
