// Leaves a statement reset when its scope is left by an exception. A statement that stays busy
// after a failed read holds its read lock, and since both working connections run on one thread
// the other connection would then stall for its whole busy time-out.
#pragma once

#include <exception>

#include "core/store/cpp_sqlite3.h"

namespace libkestrun::internal {

class ResetOnUnwind {
 public:
  explicit ResetOnUnwind(CppSQLite3Statement& statement)
      : statement_(statement), exceptions_(std::uncaught_exceptions()) {}
  ResetOnUnwind(const ResetOnUnwind&) = delete;
  ResetOnUnwind& operator=(const ResetOnUnwind&) = delete;

  ~ResetOnUnwind() {
    if (std::uncaught_exceptions() <= exceptions_) return;  // the normal path resets for itself
    try {
      statement_.reset();  // reports the failed step's code again; the first report is on its way
    } catch (...) {
    }
  }

 private:
  CppSQLite3Statement& statement_;
  int exceptions_;
};

}  // namespace libkestrun::internal
