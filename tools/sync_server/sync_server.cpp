#include "tools/sync_server/sync_server.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <stdexcept>

#include "tools/sync_peer/client_frame_reader.h"
#include "tools/sync_peer/server_stream_writer.h"
#include "tools/sync_server/sample_mailbox.h"

namespace sync_server {

namespace {

// What a connection may have waiting to be sent before it counts as not reading and is closed.
constexpr size_t kMaxQueuedBytes = 256u << 20;

}  // namespace

// Messages are compressed in the order they are written and sent by the connection's own writer
// thread, so a client that stops reading holds up nobody but itself.
struct SyncServer::Session {
  std::unique_ptr<sync_peer::Connection> connection;
  SessionState state;     // guarded by the server's mutex
  bool finished = false;  // the reader has ended; guarded by the server's mutex

  std::mutex write_mutex;  // guards the members below
  std::condition_variable wake;
  sync_peer::ServerStreamWriter stream;  // the connection's one zlib stream
  std::deque<std::vector<unsigned char>> queue;
  size_t queued_bytes = 0;
  bool stopping = false;
  std::thread writer;

  void send_loop() {
    std::unique_lock<std::mutex> lock(write_mutex);
    for (;;) {
      wake.wait(lock, [&] { return stopping || !queue.empty(); });
      if (stopping) return;
      std::vector<unsigned char> bytes = std::move(queue.front());
      queue.pop_front();
      queued_bytes -= bytes.size();
      lock.unlock();
      const bool sent = connection->write_all(bytes.data(), bytes.size());
      lock.lock();
      if (!sent) {
        stopping = true;
        connection->shutdown();
      }
    }
  }

  void stop() {
    {
      std::lock_guard<std::mutex> lock(write_mutex);
      stopping = true;
    }
    wake.notify_all();
    if (writer.joinable()) writer.join();
  }
};

// The service's way out, over the server's open connections; called under the server's mutex.
class SyncServer::Writer : public Outbox {
 public:
  explicit Writer(SyncServer& server) : server_(server) {}

  void to_session(uint64_t session, const std::string& text) override {
    for (const auto& open : server_.sessions_) {
      if (open->state.id == session) server_.write(*open, text);
    }
  }
  void to_device(const std::string& device_id, const std::string& text) override {
    for (const auto& open : server_.sessions_) {
      if (open->state.authenticated && open->state.device_id == device_id) server_.write(*open, text);
    }
  }

 private:
  SyncServer& server_;
};

namespace {

void make_directory(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    throw std::runtime_error("cannot make the state directory " + path);
}

}  // namespace

SyncServer::SyncServer(ServerOptions options) : options_(std::move(options)) {
  if (options_.hmac_key.empty()) throw std::runtime_error("the signing key is empty");
  make_directory(options_.state_directory);
  identity_ = load_or_make_identity(options_.state_directory);
  store_ = std::make_unique<SyncStore>(options_.state_directory + "/sync.sqlite");
  writer_ = std::make_unique<Writer>(*this);
  service_ = std::make_unique<SyncService>(*store_, *writer_, options_.max_reply_bytes);
  if (options_.generated_conversations > 0 && !store_->meta("generated")) {
    SyncStore::Transaction transaction(*store_);
    seed_generated_conversations(*store_, sample_accounts().front().account_id,
                                 options_.generated_conversations);
    store_->set_meta("generated", "1");
    transaction.commit();
  }

  sync_peer::TlsServerSettings settings;
  settings.certificate_pem = identity_.certificate_pem;
  settings.key_pem = identity_.key_pem;
  settings.port = options_.port;
  listener_ = std::make_unique<sync_peer::TlsListener>(settings);
  if (listener_->port() == 0) throw std::runtime_error("cannot listen on 127.0.0.1");
  resources_ = std::make_unique<ResourceServer>(*store_, mutex_, options_.hmac_key, identity_,
                                                options_.resource_port, options_.resource_idle_ms,
                                                pictures_directory(), shared_directory());
  acceptor_ = std::thread([this] { accept_loop(); });
}

SyncServer::~SyncServer() {
  listener_->shutdown();
  acceptor_.join();
  std::vector<std::pair<std::shared_ptr<Session>, std::thread>> readers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& session : sessions_) session->connection->shutdown();
    readers.swap(readers_);
  }
  for (auto& reader : readers) reader.second.join();
}

void SyncServer::accept_loop() {
  while (std::unique_ptr<sync_peer::Connection> connection = listener_->accept()) {
    auto session = std::make_shared<Session>();
    session->connection = std::move(connection);
    session->writer = std::thread([raw = session.get()] { raw->send_loop(); });
    std::vector<std::thread> done;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      session->state.id = next_session_++;
      sessions_.push_back(session);
      // Readers of closed connections are joined as new ones come, so a long run does not gather them.
      for (auto it = readers_.begin(); it != readers_.end();) {
        if (it->first->finished) {
          done.push_back(std::move(it->second));
          it = readers_.erase(it);
        } else {
          ++it;
        }
      }
      readers_.emplace_back(session, std::thread([this, session] { read_loop(session); }));
    }
    for (std::thread& thread : done) thread.join();
  }
}

void SyncServer::read_loop(const std::shared_ptr<Session>& session) {
  sync_peer::ClientFrameReader reader(options_.hmac_key, options_.max_frame_bytes);
  unsigned char buffer[65536];
  bool open = true;
  while (open) {
    long n = session->connection->read(buffer, sizeof(buffer));
    if (n <= 0) break;
    std::vector<sync_peer::ClientFrame> frames = reader.feed(buffer, static_cast<size_t>(n));
    for (const sync_peer::ClientFrame& frame : frames) {
      // A frame signed with another key is not from our client: nothing it says is served. Its
      // JSON is judged by the service, which reads more than the reader's check accepts.
      if (!frame.hmac_ok) {
        open = false;
        break;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      bool served = false;
      try {
        served = service_->handle(session->state, frame.text);
      } catch (const std::exception&) {
        // Only a failing store gets here (a request's own failures become error replies); the
        // client reconnects and sends again.
      }
      if (!served) {
        open = false;
        break;
      }
    }
    if (!reader.error().empty()) open = false;
  }
  session->connection->shutdown();
  session->stop();
  std::lock_guard<std::mutex> lock(mutex_);
  session->finished = true;
  sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), session), sessions_.end());
}

void SyncServer::write(Session& session, const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(session.write_mutex);
    if (session.stopping) return;
    std::vector<unsigned char> bytes;
    bool compressed = true;
    try {
      bytes = session.stream.frame(text, sync_peer::ServerStreamWriter::Flush::kSync);
    } catch (const std::exception&) {
      compressed = false;
    }
    if (!compressed || session.queued_bytes + bytes.size() > kMaxQueuedBytes) {
      session.stopping = true;
      session.connection->shutdown();
    } else {
      session.queued_bytes += bytes.size();
      session.queue.push_back(std::move(bytes));
    }
  }
  session.wake.notify_all();
}

bool SyncServer::notify_user(const std::string& user_id, const std::string& method,
                             const std::string& params) {
  JsonPtr parsed = json_parse(params);
  if (!json_is_object(parsed.get())) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  return service_->notify_user(user_id, method, parsed.get());
}

std::string SyncServer::deliver_mail(const NewMail& mail) {
  std::lock_guard<std::mutex> lock(mutex_);
  return service_->deliver_mail(mail);
}

void SyncServer::fail_next(const std::string& method, int count, const std::string& code) {
  std::lock_guard<std::mutex> lock(mutex_);
  service_->fail_next(method, count, code);
}

void SyncServer::drop_next(const std::string& method, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  service_->drop_next(method, count);
}

std::vector<std::string> SyncServer::devices_of(const std::string& user_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  return service_->devices_of(user_id);
}

std::string SyncServer::device_doc(const std::string& device_id) {
  std::lock_guard<std::mutex> lock(mutex_);
  return service_->device_doc(device_id);
}

}  // namespace sync_server
