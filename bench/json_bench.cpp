// Parsing and dumping large JSON documents with our values next to jansson doing the same work:
// a 16 MiB array of small integers and a 20 MB document shaped like an account snapshot. Besides
// the time, each pair reports the growth of the resident set at its peak while one parse (or one
// dump) runs, measured in a forked child so the two libraries do not share a high-water mark.
#include <benchmark/benchmark.h>
#include <jansson.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "bench_support.h"
#include "jsonette/json.h"

namespace {

using jsonette::Json;

constexpr size_t kIntegerArraySize = 16u * 1024 * 1024;
constexpr size_t kSnapshotSize = 20u * 1000 * 1000;

// "[0,1,2,...]" with one-digit integers, `size` bytes long.
std::string integer_array_text(size_t size) {
  std::string text = "[";
  text.reserve(size + 2);
  for (size_t i = 0; text.size() + 2 < size; ++i) {
    if (i) text += ',';
    text += static_cast<char>('0' + i % 10);
  }
  text += ']';
  return text;
}

// An account snapshot: a few header members and a list of message objects with ids, addresses,
// flags, labels and a snippet, like the server's first sync of a large mailbox.
std::string snapshot_text(size_t size) {
  static const char* const kWords[] = {"meeting", "invoice", "tomorrow", "lunch", "report", "draft",
                                       "review",  "quarter", "travel",   "notes", "budget", "team"};
  std::string text = "{\"type\":\"SNAPSHOT\",\"acct_id\":\"a1b2c3d4e5f6\",\"version\":982734,\"objects\":[";
  char buf[512];
  for (unsigned i = 0; text.size() + 600 < size; ++i) {
    if (i) text += ',';
    std::string subject, snippet;
    for (unsigned w = 0; w < 4; ++w) subject += std::string(kWords[(i + w * 7) % 12]) + (w < 3 ? " " : "");
    for (unsigned w = 0; w < 16; ++w) snippet += std::string(kWords[(i * 3 + w) % 12]) + " ";
    std::snprintf(buf, sizeof buf,
                  "{\"id\":\"%08X-4B7D-4E0A-9C3F-%012X\",\"thread_id\":\"T%010u\",\"subject\":\"%s\","
                  "\"from\":{\"name\":\"Sender %u\",\"email\":\"sender%u@example.com\"},"
                  "\"to\":[{\"name\":\"Me\",\"email\":\"me@example.org\"}],\"date\":%u,"
                  "\"flags\":{\"read\":%s,\"starred\":%s,\"archived\":false},"
                  "\"labels\":[\"inbox\",\"%s\"],\"size\":%u,\"score\":%.3f,\"snippet\":\"",
                  i * 2654435761u, i, i / 3, subject.c_str(), i % 97, i % 97, 1700000000u + i * 37,
                  i % 3 ? "true" : "false", i % 11 ? "false" : "true", kWords[i % 12], 2000 + i % 50000,
                  (i % 1000) / 7.0);
    text += buf;
    text += snippet;
    text += "\"}";
  }
  text += "]}";
  return text;
}

const std::string& integer_array() {
  static const std::string text = integer_array_text(kIntegerArraySize);
  return text;
}
const std::string& snapshot() {
  static const std::string text = snapshot_text(kSnapshotSize);
  return text;
}

Json parse_ours(const std::string& text) {
  std::string err;
  Json value = Json::parse(text, err);
  if (!err.empty()) std::abort();
  return value;
}

json_t* parse_jansson(const std::string& text) {
  json_error_t error;
  json_t* value = json_loadb(text.data(), text.size(), 0, &error);
  if (!value) std::abort();
  return value;
}

void bench_parse_ours(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    Json value = parse_ours(text);
    benchmark::DoNotOptimize(value);
  }
  state.counters["peak_MiB"] = bench::peak_growth_mib([&] { benchmark::DoNotOptimize(parse_ours(text)); });
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void bench_parse_jansson(benchmark::State& state, const std::string& text) {
  for (auto _ : state) {
    json_t* value = parse_jansson(text);
    benchmark::DoNotOptimize(value);
    json_decref(value);
  }
  state.counters["peak_MiB"] = bench::peak_growth_mib([&] { benchmark::DoNotOptimize(parse_jansson(text)); });
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void bench_dump_ours(benchmark::State& state, const std::string& text) {
  const Json value = parse_ours(text);
  for (auto _ : state) {
    std::string out = value.dump();
    benchmark::DoNotOptimize(out);
  }
  state.counters["peak_MiB"] = bench::peak_growth_mib([&] { benchmark::DoNotOptimize(value.dump()); });
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void bench_dump_jansson(benchmark::State& state, const std::string& text) {
  json_t* value = parse_jansson(text);
  const size_t flags = JSON_COMPACT | JSON_SORT_KEYS;
  for (auto _ : state) {
    char* out = json_dumps(value, flags);
    benchmark::DoNotOptimize(out);
    free(out);
  }
  state.counters["peak_MiB"] = bench::peak_growth_mib([&] { benchmark::DoNotOptimize(json_dumps(value, flags)); });
  json_decref(value);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_ParseIntegers_Ours(benchmark::State& state) { bench_parse_ours(state, integer_array()); }
void BM_ParseIntegers_Jansson(benchmark::State& state) { bench_parse_jansson(state, integer_array()); }
void BM_DumpIntegers_Ours(benchmark::State& state) { bench_dump_ours(state, integer_array()); }
void BM_DumpIntegers_Jansson(benchmark::State& state) { bench_dump_jansson(state, integer_array()); }
void BM_ParseSnapshot_Ours(benchmark::State& state) { bench_parse_ours(state, snapshot()); }
void BM_ParseSnapshot_Jansson(benchmark::State& state) { bench_parse_jansson(state, snapshot()); }
void BM_DumpSnapshot_Ours(benchmark::State& state) { bench_dump_ours(state, snapshot()); }
void BM_DumpSnapshot_Jansson(benchmark::State& state) { bench_dump_jansson(state, snapshot()); }

BENCHMARK(BM_ParseIntegers_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseIntegers_Jansson)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DumpIntegers_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DumpIntegers_Jansson)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseSnapshot_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseSnapshot_Jansson)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DumpSnapshot_Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DumpSnapshot_Jansson)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
