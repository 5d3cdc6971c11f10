// `make run`: runs, end to end, as much of the core as has been built so far, and says plainly
// what cannot run yet.
#include <chrono>
#include <cstdio>
#include <string>

#include "brelt/semaphore.h"
#include "brelt/uv_thread.h"

namespace {

void show_core_thread() {
  using namespace std::chrono_literals;
  brelt::UvThread core(true);
  std::string order;
  brelt::Semaphore done;
  core.post_sync([&] {
    core.post_low([&] { order += "low "; });
    core.post([&] { order += "high "; });
  });
  auto timer = core.defer(20ms, [&] {
    order += "timer";
    done.notify();
  });
  done.wait();
  std::printf("core thread: ran queued work in priority order: %s\n", order.c_str());
}

}  // namespace

int main() {
  std::printf("Kestrun core\n\n");
  show_core_thread();
  std::printf(
      "\nNot built yet: the sync connection, the local database, the inbox and every window.\n"
      "There is no mailbox to show until the core can sync with a server.\n");
  return 0;
}
