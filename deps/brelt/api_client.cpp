#include "brelt/api_client.h"

#include <functional>
#include <utility>

#include "brelt/host_name_validator.h"

namespace brelt {

ApiClient::ApiClient(SSL_CTX* ctx, uv_loop_t* loop, Options options)
    : device_(std::move(options.device)),
      version_(std::move(options.version)),
      keepalive_(options.keepalive),
      socket_(loop, options.host, options.port),
      tls_(loop, socket_, socket_, {HostnameValidator{options.host}}, options.host,
           TlsFilter::kDefaultHandshakeTimeout, ctx),
      sign_(SigningStream::kSha256, options.hmac_key) {
  socket_.on_connect = [this] {
    // Failing to set the options leaves an ordinary connection; nothing to report.
    set_tcp_keepalive(socket_, keepalive_);
  };
  // After a failure the read chain stops where its input enters.
  tls_.on_data = [this](bytes chunk) {
    if (!failed_) inflate_.write(std::move(chunk));
  };
  tls_.on_end = [this] {
    if (failed_ || read_ended_) return;
    // After the owner's own end the server's stream is cut off by us, not truncated by it.
    if (ended) {
      read_ended_ = true;
      _notify_end();
      return;
    }
    inflate_.end();
  };
  pipe(inflate_, frames_in_);
  pipe(frames_in_, decode_);
  decode_.on_data = [this](jsonette::Json value) {
    if (!failed_) _notify_data(std::move(value));
  };
  decode_.on_end = [this] {
    if (failed_) return;
    read_ended_ = true;
    _notify_end();
  };

  pipe(encode_, sign_);
  pipe(sign_, frames_out_);
  pipe(frames_out_, tls_);
  tls_.on_handshake = [this] {
    if (on_connect) on_connect();
  };

  auto read_error = [this](Error error) { fail(std::move(error), true); };
  auto write_error = [this](Error error) { fail(std::move(error), false); };
  // The socket's errors come through the filter, which holds its callbacks.
  tls_.on_read_error = read_error;
  tls_.on_write_error = write_error;
  inflate_.on_read_error = read_error;
  inflate_.on_write_error = write_error;
  frames_in_.on_read_error = read_error;
  frames_in_.on_write_error = write_error;
  decode_.on_read_error = read_error;
  decode_.on_write_error = write_error;
  sign_.on_read_error = read_error;
  sign_.on_write_error = write_error;
  frames_out_.on_read_error = read_error;
  frames_out_.on_write_error = write_error;
  encode_.on_read_error = read_error;
  encode_.on_write_error = write_error;
}

void ApiClient::connect() {
  socket_.connect();
  // A lookup that cannot even start fails inside the call. A handshake over a socket that has
  // failed would only report a second failure when its deadline passes.
  if (failed_ || ended) return;
  tls_.start();
  write(jsonette::Json(jsonette::Json::object{{"version", version_}, {"device", device_}}));
}

void ApiClient::fail(Error error, bool read_side) {
  const bool first = !failed_;
  failed_ = true;
  if (read_side) {
    _notify_read_error(std::move(error));
  } else {
    _notify_write_error(std::move(error));
  }
  // Closing reports what the socket still held, through this same path.
  if (first && !socket_.ended) socket_.end();
}

void ApiClient::_write(jsonette::Json&& value) {
  if (failed_) {
    _notify_write_error(
        not_sent_error(ErrorCode::NetworkError, value.dump().size(), 1, "the connection has failed"));
    return;
  }
  encode_.write(std::move(value));
}

void ApiClient::_end() { encode_.end(); }

ApiClientFactory::ApiClientFactory(SSL_CTX* ctx, uv_loop_t* loop, ApiClient::Options options)
    : ctx_(ctx), loop_(loop), options_(std::move(options)) {}

std::unique_ptr<DuplexConnectStream<jsonette::Json, jsonette::Json, Error>> ApiClientFactory::create() {
  return std::make_unique<ApiClient>(ctx_, loop_, options_);
}

}  // namespace brelt
