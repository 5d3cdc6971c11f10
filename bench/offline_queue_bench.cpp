// The outgoing queue's addRequest with 10, 100 and 1000 requests queued, next to bare LevelDB
// writing the same bytes. Every change rewrites the whole per-object queue and its id index, so
// the cost grows with the queue; the bare variant shows how much of it is the store itself.
#include <benchmark/benchmark.h>

#include <jansson.h>
#include <leveldb/db.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "core/foundation/defaults.h"
#include "core/foundation/leveldb_store.h"
#include "core/foundation/task_manager.h"
#include "core/services/offline_manager.h"

namespace {

// A fresh directory, removed with everything in it.
class Dir {
 public:
  Dir() {
    char pattern[] = "/tmp/kestrun-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) std::abort();
    path_ = pattern;
  }
  ~Dir() { std::filesystem::remove_all(path_); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string objectID(int i) { return "item-" + std::to_string(i); }
std::string requestID(int i) { return "4f1c2a9e-0b7d-4e3a-9c51-" + std::to_string(100000000000 + i); }

// An item update as the server client queues it.
jsonette::Json itemUpdate(int i) {
  return jsonette::Json::object{
      {"method", "ITEM_UPDATE"},
      {"id", requestID(i)},
      {"params", jsonette::Json::object{{"doc", jsonette::Json::object{{"_id", objectID(i)},
                                                                       {"acct_id", "account-1"},
                                                                       {"state", 3},
                                                                       {"previous_state", 2},
                                                                       {"modified_at", 1733900000000LL + i},
                                                                       {"thread_read", true}}}}}};
}

void peakMemory(benchmark::State& state) {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) == 0)
    state.counters["peak_rss_kb"] = static_cast<double>(usage.ru_maxrss);
}

void BM_AddRequest_Ours(benchmark::State& state) {
  const int queued = static_cast<int>(state.range(0));
  Dir dir;
  auto defaults =
      std::make_shared<libkestrun::Defaults>(std::make_shared<libkestrun::LeveldbStore>(dir.file("db")));
  libkestrun::OfflineManager manager(libkestrun::OfflineManager::kConnectionWifi, defaults,
                                     std::make_shared<libkestrun::LoggingTaskManager>(), nullptr);
  for (int i = 0; i < queued; ++i) manager.addRequest(itemUpdate(i));
  const jsonette::Json added = itemUpdate(queued);
  for (auto _ : state) {
    manager.addRequest(added);
    state.PauseTiming();
    manager.removeRequest(objectID(queued));
    state.ResumeTiming();
  }
  peakMemory(state);
}
BENCHMARK(BM_AddRequest_Ours)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The two values addRequest writes, built once: the queue with the added request and its index.
void BM_AddRequest_BareLevelDb(benchmark::State& state) {
  const int queued = static_cast<int>(state.range(0));
  json_t* requests = json_object();
  json_t* ids = json_object();
  for (int i = 0; i <= queued; ++i) {
    const std::string text = itemUpdate(i).dump();
    json_object_set_new(requests, objectID(i).c_str(), json_loads(text.c_str(), 0, nullptr));
    json_object_set_new(ids, requestID(i).c_str(), json_string(objectID(i).c_str()));
  }
  char* requestsText = json_dumps(requests, JSON_COMPACT);
  char* idsText = json_dumps(ids, JSON_COMPACT);
  const std::string requestsBytes = requestsText;
  const std::string idsBytes = idsText;
  free(requestsText);
  free(idsText);
  json_decref(requests);
  json_decref(ids);

  Dir dir;
  leveldb::DB* raw = nullptr;
  leveldb::Options options;
  options.create_if_missing = true;
  if (!leveldb::DB::Open(options, dir.file("db"), &raw).ok()) std::abort();
  std::unique_ptr<leveldb::DB> db(raw);
  for (auto _ : state) {
    if (!db->Put(leveldb::WriteOptions(), "offline.manager.queued.requests", requestsBytes).ok())
      std::abort();
    if (!db->Put(leveldb::WriteOptions(), "offline.manager.queued.message.ids", idsBytes).ok()) std::abort();
  }
  state.counters["bytes_per_call"] = static_cast<double>(requestsBytes.size() + idsBytes.size());
  peakMemory(state);
}
BENCHMARK(BM_AddRequest_BareLevelDb)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
