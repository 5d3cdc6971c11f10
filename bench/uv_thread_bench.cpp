// The core thread's queue against a bare libuv loop woken by uv_async_send doing the same work:
// closures handed from another thread and run on the loop.
#include <benchmark/benchmark.h>

#include <uv.h>

#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "brelt/semaphore.h"
#include "brelt/uv_thread.h"

namespace {

constexpr int kBatch = 1000;

// A minimal loop thread: a FIFO of closures under a mutex, drained by an async callback.
class BareLoop {
 public:
  BareLoop() {
    uv_sem_t started;
    uv_sem_init(&started, 0);
    thread_ = std::thread([this, &started] {
      uv_loop_init(&loop_);
      uv_async_init(&loop_, &wakeup_, &BareLoop::drain);
      wakeup_.data = this;
      uv_sem_post(&started);
      uv_run(&loop_, UV_RUN_DEFAULT);
      uv_close(reinterpret_cast<uv_handle_t*>(&wakeup_), nullptr);
      uv_run(&loop_, UV_RUN_NOWAIT);
      uv_loop_close(&loop_);
    });
    uv_sem_wait(&started);
    uv_sem_destroy(&started);
  }
  ~BareLoop() {
    post([this] { uv_stop(&loop_); });
    thread_.join();
  }
  void post(std::function<void()> fn) {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(fn));
    uv_async_send(&wakeup_);
  }

 private:
  static void drain(uv_async_t* handle) {
    auto* self = static_cast<BareLoop*>(handle->data);
    for (;;) {
      std::function<void()> fn;
      {
        std::lock_guard<std::mutex> lock(self->mutex_);
        if (self->queue_.empty()) return;
        fn = std::move(self->queue_.front());
        self->queue_.pop_front();
      }
      fn();
    }
  }

  uv_loop_t loop_{};
  uv_async_t wakeup_{};
  std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
  std::thread thread_;
};

template <class Loop>
void post_batch(Loop& loop, benchmark::State& state) {
  for (auto _ : state) {
    brelt::Semaphore done;
    // Closures run in posting order, so the last one ends the batch.
    for (int i = 0; i < kBatch; ++i) {
      loop.post([&done, i] {
        if (i == kBatch - 1) done.notify();
      });
    }
    done.wait();
  }
  state.SetItemsProcessed(state.iterations() * kBatch);
}

template <class Loop>
void round_trip(Loop& loop, benchmark::State& state) {
  for (auto _ : state) {
    brelt::Semaphore done;
    loop.post([&done] { done.notify(); });
    done.wait();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_UvThread_PostToRun(benchmark::State& state) {
  brelt::UvThread thread(true);
  post_batch(thread, state);
}

void BM_BareLoop_PostToRun(benchmark::State& state) {
  BareLoop loop;
  post_batch(loop, state);
}

void BM_UvThread_PostSync(benchmark::State& state) {
  brelt::UvThread thread(true);
  for (auto _ : state) thread.post_sync([] {});
  state.SetItemsProcessed(state.iterations());
}

void BM_BareLoop_RoundTrip(benchmark::State& state) {
  BareLoop loop;
  round_trip(loop, state);
}

BENCHMARK(BM_UvThread_PostToRun)->UseRealTime();
BENCHMARK(BM_BareLoop_PostToRun)->UseRealTime();
BENCHMARK(BM_UvThread_PostSync)->UseRealTime();
BENCHMARK(BM_BareLoop_RoundTrip)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
