#include "core/services/ks_http.h"

#include <utility>

#include "core/foundation/json_conversion.h"
#include "core/foundation/thread_pool.h"

namespace KSHttp {
namespace {

std::mutex functions_mutex;
DownloadFunction download_function;  // guarded by functions_mutex
UploadFunction upload_function;      // guarded by functions_mutex

DownloadFunction current_download_function() {
  std::lock_guard<std::mutex> lock(functions_mutex);
  return download_function;
}

UploadFunction current_upload_function() {
  std::lock_guard<std::mutex> lock(functions_mutex);
  return upload_function;
}

// Releases the one reference the send function holds.
struct JsonRef {
  explicit JsonRef(const jsonette::Json& value) : value(patch::jansson_from_json(value)) {}
  ~JsonRef() { json_decref(value); }
  JsonRef(const JsonRef&) = delete;
  JsonRef& operator=(const JsonRef&) = delete;
  json_t* value;
};

void add_listener(std::vector<Listener>& list, Listener listener) {
  if (listener) list.push_back(std::move(listener));
}

}  // namespace

void setDownloadFunction(DownloadFunction function) {
  std::lock_guard<std::mutex> lock(functions_mutex);
  download_function = std::move(function);
}

void setUploadFunction(UploadFunction function) {
  std::lock_guard<std::mutex> lock(functions_mutex);
  upload_function = std::move(function);
}

void Downloader::initialize(DownloadHook hook) {
  setDownloadFunction([hook = std::move(hook)](const std::string& url, const std::string& method,
                                               const jsonette::Json& params, int timeout, int retries,
                                               ProgressFunction progress, bool to_file) {
    JsonRef json(params);
    return hook(url, method, json.value, timeout, retries, std::move(progress), to_file);
  });
}

void Uploader::initialize(UploadHook hook) {
  setUploadFunction([hook = std::move(hook)](const std::string& url, const std::string& method,
                                             const jsonette::Json& params, const std::string& file_path,
                                             const std::string& file_name, int timeout, int retries) {
    JsonRef json(params);
    return hook(url, method, json.value, file_path, file_name, timeout, retries);
  });
}

Downloader::Downloader(std::string url, int timeout, int retries, ResponseCallback success,
                       ResponseCallback failure, ResponseCallback client_error, ProgressFunction progress)
    : url_(std::move(url)),
      timeout_(timeout),
      retries_(retries),
      success_(std::move(success)),
      failure_(std::move(failure)),
      client_error_(std::move(client_error)),
      progress_(std::move(progress)) {}

void Downloader::setSuccessCallback(ResponseCallback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  success_ = std::move(callback);
}

void Downloader::setFailureCallback(ResponseCallback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  failure_ = std::move(callback);
}

void Downloader::setClientErrorCallback(ResponseCallback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  client_error_ = std::move(callback);
}

void Downloader::setProgressCallback(ProgressFunction callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  progress_ = std::move(callback);
}

void Downloader::downloadHelper(const std::string& method, const jsonette::Json& params, bool to_file) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++in_flight_;
  }
  libkestrun::thread_pool::post(
      [self = shared_from_this(), method, params, to_file] { self->run(method, params, to_file); });
}

void Downloader::run(const std::string& method, const jsonette::Json& params, bool to_file) {
  ProgressFunction progress;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    progress = progress_;
  }
  Response response;
  if (DownloadFunction send = current_download_function()) {
    response = send(url_, method, params, timeout_, retries_, std::move(progress), to_file);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (response.status == 200 && success_) {
    success_(response);
  } else if (response.status >= 400 && response.status <= 499 && client_error_) {
    client_error_(response);
  } else if (failure_) {
    failure_(response);
  }
  --in_flight_;
}

bool Downloader::isDownloading() {
  std::lock_guard<std::mutex> lock(mutex_);
  return in_flight_ > 0;
}

void Downloader::addSuccessListener(Listener listener) {
  add_listener(success_listeners_, std::move(listener));
}
void Downloader::addFailureListener(Listener listener) {
  add_listener(failure_listeners_, std::move(listener));
}
void Downloader::addClientErrorListener(Listener listener) {
  add_listener(client_error_listeners_, std::move(listener));
}
void Downloader::addProgressListener(Listener listener) {
  add_listener(progress_listeners_, std::move(listener));
}

void Downloader::notifySuccess(json_t* value) {
  std::vector<Listener> listeners = success_listeners_;
  for (const Listener& listener : listeners) listener(value);
  clearListeners();
}

void Downloader::notifyFailure(json_t* value) {
  std::vector<Listener> listeners = failure_listeners_;
  for (const Listener& listener : listeners) listener(value);
  clearListeners();
}

void Downloader::notifyClientError(json_t* value) {
  std::vector<Listener> listeners = client_error_listeners_;
  for (const Listener& listener : listeners) listener(value);
  clearListeners();
}

void Downloader::notifyProgress(json_t* value) {
  std::vector<Listener> listeners = progress_listeners_;
  for (const Listener& listener : listeners) listener(value);
}

void Downloader::clearListeners() {
  success_listeners_.clear();
  failure_listeners_.clear();
  client_error_listeners_.clear();
  progress_listeners_.clear();
}

Uploader::Uploader(std::string url, std::shared_ptr<libkestrun::TaskManager> task_manager, int timeout,
                   int retries, ResponseCallback success, ResponseCallback failure)
    : task_manager_(std::move(task_manager)),
      task_(task_manager_->start_task()),
      url_(std::move(url)),
      timeout_(timeout),
      retries_(retries),
      success_(std::move(success)),
      failure_(std::move(failure)) {}

void Uploader::setSuccessCallback(ResponseCallback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  success_ = std::move(callback);
}

void Uploader::setFailureCallback(ResponseCallback callback) {
  std::lock_guard<std::mutex> lock(mutex_);
  failure_ = std::move(callback);
}

void Uploader::post(const jsonette::Json& params, const std::string& file_path,
                    const std::string& file_name) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++in_flight_;
  }
  libkestrun::thread_pool::post(
      [self = shared_from_this(), params, file_path, file_name] { self->run(params, file_path, file_name); });
}

void Uploader::run(const jsonette::Json& params, const std::string& file_path, const std::string& file_name) {
  Response response;
  if (UploadFunction send = current_upload_function()) {
    response = send(url_, "POST", params, file_path, file_name, timeout_, retries_);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (response.status == 200 && success_) {
    success_(response);
  } else if (failure_) {
    failure_(response);
  }
  --in_flight_;
}

bool Uploader::isUploading() {
  std::lock_guard<std::mutex> lock(mutex_);
  return in_flight_ > 0;
}

}  // namespace KSHttp
