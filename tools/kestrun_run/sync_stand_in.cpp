#include "sync_stand_in.h"

#include <openssl/pem.h>

#include <cstdio>
#include <stdexcept>

#include "brelt/tls_filter.h"

namespace kestrun_run {

using jsonette::Json;

namespace {

// The local sync server's default signing key (docs/sync-protocol.md, "Wire").
const char kDevelopmentKey[] = "kestrun-local-sync-key";

}  // namespace

void trust_authority_file(const std::string& path) {
  std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "r"), &std::fclose);
  if (!file) throw std::runtime_error("cannot open " + path);
  X509* authority = PEM_read_X509(file.get(), nullptr, nullptr, nullptr);
  if (authority == nullptr) throw std::runtime_error(path + " holds no certificate");
  // The store takes its own reference; a certificate already there is no failure.
  X509_STORE_add_cert(SSL_CTX_get_cert_store(brelt::TlsFilter::default_context()), authority);
  X509_free(authority);
}

SyncStandIn::SyncStandIn(const std::string& address, std::chrono::milliseconds deadline)
    : deadline_(deadline) {
  const size_t colon = address.rfind(':');
  if (colon == std::string::npos) throw std::runtime_error("server address without a port: " + address);
  brelt::ApiClient::Options options;
  options.version = "1.0";
  options.device = "macos";
  options.host = "localhost";
  options.port = address.substr(colon + 1);
  const std::string key = kDevelopmentKey;
  options.hmac_key.assign(key.begin(), key.end());
  thread_.post_sync([&] {
    client_ = std::make_unique<brelt::ApiClient>(nullptr, thread_.get_loop(), options);
    client_->on_connect = [this] {
      std::lock_guard<std::mutex> lock(mutex_);
      connected_ = true;
      changed_.notify_all();
    };
    client_->on_data = [this](Json value) {
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(std::move(value));
      changed_.notify_all();
    };
    auto closed = [this] {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
      changed_.notify_all();
    };
    client_->on_end = closed;
    client_->on_read_error = [closed](brelt::Error) { closed(); };
    client_->on_write_error = [closed](brelt::Error) { closed(); };
    client_->connect();
  });
  try {
    wait([this] { return connected_; }, "the TLS handshake with " + address);
  } catch (...) {
    // No destructor runs for a constructor that throws; the client must still go on its thread.
    thread_.post_sync([&] { client_.reset(); });
    throw;
  }
}

SyncStandIn::~SyncStandIn() {
  thread_.post_sync([&] { client_.reset(); });
}

void SyncStandIn::wait(const std::function<bool()>& ready, const std::string& what) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!changed_.wait_for(lock, deadline_, [&] { return ready() || closed_; })) {
    throw std::runtime_error("no answer to " + what + " within " + std::to_string(deadline_.count() / 1000) +
                             " s");
  }
  if (!ready()) throw std::runtime_error("the sync server closed the connection during " + what);
}

void SyncStandIn::send(const Json& message) {
  thread_.post_sync([&] {
    if (client_) client_->write(Json(message));
  });
}

Json SyncStandIn::request(const std::string& method, const Json& params, const std::string& tolerated) {
  const Json id("run-" + std::to_string(++next_id_));
  send(Json(Json::object{{"method", method}, {"params", params}, {"id", id}}));
  Json reply;
  wait(
      [&] {
        for (const Json& message : messages_) {
          if (message["type"] == Json(method) && message["id"] == id) {
            reply = message;
            return true;
          }
        }
        return false;
      },
      method);
  const Json& error = reply["error"];
  if (error.is_null()) return reply["result"];
  if (!tolerated.empty() && error["code"] == Json(tolerated)) return error;
  throw std::runtime_error(method + " failed: " + error["code"].string_value() + " " +
                           error["message"].string_value());
}

}  // namespace kestrun_run
