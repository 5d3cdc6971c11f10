// The connection: TLS under the server's own authority, signed frames, the hello, device
// authentication and what happens to broken or hostile input.
#include <arpa/inet.h>
#include <openssl/hmac.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "server_fixture.h"

namespace sync_server_test {
namespace {

using Params = Json::object;

// A client that signs and sends frames with OpenSSL directly and reads nothing back but the end.
class DeafClient {
 public:
  DeafClient(uint16_t port, const std::string& authority) {
    context_ = SSL_CTX_new(TLS_client_method());
    BIO* pem = BIO_new_mem_buf(authority.data(), static_cast<int>(authority.size()));
    X509* anchor = PEM_read_bio_X509(pem, nullptr, nullptr, nullptr);
    X509_STORE_add_cert(SSL_CTX_get_cert_store(context_), anchor);
    X509_free(anchor);
    BIO_free(pem);
    SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ssl_ = SSL_new(context_);
    SSL_set1_host(ssl_, "localhost");
    ok_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
          SSL_set_fd(ssl_, fd_) == 1 && SSL_connect(ssl_) == 1;
  }
  ~DeafClient() {
    SSL_free(ssl_);
    close(fd_);
    SSL_CTX_free(context_);
  }
  bool send(const Json& message) { return send_text(message.dump()); }
  // Frames `text` signed with `key`, with the right length or, when given, another one.
  bool send_text(const std::string& text, const std::vector<unsigned char>& key = test_key(),
                 uint32_t forced_length = 0) {
    unsigned char signature[32];
    unsigned int length = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(text.data()), text.size(), signature, &length);
    const uint32_t total = forced_length ? forced_length : static_cast<uint32_t>(4 + text.size() + length);
    std::string frame;
    for (int i = 0; i < 4; ++i) frame += static_cast<char>(total >> (8 * i));
    frame += text;
    frame.append(reinterpret_cast<const char*>(signature), length);
    return ok_ &&
           SSL_write(ssl_, frame.data(), static_cast<int>(frame.size())) == static_cast<int>(frame.size());
  }
  // Reads until the server closes the connection; false when it has not within ten seconds.
  bool wait_closed() {
    timeval limit{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
    char buffer[16384];
    for (;;) {
      int n = SSL_read(ssl_, buffer, sizeof(buffer));
      if (n > 0) continue;
      int code = SSL_get_error(ssl_, n);
      return code == SSL_ERROR_ZERO_RETURN ||
             (code == SSL_ERROR_SYSCALL && errno != EAGAIN && errno != EWOULDBLOCK);
    }
  }

 private:
  SSL_CTX* context_;
  SSL* ssl_;
  int fd_;
  bool ok_ = false;
};

TEST_F(ServerTest, RegisteredDeviceAuthenticatesAndIsServed) {
  start();
  auto client = connect();
  // Before authentication only registration, unlinking and pings are served.
  Json early = client->request("USER_SNAPSHOT", Params{});
  EXPECT_EQ(early["error"]["code"], Json("U1"));
  client->send(Json(Params{{"method", "ping"}}));

  Json state = register_device(*client);
  ASSERT_TRUE(state.is_object());
  EXPECT_EQ(state["user_id"].string_value().substr(0, 1), "-");
  EXPECT_FALSE(state["device_id"].string_value().empty());
  EXPECT_EQ(state["device_secret"].string_value().size(), 36u) << "a UUID text";
  EXPECT_NE(state["device_secret"], state["device_id"]);
  EXPECT_EQ(state["has_desktop"], Json(true));
  EXPECT_EQ(state["accounts"], Json(Json::array{}));

  client->authenticate(state);
  Json reply = client->request("USER_SNAPSHOT", Params{});
  EXPECT_TRUE(reply["error"].is_null()) << reply.dump();
  EXPECT_EQ(reply["result"]["user_id"], state["user_id"]);
  for (const Json& message : client->messages())
    EXPECT_NE(message["method"], Json("USER_UNAUTHORIZED")) << "the ping is never answered either";
}

TEST_F(ServerTest, WrongDeviceCredentialsAreRefusedAndNothingIsServed) {
  start();
  auto client = connect();
  Json state = register_device(*client);
  struct Case {
    const char* name;
    Json::object changes;
  };
  const std::vector<Case> cases = {
      {"wrong secret", {{"device_secret", "0000"}}},
      {"another user", {{"user_id", "-nobody"}}},
      {"unknown device", {{"device_id", "D-UNKNOWN"}}},
      {"secret of the wrong type", {{"device_secret", 42}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto other = connect();
    Json::object bad = state.object_items();
    for (const auto& [key, value] : c.changes) bad[key] = value;
    other->authenticate(Json(bad));
    Json refused = other->wait_for_notification("USER_UNAUTHORIZED");
    EXPECT_EQ(refused["params"]["reason"], Json("credentials"));
    EXPECT_EQ(other->request("USER_SNAPSHOT", Params{})["error"]["code"], Json("U1"));
  }
}

TEST_F(ServerTest, FrameSignedWithAnotherKeyClosesTheConnection) {
  start();
  auto good = connect();
  SyncClient forger(server_->port(), {'n', 'o', 't', ' ', 'i', 't'});
  ASSERT_TRUE(forger.wait_connected());
  EXPECT_TRUE(forger.wait_closed());
  EXPECT_TRUE(forger.messages().empty());
  // The server goes on serving everyone else.
  EXPECT_TRUE(register_device(*good).is_object());
}

// Frames the client library cannot produce, each on a connection of its own: the server closes
// the connection.
TEST_F(ServerTest, MalformedFramesCloseTheConnection) {
  start();
  const std::string hello = Json(Params{{"version", "1"}, {"device", "macos"}}).dump();
  struct Case {
    const char* name;
    bool greet;        // a proper hello first
    std::string text;  // the frame's JSON text
    uint32_t length;   // 0: the right one
    std::vector<unsigned char> key;
  };
  const std::vector<Case> cases = {
      {"no hello first", false, R"({"method":"USER_NEW_DEVICE","params":{},"id":"1"})", 0, test_key()},
      {"a hello without a device", false, R"({"version":"1"})", 0, test_key()},
      {"text that is not JSON", true, "{\"method\":", 0, test_key()},
      {"a length that cannot hold a signature", true, "{}", 20, test_key()},
      {"a length beyond the limit", true, "{}", 0x7fffffff, test_key()},
      {"signed with another key", true, R"({"method":"ping"})", 0, {'x'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeafClient client(server_->port(), server_->authority_pem());
    if (c.greet) {
      ASSERT_TRUE(client.send_text(hello));
    }
    ASSERT_TRUE(client.send_text(c.text, c.key, c.length));
    EXPECT_TRUE(client.wait_closed());
  }
  auto good = connect();
  EXPECT_TRUE(register_device(*good).is_object());
}

TEST_F(ServerTest, ClientThatStopsReadingHoldsUpNobodyElse) {
  start();
  Json state;
  auto reader = signed_in(&state);
  ASSERT_TRUE(add_account(*reader, "maya.lind@example.com", "sample-com-password").is_object());

  // The same device on a connection that asks for the whole mailbox again and again and never
  // reads the answers: far more than the socket buffers hold.
  DeafClient deaf(server_->port(), server_->authority_pem());
  ASSERT_TRUE(deaf.send(Json(Params{{"version", "1"}, {"device", "macos"}})));
  ASSERT_TRUE(deaf.send(Json(Params{{"method", "USER_AUTH_DEVICE"},
                                    {"params", Params{{"auth_version", 1},
                                                      {"user_id", state["user_id"]},
                                                      {"device_id", state["device_id"]},
                                                      {"device_secret", state["device_secret"]}}}})));
  for (int i = 0; i < 400; ++i) {
    ASSERT_TRUE(deaf.send(Json(Params{{"method", "ACCOUNT_SNAPSHOT"},
                                      {"params", Params{{"account_id", "acct-example-com"}}},
                                      {"id", "deaf-" + std::to_string(i)}})));
  }
  // A change after them, which the reading connection is told about once the server has got
  // through every one of those: their answers wait in the deaf connection's own queue.
  const std::string item = "item-acct-example-com-001";
  ASSERT_TRUE(deaf.send(
      Json(Params{{"method", "ITEM_UPDATE"},
                  {"params", Params{{"doc", Params{{"_id", item}, {"acct_id", "acct-example-com"}}}}},
                  {"id", "deaf-change"}})));
  EXPECT_TRUE(reader
                  ->wait_for_notification(
                      "DOCUMENT", [&](const Json& p) { return p["doc"]["_id"] == Json(item); },
                      std::chrono::seconds(120))
                  .is_object());
  EXPECT_TRUE(reader->request("USER_SNAPSHOT", Params{})["error"].is_null());
}

// Each case runs on a connection of its own, signed in when it says so; it ends either with the
// connection closed by the server or with an error reply of the given code.
TEST_F(ServerTest, BrokenOrHostileInputClosesTheConnectionOrGetsAnError) {
  start();
  struct Case {
    const char* name;
    bool signed_in;
    Json message;
    std::string code;  // empty: the connection is closed; "none": a reply without error
  };
  const std::vector<Case> cases = {
      {"a number for a message", false, Json(5), ""},
      {"a message without a method", false, Json(Params{{"id", "x"}}), ""},
      {"a method that is not a string", false, Json(Params{{"method", 7}, {"id", "x"}}), ""},
      {"an array holding a string", true, Json(Json::array{"ITEM_UPDATE"}), ""},
      {"an unknown method", false, Json(Params{{"method", "NOPE"}, {"id", "x"}}), "M1"},
      {"a change before authentication", false, Json(Params{{"method", "ITEM_UPDATE"}, {"id", "x"}}), "U1"},
      {"params that are a string", true,
       Json(Params{{"method", "ITEM_UPDATE"}, {"params", "doc"}, {"id", "x"}}), "P1"},
      {"a document of someone else's account", true,
       Json(Params{{"method", "ITEM_SAVE"},
                   {"params", Params{{"doc", Params{{"_id", "I1"}, {"acct_id", "acct-example-com"}}}}},
                   {"id", "x"}}),
       "O1"},
      {"a snapshot with the wrong types", true,
       Json(Params{{"method", "ACCOUNT_SNAPSHOT"},
                   {"params", Params{{"account_id", 5}, {"sync_state", Json::array{}}}},
                   {"id", "x"}}),
       "U0"},
      {"credentials that are an array", true,
       Json(Params{
           {"method", "ACCOUNT_CREATE"}, {"params", Params{{"credentials", Json::array{}}}}, {"id", "x"}}),
       "P1"},
      {"a device registration without params", false,
       Json(Params{{"method", "USER_NEW_DEVICE"}, {"params", Json::array{1}}, {"id", "x"}}), "P1"},
      {"a huge limit and a negative before", true,
       Json(Params{{"method", "AUTO_SWIPE_RULES_GET"},
                   {"params", Params{{"limit", 1e300}, {"before", -1e300}}},
                   {"id", "x"}}),
       "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Json state;
    auto client = c.signed_in ? signed_in(&state) : connect();
    client->send(c.message);
    if (c.code.empty()) {
      EXPECT_TRUE(client->wait_closed());
      continue;
    }
    Json reply = client->wait_for([](const Json& m) { return m["id"] == Json("x"); });
    if (c.code == "none") {
      EXPECT_TRUE(reply["error"].is_null()) << reply.dump();
    } else {
      EXPECT_EQ(reply["error"]["code"], Json(c.code)) << reply.dump();
    }
  }
  // Still serving.
  auto client = connect();
  EXPECT_TRUE(register_device(*client).is_object());
}

}  // namespace
}  // namespace sync_server_test
