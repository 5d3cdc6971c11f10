#include "tools/host_http/http_bridge.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "brelt/uuid.h"
#include "tools/host_http/curl_handles.h"
#include "tools/host_http/form_fields.h"
#include "tools/host_http/transfer.h"

namespace kestrun_host {
namespace {

// A file created on the first write (so a refused exchange leaves nothing behind) and removed
// again unless it is kept.
class DownloadFile {
 public:
  explicit DownloadFile(std::string path) : path_(std::move(path)) {}
  ~DownloadFile() {
    if (fd_ >= 0) ::close(fd_);
    if (created_ && !kept_) ::unlink(path_.c_str());
  }
  DownloadFile(const DownloadFile&) = delete;
  DownloadFile& operator=(const DownloadFile&) = delete;

  bool write(const char* data, size_t size) {
    if (!open()) return false;
    while (size > 0) {
      ssize_t n = ::write(fd_, data, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  // Completes the file (an empty body still makes one); false when it cannot be written.
  bool keep() {
    if (!open() || ::close(fd_) != 0) return false;
    fd_ = -1;
    kept_ = true;
    return true;
  }

  const std::string& path() const { return path_; }

 private:
  bool open() {
    if (fd_ >= 0) return true;
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    created_ = fd_ >= 0;
    return created_;
  }

  const std::string path_;
  int fd_ = -1;
  bool created_ = false;
  bool kept_ = false;
};

// The file of an upload, sent as it stood when the upload began: a file that grows meanwhile (a
// trace still being written) would otherwise send more bytes than the request declared.
class UploadFile {
 public:
  UploadFile() = default;
  ~UploadFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  UploadFile(const UploadFile&) = delete;
  UploadFile& operator=(const UploadFile&) = delete;

  // Opens a regular file and takes its present size; false when it cannot be read.
  bool open(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status;
    if (fd_ < 0 || ::fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) return false;
    size_ = status.st_size;
    return true;
  }

  // Makes `part` the file's first size() bytes, read as the transfer goes.
  bool attach(curl_mimepart* part) {
    return curl_mime_data_cb(part, size_, &UploadFile::read, &UploadFile::seek, nullptr, this) == CURLE_OK;
  }

 private:
  static size_t read(char* buffer, size_t size, size_t count, void* self) {
    auto* file = static_cast<UploadFile*>(self);
    curl_off_t left = file->size_ - file->offset_;
    if (left <= 0) return 0;
    size_t wanted = std::min(size * count, static_cast<size_t>(left));
    ssize_t n;
    do {
      n = ::pread(file->fd_, buffer, wanted, file->offset_);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return CURL_READFUNC_ABORT;  // unreadable, or shrunk below its declared size
    file->offset_ += n;
    return static_cast<size_t>(n);
  }

  static int seek(void* self, curl_off_t offset, int origin) {
    auto* file = static_cast<UploadFile*>(self);
    if (origin != SEEK_SET || offset < 0 || offset > file->size_) return CURL_SEEKFUNC_FAIL;
    file->offset_ = offset;
    return CURL_SEEKFUNC_OK;
  }

  int fd_ = -1;
  curl_off_t size_ = 0;
  curl_off_t offset_ = 0;  // of the next byte to send
};

KSHttp::Response with_body(int32_t status, std::shared_ptr<const std::string> body) {
  KSHttp::Response response;
  response.status = status;
  response.body = body->data();
  response.body_size = static_cast<int64_t>(body->size());
  response.body_owner = std::move(body);
  return response;
}

// The reply of an upload is accepted when it is a JSON object with a "url" member.
bool is_upload_reply(const std::string& body) {
  json_error_t error;
  json_t* reply = json_loadb(body.data(), body.size(), 0, &error);
  bool accepted = json_is_object(reply) && json_object_get(reply, "url") != nullptr;
  json_decref(reply);
  return accepted;
}

}  // namespace

HttpBridge::HttpBridge(std::string download_directory) : download_directory_(std::move(download_directory)) {}

HttpBridge::~HttpBridge() { stop(); }

void HttpBridge::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  for (Transfer* transfer : running_) transfer->cancel();
}

int HttpBridge::run(Transfer& transfer, int timeout) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_) return CURLE_ABORTED_BY_CALLBACK;
    running_.insert(&transfer);
  }
  CURLcode result = transfer.run(timeout);
  std::lock_guard<std::mutex> lock(mutex_);
  running_.erase(&transfer);
  return result;
}

KSHttp::Response HttpBridge::download(const std::string& url, const std::string& method, json_t* params,
                                      int timeout, int, KSHttp::ProgressFunction progress, bool to_file) {
  if (method != "GET" && method != "POST") return {};
  auto body = std::make_shared<std::string>();
  DownloadFile file(download_directory_ + "/" + brelt::generate_uuid_upper());
  CurlUrl target(curl_url());  // declared before the transfer, whose handle refers to it
  int64_t received = 0;
  Transfer transfer([&](const char* data, size_t size) {
    if (!to_file) {
      body->append(data, size);
    } else if (!file.write(data, size)) {
      return false;
    }
    received += static_cast<int64_t>(size);
    if (progress) progress(received);
    return true;
  });

  std::string fields = url_encoded(form_fields(params));
  if (!target || curl_url_set(target.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return {};
  if (method == "GET" && !fields.empty() &&
      curl_url_set(target.get(), CURLUPART_QUERY, fields.c_str(), CURLU_APPENDQUERY) != CURLUE_OK) {
    return {};
  }
  CURL* easy = transfer.easy();
  if (!transfer.ok() || curl_easy_setopt(easy, CURLOPT_CURLU, target.get()) != CURLE_OK ||
      !transfer.limit_redirects_for(url)) {
    return {};
  }
  if (method == "POST" &&
      (curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE, static_cast<long>(fields.size())) != CURLE_OK ||
       curl_easy_setopt(easy, CURLOPT_COPYPOSTFIELDS, fields.c_str()) != CURLE_OK)) {
    return {};
  }

  if (run(transfer, timeout) != CURLE_OK) return {};
  auto status = static_cast<int32_t>(transfer.status());
  if (!to_file) return with_body(status, std::move(body));
  KSHttp::Response response;
  response.status = status;
  if (status == 200) {
    if (!file.keep()) return {};
    response.file_path = file.path();
  }
  return response;
}

KSHttp::Response HttpBridge::upload(const std::string& url, const std::string&, json_t* params,
                                    const std::string& file_path, const std::string& file_name, int timeout,
                                    int) {
  auto body = std::make_shared<std::string>();
  UploadFile upload_file;  // declared before the transfer, whose handle refers to them
  CurlMime form;
  if (!upload_file.open(file_path)) return {};
  Transfer transfer([&](const char* data, size_t size) {
    body->append(data, size);
    return true;
  });
  CURL* easy = transfer.easy();
  if (!transfer.ok()) return {};
  form.reset(curl_mime_init(easy));
  if (!form) return {};
  for (const auto& [name, value] : form_fields(params)) {
    curl_mimepart* part = curl_mime_addpart(form.get());
    if (!part || curl_mime_name(part, name.c_str()) != CURLE_OK ||
        curl_mime_data(part, value.data(), value.size()) != CURLE_OK) {
      return {};
    }
  }
  curl_mimepart* file = curl_mime_addpart(form.get());
  if (!file || curl_mime_name(file, file_name.c_str()) != CURLE_OK || !upload_file.attach(file) ||
      curl_mime_filename(file, file_name.c_str()) != CURLE_OK ||
      curl_mime_type(file, "application/octet-stream") != CURLE_OK) {
    return {};
  }
  if (curl_easy_setopt(easy, CURLOPT_URL, url.c_str()) != CURLE_OK || !transfer.limit_redirects_for(url) ||
      curl_easy_setopt(easy, CURLOPT_MIMEPOST, form.get()) != CURLE_OK) {
    return {};
  }

  if (run(transfer, timeout) != CURLE_OK) return {};
  auto status = static_cast<int32_t>(transfer.status());
  if (status != 200) {
    KSHttp::Response response;
    response.status = status;
    return response;
  }
  if (!is_upload_reply(*body)) return {};
  return with_body(200, std::move(body));
}

KSHttp::DownloadHook HttpBridge::download_hook(std::shared_ptr<HttpBridge> bridge) {
  return [bridge = std::move(bridge)](const std::string& url, const std::string& method, json_t* params,
                                      int timeout, int retries, KSHttp::ProgressFunction progress,
                                      bool to_file) {
    return bridge->download(url, method, params, timeout, retries, std::move(progress), to_file);
  };
}

KSHttp::UploadHook HttpBridge::upload_hook(std::shared_ptr<HttpBridge> bridge) {
  return [bridge = std::move(bridge)](const std::string& url, const std::string& method, json_t* params,
                                      const std::string& file_path, const std::string& file_name, int timeout,
                                      int retries) {
    return bridge->upload(url, method, params, file_path, file_name, timeout, retries);
  };
}

}  // namespace kestrun_host
