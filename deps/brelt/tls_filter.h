// A TLS 1.2 client carried over another byte stream. Plaintext written to the filter leaves
// encrypted through `output`; encrypted bytes arriving from `input` come out of the filter's
// readable side as plaintext. OpenSSL works on two memory BIOs, so the filter never touches the
// network itself: it pumps bytes between the BIOs and the streams.
//
// When the handshake completes, the server is checked: the chain verification result against the
// built-in trust store, the presence of a certificate, then the owner's validators in order (an
// empty list refuses every server). Only then is `on_handshake` called and the queued plaintext
// sent. A failed handshake or check is final for the connection: queued plaintext is dropped, later
// writes are refused, nothing more is read or delivered, and `output` is ended, so no byte of
// application data reaches a server that failed. So are a handshake (with the connection under
// it) that has not completed when its deadline passes, and a failure of the connection below.
//
// Errors:
//   handshake fails or times out       TlsError                                  on_write_error
//   chain verification result not 0   CertError <result> "preliminary cert verification failed"
//                                                                                on_read_error
//   no server certificate              CertError 0 "NO_CERT"                     on_read_error
//   a validator refuses, or none       CertError 0 "USER_VALIDATION"             on_read_error
//   SSL_write or reading network_out   TlsError                                  on_write_error
//   writing network_in, SSL_read       TlsError                                  on_read_error
//   write after a failure              TlsError 0 "CONNECTION_CLOSED"            on_write_error
//   write while `max_queued_bytes` wait TlsError <bytes> "SEND_QUEUE_FULL"        on_write_error
//     for the handshake (the write is dropped; the connection goes on)
//   plaintext still queued when the    TlsError <bytes> "NOT_SENT"               on_write_error
//     connection is given up or ended    (after the error or end that caused it)
// The messages of TlsErrors from OpenSSL calls come from OpenSSL's error queue.
//
// The filter takes the error callbacks of the connection below. Its first error is passed on, on
// the same side, and is final for the filter as for the connection (the queued plaintext is
// reported as above). Errors from below after the filter has failed are dropped: the owner has
// heard of the failure and of its own plaintext, and what the connection below still held are
// the filter's own records (a connection not yet made holds the client's hello), which the owner
// never wrote.
//
// Every call, callback and the destruction happen on the event-loop thread of `loop`.
#pragma once

#include <openssl/ssl.h>
#include <uv.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "brelt/streams.h"
#include "brelt/timer.h"

namespace brelt {

class TlsFilter : public WritableStream<bytes, Error>, public ReadableStream<bytes, Error> {
 public:
  using Validator = std::function<bool(X509*)>;

  enum class State : int32_t {
    kNew = 0,
    kHandshaking = 1,
    kEstablished = 2,  // handshake complete and every check passed
    kFailed = 3,       // the handshake failed or timed out, or the connection below failed
    kRejected = 4,     // the handshake completed but a check failed
  };

  static constexpr std::chrono::milliseconds kDefaultHandshakeTimeout{30000};
  static constexpr size_t kDefaultMaxQueuedBytes = 64u * 1024 * 1024;

  // The built-in trust anchors as PEM text; the default context loads the extra root first.
  static const std::vector<unsigned char> extra_root_pem;
  static const std::vector<unsigned char> root_bundle_pem;

  // `input` and `output` are the readable and writable sides of the connection below (normally one
  // Socket); they must outlive the filter, which takes their data, end and error callbacks. `server_name` is
  // sent as SNI unless it is empty or an IP address. The deadline runs from start() until the checks pass;
  // there is none without a loop or with a zero timeout. A null `context` means the default context. At most
  // `max_queued_bytes` of plaintext wait for the handshake.
  TlsFilter(uv_loop_t* loop, ReadableStream<bytes, Error>& input, WritableStream<bytes, Error>& output,
            const std::vector<Validator>& validators, std::string server_name,
            std::chrono::milliseconds handshake_timeout = kDefaultHandshakeTimeout,
            SSL_CTX* context = nullptr, size_t max_queued_bytes = kDefaultMaxQueuedBytes);
  ~TlsFilter() override;

  // Begins the handshake; called once, right after the connection below was asked to connect.
  void start();

  State state() const { return state_; }

  // `context` when it is not null, otherwise the process-wide default context, created on first
  // use (from any thread) and never freed: TLS 1.2 only, security level 1 whatever the system's
  // OpenSSL configuration says, trusting exactly the built-in roots. Verification does not stop
  // the handshake; the filter judges its result afterwards.
  static SSL_CTX* default_context(SSL_CTX* context = nullptr);

  // Called once when the handshake is complete and every check passed.
  std::function<void()> on_handshake;

 protected:
  void _write(bytes&& chunk) override;
  // Ends `output`; no close alert is sent.
  void _end() override;

 private:
  void on_input(bytes&& chunk);
  void on_input_end();
  void on_error_below(Error&& error, bool read_side);
  void handshake_step();
  // Returns false when the checks failed; the connection has then been given up.
  bool check_server();
  bool flush_plaintext();
  bool pump_output();
  void read_plaintext();
  // Makes a failure final: stops the deadline and ends `output`, then reports `error` (on the read
  // side when `read_side`) and the queued plaintext it drops.
  void give_up(State state, Error error, bool read_side);
  // Reports and forgets the plaintext still queued.
  void drop_queue(const std::string& why);
  Error ssl_error(int result) const;
  bool finished() const { return state_ == State::kFailed || state_ == State::kRejected; }

  ReadableStream<bytes, Error>& input_;
  WritableStream<bytes, Error>& output_;
  std::deque<bytes> plaintext_queue_;
  size_t queued_bytes_ = 0;  // in plaintext_queue_
  size_t max_queued_bytes_;
  std::vector<Validator> validators_;
  State state_ = State::kNew;
  SSL* ssl_ = nullptr;
  BIO* network_in_ = nullptr;   // owned by ssl_ once attached
  BIO* network_out_ = nullptr;  // owned by ssl_ once attached
  bool bios_attached_ = false;
  bool end_notified_ = false;
  std::string server_name_;
  std::chrono::milliseconds handshake_timeout_;
  Timer deadline_;
};

}  // namespace brelt
