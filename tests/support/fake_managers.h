// A stand-in for the facade's manager aggregate that holds a recording counts manager and hands
// out the preference and user managers a test sets (none by default).
#pragma once

#include "core/api/managers.h"
#include "support/fake_counts_manager.h"

namespace kestrun_test {

class FakeManagers : public libkestrun::Managers {
 public:
  libkestrun::CountsManager& countsManager() override { return counts; }
  libkestrun::PrefManager* prefManager() override { return prefs; }
  libkestrun::UserManager* userManager() override { return users; }

  FakeCountsManager counts;
  libkestrun::PrefManager* prefs = nullptr;
  libkestrun::UserManager* users = nullptr;
};

}  // namespace kestrun_test
