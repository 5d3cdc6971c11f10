// The process-wide worker pool: plain threads sharing one queue, for blocking work (HTTP
// transfers) that must not run on the core thread. The core starts it with two workers and stops
// it before the core thread stops.
#pragma once

#include <cstdint>
#include <functional>

namespace libkestrun::thread_pool {

// Clears the stop flag and starts `count` more workers.
void start(uint64_t count);
// Any thread. Functions run in no promised order relative to each other, each taken from the front.
void post(std::function<void()> fn);
// Makes every worker finish the function it runs, joins them, and destroys the functions still
// queued, here, so that none outlives the core thread it may refer to. Never call it on a worker.
void stop();
// The body of each worker thread.
void _worker();

}  // namespace libkestrun::thread_pool
