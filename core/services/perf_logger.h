// Timings of the sync protocol (connecting, fetching the account snapshots, answering a cloud
// search), each turned into one JSON record for the host's event ledger:
//
//   {"category": "libkestrun-perf-timing",
//    "data": {"app_version", "device_id", "device_type", "metric", "ms_elapsed", "timestamp"}}
//
// with keys in byte order, "ms_elapsed" in milliseconds and "timestamp" in seconds since 1970,
// both with microsecond resolution. A timing is started per metric and also per handle: stopping
// by metric measures from the metric's latest start (which stays, so a second stop writes a second
// record), stopping by handle measures from that handle's start and forgets it. Records go to the
// ledger the host installs with setLedgerContext; without one they are built and dropped.
//
// Threads: the core thread only, no lock. The device id and the ledger are set before the core
// connects.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

#include "jsonette/json.h"

// The host's event ledger, opaque to the core.
struct libledger_context;

// The ledger's table of functions. The core calls only the first.
struct libledger_callbacks {
  // Appends one record, NUL-terminated compact JSON text, to the ledger of `context`.
  void (*write_record)(libledger_context* context, const char* record);
  // The ledger's own operations.
  void (*reserved[3])(libledger_context* context);
};

namespace libkestrun {

enum PerfLoggerMetric : int32_t {
  PERF_LOGGER_METRIC_ACCOUNT_SNAPSHOT_TIME = 0,  // "account-snapshot-time"
  PERF_LOGGER_METRIC_CONNECTION_TIME = 1,        // "connection-time"
  PERF_LOGGER_METRIC_SEARCH_QUERY_TIME = 2,      // "search-query-time"
};

class PerfLogger;

// The token of one started timing. Copyable; stopping it twice writes one record.
class PerfLoggerHandle {
 public:
  PerfLoggerHandle(PerfLogger* logger, PerfLoggerMetric metric, std::string id);

  void stop() const;

  PerfLoggerMetric metric() const { return metric_; }
  const std::string& id() const { return id_; }

 private:
  PerfLogger* logger_;  // outlives the handle
  PerfLoggerMetric metric_;
  std::string id_;  // upper-case UUID text
};

class PerfLogger {
 public:
  // `device_type` is the device type's wire name ("macos").
  PerfLogger(std::string device_type, std::string app_version);
  PerfLogger(const PerfLogger&) = delete;
  PerfLogger& operator=(const PerfLogger&) = delete;

  // Written once by the facade, before the core connects.
  void setDeviceId(const std::string& device_id) { device_id_ = device_id; }

  // Starts the metric's timing and a new handle's.
  PerfLoggerHandle startTiming(PerfLoggerMetric metric);
  // Writes a record when the metric was started; the start stays.
  void stopTiming(PerfLoggerMetric metric);
  // Writes a record when the handle id has a start, and forgets the start.
  void stopTiming(PerfLoggerMetric metric, const std::string& handle_id);

  // Builds the record of one measurement and hands it to the ledger when one is installed.
  void logTiming(PerfLoggerMetric metric, double ms_elapsed);

  // Both must be set for records to be written; either may be null.
  void setLedgerContext(libledger_context* context, const libledger_callbacks* callbacks);

  // The record logTiming writes at `timestamp` (seconds since 1970).
  jsonette::Json record(PerfLoggerMetric metric, double ms_elapsed, double timestamp) const;

 private:
  using Clock = std::chrono::system_clock;

  static double ms_since(Clock::time_point start);

  libledger_context* ledger_context_ = nullptr;
  const libledger_callbacks* ledger_callbacks_ = nullptr;
  const std::string device_type_;
  const std::string app_version_;
  std::string device_id_;
  std::map<PerfLoggerMetric, Clock::time_point> start_by_metric_;
  // Handles never stopped stay for the logger's life; the core stops every search handle.
  std::map<std::string, Clock::time_point> start_by_handle_;
  const std::map<PerfLoggerMetric, std::string> metric_names_;
};

}  // namespace libkestrun
