#include "core/foundation/thread_pool.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace libkestrun::thread_pool {

namespace {

struct Pool {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::function<void()>> queue;
  bool stopping = false;
  std::vector<std::thread> workers;
};

Pool& pool() {
  static Pool p;
  return p;
}

}  // namespace

void start(uint64_t count) {
  Pool& p = pool();
  std::lock_guard<std::mutex> lock(p.mutex);
  p.stopping = false;
  for (uint64_t i = 0; i < count; ++i) p.workers.emplace_back(_worker);
}

void post(std::function<void()> fn) {
  Pool& p = pool();
  std::lock_guard<std::mutex> lock(p.mutex);
  p.queue.push_back(std::move(fn));
  p.wake.notify_one();
}

void stop() {
  Pool& p = pool();
  std::vector<std::thread> workers;
  std::deque<std::function<void()>> dropped;
  {
    std::lock_guard<std::mutex> lock(p.mutex);
    p.stopping = true;
    p.wake.notify_all();
    workers.swap(p.workers);
  }
  for (auto& worker : workers) worker.join();
  {
    std::lock_guard<std::mutex> lock(p.mutex);
    dropped.swap(p.queue);
  }
  // `dropped` goes out of scope here, outside the lock, in case a function's captures post again.
}

void _worker() {
  Pool& p = pool();
  for (;;) {
    std::function<void()> fn;
    {
      std::unique_lock<std::mutex> lock(p.mutex);
      p.wake.wait(lock, [&] { return p.stopping || !p.queue.empty(); });
      if (p.stopping) return;
      fn = std::move(p.queue.front());
      p.queue.pop_front();
    }
    fn();
  }
}

}  // namespace libkestrun::thread_pool
