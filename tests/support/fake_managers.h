// A stand-in for the facade's manager aggregate that holds a recording counts manager and hands
// out the account, preference and user managers a test sets (none by default).
#pragma once

#include "core/api/managers.h"
#include "support/fake_counts_manager.h"

namespace kestrun_test {

class FakeManagers : public libkestrun::Managers {
 public:
  libkestrun::AccountManager* accountManager() override { return accounts; }
  libkestrun::CountsManager& countsManager() override { return counts; }
  libkestrun::PrefManager* prefManager() override { return prefs; }
  libkestrun::UserManager* userManager() override { return users; }

  FakeCountsManager counts;
  libkestrun::AccountManager* accounts = nullptr;
  libkestrun::PrefManager* prefs = nullptr;
  libkestrun::UserManager* users = nullptr;
};

}  // namespace kestrun_test
