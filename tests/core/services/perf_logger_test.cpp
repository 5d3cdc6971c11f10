#include "core/services/perf_logger.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace libkestrun {
namespace {

using jsonette::Json;

// A ledger that keeps the records written to it.
struct RecordingLedger {
  static void write(libledger_context* context, const char* record) {
    reinterpret_cast<RecordingLedger*>(context)->records.emplace_back(record);
  }
  libledger_context* context() { return reinterpret_cast<libledger_context*>(this); }

  std::vector<std::string> records;
  libledger_callbacks callbacks{&RecordingLedger::write, {}};
};

std::vector<std::string> keys(const Json& object) {
  std::vector<std::string> names;
  for (const auto& [key, value] : object.object_items()) names.push_back(key);
  return names;
}

class PerfLoggerTest : public ::testing::Test {
 protected:
  PerfLoggerTest() : logger("macos", "1.4.2") {
    logger.setDeviceId("D1");
    logger.setLedgerContext(ledger.context(), &ledger.callbacks);
  }

  Json record(size_t i) {
    std::string error;
    Json parsed = Json::parse(ledger.records.at(i), error);
    EXPECT_TRUE(error.empty()) << ledger.records.at(i);
    return parsed;
  }

  RecordingLedger ledger;
  PerfLogger logger;
};

TEST_F(PerfLoggerTest, ARecordCarriesItsKeysInByteOrder) {
  PerfLoggerHandle handle = logger.startTiming(PERF_LOGGER_METRIC_SEARCH_QUERY_TIME);
  handle.stop();
  ASSERT_EQ(ledger.records.size(), 1u);
  const std::string& text = ledger.records[0];
  // Byte order in the text itself, not only in the parsed object.
  EXPECT_EQ(text.rfind("{\"category\":\"libkestrun-perf-timing\",\"data\":{\"app_version\":\"1.4.2\","
                       "\"device_id\":\"D1\",\"device_type\":\"macos\",\"metric\":\"search-query-time\","
                       "\"ms_elapsed\":",
                       0),
            0u)
      << text;
  Json data = record(0)["data"];
  EXPECT_EQ(keys(record(0)), (std::vector<std::string>{"category", "data"}));
  EXPECT_EQ(keys(data), (std::vector<std::string>{"app_version", "device_id", "device_type", "metric",
                                                  "ms_elapsed", "timestamp"}));
  EXPECT_GE(data["ms_elapsed"].number_value(), 0.0);
  EXPECT_GT(data["timestamp"].number_value(), 1.4e9);
}

TEST_F(PerfLoggerTest, MetricNamesAndTheUnmappedValue) {
  const std::vector<std::pair<int, std::string>> cases = {
      {0, "account-snapshot-time"},
      {1, "connection-time"},
      {2, "search-query-time"},
      {7, "WARNING-unmapped-PerfLoggerMetric-value"},
  };
  for (const auto& [metric, name] : cases) {
    EXPECT_EQ(logger.record(static_cast<PerfLoggerMetric>(metric), 1.5, 2.0)["data"]["metric"].string_value(),
              name);
  }
}

TEST_F(PerfLoggerTest, StopsWithoutAStartWriteNothing) {
  logger.stopTiming(PERF_LOGGER_METRIC_CONNECTION_TIME);
  logger.stopTiming(PERF_LOGGER_METRIC_SEARCH_QUERY_TIME, "NOT-A-HANDLE");
  EXPECT_TRUE(ledger.records.empty());
}

TEST_F(PerfLoggerTest, OneRecordPerStop) {
  PerfLoggerHandle search = logger.startTiming(PERF_LOGGER_METRIC_SEARCH_QUERY_TIME);
  search.stop();
  search.stop();  // the handle's start is gone
  EXPECT_EQ(ledger.records.size(), 1u);

  logger.startTiming(PERF_LOGGER_METRIC_CONNECTION_TIME);
  logger.stopTiming(PERF_LOGGER_METRIC_CONNECTION_TIME);
  logger.stopTiming(PERF_LOGGER_METRIC_CONNECTION_TIME);  // the metric's start stays
  ASSERT_EQ(ledger.records.size(), 3u);
  EXPECT_EQ(record(1)["data"]["metric"].string_value(), "connection-time");
  EXPECT_EQ(record(2)["data"]["metric"].string_value(), "connection-time");
}

TEST_F(PerfLoggerTest, WithoutASinkNoCallIsMade) {
  const std::vector<std::pair<bool, bool>> sinks = {{false, false}, {true, false}, {false, true}};
  for (const auto& [context, callbacks] : sinks) {
    logger.setLedgerContext(context ? ledger.context() : nullptr, callbacks ? &ledger.callbacks : nullptr);
    logger.startTiming(PERF_LOGGER_METRIC_ACCOUNT_SNAPSHOT_TIME).stop();
    logger.logTiming(PERF_LOGGER_METRIC_ACCOUNT_SNAPSHOT_TIME, 3.0);
  }
  EXPECT_TRUE(ledger.records.empty());
}

}  // namespace
}  // namespace libkestrun
