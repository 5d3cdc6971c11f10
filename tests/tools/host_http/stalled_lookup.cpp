#include "stalled_lookup.h"

#include <dlfcn.h>
#include <netdb.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

namespace kestrun_host {
namespace {

std::mutex mutex;
std::condition_variable changed;
int held = 0;           // guarded by mutex
bool released = false;  // guarded by mutex

int hold() {
  std::unique_lock<std::mutex> lock(mutex);
  ++held;
  changed.notify_all();
  changed.wait(lock, [] { return released; });
  return EAI_NONAME;
}

}  // namespace

bool wait_for_stalled_lookup() {
  std::unique_lock<std::mutex> lock(mutex);
  return changed.wait_for(lock, std::chrono::seconds(10), [] { return held > 0; });
}

void release_stalled_lookups() {
  std::lock_guard<std::mutex> lock(mutex);
  released = true;
  changed.notify_all();
}

}  // namespace kestrun_host

// Defined in the program, so libcurl's resolver thread calls this one.
extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** result) {
  if (node && std::strcmp(node, kestrun_host::kStalledHost) == 0) return kestrun_host::hold();
  using Lookup = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
  static const auto system_lookup = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
  return system_lookup ? system_lookup(node, service, hints, result) : EAI_SYSTEM;
}
