// kestrun_sync_server: the local sync server as a program.
//
//   kestrun_sync_server --state DIR [--port N] [--resource-port N] [--key TEXT] [--control PATH]
//                       [--max-reply-bytes N]
//
// Prints its address, its trust anchor's file and its control socket, then serves until SIGINT or
// SIGTERM. The signing key defaults to the local development key (see docs/sync-protocol.md).
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "tools/sync_server/control_socket.h"
#include "tools/sync_server/sync_server.h"

namespace {

const char kDefaultKey[] = "kestrun-local-sync-key";

int usage() {
  std::fprintf(
      stderr,
      "usage: kestrun_sync_server --state DIR [--port N] [--resource-port N] [--key TEXT] [--control PATH]"
      " [--max-reply-bytes N]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  sync_server::ServerOptions options;
  std::string key = kDefaultKey;
  std::string control;
  for (int i = 1; i < argc; ++i) {
    std::string flag = argv[i];
    if (i + 1 >= argc) return usage();
    std::string value = argv[++i];
    if (flag == "--state") {
      options.state_directory = value;
    } else if (flag == "--port") {
      options.port = static_cast<uint16_t>(std::strtoul(value.c_str(), nullptr, 10));
    } else if (flag == "--resource-port") {
      options.resource_port = static_cast<uint16_t>(std::strtoul(value.c_str(), nullptr, 10));
    } else if (flag == "--key") {
      key = value;
    } else if (flag == "--control") {
      control = value;
    } else if (flag == "--max-reply-bytes") {
      options.max_reply_bytes = std::strtoull(value.c_str(), nullptr, 10);
    } else {
      return usage();
    }
  }
  if (options.state_directory.empty()) return usage();
  if (control.empty()) control = options.state_directory + "/control.sock";
  options.hmac_key.assign(key.begin(), key.end());

  // Block the stop signals before any thread starts, so that only sigwait below receives them.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  try {
    sync_server::SyncServer server(options);
    sync_server::ControlSocket control_socket(server, control);
    std::printf("sync server listening on 127.0.0.1:%u\n", server.port());
    std::printf("resources on https://127.0.0.1:%u\n", server.resource_port());
    std::printf("trust anchor: %s/authority.pem\n", options.state_directory.c_str());
    std::printf("control socket: %s\n", control.c_str());
    std::fflush(stdout);
    int signal_number = 0;
    sigwait(&stop, &signal_number);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kestrun_sync_server: %s\n", error.what());
    return 1;
  }
  return 0;
}
