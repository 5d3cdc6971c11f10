#include "core/sync/auto_auth_connection.h"

#include <utility>

#include "core/services/sanity.h"

namespace libkestrun::internal {

namespace {

const char kSendingMessage[] = "Sending message";

}  // namespace

bool is_pre_auth_message(const jsonette::Json& message) {
  const jsonette::Json& method = message["method"];
  if (!method.is_string()) return false;
  const std::string& name = method.string_value();
  return name == "ping" || name == "USER_NEW_DEVICE" || name == "USER_UNLINK";
}

AutoAuthConnection::AutoAuthConnection(UserManager& user_manager, SSL_CTX* ctx, uv_loop_t* loop,
                                       brelt::ApiClient::Options options)
    : user_manager_(user_manager), client_(ctx, loop, std::move(options)) {
  client_.on_connect = [this] {
    if (on_connect) on_connect();
  };
  client_.on_data = [this](jsonette::Json value) { _notify_data(std::move(value)); };
  client_.on_end = [this] {
    if (on_end) on_end();
  };
  client_.on_read_error = [this](brelt::Error error) { _notify_read_error(std::move(error)); };
  client_.on_write_error = [this](brelt::Error error) { _notify_write_error(std::move(error)); };
}

AutoAuthConnection::~AutoAuthConnection() { credentials_.cancel(); }

void AutoAuthConnection::connect() {
  client_.connect();
  credentials_ = user_manager_.requestConnectionCredentials(
      [this](const std::shared_ptr<ConnectionCredentials>& credentials) { _on_credentials(credentials); });
}

void AutoAuthConnection::_on_credentials(const std::shared_ptr<ConnectionCredentials>& credentials) {
  if (!credentials) {
    authenticated_ = false;
    return;
  }
  _send_auth(*credentials);
  authenticated_ = true;
  _send_deferred();
}

void AutoAuthConnection::_send_auth(const ConnectionCredentials& credentials) {
  send(jsonette::Json::object{{"method", "USER_AUTH_DEVICE"}, {"params", credentials.to_json()}});
}

void AutoAuthConnection::_send_deferred() {
  std::vector<jsonette::Json> deferred = std::move(deferred_);
  deferred_.clear();
  sanity::log("Sending deferred messages");
  for (jsonette::Json& message : deferred) send(std::move(message));
}

void AutoAuthConnection::send(jsonette::Json&& message) {
  sanity::log_json(kSendingMessage, message);
  client_.write(std::move(message));
}

void AutoAuthConnection::_write(jsonette::Json&& message) {
  if (authenticated_ || is_pre_auth_message(message)) {
    send(std::move(message));
    return;
  }
  sanity::log_json("Deferring message till after auth", message);
  deferred_.push_back(std::move(message));
}

void AutoAuthConnection::_end() {
  credentials_.cancel();
  client_.end();
}

AutoAuthConnectionFactory::AutoAuthConnectionFactory(UserManager& user_manager, SSL_CTX* ctx, uv_loop_t* loop,
                                                     brelt::ApiClient::Options options)
    : user_manager_(user_manager), ctx_(ctx), loop_(loop), options_(std::move(options)) {}

std::unique_ptr<JsonConnection> AutoAuthConnectionFactory::create() {
  return std::make_unique<AutoAuthConnection>(user_manager_, ctx_, loop_, options_);
}

}  // namespace libkestrun::internal
