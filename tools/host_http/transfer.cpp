#include "tools/host_http/transfer.h"

#include <strings.h>

#include <algorithm>
#include <mutex>
#include <utility>

#include "tools/host_http/trust_anchors.h"

namespace kestrun_host {
namespace {

const char kProtocols[] = "http,https";
const long kMaxRedirects = 10;
const int kLongestWaitMs = 1000;

void global_init() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

Transfer::Transfer(Sink sink) : sink_(std::move(sink)) {
  global_init();
  easy_.reset(curl_easy_init());
  multi_.reset(curl_multi_init());
  headers_.reset(curl_slist_append(nullptr, "Expect:"));
  if (!easy_ || !multi_ || !headers_) return;
  CURL* e = easy_.get();
  ok_ = curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, kProtocols) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, kProtocols) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
        // An ended transfer leaves a host-name lookup still in progress to finish on its own
        // thread; otherwise removing the handle joins that thread, and a stop or time-out waits
        // for the system resolver.
        curl_easy_setopt(e, CURLOPT_QUICK_EXIT, 1L) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_.get()) == CURLE_OK &&
        // No CA file or directory of the system: the anchors come from use_default_trust_anchors.
        curl_easy_setopt(e, CURLOPT_CAINFO, nullptr) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_CAPATH, nullptr) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, &use_default_trust_anchors) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::on_write) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_WRITEDATA, this) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Transfer::on_progress) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_XFERINFODATA, this) == CURLE_OK &&
        curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L) == CURLE_OK;
}

bool Transfer::limit_redirects_for(const std::string& url) {
  const bool secure = url.size() >= 6 && strncasecmp(url.c_str(), "https:", 6) == 0;
  return curl_easy_setopt(easy_.get(), CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : kProtocols) ==
         CURLE_OK;
}

size_t Transfer::on_write(char* data, size_t size, size_t count, void* self) {
  auto* transfer = static_cast<Transfer*>(self);
  transfer->last_activity_ = std::chrono::steady_clock::now();
  size_t bytes = size * count;
  // Any count other than `bytes` makes libcurl fail the transfer with CURLE_WRITE_ERROR.
  return transfer->sink_(data, bytes) ? bytes : 0;
}

int Transfer::on_progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t up) {
  auto* transfer = static_cast<Transfer*>(self);
  if (up != transfer->uploaded_) {
    transfer->uploaded_ = up;
    transfer->last_activity_ = std::chrono::steady_clock::now();
  }
  return transfer->cancelled_ ? 1 : 0;
}

CURLcode Transfer::run(int idle_timeout_ms) {
  if (!ok_) return CURLE_FAILED_INIT;
  if (curl_multi_add_handle(multi_.get(), easy_.get()) != CURLM_OK) return CURLE_FAILED_INIT;
  last_activity_ = std::chrono::steady_clock::now();
  CURLcode result = CURLE_RECV_ERROR;
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
    if (running == 0) {
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
        if (message->msg == CURLMSG_DONE) result = message->data.result;
      }
      break;
    }
    if (cancelled_) {
      result = CURLE_ABORTED_BY_CALLBACK;
      break;
    }
    int wait_ms = kLongestWaitMs;
    if (idle_timeout_ms > 0) {
      auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                        last_activity_);
      if (idle.count() >= idle_timeout_ms) {
        result = CURLE_OPERATION_TIMEDOUT;
        break;
      }
      wait_ms = std::min<int>(wait_ms, static_cast<int>(idle_timeout_ms - idle.count()));
    }
    // libcurl shortens the wait to its own next deadline; cancel wakes it at once.
    if (curl_multi_poll(multi_.get(), nullptr, 0, wait_ms, nullptr) != CURLM_OK) {
      result = CURLE_FAILED_INIT;
      break;
    }
  }
  curl_multi_remove_handle(multi_.get(), easy_.get());
  return result;
}

long Transfer::status() const {
  long code = 0;
  if (curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &code) != CURLE_OK) return 0;
  return code;
}

void Transfer::cancel() {
  cancelled_ = true;
  if (multi_) curl_multi_wakeup(multi_.get());
}

}  // namespace kestrun_host
