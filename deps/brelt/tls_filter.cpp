#include "brelt/tls_filter.h"

#include <arpa/inet.h>
#include <openssl/err.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "brelt/log.h"
#include "brelt/tls_error_names.h"
#include "brelt/trust_store.h"

namespace brelt {

namespace {

constexpr const char* kLogTag = "TlsFilter";
constexpr int kStep = 16384;

SSL_CTX* create_default_context() {
  OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (!context) return nullptr;
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
  // The system configuration may raise the level or change the ciphers; the result of a connection
  // must not depend on the machine it runs on.
  SSL_CTX_set_security_level(context, 1);
  SSL_CTX_set_cipher_list(context, "DEFAULT");
  SSL_CTX_set_verify(context, SSL_VERIFY_NONE, nullptr);
  // A system configuration may name CA files, which would replace the store below for verification.
  SSL_CTX_set0_verify_cert_store(context, nullptr);
  X509_STORE* store = SSL_CTX_get_cert_store(context);
  for (const X509Ptr& certificate : built_in_root_certificates()) {
    X509_STORE_add_cert(store, certificate.get());
  }
  ERR_clear_error();
  return context;
}

bool is_ip_address(const std::string& name) {
  unsigned char address[16];
  return inet_pton(AF_INET, name.c_str(), address) == 1 || inet_pton(AF_INET6, name.c_str(), address) == 1;
}

// The text of the oldest error OpenSSL queued, which names the cause; the newest often only names
// the call that failed.
std::string queued_error_text(const char* fallback) {
  unsigned long code = ERR_peek_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof(text));
  return text;
}

}  // namespace

SSL_CTX* TlsFilter::default_context(SSL_CTX* context) {
  if (context) return context;
  // Initialised once under the compiler's guard, so the first use may come from any thread.
  static SSL_CTX* const shared = create_default_context();
  return shared;
}

TlsFilter::TlsFilter(uv_loop_t* loop, ReadableStream<bytes, Error>& input,
                     WritableStream<bytes, Error>& output, const std::vector<Validator>& validators,
                     std::string server_name, std::chrono::milliseconds handshake_timeout, SSL_CTX* context,
                     size_t max_queued_bytes)
    : input_(input),
      output_(output),
      max_queued_bytes_(max_queued_bytes),
      validators_(validators),
      server_name_(std::move(server_name)),
      handshake_timeout_(loop ? handshake_timeout : std::chrono::milliseconds(0)),
      deadline_(loop, static_cast<uint64_t>(handshake_timeout.count()), false, [this] {
        if (state_ != State::kNew && state_ != State::kHandshaking) return;
        give_up(State::kFailed,
                TlsError(0, "HANDSHAKE_TIMEOUT",
                         "the TLS handshake did not complete within " +
                             std::to_string(handshake_timeout_.count()) + " ms"),
                false);
      }) {
  ssl_ = SSL_new(default_context(context));
  network_in_ = BIO_new(BIO_s_mem());
  network_out_ = BIO_new(BIO_s_mem());
  input_.on_data = [this](bytes chunk) { on_input(std::move(chunk)); };
  input_.on_end = [this] { on_input_end(); };
  input_.on_read_error = [this](Error error) { on_error_below(std::move(error), true); };
  output_.on_write_error = [this](Error error) { on_error_below(std::move(error), false); };
}

TlsFilter::~TlsFilter() {
  deadline_.stop();
  // The connection below may outlive the filter by a moment; it must not call into it.
  input_.on_data = nullptr;
  input_.on_end = nullptr;
  input_.on_read_error = nullptr;
  output_.on_write_error = nullptr;
  if (ssl_) SSL_free(ssl_);  // frees the BIOs once attached
  if (!bios_attached_) {
    BIO_free(network_in_);
    BIO_free(network_out_);
  }
}

void TlsFilter::start() {
  if (state_ != State::kNew || bios_attached_) {
    log_info(kLogTag, "usage error, calling start twice");
    return;
  }
  if (!ssl_ || !network_in_ || !network_out_) {
    give_up(State::kFailed, TlsError(0, "UNKNOWN", queued_error_text("could not create the TLS connection")),
            false);
    return;
  }
  SSL_set_bio(ssl_, network_in_, network_out_);
  bios_attached_ = true;
  SSL_set_connect_state(ssl_);
  if (!server_name_.empty() && !is_ip_address(server_name_)) {
    SSL_set_tlsext_host_name(ssl_, server_name_.c_str());
  }
  if (handshake_timeout_.count() > 0) deadline_.start();
  handshake_step();
}

void TlsFilter::handshake_step() {
  ERR_clear_error();
  int result = SSL_connect(ssl_);
  if (result == 1) {
    deadline_.stop();
    if (!check_server()) return;
    state_ = State::kEstablished;
    if (on_handshake) on_handshake();
  } else {
    int code = SSL_get_error(ssl_, result);
    if (code != SSL_ERROR_WANT_READ && code != SSL_ERROR_WANT_WRITE) {
      Error error = ssl_error(result);
      // What OpenSSL produced (an alert for the server) still goes out before the connection closes.
      pump_output();
      give_up(State::kFailed, std::move(error), false);
      return;
    }
    state_ = State::kHandshaking;
  }
  if (flush_plaintext()) pump_output();
}

bool TlsFilter::check_server() {
  long verify_result = SSL_get_verify_result(ssl_);
  if (verify_result != X509_V_OK) {
    give_up(
        State::kRejected,
        CertError(verify_result, verify_result_name(verify_result), "preliminary cert verification failed"),
        true);
    return false;
  }
  X509Ptr certificate(SSL_get1_peer_certificate(ssl_));
  if (!certificate) {
    give_up(State::kRejected, CertError(0, "NO_CERT", "server did not provide a cert"), true);
    return false;
  }
  bool accepted = !validators_.empty();
  for (const Validator& validator : validators_) {
    if (!validator(certificate.get())) {
      accepted = false;
      break;
    }
  }
  if (!accepted) {
    give_up(State::kRejected, CertError(0, "USER_VALIDATION", "custom validation functions failed"), true);
    return false;
  }
  return true;
}

bool TlsFilter::flush_plaintext() {
  while (!plaintext_queue_.empty()) {
    bytes& chunk = plaintext_queue_.front();
    if (chunk.empty()) {
      plaintext_queue_.pop_front();
      continue;
    }
    ERR_clear_error();
    int result = SSL_write(ssl_, chunk.data(), static_cast<int>(chunk.size()));
    if (result <= 0) {
      int code = SSL_get_error(ssl_, result);
      if (code == SSL_ERROR_WANT_READ || code == SSL_ERROR_WANT_WRITE) return true;
      _notify_write_error(ssl_error(result));
      return false;
    }
    if (static_cast<size_t>(result) < chunk.size()) {
      _notify_write_error(
          TlsError(0, "UNKNOWN",
                   "SSL_write only wrote partial data, unsure how to recover (perhaps disable "
                   "SSL_MODE_ENABLE_PARTIAL_WRITE)"));
      return false;
    }
    queued_bytes_ -= chunk.size();
    plaintext_queue_.pop_front();
  }
  return true;
}

bool TlsFilter::pump_output() {
  bytes buffer;
  bool failed = false;
  for (;;) {
    size_t used = buffer.size();
    buffer.resize(used + kStep);
    ERR_clear_error();
    int result = BIO_read(network_out_, buffer.data() + used, kStep);
    if (result <= 0) {
      buffer.resize(used);
      failed = result < 0 && !BIO_should_retry(network_out_);
      break;
    }
    buffer.resize(used + static_cast<size_t>(result));
  }
  if (!buffer.empty() && !output_.ended) output_.write(std::move(buffer));
  if (failed) {
    _notify_write_error(TlsError(BIO_get_retry_reason(network_out_), "UNKNOWN",
                                 "an non-retryable BIO_read error has occurred"));
    return false;
  }
  return true;
}

void TlsFilter::on_input(bytes&& chunk) {
  if (finished() || state_ == State::kNew || chunk.empty()) return;
  ERR_clear_error();
  int written = BIO_write(network_in_, chunk.data(), static_cast<int>(chunk.size()));
  bool write_failed = written <= 0 || static_cast<size_t>(written) < chunk.size();
  if (state_ != State::kEstablished) handshake_step();
  if (finished()) return;
  if (write_failed) {
    _notify_read_error(TlsError(written, "UNKNOWN", "BIO_write failed"));
    return;
  }
  if (state_ == State::kEstablished) read_plaintext();
}

void TlsFilter::read_plaintext() {
  bytes buffer;
  int result;
  for (;;) {
    size_t used = buffer.size();
    buffer.resize(used + kStep);
    ERR_clear_error();
    result = SSL_read(ssl_, buffer.data() + used, kStep);
    if (result <= 0) {
      buffer.resize(used);
      break;
    }
    buffer.resize(used + static_cast<size_t>(result));
  }
  int code = SSL_get_error(ssl_, result);
  // Taken before the data goes out: a reader that writes back clears OpenSSL's error queue.
  std::optional<Error> error;
  if (code != SSL_ERROR_ZERO_RETURN && code != SSL_ERROR_WANT_READ && code != SSL_ERROR_WANT_WRITE) {
    error = ssl_error(result);
  }
  if (!buffer.empty()) _notify_data(std::move(buffer));
  if (error) {
    _notify_read_error(std::move(*error));
  } else if (code == SSL_ERROR_ZERO_RETURN) {
    on_input_end();
  } else if (code == SSL_ERROR_WANT_WRITE && flush_plaintext()) {
    pump_output();
  }
}

// The peer's close alert and the end of the connection below both end the stream; readers hear of
// it once. A handshake still waiting can no longer complete, so its deadline has nothing to report.
void TlsFilter::on_input_end() {
  if (finished() || end_notified_) return;
  end_notified_ = true;
  deadline_.stop();
  _notify_end();
  drop_queue("the connection ended before they could be sent");
}

// A connection that failed closes itself and then reports what it still held: records of the
// filter's own, never the owner's bytes. A handshake over it could only time out later.
void TlsFilter::on_error_below(Error&& error, bool read_side) {
  if (finished()) return;
  give_up(State::kFailed, std::move(error), read_side);
}

void TlsFilter::_write(bytes&& chunk) {
  if (finished()) {
    _notify_write_error(TlsError(0, "CONNECTION_CLOSED", "the TLS connection was given up after a failure"));
    return;
  }
  if (chunk.size() > max_queued_bytes_ - std::min(queued_bytes_, max_queued_bytes_)) {
    _notify_write_error(
        queue_full_error(ErrorCode::TlsError, chunk.size(), queued_bytes_, max_queued_bytes_));
    return;
  }
  queued_bytes_ += chunk.size();
  plaintext_queue_.push_back(std::move(chunk));
  if (state_ == State::kEstablished && flush_plaintext()) pump_output();
}

void TlsFilter::_end() {
  if (!output_.ended) output_.end();
  drop_queue("the connection was ended before they could be sent");
}

void TlsFilter::give_up(State state, Error error, bool read_side) {
  state_ = state;
  deadline_.stop();
  if (!output_.ended) output_.end();
  if (read_side) {
    _notify_read_error(std::move(error));
  } else {
    _notify_write_error(std::move(error));
  }
  drop_queue("the TLS connection was given up");
}

void TlsFilter::drop_queue(const std::string& why) {
  if (plaintext_queue_.empty()) return;
  size_t bytes_lost = queued_bytes_;
  size_t writes = plaintext_queue_.size();
  plaintext_queue_.clear();
  queued_bytes_ = 0;
  _notify_write_error(not_sent_error(ErrorCode::TlsError, bytes_lost, writes, why));
}

Error TlsFilter::ssl_error(int result) const {
  int code = SSL_get_error(ssl_, result);
  return TlsError(code, ssl_error_name(code), queued_error_text(ssl_error_name(code)));
}

}  // namespace brelt
