#include "brelt/semaphore.h"

namespace brelt {

void Semaphore::notify() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++count_;
  cv_.notify_one();
}

void Semaphore::wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  cv_.wait(lock, [this] { return count_ > 0; });
  --count_;
}

}  // namespace brelt
