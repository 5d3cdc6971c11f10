#include "brelt/uv_thread.h"

#include <algorithm>
#include <exception>
#include <vector>

#include "brelt/log.h"
#include "brelt/semaphore.h"

namespace brelt {

namespace {
const std::string kTag = "UvThread";
}  // namespace

UvThread::UvThread(bool start_now) {
  if (start_now) start();
}

UvThread::~UvThread() {
  clear();
  // Never started: there is no loop to stop, and waiting for one would block forever.
  if (!thread_.joinable()) return;
  post_sync([this] { uv_stop(loop_); });
  thread_.join();
}

void UvThread::start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (thread_.joinable()) std::terminate();
  uv_sem_t started;
  uv_sem_init(&started, 0);
  thread_ = std::thread(&UvThread::_thread_main, this, &started);
  uv_sem_wait(&started);
  uv_sem_destroy(&started);
}

void UvThread::_thread_main(UvThread* self, uv_sem_t* started) {
  self->loop_thread_id_ = std::this_thread::get_id();
  auto* loop = new uv_loop_t;
  uv_loop_init(loop);
  self->loop_ = loop;
  uv_async_init(loop, &self->wakeup_, &UvThread::_drain);
  self->wakeup_.data = self;
  uv_sem_post(started);

  uv_run(loop, UV_RUN_DEFAULT);

  uv_close(reinterpret_cast<uv_handle_t*>(&self->wakeup_), nullptr);
  uv_run(loop, UV_RUN_NOWAIT);
  if (uv_loop_close(loop) != 0) {
    // A handle (timer, socket) was never closed; the loop must stay allocated for it.
    log_error(kTag, "Error destroying event loop");
    return;
  }
  delete loop;
  self->loop_ = nullptr;
}

void UvThread::_drain(uv_async_t* handle) {
  auto* self = static_cast<UvThread*>(handle->data);
  for (;;) {
    Task task;
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      if (self->queue_.empty()) return;
      task = std::move(self->queue_.top());
      self->queue_.pop();
    }
    task.fn();
  }
}

void UvThread::push(Task task, uint64_t priority) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_custom(std::move(task), priority);
  uv_async_send(&wakeup_);
}

void UvThread::post(std::function<void()> fn) {
  push(Task{std::move(fn)}, stable_priority_queue<Task>::kHighest);
}

void UvThread::post_low(std::function<void()> fn) {
  push(Task{std::move(fn)}, stable_priority_queue<Task>::kLowest);
}

void UvThread::post_custom(std::function<void()> fn, uint64_t priority) {
  push(Task{std::move(fn)}, priority);
}

void UvThread::post_sync(const std::function<void()>& fn) {
  if (is_current_thread()) {
    fn();
    return;
  }
  Semaphore done;
  push(Task{[&fn, &done] {
              fn();
              done.notify();
            },
            true},
       stable_priority_queue<Task>::kHighest);
  done.wait();
}

bool UvThread::is_current_thread() const { return loop_thread_id_.load() == std::this_thread::get_id(); }

uv_loop_t* UvThread::get_loop() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return loop_;
}

void UvThread::clear() {
  std::vector<stable_priority_queue<Task>::entry> dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dropped = queue_.take_all();
    // Put back, in their old order, the closures that post_sync callers are blocked on.
    std::vector<stable_priority_queue<Task>::entry> waited;
    for (auto& entry : dropped) {
      if (std::get<0>(entry).sync) waited.push_back(std::move(entry));
    }
    std::sort(waited.begin(), waited.end(), [](const auto& a, const auto& b) {
      return stable_priority_queue<Task>::highest_priority()(b, a);
    });
    for (auto& entry : waited) queue_.push_custom(std::move(std::get<0>(entry)), std::get<1>(entry));
  }
  // `dropped` is destroyed here, outside the lock: a closure may hold the last reference to
  // something whose destructor posts back to this thread.
}

namespace {

// A work request of post_to_thread_pool; uv_work_t comes first so the request is its own data.
struct ThreadPoolFn {
  uv_work_t request{};
  std::function<void()> work;
  std::function<void()> after_work;
};

}  // namespace

void UvThread::post_to_thread_pool(std::function<void()> work, std::function<void()> after_work) {
  post([this, work = std::move(work), after_work = std::move(after_work)]() mutable {
    auto* fn = new ThreadPoolFn{{}, std::move(work), std::move(after_work)};
    fn->request.data = fn;
    uv_queue_work(
        loop_, &fn->request, [](uv_work_t* req) { static_cast<ThreadPoolFn*>(req->data)->work(); },
        [](uv_work_t* req, int) {
          auto* done = static_cast<ThreadPoolFn*>(req->data);
          done->after_work();
          delete done;
        });
  });
}

}  // namespace brelt
