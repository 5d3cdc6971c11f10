// Catching the store's one error type in tests.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "core/store/cpp_sqlite3_exception.h"

namespace kestrun_test {

// Runs `fn`, which must throw, and gives back what it threw.
inline CppSQLite3Exception thrown_by(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const CppSQLite3Exception& e) {
    return e;
  }
  ADD_FAILURE() << "nothing thrown";
  return CppSQLite3Exception(0, "nothing thrown");
}

}  // namespace kestrun_test
