// A counting semaphore.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace brelt {

class Semaphore {
 public:
  Semaphore() = default;
  explicit Semaphore(int32_t count) : count_(count) {}
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  // Adds one to the count and wakes one waiter.
  void notify();
  // Waits until the count is positive, then takes one.
  void wait();

 private:
  int32_t count_ = 0;
  std::mutex mutex_;
  std::condition_variable cv_;
};

}  // namespace brelt
