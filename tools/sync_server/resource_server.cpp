#include "tools/sync_server/resource_server.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <strings.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tools/sync_server/html_text.h"
#include "tools/sync_server/object_signature.h"

namespace sync_server {

namespace {

constexpr size_t kMaxBody = 64u << 20;

std::vector<std::string> split_path(const std::string& path) {
  std::vector<std::string> segments;
  for (size_t at = 0; at <= path.size();) {
    size_t end = path.find('/', at);
    if (end == std::string::npos) end = path.size();
    if (end > at) segments.push_back(url_decode(path.substr(at, end - at), false));
    at = end + 1;
  }
  return segments;
}

std::string field(const FormData& form, const char* name) {
  auto found = form.fields.find(name);
  return found == form.fields.end() ? "" : found->second;
}

std::string base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int length =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                      reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(length));
  return out;
}

std::string unbase64(const std::string& text) {
  std::string out(3 * (text.size() / 4) + 3, '\0');
  int length =
      EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                      reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
  if (length < 0) return "";
  size_t padding = 0;
  for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) ++padding;
  out.resize(static_cast<size_t>(length) - std::min(padding, static_cast<size_t>(length)));
  return out;
}

const std::string kNotFound = http_response(404, "text/plain", "not found\n");
const std::string kForbidden = http_response(403, "text/plain", "forbidden\n");
const std::string kBadRequest = http_response(400, "text/plain", "bad request\n");

}  // namespace

struct ResourceServer::Client {
  std::unique_ptr<sync_peer::Connection> connection;
  std::atomic<bool> done{false};
  std::thread thread;
};

ResourceServer::ResourceServer(SyncStore& store, std::mutex& store_mutex, std::vector<unsigned char> key,
                               const ServerIdentity& identity, uint16_t port, int idle_timeout_ms,
                               std::string pictures_directory, std::string shared_directory)
    : store_(store),
      mutex_(store_mutex),
      key_(std::move(key)),
      pictures_directory_(std::move(pictures_directory)),
      shared_directory_(std::move(shared_directory)) {
  sync_peer::TlsServerSettings settings;
  settings.certificate_pem = identity.certificate_pem;
  settings.key_pem = identity.key_pem;
  settings.port = port;
  settings.idle_timeout_ms = idle_timeout_ms;
  listener_ = std::make_unique<sync_peer::TlsListener>(settings);
  if (listener_->port() == 0) throw std::runtime_error("cannot listen for resource requests");
  acceptor_ = std::thread([this] { accept_loop(); });
}

ResourceServer::~ResourceServer() {
  release();
  listener_->shutdown();
  acceptor_.join();
  std::lock_guard<std::mutex> lock(clients_mutex_);
  for (auto& client : clients_) client->connection->shutdown();
  for (auto& client : clients_) client->thread.join();
}

void ResourceServer::accept_loop() {
  while (std::unique_ptr<sync_peer::Connection> connection = listener_->accept()) {
    std::lock_guard<std::mutex> lock(clients_mutex_);
    // Threads of answered connections are joined as new ones come.
    for (auto it = clients_.begin(); it != clients_.end();) {
      if ((*it)->done) {
        (*it)->thread.join();
        it = clients_.erase(it);
      } else {
        ++it;
      }
    }
    auto client = std::make_unique<Client>();
    client->connection = std::move(connection);
    Client* raw = client.get();
    client->thread = std::thread([this, raw] { serve(*raw); });
    clients_.push_back(std::move(client));
  }
}

void ResourceServer::serve(Client& client) {
  std::string bytes;
  std::string error;
  unsigned char buffer[65536];
  std::string response;
  for (;;) {
    long n = client.connection->read(buffer, sizeof(buffer));
    if (n <= 0) break;
    bytes.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    std::optional<HttpRequest> request = parse_http_request(bytes, kMaxBody, &error);
    if (request) {
      {
        std::unique_lock<std::mutex> lock(control_mutex_);
        ++waiting_;
        control_changed_.notify_all();
        control_changed_.wait(lock, [this] { return !held_; });
        --waiting_;
      }
      response = respond(*request);
      break;
    }
    if (!error.empty()) {
      response = kBadRequest;
      break;
    }
  }
  if (!response.empty())
    client.connection->write_all(reinterpret_cast<const unsigned char*>(response.data()), response.size());
  client.connection->shutdown();
  client.done = true;
}

std::string ResourceServer::respond(const HttpRequest& request) {
  constexpr char kPictures[] = "/kestrun-zero-inbox/";
  if (request.method == "GET" && request.path.rfind(kPictures, 0) == 0)
    return picture(request.path.substr(sizeof(kPictures) - 1));
  if (request.method != "POST") return kBadRequest;
  FormData form;
  if (!parse_form(request, &form)) return kBadRequest;
  std::vector<std::string> segments = split_path(request.path);
  // The operation is the last segment of its name in the path; what follows are its arguments.
  for (size_t i = segments.size(); i-- > 0;) {
    const std::string& name = segments[i];
    std::vector<std::string> rest(segments.begin() + static_cast<std::ptrdiff_t>(i) + 1, segments.end());
    if (i == 0 && name == "s" && rest.size() == 2) {
      count(name);
      return shared_file(rest, form);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    try {
      if ((name == "body" || name == "text_body") && rest.size() == 2) count(name);
      if (name == "attachment_download" && rest.size() == 3) count(name);
      if (name == "s3_download" && rest.size() == 4) count(name);
      if (name == "upload" && rest.empty()) count(name);
      if (name == "body" && rest.size() == 2) return body(rest, form, false);
      if (name == "text_body" && rest.size() == 2) return body(rest, form, true);
      if (name == "attachment_download" && rest.size() == 3) return attachment(rest, form);
      if (name == "s3_download" && rest.size() == 4) return stored_upload(rest, form);
      if (name == "upload" && rest.empty()) return upload(form);
    } catch (const std::exception&) {
      return http_response(500, "text/plain", "server error\n");
    }
  }
  return kNotFound;
}

std::string ResourceServer::picture(const std::string& name) {
  const bool image = name.size() > 4 && name.compare(name.size() - 4, 4, ".jpg") == 0;
  const bool description = name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0;
  if ((!image && !description) || name.find('/') != std::string::npos || name[0] == '.') return kNotFound;
  std::ifstream file(pictures_directory_ + "/" + name, std::ios::binary);
  if (!file) return kNotFound;
  std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return http_response(200, image ? "image/jpeg" : "application/json", content);
}

std::string ResourceServer::shared_file(const std::vector<std::string>& segments, const FormData& form) {
  // Shared links are public: a request that sends credentials (or anything else) is not one.
  if (!form.fields.empty() || !form.file_name.empty()) return kBadRequest;
  for (const std::string& segment : segments) {
    if (segment.empty() || segment[0] == '.' || segment.find('/') != std::string::npos) return kNotFound;
  }
  if (shared_directory_.empty()) return kNotFound;
  std::ifstream file(shared_directory_ + "/" + segments[0] + "/" + segments[1], std::ios::binary);
  if (!file) return kNotFound;
  std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  return http_response(200, "application/octet-stream", content);
}

void ResourceServer::count(const std::string& operation) {
  std::lock_guard<std::mutex> lock(control_mutex_);
  ++served_[operation];
}

size_t ResourceServer::served(const std::string& operation) {
  std::lock_guard<std::mutex> lock(control_mutex_);
  auto found = served_.find(operation);
  return found == served_.end() ? 0 : found->second;
}

void ResourceServer::hold() {
  std::lock_guard<std::mutex> lock(control_mutex_);
  held_ = true;
}

void ResourceServer::release() {
  std::lock_guard<std::mutex> lock(control_mutex_);
  held_ = false;
  control_changed_.notify_all();
}

bool ResourceServer::wait_for_held(size_t count) {
  std::unique_lock<std::mutex> lock(control_mutex_);
  return control_changed_.wait_for(lock, std::chrono::seconds(60), [&] { return waiting_ >= count; });
}

bool ResourceServer::authorized(const FormData& form, json_t* signed_fields) {
  const std::string user_id = field(form, "user_id");
  const std::string device_id = field(form, "device_id");
  const std::string secret = field(form, "device_secret");
  std::optional<StoredRecord> device = store_.record("device", device_id);
  JsonPtr doc = device ? json_parse(device->doc) : nullptr;
  if (!device || device->parent != user_id || secret.empty() || member_string(doc.get(), "secret") != secret)
    return false;
  json_object_set_new(signed_fields, "user_id", json_string(user_id.c_str()));
  json_object_set_new(signed_fields, "device_id", json_string(device_id.c_str()));
  json_object_set_new(signed_fields, "device_secret", json_string(secret.c_str()));
  const std::string expected = object_signature(key_, signed_fields, field(form, "nonce"));
  const std::string given = field(form, "sig");
  return given.size() == expected.size() && strcasecmp(given.c_str(), expected.c_str()) == 0;
}

std::string ResourceServer::body(const std::vector<std::string>& segments, const FormData& form,
                                 bool as_text) {
  const std::string& account_id = segments[0];
  const std::string& email_id = segments[1];
  JsonPtr fields(json_pack("{s:s, s:s}", "account_id", account_id.c_str(), "email_id", email_id.c_str()));
  if (!authorized(form, fields.get())) return kForbidden;
  if (!store_.record("user_account", field(form, "user_id") + "/" + account_id)) return kNotFound;
  std::optional<StoredObject> email = store_.object(account_id, "email", email_id);
  if (!email) return kNotFound;
  JsonPtr doc = json_parse(email->doc);
  const std::string html = member_string(doc.get(), "conversation");
  if (as_text) return http_response(200, "text/plain; charset=utf-8", html_text(html));
  return http_response(200, "text/html; charset=utf-8", html);
}

std::string ResourceServer::attachment(const std::vector<std::string>& segments, const FormData& form) {
  const std::string& account_id = segments[0];
  const std::string& email_id = segments[1];
  const std::string& attachment_id = segments[2];
  JsonPtr fields(json_pack("{s:s, s:s, s:s}", "account_id", account_id.c_str(), "email_id", email_id.c_str(),
                           "part_id", attachment_id.c_str()));
  if (!authorized(form, fields.get())) return kForbidden;
  if (!store_.record("user_account", field(form, "user_id") + "/" + account_id)) return kNotFound;
  std::optional<StoredObject> attachment = store_.object(account_id, "attachment", attachment_id);
  JsonPtr doc = attachment ? json_parse(attachment->doc) : nullptr;
  if (!doc || member_string(doc.get(), "email_id") != email_id) return kNotFound;
  return http_response(200, member_string(doc.get(), "mime_type", "application/octet-stream"),
                       member_string(doc.get(), "content"));
}

std::string ResourceServer::stored_upload(const std::vector<std::string>& segments, const FormData& form) {
  const std::string& account_id = segments[0];
  const std::string& email_id = segments[1];
  const std::string& attachment_id = segments[2];
  JsonPtr fields(json_pack("{s:s, s:s, s:s, s:s}", "account_id", account_id.c_str(), "email_id",
                           email_id.c_str(), "attachment_id", attachment_id.c_str(), "filename",
                           segments[3].c_str()));
  if (!authorized(form, fields.get())) return kForbidden;
  if (!store_.record("user_account", field(form, "user_id") + "/" + account_id)) return kNotFound;
  std::optional<StoredObject> upload = store_.object(account_id, "upload", email_id + "/" + attachment_id);
  if (!upload) return kNotFound;
  JsonPtr doc = json_parse(upload->doc);
  return http_response(200, "application/octet-stream", unbase64(member_string(doc.get(), "content_base64")));
}

std::string ResourceServer::upload(const FormData& form) {
  const std::string account_id = field(form, "account_id");
  const std::string email_id = field(form, "email_id");
  const std::string uuid = field(form, "uuid");
  JsonPtr fields(json_object());
  for (const char* name : {"account_id", "email_id", "filename", "filesize", "uuid"})
    json_object_set_new(fields.get(), name, json_string(field(form, name).c_str()));
  if (!authorized(form, fields.get())) return kForbidden;
  if (account_id.empty() || email_id.empty() || uuid.empty() || form.file_name.empty() ||
      field(form, "filesize") != std::to_string(form.file.size()))
    return kBadRequest;
  if (!store_.record("user_account", field(form, "user_id") + "/" + account_id)) return kNotFound;
  JsonPtr doc(json_pack("{s:s, s:s, s:s, s:s}", "_id", (email_id + "/" + uuid).c_str(), "email_id",
                        email_id.c_str(), "name", field(form, "filename").c_str(), "content_base64",
                        base64(form.file).c_str()));
  SyncStore::Transaction transaction(store_);
  store_.save(account_id, "upload", email_id + "/" + uuid, doc.get());
  transaction.commit();
  const std::string url = "kestrun://s3_download/" + account_id + "/" + email_id + "/" + uuid;
  return http_response(200, "application/json",
                       json_text(JsonPtr(json_pack("{s:s}", "url", url.c_str())).get()));
}

}  // namespace sync_server
