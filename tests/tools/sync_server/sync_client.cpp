#include "sync_client.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include "brelt/tls_filter.h"
#include "support/wait.h"

namespace sync_server_test {

std::vector<unsigned char> test_key() {
  const std::string key = "sync-server-test-key";
  return {key.begin(), key.end()};
}

void trust_authority(const std::string& pem) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                &BIO_free);
  X509* authority = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
  ASSERT_NE(authority, nullptr);
  X509_STORE_add_cert(SSL_CTX_get_cert_store(brelt::TlsFilter::default_context()), authority);
  X509_free(authority);
}

SyncClient::SyncClient(uint16_t port, std::vector<unsigned char> key) {
  brelt::ApiClient::Options options;
  options.version = "1.0";
  options.device = "macos";
  options.host = "localhost";
  options.port = std::to_string(port);
  options.hmac_key = std::move(key);
  thread_.post_sync([&] {
    client_ = std::make_unique<brelt::ApiClient>(nullptr, thread_.get_loop(), options);
    client_->on_connect = [this] {
      std::lock_guard<std::mutex> lock(mutex_);
      connected_ = true;
    };
    client_->on_data = [this](Json value) { record(std::move(value)); };
    auto closed = [this] {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
    };
    client_->on_end = closed;
    client_->on_read_error = [closed](brelt::Error) { closed(); };
    client_->on_write_error = [closed](brelt::Error) { closed(); };
    client_->connect();
  });
}

SyncClient::~SyncClient() {
  thread_.post_sync([&] { client_.reset(); });
}

void SyncClient::record(Json message) {
  std::lock_guard<std::mutex> lock(mutex_);
  messages_.push_back(std::move(message));
}

bool SyncClient::wait_connected() {
  kestrun_test::wait_until([&] {
    std::lock_guard<std::mutex> lock(mutex_);
    return connected_ || closed_;
  });
  std::lock_guard<std::mutex> lock(mutex_);
  return connected_;
}

void SyncClient::send(const Json& message) {
  thread_.post_sync([&] {
    if (client_) client_->write(Json(message));
  });
}

Json SyncClient::request(const std::string& method, const Json& params, std::string id) {
  if (id.empty()) id = "req-" + std::to_string(++next_id_) + "-" + method;
  send(Json(Json::object{{"method", method}, {"params", params}, {"id", id}}));
  return wait_for([&](const Json& m) { return m["type"] == Json(method) && m["id"] == Json(id); });
}

void SyncClient::authenticate(const Json& state) {
  send(Json(Json::object{{"method", "USER_AUTH_DEVICE"},
                         {"params", Json::object{{"auth_version", 1},
                                                 {"user_id", state["user_id"]},
                                                 {"device_id", state["device_id"]},
                                                 {"device_secret", state["device_secret"]}}}}));
}

Json SyncClient::wait_for(const std::function<bool(const Json&)>& match, std::chrono::milliseconds deadline) {
  Json found;
  kestrun_test::wait_until(
      [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const Json& message : messages_) {
          if (match(message)) {
            found = message;
            return true;
          }
        }
        return closed_;
      },
      deadline);
  return found;
}

Json SyncClient::wait_for_notification(const std::string& method,
                                       const std::function<bool(const Json&)>& match,
                                       std::chrono::milliseconds deadline) {
  return wait_for(
      [&](const Json& m) {
        return m["type"] == Json("NOTIFICATION") && m["method"] == Json(method) &&
               (!match || match(m["params"]));
      },
      deadline);
}

std::vector<Json> SyncClient::messages() {
  std::lock_guard<std::mutex> lock(mutex_);
  return messages_;
}

bool SyncClient::wait_closed() {
  return kestrun_test::wait_until([&] {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_;
  });
}

Json register_device(SyncClient& client, const std::string& name) {
  Json reply =
      client.request("USER_NEW_DEVICE", Json::object{{"name", name}, {"type", "macos"}, {"vendor_id", "V1"}});
  return reply["result"];
}

}  // namespace sync_server_test
