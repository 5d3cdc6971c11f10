// Building and tearing down the whole core through the facade.
#include "core/api/api.h"

#include <gtest/gtest.h>

#include "api_fixture.h"

namespace kestrun_test {
namespace {

TEST_F(ApiTest, BuildsAndTearsDownOnDiskAndInMemory) {
  start();
  api_.reset();
  start_in_memory();
  api_.reset();
}

}  // namespace
}  // namespace kestrun_test
