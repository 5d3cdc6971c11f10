// GET requests that must succeed eventually, even across restarts (the answer to a meeting
// invitation). Each request is saved in the key-value store until it succeeds and is fetched
// through the host's download hook (KSHttp::Downloader) on the worker pool.
//
// A request that fails below HTTP (status -99 to 99, which covers the hook's 0) or with 5xx is
// retried after a random wait below its bound, as a new request with a new id and the next bound:
// bounds start where the caller says and double up to a cap (1, 2, 4, 8, 16, 32, 32, ...). Any
// other failure (4xx, 3xx) leaves the request saved until the next start. A newer request for the
// same e-mail supersedes the older ones: their pending retries issue nothing, and those that failed
// for good are dropped rather than issued again at the next start. Only "http" and
// "https" URLs are taken; any other is logged and dropped, never saved or fetched.
//
// Saved queue, under "http.queue.saved.urls": {"requests": {<id>: <request JSON>}}, rewritten
// whole on every change; other members of the outer object stay.
//
// Lifecycle: the constructor re-issues every saved request (each with a new id) but holds the
// transfers back until start(), which the facade calls once the download hook is installed. The
// destructor stops everything on the core thread; a transfer that ends or a timer that fires
// later touches nothing.
//
// Threads: the constructor runs before any other thread knows the manager; everything else
// (add_request, the transfers' outcomes, the retry timers, the tables) runs on the core thread.
// Transfers run on workers and only post their outcome to the core thread. No lock.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "brelt/timer_handle.h"
#include "brelt/uv_thread.h"
#include "core/foundation/json_kv_store.h"
#include "core/services/ks_http.h"
#include "jsonette/json.h"

namespace libkestrun {

class HttpManager {
 public:
  static constexpr char kSavedUrlsKey[] = "http.queue.saved.urls";

  struct Request {
    std::string id;        // lower-case UUID, new for every issue
    std::string email_id;  // requests of one e-mail supersede each other
    std::string url;
    std::string method = "GET";
    int32_t max_delay_time = 0;  // seconds; the bound of the random wait before the next retry
    int32_t num_errored_tries = 0;

    Request() = default;
    // A missing member, or one of another type, reads as "" or 0.
    explicit Request(const jsonette::Json& json);
    // The six members, keys in byte order.
    jsonette::Json to_json() const;
  };

  // The wait before a retry and the bound the retry carries.
  struct Backoff {
    int64_t wait_ms;
    int32_t next_bound;
  };
  // The wait is random × bound seconds, truncated to milliseconds; the next bound doubles, stays
  // above 29 and becomes 2 below 1. `random` lies in [0, 1).
  static Backoff backoff(int32_t bound, double random);

  // A uniform number in [0, 1); tests seed their own.
  using RandomSource = std::function<double()>;

  HttpManager(std::shared_ptr<KvStore> store, brelt::UvThread& thread, RandomSource random = nullptr);
  ~HttpManager();
  HttpManager(const HttpManager&) = delete;
  HttpManager& operator=(const HttpManager&) = delete;

  // Lets the transfers run, the restored ones first. Any thread; once.
  void start();

  // Saves and issues a new request for `url`, superseding the e-mail's saved ones.
  void add_request(const std::string& email_id, const std::string& url, int32_t max_delay_time);

  std::optional<Request> get_saved_request(const std::string& id);
  // Writes {"requests": null}.
  void clear_saved_requests();

  void _mark_superseded(const std::string& id) { superseded_.insert(id); }
  bool _is_not_superseded(const std::string& id) const { return superseded_.count(id) == 0; }

 private:
  using SavedRequests = std::map<std::string, jsonette::Json>;

  void _execute_request(const Request& request);
  void _restore_saved_requests();
  void _supersede_requests_for_email(const std::string& email_id);
  void _save_request(const Request& request);
  bool _remove_request(const std::string& id);
  SavedRequests _load_saved_requests();
  void _store_saved_requests(const SavedRequests& requests);
  // The outer object of the saved queue; a missing or unreadable value is replaced by null first.
  jsonette::Json::object _load_queue_object();

  // Outcomes of a transfer, on the core thread.
  void _succeeded(const std::string& id);
  void _failed(const Request& request, int32_t status);
  void _retry(const Request& request, int32_t next_bound);

  JsonKvStore store_;
  brelt::UvThread& thread_;
  const RandomSource random_;
  const int timeout_ = 60000;
  const int retries_ = 5;
  // False once the destructor ran; every posted closure and timer checks it first.
  const std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  bool started_ = false;
  std::vector<Request> held_;  // issued before start()
  std::unordered_map<std::string, std::shared_ptr<KSHttp::Downloader>> downloads_;
  std::unordered_map<std::string, brelt::TimerHandle> retry_timers_;
  std::unordered_set<std::string> superseded_;
  // Failed for good in this run, not superseded: saved until the next start.
  std::unordered_set<std::string> parked_;
};

}  // namespace libkestrun
