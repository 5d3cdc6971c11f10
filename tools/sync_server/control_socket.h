// The program's control channel: a Unix socket that takes one JSON command per line and answers
// each with one JSON line. Commands ("op" and its members):
//
//   {"op":"address"}                  -> {"ok":true,"host":"127.0.0.1","port":N,"resource_port":N}
//   {"op":"notify","user_id":U,"method":M,"params":{}} push any notification to the user's devices
//   {"op":"deliver","account_id":A,"from_name":..,"from_address":..,"subject":..,"html":..
//    [,"item_id":I]}
//                                                      -> {"ok":true,"item_id":..}
//   {"op":"fail","method":M,"count":N,"code":C}        the next N requests of M fail with C
//   {"op":"drop","method":M,"count":N}                 the next N requests of M go unanswered
//   {"op":"devices","user_id":U}                       -> {"ok":true,"devices":[..]}
//
// A failed command answers {"ok":false,"error":text}. One thread accepts and serves clients one
// after another.
#pragma once

#include <string>
#include <thread>

#include "tools/sync_server/sync_server.h"

namespace sync_server {

class ControlSocket {
 public:
  // Listens at `path` (an old socket file there is replaced). Throws std::runtime_error on failure.
  ControlSocket(SyncServer& server, std::string path);
  ~ControlSocket();
  ControlSocket(const ControlSocket&) = delete;
  ControlSocket& operator=(const ControlSocket&) = delete;

  // One command line's answer; what a client of the socket receives.
  std::string run(const std::string& line);

 private:
  void serve();

  SyncServer& server_;
  std::string path_;
  int fd_ = -1;
  std::thread thread_;
};

}  // namespace sync_server
