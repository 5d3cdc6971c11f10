// The HTTPS side: bodies and attachments for signed requests, refused for bad signatures, missing
// for unknown e-mails, and uploads read back from object storage. The requests are written and
// signed here with OpenSSL directly.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "server_fixture.h"
#include "tools/sync_server/sample_mailbox.h"

namespace sync_server_test {
namespace {

using Params = Json::object;

struct Response {
  int status = 0;
  std::string body;
};

// Sends `request` as it is over a fresh TLS connection that trusts only `authority` and reads the
// response to the end; status 0 when there was none.
Response exchange(uint16_t port, const std::string& authority, const std::string& request) {
  Response response;
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  BIO* pem = BIO_new_mem_buf(authority.data(), static_cast<int>(authority.size()));
  X509* anchor = PEM_read_bio_X509(pem, nullptr, nullptr, nullptr);
  X509_STORE_add_cert(SSL_CTX_get_cert_store(context), anchor);
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  SSL* ssl = SSL_new(context);
  SSL_set1_host(ssl, "localhost");
  SSL_set_tlsext_host_name(ssl, "localhost");
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 && SSL_set_fd(ssl, fd) == 1 &&
      SSL_connect(ssl) == 1) {
    SSL_write(ssl, request.data(), static_cast<int>(request.size()));
    std::string text;
    char buffer[16384];
    int n;
    while ((n = SSL_read(ssl, buffer, sizeof(buffer))) > 0) text.append(buffer, static_cast<size_t>(n));
    size_t head_end = text.find("\r\n\r\n");
    if (text.rfind("HTTP/1.1 ", 0) == 0 && head_end != std::string::npos) {
      response.status = std::stoi(text.substr(9, 3));
      response.body = text.substr(head_end + 4);
    }
  }
  SSL_free(ssl);
  close(fd);
  X509_free(anchor);
  BIO_free(pem);
  SSL_CTX_free(context);
  ERR_clear_error();
  return response;
}

Response post(uint16_t port, const std::string& authority, const std::string& path,
              const std::string& content_type, const std::string& body) {
  return exchange(port, authority,
                  "POST " + path + " HTTP/1.1\r\nHost: localhost\r\nContent-Type: " + content_type +
                      "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                      body);
}

std::string md5_hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
  char hex[3];
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    snprintf(hex, sizeof(hex), "%02x", digest[i]);
    out += hex;
  }
  return out;
}

// The signature of string fields: MD5 of the key, "name:value" pairs in name order joined by ",",
// and the nonce.
std::string sign(const std::map<std::string, std::string>& fields, const std::string& nonce) {
  std::vector<unsigned char> key = test_key();
  std::string text(key.begin(), key.end());
  bool first = true;
  for (const auto& [name, value] : fields) {
    text += (first ? "" : ",") + name + ":" + value;
    first = false;
  }
  return md5_hex(text + nonce);
}

std::string form_encode(const std::map<std::string, std::string>& fields) {
  std::string body;
  for (const auto& [name, value] : fields) {
    if (!body.empty()) body += '&';
    body += name + "=";
    for (unsigned char c : value) {
      char escaped[4];
      snprintf(escaped, sizeof(escaped), "%%%02X", c);
      body += std::isalnum(c) ? std::string(1, static_cast<char>(c)) : std::string(escaped);
    }
  }
  return body;
}

class ResourceTest : public ServerTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    start();
    client_ = signed_in(&state_);
    ASSERT_TRUE(add_account(*client_, "maya.lind@example.com", "sample-com-password").is_object());
    snapshot_ = snapshot(*client_, "acct-example-com");
  }

  std::map<std::string, std::string> credentials() const {
    return {{"user_id", state_["user_id"].string_value()},
            {"device_id", state_["device_id"].string_value()},
            {"device_secret", state_["device_secret"].string_value()}};
  }

  // The request fields of a download signed over `signed_fields` plus the credentials.
  std::string signed_request(std::map<std::string, std::string> signed_fields, bool corrupt = false) const {
    const std::string nonce = std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::system_clock::now().time_since_epoch())
                                                 .count());
    auto fields = credentials();
    signed_fields.insert(fields.begin(), fields.end());
    std::string sig = sign(signed_fields, nonce);
    if (corrupt) sig[0] = sig[0] == '0' ? '1' : '0';
    fields["sig"] = sig;
    fields["nonce"] = nonce;
    return form_encode(fields);
  }

  Response download(const std::string& path, const std::string& body) {
    return post(server_->resource_port(), server_->authority_pem(), path, "application/x-www-form-urlencoded",
                body);
  }

  Json state_;
  Json snapshot_;
  std::unique_ptr<SyncClient> client_;
};

TEST_F(ResourceTest, SignedBodyRequestsAreAnsweredAndOthersRefused) {
  const Json email = snapshot_["docs"]["email"][0];
  const std::string id = email["_id"].string_value();
  const std::map<std::string, std::string> ids = {{"account_id", "acct-example-com"}, {"email_id", id}};
  struct Case {
    const char* name;
    std::string path;
    std::string body;
    int status;
    std::string content;
  };
  const std::vector<Case> cases = {
      {"HTML body", "/service/mail/body/acct-example-com/" + id, signed_request(ids), 200,
       email["conversation"].string_value()},
      {"bad signature", "/service/mail/body/acct-example-com/" + id, signed_request(ids, true), 403, ""},
      {"signed for another e-mail", "/service/mail/body/acct-example-com/" + id,
       signed_request({{"account_id", "acct-example-com"}, {"email_id", "other"}}), 403, ""},
      {"unknown e-mail", "/service/mail/body/acct-example-com/nope",
       signed_request({{"account_id", "acct-example-com"}, {"email_id", "nope"}}), 404, ""},
      {"account the user lacks", "/service/mail/body/acct-example-net/" + id,
       signed_request({{"account_id", "acct-example-net"}, {"email_id", id}}), 404, ""},
      {"no credentials", "/service/mail/body/acct-example-com/" + id, "sig=00&nonce=1", 403, ""},
      {"unknown path", "/service/mail/nothing", signed_request(ids), 404, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Response response = download(c.path, c.body);
    EXPECT_EQ(response.status, c.status);
    if (!c.content.empty()) {
      EXPECT_EQ(response.body, c.content);
    }
  }
  Response text = download("/service/mail/text_body/acct-example-com/" + id, signed_request(ids));
  EXPECT_EQ(text.status, 200);
  EXPECT_EQ(text.body.find('<'), std::string::npos) << text.body;
  EXPECT_FALSE(text.body.empty());
}

TEST_F(ResourceTest, AttachmentBytesAreTheSamplesAndUploadsComeBackFromStorage) {
  // The first e-mail of the sample whose body refers to an attachment.
  std::string email_id, attachment_id, size;
  for (const Json& email : snapshot_["docs"]["email"].array_items()) {
    const std::string& html = email["conversation"].string_value();
    size_t at = html.find("<kestrun-attach data-id=\"");
    if (at == std::string::npos) continue;
    at += 25;
    email_id = email["_id"].string_value();
    attachment_id = html.substr(at, html.find('"', at) - at);
    at = html.find("data-size=\"", at) + 11;
    size = html.substr(at, html.find('"', at) - at);
    break;
  }
  ASSERT_FALSE(attachment_id.empty());
  Response attachment =
      download("/service/mail/attachment_download/acct-example-com/" + email_id + "/" + attachment_id,
               signed_request(
                   {{"account_id", "acct-example-com"}, {"email_id", email_id}, {"part_id", attachment_id}}));
  EXPECT_EQ(attachment.status, 200);
  EXPECT_EQ(std::to_string(attachment.body.size()), size) << "the size the body announces";
  EXPECT_EQ(
      download("/service/mail/attachment_download/acct-example-com/" + email_id + "/att-none",
               signed_request(
                   {{"account_id", "acct-example-com"}, {"email_id", email_id}, {"part_id", "att-none"}}))
          .status,
      404);

  // An upload of bytes that are not text, as multipart form fields and a file.
  std::string file;
  for (int i = 0; i < 3000; ++i) file += static_cast<char>(i * 7);
  const std::string nonce = "1796000000000";
  std::map<std::string, std::string> fields = credentials();
  fields.insert({{"account_id", "acct-example-com"},
                 {"email_id", "SENT-9"},
                 {"filename", "scan.bin"},
                 {"filesize", std::to_string(file.size())},
                 {"uuid", "ATT-1"}});
  fields["sig"] = sign(fields, nonce);
  fields["nonce"] = nonce;
  const std::string boundary = "kestrun-test-boundary";
  std::string body;
  for (const auto& [name, value] : fields)
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
            "\r\n";
  body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"scan.bin\"\r\n" +
          "Content-Type: application/octet-stream\r\n\r\n" + file + "\r\n--" + boundary + "--\r\n";
  Response uploaded = post(server_->resource_port(), server_->authority_pem(), "/upload",
                           "multipart/form-data; boundary=" + boundary, body);
  ASSERT_EQ(uploaded.status, 200) << uploaded.body;
  std::string error;
  EXPECT_EQ(Json::parse(uploaded.body, error)["url"],
            Json("kestrun://s3_download/acct-example-com/SENT-9/ATT-1"));

  Response stored = download("/s3_download/acct-example-com/SENT-9/ATT-1/scan.bin",
                             signed_request({{"account_id", "acct-example-com"},
                                             {"email_id", "SENT-9"},
                                             {"attachment_id", "ATT-1"},
                                             {"filename", "scan.bin"}}));
  EXPECT_EQ(stored.status, 200);
  EXPECT_EQ(stored.body, file);
}

TEST_F(ResourceTest, MalformedRequestsAreRefused) {
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"not HTTP", "hello\r\n\r\n"},
      {"a GET", "GET /service/mail/body/a/b HTTP/1.1\r\nHost: x\r\n\r\n"},
      {"chunked", "POST /upload HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n"},
      {"huge length", "POST /upload HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n"},
      {"length that is not a number", "POST /upload HTTP/1.1\r\nContent-Length: -1\r\n\r\n"},
      {"multipart without boundary",
       "POST /upload HTTP/1.1\r\nContent-Type: multipart/form-data\r\nContent-Length: 4\r\n\r\nabcd"},
      {"multipart cut short",
       "POST /upload HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\nContent-Length: "
       "9\r\n\r\n--b\r\nab\r\n"},
      {"JSON that is not an object",
       "POST /upload HTTP/1.1\r\nContent-Type: application/json\r\nContent-Length: 2\r\n\r\n[]"},
  };
  for (const auto& [name, raw] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(exchange(server_->resource_port(), server_->authority_pem(), raw).status, 400);
  }
  // Still serving.
  const std::string id = snapshot_["docs"]["email"][0]["_id"].string_value();
  EXPECT_EQ(download("/service/mail/body/acct-example-com/" + id,
                     signed_request({{"account_id", "acct-example-com"}, {"email_id", id}}))
                .status,
            200);
}

TEST_F(ResourceTest, TheDaysPictureFilesAreServedByName) {
  std::filesystem::create_directories(server_->pictures_directory());
  std::ofstream(server_->pictures_directory() + "/3-7-2015.json") << R"({"showDate":"3-7-2015"})";
  std::ofstream(server_->pictures_directory() + "/3-7-2015.jpg", std::ios::binary) << std::string("\xff\xd8\0jpg", 6);
  std::ofstream(server_->pictures_directory() + "/notes.txt") << "not a picture";
  auto get = [&](const std::string& path) {
    return exchange(server_->resource_port(), server_->authority_pem(),
                    "GET " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
  };
  Response description = get("/kestrun-zero-inbox/3-7-2015.json");
  EXPECT_EQ(description.status, 200);
  EXPECT_EQ(description.body, R"({"showDate":"3-7-2015"})");
  Response image = get("/kestrun-zero-inbox/3-7-2015.jpg");
  EXPECT_EQ(image.status, 200);
  EXPECT_EQ(image.body, std::string("\xff\xd8\0jpg", 6));
  for (const char* missing : {"/kestrun-zero-inbox/3-8-2015.jpg", "/kestrun-zero-inbox/notes.txt",
                              "/kestrun-zero-inbox/../sync.sqlite", "/kestrun-zero-inbox/.json"}) {
    EXPECT_EQ(get(missing).status, 404) << missing;
  }
}

TEST_F(ResourceTest, SharedLinksAreServedOnlyToRequestsWithoutFields) {
  std::filesystem::create_directories(server_->shared_directory() + "/SH-1");
  std::ofstream(server_->shared_directory() + "/SH-1/plan v2.txt", std::ios::binary) << "shared";
  const struct {
    const char* name;
    std::string path, body;
    int status;
  } cases[] = {
      {"no fields", "/s/SH-1/plan%20v2.txt", "", 200},
      {"credentials sent", "/s/SH-1/plan%20v2.txt", signed_request({}), 400},
      {"unknown file", "/s/SH-1/other.txt", "", 404},
      {"out of the folder", "/s/..%2f..%2fsync.sqlite/x", "", 404},
      {"dot file", "/s/SH-1/.hidden", "", 404},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Response response = download(c.path, c.body);
    EXPECT_EQ(response.status, c.status);
    if (c.status == 200) {
      EXPECT_EQ(response.body, "shared");
    }
  }
  EXPECT_EQ(server_->resources().served("s"), 5u);
}

// A client that connects and then falls silent, before the handshake or halfway through its
// request, is closed by the server instead of holding a thread for ever. The read's own limit is
// far above the server's and only keeps a faulty server from hanging the test.
using ResourceIdleTest = ServerTest;

TEST_F(ResourceIdleTest, SilentConnectionsAreClosed) {
  start(48u << 20, 100);
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"nothing sent", ""},
      {"half a TLS hello", std::string("\x16\x03\x01\x00\xff\x01", 6)},
  };
  for (const auto& [name, sent] : cases) {
    SCOPED_TRACE(name);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    timeval guard{60, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &guard, sizeof(guard));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server_->resource_port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    if (!sent.empty()) {
      ASSERT_EQ(send(fd, sent.data(), sent.size(), 0), static_cast<ssize_t>(sent.size()));
    }
    char byte;
    ssize_t n;
    while ((n = recv(fd, &byte, 1, 0)) > 0) {
    }
    EXPECT_EQ(n, 0) << "the server kept the connection open";
    close(fd);
  }
}

}  // namespace
}  // namespace sync_server_test
