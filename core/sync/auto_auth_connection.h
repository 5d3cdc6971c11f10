// A sync connection that authenticates the device before it carries ordinary traffic.
//
// It wraps one `brelt::ApiClient` (TLS, framing, signing, the hello). On `connect` it registers
// with the user manager as a requester of connection credentials; whenever credentials arrive it
// writes USER_AUTH_DEVICE (no "id"), then the messages held back meanwhile, oldest first. The
// server's answer is not awaited: a rejected device hears USER_UNAUTHORIZED like any other
// notification. Incoming traffic passes up unchanged.
//
// States:
//   unauthenticated  initial, and after the user manager reported null credentials: ordinary
//                    messages are held; "ping", USER_NEW_DEVICE and USER_UNLINK pass at once
//   authenticated    USER_AUTH_DEVICE has been written: every message passes
// Each credentials callback with credentials writes a fresh USER_AUTH_DEVICE, so a change of
// identity re-authenticates the open connection. `end` and the destructor cancel this
// connection's own registration only; another connection of the same user manager keeps its own.
//
// Ownership: the auto-connecting client owns each connection through the pointer its factory
// returns and builds a new one per TCP connection, so the held messages and the state start afresh
// each time; held messages of a destroyed connection are dropped (what must survive is kept by
// the outgoing queue and the command store). The user manager must outlive `connect`; the
// registration itself may outlive the manager.
//
// Threads: the core thread only (the loop's thread), for every call and callback. No lock.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <uv.h>

#include "brelt/api_client.h"
#include "brelt/streams.h"
#include "core/accounts/credentials_requests.h"
#include "core/accounts/user_manager.h"
#include "core/sync/connection_credentials.h"
#include "jsonette/json.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace libkestrun::internal {

using JsonConnection = brelt::DuplexConnectStream<jsonette::Json, jsonette::Json, brelt::Error>;
using JsonConnectionFactory = brelt::DuplexConnectStreamFactory<jsonette::Json, jsonette::Json, brelt::Error>;

// True for the methods a device may send before it has authenticated: "ping", "USER_NEW_DEVICE"
// and "USER_UNLINK". A message without a string "method" is not one of them.
bool is_pre_auth_message(const jsonette::Json& message);

class AutoAuthConnection final : public JsonConnection {
 public:
  // Builds the client from `ctx` (null: the default TLS context), `loop` and `options`; opens
  // nothing.
  AutoAuthConnection(UserManager& user_manager, SSL_CTX* ctx, uv_loop_t* loop,
                     brelt::ApiClient::Options options);
  // Cancels this connection's credentials registration first, so the user manager never calls a
  // destroyed connection.
  ~AutoAuthConnection() override;
  AutoAuthConnection(const AutoAuthConnection&) = delete;
  AutoAuthConnection& operator=(const AutoAuthConnection&) = delete;

  // Connects the client (which queues the hello first), then asks for credentials; with
  // credentials at hand USER_AUTH_DEVICE follows the hello at once.
  void connect() override;

  bool authenticated() const { return authenticated_; }

 protected:
  // Sends the message when authenticated or pre-authentication, else holds it.
  void _write(jsonette::Json&& message) override;
  // Cancels the credentials registration, then ends the client.
  void _end() override;

 private:
  void _on_credentials(const std::shared_ptr<ConnectionCredentials>& credentials);
  void _send_auth(const ConnectionCredentials& credentials);
  void _send_deferred();
  // Traces the message (redacted) under "Sending message" and writes it to the client.
  void send(jsonette::Json&& message);

  bool authenticated_ = false;
  std::vector<jsonette::Json> deferred_;  // oldest first
  UserManager& user_manager_;
  brelt::ApiClient client_;
  // Declared after the client so it is cancelled before the client goes.
  CredentialsRequest credentials_;
};

// What the auto-connecting client asks for a fresh connection on every attempt. Several
// connections of one factory (or of two factories over one user manager) are independent.
class AutoAuthConnectionFactory final : public JsonConnectionFactory {
 public:
  // `ctx` may be null (the default TLS context); the options are copied.
  AutoAuthConnectionFactory(UserManager& user_manager, SSL_CTX* ctx, uv_loop_t* loop,
                            brelt::ApiClient::Options options);

  // A new AutoAuthConnection of the stored settings; fails only on allocation.
  std::unique_ptr<JsonConnection> create() override;

 private:
  UserManager& user_manager_;
  SSL_CTX* ctx_;
  uv_loop_t* loop_;
  brelt::ApiClient::Options options_;
};

}  // namespace libkestrun::internal
