// The server's HTTPS side on a second port: full bodies (HTML and text), attachments of received
// mail, attachments uploaded with sent mail, and uploads. One request per connection, answered
// and closed. Every request carries the device's credentials and the signature of its fields
// (object_signature.h); a bad one is answered 403, an unknown resource 404.
//
//   POST .../body/{account}/{email}                    signed: account_id email_id + credentials
//   POST .../text_body/{account}/{email}               the same; the body as plain text
//   POST .../attachment_download/{account}/{email}/{attachment}   signed: + part_id
//   POST .../s3_download/{account}/{email}/{attachment}/{file}    signed: + attachment_id filename
//   POST .../upload   multipart fields account_id device_id device_secret email_id filename
//                     filesize user_id uuid sig nonce, and the file; answers {"url"}
//   GET /kestrun-zero-inbox/{date}.json and .jpg      the day's empty-inbox picture and its
//                     description, unsigned, read from the pictures directory (404 when absent)
//   POST /s/{attachment}/{file}   a file shared through a link: unsigned, and refused (400)
//                     when the request carries any field; read from the shared directory,
//                     "<attachment>/<file>" (404 when absent)
//
// Test control: requests served are counted by operation, and answers can be held back until
// released, so that a test can start a second request while the first is still unanswered.
//
// Threads: one accepts, one per connection reads and answers; the store is used under the mutex
// the owner gives, the same one the sync side holds.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/sync_peer/tls_transport.h"
#include "tools/sync_server/certificate_authority.h"
#include "tools/sync_server/http_request.h"
#include "tools/sync_server/sync_store.h"

namespace sync_server {

class ResourceServer {
 public:
  // Throws std::runtime_error when it cannot listen. A connection that sends nothing for
  // `idle_timeout_ms` is closed, so that silent clients do not hold a thread each for ever.
  ResourceServer(SyncStore& store, std::mutex& store_mutex, std::vector<unsigned char> key,
                 const ServerIdentity& identity, uint16_t port, int idle_timeout_ms,
                 std::string pictures_directory, std::string shared_directory = "");
  ~ResourceServer();
  ResourceServer(const ResourceServer&) = delete;
  ResourceServer& operator=(const ResourceServer&) = delete;

  uint16_t port() const { return listener_->port(); }

  // The whole response to one request; takes the store mutex.
  std::string respond(const HttpRequest& request);

  // Requests answered so far whose operation (the path's operation segment: "body", "text_body",
  // "attachment_download", "s3_download", "upload", "s") is `operation`.
  size_t served(const std::string& operation);
  // While held, every request is read and then waits before it is answered.
  void hold();
  void release();
  // Waits until `count` requests wait in a hold; false after a generous deadline.
  bool wait_for_held(size_t count);

 private:
  struct Client;

  void accept_loop();
  void serve(Client& client);
  // Answers under the store mutex; `segments` are the decoded path segments after the operation.
  std::string body(const std::vector<std::string>& segments, const FormData& form, bool as_text);
  std::string attachment(const std::vector<std::string>& segments, const FormData& form);
  std::string stored_upload(const std::vector<std::string>& segments, const FormData& form);
  std::string upload(const FormData& form);
  // A file of the pictures directory, by its plain name.
  std::string picture(const std::string& name);
  std::string shared_file(const std::vector<std::string>& segments, const FormData& form);
  void count(const std::string& operation);
  // True when the form's credentials name a device of the user and `signed_fields` (taken from the
  // form or the path) carry the form's signature.
  bool authorized(const FormData& form, json_t* signed_fields);

  SyncStore& store_;
  std::mutex& mutex_;
  std::vector<unsigned char> key_;
  const std::string pictures_directory_;
  const std::string shared_directory_;
  std::mutex control_mutex_;
  std::condition_variable control_changed_;
  std::map<std::string, size_t> served_;  // guarded by control_mutex_, as are the two below
  bool held_ = false;
  size_t waiting_ = 0;
  std::unique_ptr<sync_peer::TlsListener> listener_;
  std::mutex clients_mutex_;
  std::vector<std::unique_ptr<Client>> clients_;
  std::thread acceptor_;
};

}  // namespace sync_server
