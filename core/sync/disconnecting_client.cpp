#include "core/sync/disconnecting_client.h"

namespace libkestrun::internal {

namespace {

const char* const kDisconnected = "network has disconnected";

jsonette::Json network_error(const std::string& message) {
  return jsonette::Json::object{{"code", "NETWORK"}, {"message", message}};
}

}  // namespace

DisconnectingClient::DisconnectingClient(brelt::UvThread& thread, std::unique_ptr<StreamFactory> factory)
    : timer_(thread.get_loop(), 0, false, [this] { _setup_client(); }), factory_(std::move(factory)) {
  _setup_client();
}

DisconnectingClient::~DisconnectingClient() { timer_.stop(); }

void DisconnectingClient::send(std::string method, jsonette::Json params, std::string id, Callback callback) {
  jsonette::Json request =
      jsonette::Json::object{{"id", id}, {"method", std::move(method)}, {"params", std::move(params)}};
  if (state_ == 2) {
    queue_.emplace_back(std::move(request), std::move(callback));
    return;
  }
  pending_[id] = std::move(callback);
  if (state_ == 0) {
    stream_->connect();
    state_ = 1;
  }
  stream_->write(std::move(request));
}

void DisconnectingClient::_setup_client() {
  timer_.stop();
  state_ = 0;
  // The old stream's callbacks have returned: the timer runs on a later turn of the loop.
  stream_ = factory_->create();
  stream_->on_connect = [] {};
  stream_->on_data = [this](jsonette::Json reply) { _on_reply(reply); };
  stream_->on_end = [this] { _connection_lost(kDisconnected); };
  stream_->on_read_error = [this](brelt::Error e) { _connection_lost(e.to_string()); };
  stream_->on_write_error = [this](brelt::Error e) { _connection_lost(e.to_string()); };

  std::vector<std::pair<jsonette::Json, Callback>> queued = std::move(queue_);
  queue_.clear();
  if (queued.empty()) return;
  stream_->connect();
  state_ = 1;
  for (auto& [request, callback] : queued) {
    pending_[request["id"].string_value()] = std::move(callback);
    stream_->write(std::move(request));
  }
}

void DisconnectingClient::_on_reply(const jsonette::Json& reply) {
  const jsonette::Json& id = reply["id"];
  if (!id.is_string()) return;
  auto it = pending_.find(id.string_value());
  if (it == pending_.end()) return;
  Callback callback = std::move(it->second);
  pending_.erase(it);
  if (pending_.empty()) {
    state_ = 2;
    stream_->end();
  }
  if (callback) callback(reply["error"], reply["result"]);
}

void DisconnectingClient::_connection_lost(const std::string& message) {
  // The lost stream answers nothing more: a request sent before the timer installs a fresh one
  // (a failure callback retrying, say) waits in the queue instead of being written to it, where
  // its callback would never run once the timer drops the stream.
  state_ = 2;
  _fail_all_pending(network_error(message));
  timer_.start();
}

void DisconnectingClient::_fail_all_pending(const jsonette::Json& error) {
  std::unordered_map<std::string, Callback> failed = std::move(pending_);
  pending_.clear();
  for (auto& [id, callback] : failed) {
    if (callback) callback(error, nullptr);
  }
}

}  // namespace libkestrun::internal
