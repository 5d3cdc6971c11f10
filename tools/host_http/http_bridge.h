// The host's two HTTP hooks, over libcurl. Each call is one synchronous exchange on the calling
// thread (the core's worker pool).
//
//   download: "GET" sends the params as the query string, "POST" as URL-encoded form fields
//             (values that are not strings as their JSON text); other methods fail. With to_file the body goes to a
//             new file named by a fresh UUID in the download directory, whose path is returned;
//             it is kept only for status 200. Progress receives the body bytes so far.
//   upload:   a multipart POST of the params as fields and the file as a part named by the file
//             name, sent as it stood when the upload began. Status 200 only when the reply is a JSON object with "url"; the body is then
//             that reply. Another HTTP status is returned as it is, with no body.
//
// Every result carries the real HTTP status, or 0 when the exchange failed below HTTP: refused,
// TLS or certificate failure, nothing moved for `timeout` milliseconds, stopped, a URL (or a
// redirect target) that is not http or https, or for an upload a reply that is not the expected
// JSON. Retry counts are the caller's business and not used. Params never reach a log.
//
// stop() ends running exchanges at once with status 0, and later calls fail at once, so that
// shut-down never waits for a stalled server. Any thread may call it.
#pragma once

#include <jansson.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "core/services/ks_http.h"

namespace kestrun_host {

class Transfer;

class HttpBridge {
 public:
  // To-file downloads go into `download_directory`, which the host has created.
  explicit HttpBridge(std::string download_directory);
  ~HttpBridge();
  HttpBridge(const HttpBridge&) = delete;
  HttpBridge& operator=(const HttpBridge&) = delete;

  KSHttp::Response download(const std::string& url, const std::string& method, json_t* params, int timeout,
                            int retries, KSHttp::ProgressFunction progress, bool to_file);
  KSHttp::Response upload(const std::string& url, const std::string& method, json_t* params,
                          const std::string& file_path, const std::string& file_name, int timeout,
                          int retries);

  void stop();

  // Hooks for KSHttp::Downloader::initialize and KSHttp::Uploader::initialize; they keep the
  // bridge alive.
  static KSHttp::DownloadHook download_hook(std::shared_ptr<HttpBridge> bridge);
  static KSHttp::UploadHook upload_hook(std::shared_ptr<HttpBridge> bridge);

 private:
  // Runs `transfer` unless the bridge is stopped; the libcurl result.
  int run(Transfer& transfer, int timeout);

  const std::string download_directory_;
  std::mutex mutex_;
  bool stopped_ = false;         // guarded by mutex_
  std::set<Transfer*> running_;  // guarded by mutex_
};

}  // namespace kestrun_host
