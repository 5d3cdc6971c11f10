#include "core/services/sanity.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <utility>

#include "core/foundation/process_instance.h"
#include "core/foundation/utility.h"
#include "core/services/ks_http.h"

namespace libkestrun::sanity {
namespace {

const int64_t kWindowMs = 1209600000;  // 14 days
const char kRedacted[] = "[redacted]";

// Keys whose string values never reach the trace.
const std::set<std::string> kRedactedKeys = {"token_secret",
                                             "password",
                                             "access_token",
                                             "access_code",
                                             "subject",
                                             "list_name",
                                             "conversation",
                                             "full_conversation",
                                             "preview",
                                             "to",
                                             "from",
                                             "original_email_participants",
                                             "search_id",
                                             "query",
                                             "client_metadata",
                                             "location_data",
                                             "account_specific_signatures",
                                             "global_email_signature",
                                             "data",
                                             "meta",
                                             "ref_email",
                                             "full_body",
                                             "filename",
                                             "image",
                                             "aux",
                                             "device_secret",
                                             "token",
                                             "push_token"};
// Keys whose values are replaced whole, whatever their type.
const std::set<std::string> kReplacedKeys = {"harnvik_credentials"};

bool file_exists(const std::string& path) { return std::ifstream(path).is_open(); }

void write_file(const std::string& path, const std::string& content) { std::ofstream(path) << content; }

class Trace {
 public:
  Trace(std::shared_ptr<TaskManager> task_manager, const std::string& directory, std::string dump_url)
      : task_manager_(std::move(task_manager)),
        dump_url_(std::move(dump_url)),
        trace_path_(directory + "/sanity"),
        stop_path_(directory + "/sanity_stop2"),
        start_time_path_(directory + "/sanity_inittime"),
        send_later_path_(directory + "/sanity_send_later"),
        process_start_(std::chrono::steady_clock::now()) {
    unlink((directory + "/sanity_stop").c_str());
    unlink((directory + "/sanity_count").c_str());
    disabled_ = file_exists(stop_path_);
    std::ifstream start_time(start_time_path_);
    if (!start_time.is_open()) {
      start_time_ = static_cast<uint64_t>(Utility::now_ms());
      write_file(start_time_path_, std::to_string(start_time_));
    } else if (!(start_time >> start_time_)) {
      start_time_ = 0;  // a file without a number ends the trace at the next connection
    }
    if (!disabled_) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        stream_.open(trace_path_, std::ios::out | std::ios::trunc);
      }
      log("Initialized2");
    }
  }

  bool enabled() const { return !disabled_; }

  void log(const std::string& text) {
    if (disabled_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (!stream_.is_open()) return;
    int64_t wall = Utility::now_ms();
    auto since_start = std::chrono::steady_clock::now() - process_start_;
    stream_ << reinterpret_cast<void*>(pthread_self()) << '|' << wall << '|'
            << std::chrono::duration_cast<std::chrono::nanoseconds>(since_start).count() << '|' << text
            << '\n';
    stream_.flush();
  }

  void upload() {
    if (disabled_) return;
    std::shared_ptr<KSHttp::Uploader> uploader;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (uploader_) return;
      uploader_ = std::make_shared<KSHttp::Uploader>(dump_url_, task_manager_, 1000, 1);
      uploader = uploader_;
    }
    uploader->post(jsonette::Json::object{}, trace_path_, "sanity");
  }

  void request_send_later() {
    if (!disabled_) write_file(send_later_path_, "send\n");
  }

  void send_if_requested() {
    if (static_cast<uint64_t>(Utility::now_ms()) > start_time_ + kWindowMs) stop();
    if (file_exists(send_later_path_)) {
      upload();
      unlink(send_later_path_.c_str());
    }
  }

  void stop() {
    if (disabled_.exchange(true)) return;
    write_file(stop_path_, "stop\n");
    unlink(start_time_path_.c_str());
    std::lock_guard<std::mutex> lock(mutex_);
    stream_.close();
    unlink(trace_path_.c_str());
  }

 private:
  const std::shared_ptr<TaskManager> task_manager_;
  const std::string dump_url_;
  const std::string trace_path_;
  const std::string stop_path_;
  const std::string start_time_path_;
  const std::string send_later_path_;
  const std::chrono::steady_clock::time_point process_start_;
  uint64_t start_time_ = 0;  // set by the constructor only
  std::atomic<bool> disabled_{false};
  std::mutex mutex_;
  std::ofstream stream_;                        // guarded by mutex_
  std::shared_ptr<KSHttp::Uploader> uploader_;  // guarded by mutex_; the one upload, kept alive
};

ProcessInstance<Trace> trace;

}  // namespace

void initialize(std::shared_ptr<TaskManager> task_manager, const std::string& data_directory,
                const std::string& dump_url) {
  trace.set(std::make_shared<Trace>(std::move(task_manager), data_directory, dump_url));
}

void log(const std::string& text) { trace.call(&Trace::log, text); }

void log_json(const std::string& label, const jsonette::Json& value) {
  std::shared_ptr<Trace> current = trace.get();
  if (current && current->enabled()) current->log(label + ": " + redact(value).dump());
}

jsonette::Json redact(const jsonette::Json& value) {
  if (value.is_object()) {
    jsonette::Json::object result;
    for (const auto& [key, member] : value.object_items()) {
      if (kReplacedKeys.count(key) || (member.is_string() && kRedactedKeys.count(key))) {
        result.emplace(key, kRedacted);
      } else {
        result.emplace(key, redact(member));
      }
    }
    return result;
  }
  if (value.is_array()) {
    jsonette::Json::array result;
    for (const jsonette::Json& element : value.array_items()) result.push_back(redact(element));
    return result;
  }
  return value;
}

void upload() { trace.call(&Trace::upload); }
void request_send_later() { trace.call(&Trace::request_send_later); }
void send_if_requested() { trace.call(&Trace::send_if_requested); }
void stop() { trace.call(&Trace::stop); }
void shut_down() { trace.clear(); }

}  // namespace libkestrun::sanity
