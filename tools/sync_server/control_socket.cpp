#include "tools/sync_server/control_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sync_server {

ControlSocket::ControlSocket(SyncServer& server, std::string path) : server_(server), path_(std::move(path)) {
  sockaddr_un address{};
  if (path_.size() >= sizeof(address.sun_path)) throw std::runtime_error("control socket path too long");
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  ::unlink(path_.c_str());
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(fd_, 4) != 0) {
    if (fd_ >= 0) ::close(fd_);
    throw std::runtime_error("cannot listen on the control socket " + path_);
  }
  thread_ = std::thread([this] { serve(); });
}

ControlSocket::~ControlSocket() {
  ::shutdown(fd_, SHUT_RDWR);
  thread_.join();
  ::close(fd_);
  ::unlink(path_.c_str());
}

void ControlSocket::serve() {
  for (;;) {
    int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // shut down
    }
    std::string pending;
    char buffer[4096];
    for (;;) {
      ssize_t n = ::recv(client, buffer, sizeof(buffer), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      pending.append(buffer, static_cast<size_t>(n));
      bool alive = true;
      for (size_t end; alive && (end = pending.find('\n')) != std::string::npos;) {
        std::string answer = run(pending.substr(0, end)) + "\n";
        pending.erase(0, end + 1);
        alive =
            ::send(client, answer.data(), answer.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(answer.size());
      }
      if (!alive) break;
    }
    ::close(client);
  }
}

std::string ControlSocket::run(const std::string& line) {
  JsonPtr command = json_parse(line);
  const std::string op = member_string(command.get(), "op");
  JsonPtr answer(json_pack("{s:b}", "ok", 1));
  auto refuse = [&](const std::string& why) {
    return json_text(JsonPtr(json_pack("{s:b, s:s}", "ok", 0, "error", why.c_str())).get());
  };
  try {
    if (op == "address") {
      json_put(answer.get(), "host", json_string("127.0.0.1"));
      json_put(answer.get(), "port", json_integer(server_.port()));
      json_put(answer.get(), "resource_port", json_integer(server_.resource_port()));
    } else if (op == "notify") {
      const json_t* params = json_object_get(command.get(), "params");
      if (!server_.notify_user(member_string(command.get(), "user_id"),
                               member_string(command.get(), "method"),
                               json_text(json_is_object(params) ? params : nullptr)))
        return refuse("no such user, or params is not an object");
    } else if (op == "deliver") {
      const json_t* c = command.get();
      std::string item = server_.deliver_mail({member_string(c, "account_id"), member_string(c, "from_name"),
                                               member_string(c, "from_address"), member_string(c, "subject"),
                                               member_string(c, "html"), member_string(c, "item_id")});
      if (item.empty()) return refuse("no such account");
      json_put(answer.get(), "item_id", json_string(item.c_str()));
    } else if (op == "fail" || op == "drop") {
      const std::string method = member_string(command.get(), "method");
      const int64_t count = member_int(command.get(), "count", 1);
      if (method.empty() || count < 0 || count > 1000000) return refuse("needs a method and a count");
      if (op == "fail")
        server_.fail_next(method, static_cast<int>(count), member_string(command.get(), "code", "S1"));
      else
        server_.drop_next(method, static_cast<int>(count));
    } else if (op == "devices") {
      JsonPtr devices(json_array());
      for (const std::string& device : server_.devices_of(member_string(command.get(), "user_id")))
        json_array_append_new(devices.get(), json_string(device.c_str()));
      json_put(answer.get(), "devices", devices.release());
    } else {
      return refuse("unknown op");
    }
  } catch (const std::exception& error) {
    return refuse(error.what());
  }
  return json_text(answer.get());
}

}  // namespace sync_server
