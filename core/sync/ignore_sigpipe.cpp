#include "core/sync/ignore_sigpipe.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace libkestrun::internal {

void ignore_sigpipe() {
  struct sigaction action;
  std::memset(&action, 0, sizeof(action));
  action.sa_handler = SIG_IGN;
  if (sigemptyset(&action.sa_mask) != 0 || sigaction(SIGPIPE, &action, nullptr) != 0) {
    std::perror("kestrun: cannot ignore SIGPIPE");
    std::abort();
  }
}

}  // namespace libkestrun::internal
