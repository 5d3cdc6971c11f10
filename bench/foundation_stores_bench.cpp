// Our stores and JSON conversion against the bare libraries doing the same work.
#include <benchmark/benchmark.h>

#include <leveldb/db.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <jansson.h>

#include "core/foundation/json_conversion.h"
#include "core/foundation/leveldb_store.h"
#include "core/foundation/scoped_kv_store.h"

namespace {

// A database of 20000 keys in other scopes around 100 keys of the scope "mine!".
class Database {
 public:
  Database() {
    char pattern[] = "/tmp/kestrun-bench-XXXXXX";
    dir_ = mkdtemp(pattern);
    {
      libkestrun::LeveldbStore store(dir_ + "/db");
      const libkestrun::KvStore::Bytes value(64, 'v');
      for (int i = 0; i < 10000; ++i) {
        store.set("a" + std::to_string(i), value);
        store.set("z" + std::to_string(i), value);
      }
      for (int i = 0; i < 100; ++i) store.set("mine!" + std::to_string(i), value);
    }
  }
  ~Database() { std::filesystem::remove_all(dir_); }
  std::string path() const { return dir_ + "/db"; }

 private:
  std::string dir_;
};

Database& database() {
  static Database db;
  return db;
}

void BM_ScopedWalk_Ours(benchmark::State& state) {
  auto store = std::make_shared<libkestrun::LeveldbStore>(database().path());
  libkestrun::ScopedKvStore view("mine!", store);
  for (auto _ : state) {
    size_t n = 0;
    view.for_each_key([&](const std::string& key) { n += key.size(); });
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_ScopedWalk_Ours);

void BM_ScopedWalk_BareLevelDb(benchmark::State& state) {
  leveldb::DB* raw = nullptr;
  leveldb::Options options;
  if (!leveldb::DB::Open(options, database().path(), &raw).ok()) std::abort();
  std::unique_ptr<leveldb::DB> db(raw);
  for (auto _ : state) {
    size_t n = 0;
    std::unique_ptr<leveldb::Iterator> it(db->NewIterator(leveldb::ReadOptions()));
    for (it->Seek("mine!"); it->Valid() && it->key().starts_with("mine!"); it->Next()) {
      n += it->key().ToString().substr(5).size();
    }
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_ScopedWalk_BareLevelDb);

void BM_Get_Ours(benchmark::State& state) {
  libkestrun::LeveldbStore store(database().path());
  int i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(store.get("a" + std::to_string(i++ % 10000)));
}
BENCHMARK(BM_Get_Ours);

void BM_Get_BareLevelDb(benchmark::State& state) {
  leveldb::DB* raw = nullptr;
  if (!leveldb::DB::Open(leveldb::Options(), database().path(), &raw).ok()) std::abort();
  std::unique_ptr<leveldb::DB> db(raw);
  int i = 0;
  std::string value;
  for (auto _ : state) {
    benchmark::DoNotOptimize(db->Get(leveldb::ReadOptions(), "a" + std::to_string(i++ % 10000), &value));
  }
}
BENCHMARK(BM_Get_BareLevelDb);

// A server document of moderate size.
std::string document_text() {
  std::string text = "{\"_id\":\"ABC\",\"items\":[";
  for (int i = 0; i < 200; ++i) {
    if (i) text += ",";
    text += "{\"id\":" + std::to_string(1234567890123LL + i) +
            ",\"subject\":\"R\xC3\xA9union \xE2\x80\x94 "
            "plan\",\"score\":0.5,\"read\":true,\"tags\":[\"a\",\"b\"]}";
  }
  return text + "]}";
}

// Our conversion into jansson against jansson reading the same document from its text.
void BM_JanssonFromJson_Ours(benchmark::State& state) {
  std::string err;
  jsonette::Json value = jsonette::Json::parse(document_text(), err);
  for (auto _ : state) {
    json_t* out = patch::jansson_from_json(value);
    benchmark::DoNotOptimize(out);
    json_decref(out);
  }
}
BENCHMARK(BM_JanssonFromJson_Ours);

void BM_JanssonFromJson_BareJanssonLoad(benchmark::State& state) {
  const std::string text = document_text();
  for (auto _ : state) {
    json_error_t error;
    json_t* out = json_loadb(text.data(), text.size(), JSON_DECODE_ANY, &error);
    benchmark::DoNotOptimize(out);
    json_decref(out);
  }
}
BENCHMARK(BM_JanssonFromJson_BareJanssonLoad);

// Our conversion out of jansson against jansson writing the same document as text.
void BM_JsonFromJansson_Ours(benchmark::State& state) {
  const std::string text = document_text();
  json_error_t error;
  json_t* value = json_loadb(text.data(), text.size(), 0, &error);
  for (auto _ : state) benchmark::DoNotOptimize(patch::json_from_jansson(value));
  json_decref(value);
}
BENCHMARK(BM_JsonFromJansson_Ours);

void BM_JsonFromJansson_BareJanssonDump(benchmark::State& state) {
  const std::string text = document_text();
  json_error_t error;
  json_t* value = json_loadb(text.data(), text.size(), 0, &error);
  for (auto _ : state) {
    char* out = json_dumps(value, JSON_COMPACT | JSON_ENCODE_ANY);
    benchmark::DoNotOptimize(out);
    free(out);
  }
  json_decref(value);
}
BENCHMARK(BM_JsonFromJansson_BareJanssonDump);

}  // namespace

BENCHMARK_MAIN();
