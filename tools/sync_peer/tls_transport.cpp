#include "tools/sync_peer/tls_transport.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace sync_peer {

void TlsRecord::add_handshake(std::string server_name) {
  std::lock_guard<std::mutex> lock(mutex_);
  server_names_.push_back(std::move(server_name));
}

size_t TlsRecord::handshakes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return server_names_.size();
}

std::vector<std::string> TlsRecord::server_names() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return server_names_;
}

TlsConnection::TlsConnection(int fd, SSL* ssl, std::shared_ptr<TlsRecord> record, int idle_timeout_ms)
    : fd_(fd), ssl_(ssl), record_(std::move(record)), idle_timeout_ms_(idle_timeout_ms) {
  // Non-blocking, so that a read waiting for bytes does not hold the lock a write needs.
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  SSL_set_fd(ssl_, fd_);
  SSL_set_accept_state(ssl_);
}

TlsConnection::~TlsConnection() {
  SSL_free(ssl_);
  ::close(fd_);
}

int TlsConnection::call(const std::function<int()>& operation, int* code) {
  std::lock_guard<std::mutex> lock(mutex_);
  ERR_clear_error();
  if (!handshake_done_) {
    int result = SSL_accept(ssl_);
    if (result <= 0) {
      *code = SSL_get_error(ssl_, result);
      return result;
    }
    handshake_done_ = true;
    const char* name = SSL_get_servername(ssl_, TLSEXT_NAMETYPE_host_name);
    record_->add_handshake(name ? name : "");
  }
  int result = operation();
  if (result <= 0) *code = SSL_get_error(ssl_, result);
  return result;
}

bool TlsConnection::wait_for(int code) {
  if (code != SSL_ERROR_WANT_READ && code != SSL_ERROR_WANT_WRITE) return false;
  pollfd entry{fd_, static_cast<short>(code == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
  for (;;) {
    int n = ::poll(&entry, 1, idle_timeout_ms_);
    if (n < 0 && errno == EINTR) continue;
    // A shut-down socket polls as ready; the next call then fails and ends the wait for good. A
    // wait that outlasts the idle limit ends the connection the same way.
    return n > 0;
  }
}

long TlsConnection::read(unsigned char* buffer, size_t size) {
  for (;;) {
    int code = SSL_ERROR_NONE;
    int result = call([&] { return SSL_read(ssl_, buffer, static_cast<int>(size)); }, &code);
    if (result > 0) return result;
    if (code == SSL_ERROR_ZERO_RETURN) return 0;
    if (!wait_for(code)) return -1;
  }
}

bool TlsConnection::write_all(const unsigned char* data, size_t size) {
  while (size > 0) {
    int code = SSL_ERROR_NONE;
    int result = call([&] { return SSL_write(ssl_, data, static_cast<int>(size)); }, &code);
    if (result > 0) {
      data += result;
      size -= static_cast<size_t>(result);
    } else if (!wait_for(code)) {
      return false;
    }
  }
  return true;
}

// A TLS server says goodbye with a close alert before the connection goes.
void TlsConnection::shutdown() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (handshake_done_) SSL_shutdown(ssl_);
  }
  ::shutdown(fd_, SHUT_RDWR);
}

TlsListener::TlsListener(const TlsServerSettings& settings)
    : tcp_(settings.port), idle_timeout_ms_(settings.idle_timeout_ms) {
  // OpenSSL writes to the socket with write(2), which raises SIGPIPE once the client has gone; the
  // failed write is reported as such, so the signal is only in the way.
  ::signal(SIGPIPE, SIG_IGN);
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (!context) return;
  SSL_CTX_set_min_proto_version(context, settings.min_version);
  SSL_CTX_set_max_proto_version(context, settings.max_version);
  SSL_CTX_set_security_level(context, settings.security_level);
  if (settings.security_level == 0) SSL_CTX_set_cipher_list(context, "DEFAULT:@SECLEVEL=0");
  // Partial writes let write_all go on from where a full socket buffer stopped it.
  SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);

  std::unique_ptr<BIO, decltype(&BIO_free)> chain(
      BIO_new_mem_buf(settings.certificate_pem.data(), static_cast<int>(settings.certificate_pem.size())),
      &BIO_free);
  bool ok = false;
  if (X509* leaf = PEM_read_bio_X509(chain.get(), nullptr, nullptr, nullptr)) {
    ok = SSL_CTX_use_certificate(context, leaf) == 1;
    X509_free(leaf);
    while (X509* extra = PEM_read_bio_X509(chain.get(), nullptr, nullptr, nullptr)) {
      SSL_CTX_add_extra_chain_cert(context, extra);  // takes ownership
    }
  }
  std::unique_ptr<BIO, decltype(&BIO_free)> key_text(
      BIO_new_mem_buf(settings.key_pem.data(), static_cast<int>(settings.key_pem.size())), &BIO_free);
  if (EVP_PKEY* key = PEM_read_bio_PrivateKey(key_text.get(), nullptr, nullptr, nullptr)) {
    ok = ok && SSL_CTX_use_PrivateKey(context, key) == 1;
    EVP_PKEY_free(key);
  } else {
    ok = false;
  }
  ERR_clear_error();
  if (!ok) {
    SSL_CTX_free(context);
    return;
  }
  context_ = context;
}

TlsListener::~TlsListener() {
  if (context_) SSL_CTX_free(context_);
}

std::unique_ptr<Connection> TlsListener::accept() {
  if (!context_) return nullptr;
  int fd = tcp_.accept_fd();
  if (fd < 0) return nullptr;
  SSL* ssl = SSL_new(context_);
  if (!ssl) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<TlsConnection>(fd, ssl, record_, idle_timeout_ms_);
}

}  // namespace sync_peer
