// One HTTP exchange driven by libcurl's multi interface on the calling thread, so that another
// thread can end it at once (cancel) and so that "nothing moved for the time-out" is measured
// here rather than by libcurl's whole-transfer limits.
//
// The easy handle comes set up for the hooks' rules: only "http" and "https", also after
// redirects; TLS peers verified against the default context's anchors, host names checked; no
// "Expect: 100-continue" round trip; a host-name lookup still running when the transfer ends is
// left behind rather than waited for. The owner adds the request (URL, method, body) before run.
//
// Threads: one thread calls run and the setters; cancel may come from any thread while run runs.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "tools/host_http/curl_handles.h"

namespace kestrun_host {

class Transfer {
 public:
  // Receives the reply body in pieces; false fails the transfer.
  using Sink = std::function<bool(const char* data, size_t size)>;

  explicit Transfer(Sink sink);
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  // False when libcurl could not set up the handles; run then fails at once.
  bool ok() const { return ok_; }
  CURL* easy() const { return easy_.get(); }
  // Redirects may lead to http or https, except from an https address, whose redirects stay on
  // https: the form fields (device secret, signatures) that a 307 or 308 sends again must never
  // cross the network in clear. Called with the address the transfer starts from.
  bool limit_redirects_for(const std::string& url);

  // Runs the exchange to its end. `idle_timeout_ms` > 0 ends it when no byte went either way for
  // that long (CURLE_OPERATION_TIMEDOUT); cancel ends it with CURLE_ABORTED_BY_CALLBACK.
  CURLcode run(int idle_timeout_ms);
  // The status of the last reply; 0 when there was none.
  long status() const;

  void cancel();

 private:
  static size_t on_write(char* data, size_t size, size_t count, void* self);
  static int on_progress(void* self, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up);

  Sink sink_;
  CurlEasy easy_;
  CurlMulti multi_;
  CurlSlist headers_;
  bool ok_ = false;
  std::atomic<bool> cancelled_{false};
  // Touched only by the thread in run (libcurl calls back on it).
  std::chrono::steady_clock::time_point last_activity_;
  curl_off_t uploaded_ = 0;
};

}  // namespace kestrun_host
