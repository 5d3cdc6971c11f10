// One connection to the sync server that exchanges JSON values. Outgoing values are encoded,
// signed and length-prefixed; the incoming byte stream is inflated, split into frames and parsed;
// both travel through TLS over one TCP socket. Connecting sends a hello naming the client version
// and the device type ahead of anything else.
//
// One object serves one connection: after an end or an error the owner discards it and builds a
// new one. Errors reach the owner by the side on which a stage raised them, whatever the direction
// of the data. The first error of any stage ends the connection at once: no stage of the read
// chain works on after it (nothing more is inflated, split, parsed or delivered, and no end
// follows), the socket is closed, and later writes are refused with NetworkError "NOT_SENT". The
// writes that were still queued are reported the same way. Everything runs on the thread of the
// loop given at construction.
#pragma once

#include <string>
#include <vector>

#include <uv.h>

#include "brelt/inflate_stream.h"
#include "brelt/json_decode_stream.h"
#include "brelt/json_encode_stream.h"
#include "brelt/length_decoder.h"
#include "brelt/length_encoder.h"
#include "brelt/signing_stream.h"
#include "brelt/socket.h"
#include "brelt/streams.h"
#include "brelt/tcp_keepalive.h"
#include "brelt/tls_filter.h"
#include "jsonette/json.h"

namespace brelt {

class ApiClient : public DuplexConnectStream<jsonette::Json, jsonette::Json, Error> {
 public:
  struct Options {
    std::string version;  // the hello's "version"
    std::string device;   // the hello's "device": the device type's name
    std::string host;     // where to connect, and the name the certificate must carry
    std::string port;
    bytes extra;             // carried for the owner; the client does not read it
    bytes hmac_key;          // signs every frame; never logged
    TcpKeepAlive keepalive;  // how soon a server that went away unseen is given up
  };

  // Builds and wires the chain; opens nothing. A null `ctx` uses the TLS filter's default context.
  ApiClient(SSL_CTX* ctx, uv_loop_t* loop, Options options);

  // Starts the host lookup and the handshake and queues the hello, which therefore leaves first,
  // once the connection is secure. `on_connect` runs when the handshake has completed and the
  // server's certificate was accepted.
  void connect() override;

 protected:
  void _write(jsonette::Json&& value) override;
  // Ends the outgoing side, which closes the connection.
  void _end() override;

 private:
  // Reports `error` on the side it was raised; the first one also ends the connection.
  void fail(Error error, bool read_side);

  std::string device_;
  std::string version_;
  TcpKeepAlive keepalive_;
  bool failed_ = false;      // a stage has reported an error
  bool read_ended_ = false;  // the owner has heard the end of the server's stream
  Socket socket_;
  TlsFilter tls_;
  InflateStream inflate_;
  LengthDecoder frames_in_;
  JsonDecodeStream decode_;
  SigningStream sign_;
  LengthEncoder frames_out_;
  JsonEncodeStream encode_;
};

// Builds a fresh client with the same settings for each connection.
class ApiClientFactory : public DuplexConnectStreamFactory<jsonette::Json, jsonette::Json, Error> {
 public:
  ApiClientFactory(SSL_CTX* ctx, uv_loop_t* loop, ApiClient::Options options);
  std::unique_ptr<DuplexConnectStream<jsonette::Json, jsonette::Json, Error>> create() override;

 private:
  SSL_CTX* ctx_;
  uv_loop_t* loop_;
  ApiClient::Options options_;
};

}  // namespace brelt
