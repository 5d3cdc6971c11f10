#include "core/services/http_manager.h"

#include <strings.h>

#include <chrono>
#include <cmath>
#include <utility>

#include "brelt/log.h"
#include "brelt/uuid.h"
#include "harnvik/random.h"

namespace libkestrun {

namespace {
constexpr char kLogTag[] = "HttpManager";

std::string string_member(const jsonette::Json& json, const char* key) {
  const jsonette::Json& value = json[key];
  return value.is_string() ? value.string_value() : std::string();
}

int32_t int_member(const jsonette::Json& json, const char* key) {
  const jsonette::Json& value = json[key];
  return value.is_number() ? static_cast<int32_t>(value.int_value()) : 0;
}

// An invitation's answer URL comes from mail: nothing but plain web URLs reaches the hook.
bool is_web_url(const std::string& url) {
  return strncasecmp(url.c_str(), "http://", 7) == 0 || strncasecmp(url.c_str(), "https://", 8) == 0;
}

bool is_retried(int32_t status) {
  return (status >= -99 && status <= 99) || (status >= 500 && status <= 599);
}
}  // namespace

HttpManager::Request::Request(const jsonette::Json& json)
    : id(string_member(json, "id")),
      email_id(string_member(json, "email_id")),
      url(string_member(json, "url")),
      method(string_member(json, "method")),
      max_delay_time(int_member(json, "max_delay_time")),
      num_errored_tries(int_member(json, "num_errored_tries")) {}

jsonette::Json HttpManager::Request::to_json() const {
  return jsonette::Json::object{{"id", id},
                                {"email_id", email_id},
                                {"url", url},
                                {"method", method},
                                {"max_delay_time", max_delay_time},
                                {"num_errored_tries", num_errored_tries}};
}

HttpManager::Backoff HttpManager::backoff(int32_t bound, double random) {
  const auto wait_ms = static_cast<int64_t>(random * bound * 1000.0);
  int32_t next = bound > 29 ? bound : bound < 1 ? 2 : 2 * bound;
  return {wait_ms < 0 ? 0 : wait_ms, next};
}

HttpManager::HttpManager(std::shared_ptr<KvStore> store, brelt::UvThread& thread, RandomSource random)
    : store_(std::move(store)),
      thread_(thread),
      random_(random ? std::move(random)
                     : RandomSource(harnvik::verdane::lang::generate_insecure_random_canonical_double)) {
  _restore_saved_requests();
}

HttpManager::~HttpManager() {
  // Timers and downloaders belong to the core thread; closures queued there see the flag.
  thread_.post_sync([this] {
    *alive_ = false;
    retry_timers_.clear();
    downloads_.clear();
  });
}

void HttpManager::start() {
  thread_.post([this, alive = alive_] {
    if (!*alive || started_) return;
    started_ = true;
    std::vector<Request> held = std::move(held_);
    held_.clear();
    for (const Request& request : held) _execute_request(request);
  });
}

void HttpManager::add_request(const std::string& email_id, const std::string& url, int32_t max_delay_time) {
  if (!is_web_url(url)) {
    brelt::log_error(kLogTag, "dropping a request whose URL is not http or https");
    return;
  }
  Request request;
  request.id = brelt::generate_uuid_lower();
  request.email_id = email_id;
  request.url = url;
  request.max_delay_time = max_delay_time;
  _supersede_requests_for_email(email_id);
  _save_request(request);
  _execute_request(request);
}

std::optional<HttpManager::Request> HttpManager::get_saved_request(const std::string& id) {
  SavedRequests saved = _load_saved_requests();
  auto found = saved.find(id);
  if (found == saved.end()) return std::nullopt;
  return Request(found->second);
}

void HttpManager::clear_saved_requests() {
  store_.set_json(kSavedUrlsKey, jsonette::Json::object{{"requests", nullptr}});
}

void HttpManager::_execute_request(const Request& request) {
  if (!started_) {
    held_.push_back(request);
    return;
  }
  auto downloader = std::make_shared<KSHttp::Downloader>(request.url, timeout_, retries_);
  // Both outcomes arrive on a worker, which may run after the manager is gone: it touches only
  // the core thread (which outlives the manager) and leaves the work to a closure there.
  brelt::UvThread* thread = &thread_;
  downloader->setSuccessCallback([this, thread, alive = alive_, id = request.id](KSHttp::Response) {
    thread->post([this, alive, id] {
      if (*alive) _succeeded(id);
    });
  });
  downloader->setFailureCallback([this, thread, alive = alive_, request](KSHttp::Response response) {
    thread->post([this, alive, request, status = response.status] {
      if (*alive) _failed(request, status);
    });
  });
  downloads_[request.id] = downloader;
  downloader->get(nullptr);
}

void HttpManager::_succeeded(const std::string& id) {
  _remove_request(id);
  downloads_.erase(id);
  retry_timers_.erase(id);
}

void HttpManager::_failed(const Request& request, int32_t status) {
  downloads_.erase(request.id);
  if (!is_retried(status)) {
    // Saved until the next start, unless a newer request of the e-mail made it obsolete: issued
    // again then, it would undo the newer one.
    if (_is_not_superseded(request.id))
      parked_.insert(request.id);
    else
      _remove_request(request.id);
    return;
  }
  const Backoff next = backoff(request.max_delay_time, random_());
  retry_timers_[request.id] = thread_.defer(std::chrono::milliseconds(next.wait_ms),
                                            [this, alive = alive_, request, bound = next.next_bound] {
                                              if (*alive) _retry(request, bound);
                                            });
}

void HttpManager::_retry(const Request& request, int32_t next_bound) {
  if (_is_not_superseded(request.id)) add_request(request.email_id, request.url, next_bound);
  _remove_request(request.id);
  // The timer is still inside its own callback: its handle goes in a later closure.
  thread_.post([this, alive = alive_, id = request.id] {
    if (*alive) retry_timers_.erase(id);
  });
}

void HttpManager::_restore_saved_requests() {
  for (const auto& [id, json] : _load_saved_requests()) {
    Request saved(json);
    add_request(saved.email_id, saved.url, saved.max_delay_time);
    _remove_request(id);
  }
}

void HttpManager::_supersede_requests_for_email(const std::string& email_id) {
  for (const auto& [id, json] : _load_saved_requests()) {
    if (string_member(json, "email_id") != email_id) continue;
    if (parked_.erase(id) != 0)
      _remove_request(id);
    else
      _mark_superseded(id);
  }
}

void HttpManager::_save_request(const Request& request) {
  SavedRequests saved = _load_saved_requests();
  saved[request.id] = request.to_json();
  _store_saved_requests(saved);
}

bool HttpManager::_remove_request(const std::string& id) {
  superseded_.erase(id);
  SavedRequests saved = _load_saved_requests();
  if (saved.erase(id) == 0) return false;
  _store_saved_requests(saved);
  return true;
}

jsonette::Json::object HttpManager::_load_queue_object() {
  std::optional<jsonette::Json> value = store_.get_json(kSavedUrlsKey);
  if (!value) {
    store_.set_json(kSavedUrlsKey, nullptr);
    value = store_.get_json(kSavedUrlsKey);
  }
  return value && value->is_object() ? value->object_items() : jsonette::Json::object{};
}

HttpManager::SavedRequests HttpManager::_load_saved_requests() {
  jsonette::Json::object queue = _load_queue_object();
  auto requests = queue.find("requests");
  if (requests == queue.end() || !requests->second.is_object()) return {};
  return requests->second.object_items();
}

void HttpManager::_store_saved_requests(const SavedRequests& requests) {
  jsonette::Json::object queue = _load_queue_object();
  queue["requests"] = requests;
  store_.set_json(kSavedUrlsKey, queue);
}

}  // namespace libkestrun
