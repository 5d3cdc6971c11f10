#include "core/services/perf_logger.h"

#include "brelt/uuid.h"

namespace libkestrun {

namespace {
constexpr char kCategory[] = "libkestrun-perf-timing";
constexpr char kUnmappedMetric[] = "WARNING-unmapped-PerfLoggerMetric-value";

double micros_to(std::chrono::system_clock::duration elapsed, double per_unit) {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()) /
         per_unit;
}
}  // namespace

PerfLoggerHandle::PerfLoggerHandle(PerfLogger* logger, PerfLoggerMetric metric, std::string id)
    : logger_(logger), metric_(metric), id_(std::move(id)) {}

void PerfLoggerHandle::stop() const { logger_->stopTiming(metric_, id_); }

PerfLogger::PerfLogger(std::string device_type, std::string app_version)
    : device_type_(std::move(device_type)),
      app_version_(std::move(app_version)),
      metric_names_{{PERF_LOGGER_METRIC_ACCOUNT_SNAPSHOT_TIME, "account-snapshot-time"},
                    {PERF_LOGGER_METRIC_CONNECTION_TIME, "connection-time"},
                    {PERF_LOGGER_METRIC_SEARCH_QUERY_TIME, "search-query-time"}} {}

double PerfLogger::ms_since(Clock::time_point start) { return micros_to(Clock::now() - start, 1000.0); }

PerfLoggerHandle PerfLogger::startTiming(PerfLoggerMetric metric) {
  start_by_metric_[metric] = Clock::now();
  std::string id = brelt::generate_uuid_upper();
  start_by_handle_[id] = Clock::now();
  return PerfLoggerHandle(this, metric, std::move(id));
}

void PerfLogger::stopTiming(PerfLoggerMetric metric) {
  auto start = start_by_metric_.find(metric);
  if (start == start_by_metric_.end()) return;
  logTiming(metric, ms_since(start->second));
}

void PerfLogger::stopTiming(PerfLoggerMetric metric, const std::string& handle_id) {
  auto start = start_by_handle_.find(handle_id);
  if (start == start_by_handle_.end()) return;
  const double elapsed = ms_since(start->second);
  start_by_handle_.erase(start);
  logTiming(metric, elapsed);
}

jsonette::Json PerfLogger::record(PerfLoggerMetric metric, double ms_elapsed, double timestamp) const {
  auto name = metric_names_.find(metric);
  jsonette::Json::object data{
      {"app_version", app_version_},
      {"device_id", device_id_},
      {"device_type", device_type_},
      {"metric", name == metric_names_.end() ? std::string(kUnmappedMetric) : name->second},
      {"ms_elapsed", ms_elapsed},
      {"timestamp", timestamp},
  };
  return jsonette::Json::object{{"category", kCategory}, {"data", std::move(data)}};
}

void PerfLogger::logTiming(PerfLoggerMetric metric, double ms_elapsed) {
  const double timestamp = micros_to(Clock::now().time_since_epoch(), 1000000.0);
  const std::string text = record(metric, ms_elapsed, timestamp).dump();
  if (ledger_context_ == nullptr || ledger_callbacks_ == nullptr ||
      ledger_callbacks_->write_record == nullptr)
    return;
  ledger_callbacks_->write_record(ledger_context_, text.c_str());
}

void PerfLogger::setLedgerContext(libledger_context* context, const libledger_callbacks* callbacks) {
  ledger_context_ = context;
  ledger_callbacks_ = callbacks;
}

}  // namespace libkestrun
