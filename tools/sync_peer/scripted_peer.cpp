#include "tools/sync_peer/scripted_peer.h"

#include <algorithm>
#include <chrono>

namespace sync_peer {

struct ScriptedPeer::Session {
  std::unique_ptr<Connection> connection;
  ServerStreamWriter writer;
  std::mutex write_mutex;  // one scripted write at a time
  bool closed = false;     // guarded by the peer's mutex
};

ScriptedPeer::ScriptedPeer(std::unique_ptr<Listener> listener, std::vector<unsigned char> hmac_key)
    : listener_(std::move(listener)), key_(std::move(hmac_key)) {
  acceptor_ = std::thread([this] { accept_loop(); });
}

ScriptedPeer::~ScriptedPeer() {
  listener_->shutdown();
  acceptor_.join();
  std::vector<std::shared_ptr<Session>> sessions;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions = sessions_;
  }
  for (auto& session : sessions) session->connection->shutdown();
  for (auto& reader : readers_) reader.join();
}

uint16_t ScriptedPeer::port() const { return listener_->port(); }

void ScriptedPeer::accept_loop() {
  while (std::unique_ptr<Connection> connection = listener_->accept()) {
    auto session = std::make_shared<Session>();
    session->connection = std::move(connection);
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.push_back(session);
    readers_.emplace_back([this, session] { read_loop(session); });
    changed_.notify_all();
  }
}

void ScriptedPeer::read_loop(std::shared_ptr<Session> session) {
  ClientFrameReader reader(key_);
  unsigned char buffer[65536];
  for (;;) {
    long n = session->connection->read(buffer, sizeof(buffer));
    std::lock_guard<std::mutex> lock(mutex_);
    if (n <= 0) {
      session->closed = true;
      changed_.notify_all();
      return;
    }
    bytes_.insert(bytes_.end(), buffer, buffer + n);
    for (ClientFrame& frame : reader.feed(buffer, static_cast<size_t>(n)))
      frames_.push_back(std::move(frame));
    if (protocol_error_.empty()) protocol_error_ = reader.error();
    changed_.notify_all();
  }
}

template <class Pred>
bool ScriptedPeer::wait(Pred pred, int timeout_ms) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), pred);
}

std::vector<ClientFrame> ScriptedPeer::frames() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frames_;
}

std::vector<unsigned char> ScriptedPeer::received_bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

std::string ScriptedPeer::protocol_error() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return protocol_error_;
}

size_t ScriptedPeer::connections_accepted() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.size();
}

bool ScriptedPeer::client_closed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !sessions_.empty() && sessions_.back()->closed;
}

bool ScriptedPeer::wait_for_frames(size_t count, int timeout_ms) const {
  return wait([&] { return frames_.size() >= count; }, timeout_ms);
}

bool ScriptedPeer::wait_for_bytes(size_t count, int timeout_ms) const {
  return wait([&] { return bytes_.size() >= count; }, timeout_ms);
}

bool ScriptedPeer::wait_for_connection(size_t count, int timeout_ms) const {
  return wait([&] { return sessions_.size() >= count; }, timeout_ms);
}

bool ScriptedPeer::wait_for_client_close(int timeout_ms) const {
  return wait([&] { return !sessions_.empty() && sessions_.back()->closed; }, timeout_ms);
}

std::shared_ptr<ScriptedPeer::Session> ScriptedPeer::current_session() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessions_.empty() ? nullptr : sessions_.back();
}

bool ScriptedPeer::send(const ServerWrite& write) {
  std::shared_ptr<Session> session = current_session();
  if (!session) return false;
  std::lock_guard<std::mutex> write_lock(session->write_mutex);
  std::vector<unsigned char> out;
  for (const std::string& text : write.frames) {
    std::vector<unsigned char> piece = session->writer.frame(text);
    out.insert(out.end(), piece.begin(), piece.end());
  }
  if (write.flush != ServerWrite::Flush::kNone) {
    std::vector<unsigned char> tail = session->writer.flush(write.flush);
    out.insert(out.end(), tail.begin(), tail.end());
  }
  if (write.corrupt_at && *write.corrupt_at < out.size()) out[*write.corrupt_at] ^= 0xff;
  size_t limit = write.close_after ? std::min(*write.close_after, out.size()) : out.size();

  std::vector<size_t> cuts;
  for (size_t at : write.split_at) {
    if (at > 0 && at < limit) cuts.push_back(at);
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.push_back(limit);
  size_t from = 0;
  bool ok = true;
  for (size_t to : cuts) {
    if (to == from) continue;
    if (from > 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ok = ok && session->connection->write_all(out.data() + from, to - from);
    from = to;
  }
  if (write.close_after) session->connection->shutdown();
  return ok;
}

bool ScriptedPeer::send_raw(const std::vector<unsigned char>& bytes) {
  std::shared_ptr<Session> session = current_session();
  if (!session) return false;
  std::lock_guard<std::mutex> write_lock(session->write_mutex);
  return session->connection->write_all(bytes.data(), bytes.size());
}

void ScriptedPeer::close_connection() {
  if (std::shared_ptr<Session> session = current_session()) session->connection->shutdown();
}

}  // namespace sync_peer
