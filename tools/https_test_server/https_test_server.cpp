#include "tools/https_test_server/https_test_server.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace https_test_server {
namespace {

const auto kDeadline = std::chrono::seconds(20);
const size_t kChunk = 16 * 1024;

std::string reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 302:
      return "Found";
    case 404:
      return "Not Found";
    case 503:
      return "Service Unavailable";
    default:
      return "Status";
  }
}

bool write_text(sync_peer::Connection& connection, const std::string& text) {
  return connection.write_all(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

}  // namespace

HttpsTestServer::HttpsTestServer(const std::string& certificate_pem, const std::string& key_pem)
    : listener_(sync_peer::TlsServerSettings{certificate_pem, key_pem}) {
  acceptor_ = std::thread([this] { accept_loop(); });
}

HttpsTestServer::~HttpsTestServer() {
  release();
  listener_.shutdown();
  acceptor_.join();
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& connection : open_) connection->shutdown();
    threads.swap(threads_);
  }
  for (std::thread& thread : threads) thread.join();
}

std::string HttpsTestServer::url(const std::string& path) const {
  return "https://localhost:" + std::to_string(port()) + path;
}

void HttpsTestServer::script(const std::string& path, Reply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  replies_[path] = std::move(reply);
}

std::vector<Request> HttpsTestServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool HttpsTestServer::wait_for_requests(size_t count) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, kDeadline, [&] { return requests_.size() >= count; });
}

size_t HttpsTestServer::received_bytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_bytes_;
}

size_t HttpsTestServer::connections() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}

bool HttpsTestServer::wait_for_hold() const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, kDeadline, [&] { return holds_ > 0; });
}

void HttpsTestServer::release() {
  std::lock_guard<std::mutex> lock(mutex_);
  released_ = true;
  changed_.notify_all();
}

void HttpsTestServer::accept_loop() {
  while (std::unique_ptr<sync_peer::Connection> accepted = listener_.accept()) {
    std::shared_ptr<sync_peer::Connection> connection = std::move(accepted);
    std::lock_guard<std::mutex> lock(mutex_);
    ++connections_;
    open_.push_back(connection);
    threads_.emplace_back([this, connection] {
      serve(*connection);
      connection->shutdown();
    });
    changed_.notify_all();
  }
}

void HttpsTestServer::serve(sync_peer::Connection& connection) {
  std::optional<Request> request = read_request(connection);
  if (!request) return;
  Reply reply;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto scripted = replies_.find(request->path);
    if (scripted != replies_.end()) reply = scripted->second;
    requests_.push_back(std::move(*request));
    changed_.notify_all();
  }
  if (!reply.drop) answer(connection, reply);
}

std::optional<Request> HttpsTestServer::read_request(sync_peer::Connection& connection) {
  std::string data;
  size_t head_end = std::string::npos;
  std::optional<Request> request;
  size_t body_size = 0;
  unsigned char buffer[kChunk];
  for (;;) {
    if (!request) {
      head_end = data.find("\r\n\r\n");
      if (head_end != std::string::npos) {
        request = parse_head(data.substr(0, head_end));
        if (!request) return std::nullopt;
        auto length = request->headers.find("content-length");
        if (length != request->headers.end()) body_size = std::strtoull(length->second.c_str(), nullptr, 10);
        auto expect = request->headers.find("expect");
        if (expect != request->headers.end() && expect->second == "100-continue") {
          write_text(connection, "HTTP/1.1 100 Continue\r\n\r\n");
        }
      }
    }
    if (request && data.size() - head_end - 4 >= body_size) {
      request->body = data.substr(head_end + 4, body_size);
      parse_fields(*request);
      return request;
    }
    long n = connection.read(buffer, sizeof buffer);
    if (n <= 0) return std::nullopt;
    data.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    std::lock_guard<std::mutex> lock(mutex_);
    received_bytes_ += static_cast<size_t>(n);
  }
}

void HttpsTestServer::answer(sync_peer::Connection& connection, const Reply& reply) {
  std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reason(reply.status) + "\r\n";
  head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\nConnection: close\r\n";
  for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
  head += "\r\n";
  if (!write_text(connection, head)) return;
  // Several writes, so that the client sees the body arrive in steps.
  auto write_body = [&](size_t from, size_t to) {
    for (size_t at = from; at < to; at += kChunk) {
      if (!write_text(connection, reply.body.substr(at, std::min(kChunk, to - at)))) return false;
    }
    return true;
  };
  size_t hold_at = std::min(reply.hold_after.value_or(reply.body.size()), reply.body.size());
  if (!write_body(0, hold_at)) return;
  if (reply.hold_after) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++holds_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_; });
  }
  write_body(hold_at, reply.body.size());
}

}  // namespace https_test_server
