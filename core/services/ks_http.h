// Plain HTTP transfers of the core (full bodies, attachments, invitation answers, uploads, the
// protocol trace). The core speaks no HTTP itself: the host hands it two synchronous hooks, each
// doing one whole exchange on the calling thread. A Downloader or Uploader stands for one URL
// with its time-out, retry count and result callbacks; each transfer runs its hook on the worker
// pool (core/foundation/thread_pool.h) and hands the outcome to a callback chosen by the status.
//
// Threads: transfers and their callbacks run on a worker thread; the callbacks run with the
// object's mutex held, so a callback must not call a setter or isDownloading/isUploading of the
// same object (the mutex is not recursive). The notify operations take no lock. The hook calls
// the progress function on whatever thread it uses.
//
// Lifetime: users hold both classes by std::shared_ptr (create them with std::make_shared); a
// running transfer holds its own reference until its callback has returned.
#pragma once

#include <jansson.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/foundation/task_manager.h"
#include "jsonette/json.h"

namespace KSHttp {

struct Response {
  // The HTTP status; 200 is success. 0 means the exchange failed below HTTP (no connection, TLS
  // or certificate failure, time-out, cancellation, a refused URL).
  int32_t status = 0;
  std::string file_path;  // for to-file downloads, the file the body was written to; else empty
  int64_t body_size = 0;
  const char* body = nullptr;  // body_size bytes, owned by body_owner
  // Keeps the body bytes alive for as long as any copy of the response exists.
  std::shared_ptr<const void> body_owner;
};

using ProgressFunction = std::function<void(int64_t bytes_so_far)>;

// The hooks as the host supplies them. `params` is a borrowed reference.
using DownloadHook =
    std::function<Response(const std::string& url, const std::string& method, json_t* params, int timeout,
                           int retries, ProgressFunction progress, bool to_file)>;
using UploadHook = std::function<Response(const std::string& url, const std::string& method, json_t* params,
                                          const std::string& file_path, const std::string& file_name,
                                          int timeout, int retries)>;

// The process-wide send functions: the hooks with params as jsonette values.
using DownloadFunction =
    std::function<Response(const std::string& url, const std::string& method, const jsonette::Json& params,
                           int timeout, int retries, ProgressFunction progress, bool to_file)>;
using UploadFunction = std::function<Response(const std::string& url, const std::string& method,
                                              const jsonette::Json& params, const std::string& file_path,
                                              const std::string& file_name, int timeout, int retries)>;

// Replace the process-wide send functions; any thread. Until one is set, its transfers fail with
// status 0.
void setDownloadFunction(DownloadFunction function);
void setUploadFunction(UploadFunction function);

using ResponseCallback = std::function<void(Response)>;
using Listener = std::function<void(json_t*)>;

class Downloader : public std::enable_shared_from_this<Downloader> {
 public:
  // Installs a send function that converts params to jansson and calls `hook`.
  static void initialize(DownloadHook hook);

  explicit Downloader(std::string url, int timeout = 60000, int retries = 0,
                      ResponseCallback success = nullptr, ResponseCallback failure = nullptr,
                      ResponseCallback client_error = nullptr, ProgressFunction progress = nullptr);
  Downloader(const Downloader&) = delete;
  Downloader& operator=(const Downloader&) = delete;

  void setSuccessCallback(ResponseCallback callback);
  void setFailureCallback(ResponseCallback callback);
  // For statuses 400 to 499.
  void setClientErrorCallback(ResponseCallback callback);
  void setProgressCallback(ProgressFunction callback);

  void get(const jsonette::Json& params) { downloadHelper("GET", params, false); }
  void post(const jsonette::Json& params) { downloadHelper("POST", params, false); }
  void getToFile(const jsonette::Json& params) { downloadHelper("GET", params, true); }
  void postToFile(const jsonette::Json& params) { downloadHelper("POST", params, true); }
  // Starts a transfer on the worker pool and returns at once. Then: 200 goes to the success
  // callback when set; else 400 to 499 to the client-error callback when set; every other case to
  // the failure callback when set, and otherwise nowhere.
  void downloadHelper(const std::string& method, const jsonette::Json& params, bool to_file);

  // True from downloadHelper until the transfer's callback has returned, while any of several
  // overlapping transfers is in flight.
  bool isDownloading();

  // Listener lists for an owner that lets several waiting parties share one downloader. Not
  // guarded: the owner serialises adding and notifying. The downloader never notifies by itself.
  void addSuccessListener(Listener listener);  // an empty function is ignored (all four)
  void addFailureListener(Listener listener);
  void addClientErrorListener(Listener listener);
  void addProgressListener(Listener listener);
  // Call a copy of that list in the order added, then empty all four lists.
  void notifySuccess(json_t* value);
  void notifyFailure(json_t* value);
  void notifyClientError(json_t* value);
  // Calls the progress listeners and leaves every list as it is.
  void notifyProgress(json_t* value);
  void clearListeners();

 private:
  void run(const std::string& method, const jsonette::Json& params, bool to_file);

  const std::string url_;
  const int timeout_;
  const int retries_;
  std::mutex mutex_;
  // Transfers started and not yet dispatched; guarded by mutex_, as are the four callbacks.
  int in_flight_ = 0;
  ResponseCallback success_;
  ResponseCallback failure_;
  ResponseCallback client_error_;
  ProgressFunction progress_;
  std::vector<Listener> success_listeners_;
  std::vector<Listener> failure_listeners_;
  std::vector<Listener> client_error_listeners_;
  std::vector<Listener> progress_listeners_;
};

class Uploader : public std::enable_shared_from_this<Uploader> {
 public:
  static void initialize(UploadHook hook);

  // Counts as one running task of `task_manager` for its whole life.
  Uploader(std::string url, std::shared_ptr<libkestrun::TaskManager> task_manager, int timeout = 60000,
           int retries = 0, ResponseCallback success = nullptr, ResponseCallback failure = nullptr);
  Uploader(const Uploader&) = delete;
  Uploader& operator=(const Uploader&) = delete;

  void setSuccessCallback(ResponseCallback callback);
  void setFailureCallback(ResponseCallback callback);

  // Starts a multipart POST of `params` and the file on the worker pool and returns at once.
  // 200 goes to the success callback when set; everything else to the failure callback when set.
  void post(const jsonette::Json& params, const std::string& file_path, const std::string& file_name);

  // True while any upload of this object is in flight.
  bool isUploading();

 private:
  void run(const jsonette::Json& params, const std::string& file_path, const std::string& file_name);

  const std::shared_ptr<libkestrun::TaskManager> task_manager_;  // outlives task_
  libkestrun::TaskHandle task_;
  const std::string url_;
  const int timeout_;
  const int retries_;
  std::mutex mutex_;
  // Uploads started and not yet dispatched; guarded by mutex_, as are the two callbacks.
  int in_flight_ = 0;
  ResponseCallback success_;
  ResponseCallback failure_;
};

}  // namespace KSHttp
