// A stand-in for the facade's manager aggregate that holds a recording counts manager.
#pragma once

#include "core/api/managers.h"
#include "support/fake_counts_manager.h"

namespace kestrun_test {

class FakeManagers : public libkestrun::Managers {
 public:
  libkestrun::CountsManager& countsManager() override { return counts; }

  FakeCountsManager counts;
};

}  // namespace kestrun_test
