// The encrypted store against plain SQLite doing the same work: n rows inserted in one
// transaction, a full scan, then n point reads in scattered order, for n = 10k (the file fits
// SQLite's page cache) and 100k (a file several times the cache, so most reads go to the file).
// Three variants run side by side: bare SQLite (default file layer, raw API), the wrapper on an
// unkeyed file and the wrapper on a keyed file; the keyed one should stay within 1.15x of the
// unkeyed one. Past the cache almost every point read decrypts a whole page, and a page's
// keystream is a chain of 255 dependent AES blocks: that chain is most of what the keyed variant
// adds there. Instruction counts, steadier than time on a busy machine, come from running one
// variant under callgrind:
//   valgrind --tool=callgrind --callgrind-out-file=/dev/null store_codec_bench
//   --benchmark_filter='WrapperKeyed/100000' --benchmark_min_time=0
#include <benchmark/benchmark.h>

#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/store/cpp_sqlite3.h"

namespace {

const std::string kKey = "0123456789abcdef-the-rest-of-32b";

std::string body(int i) {
  return "row " + std::to_string(i) + " " + std::string(90, static_cast<char>('a' + i % 26));
}

int point_id(int i, int rows) { return 1 + static_cast<int>((i * 7919LL) % rows); }

class TempFile {
 public:
  TempFile() {
    char pattern[] = "/tmp/kestrun-bench-XXXXXX";
    dir_ = mkdtemp(pattern);
    path_ = dir_ + "/bench.db";
  }
  ~TempFile() { std::filesystem::remove_all(dir_); }
  const std::string& path() const { return path_; }
  void clear() const {
    std::remove(path_.c_str());
    std::remove((path_ + "-journal").c_str());
  }

 private:
  std::string dir_;
  std::string path_;
};

void run_wrapper(const std::string& path, bool keyed, benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  CppSQLite3DB db;
  db.open(path.c_str());
  if (keyed) db.setKey(kKey.data(), static_cast<int>(kKey.size()));
  db.execDML("CREATE TABLE t (id INTEGER PRIMARY KEY, body TEXT);");
  {
    CppSQLite3Statement insert = db.compileStatement("INSERT INTO t (id, body) VALUES (?1, ?2);");
    db.execDML("BEGIN;");
    for (int i = 1; i <= rows; ++i) {
      insert.bind(1, i);
      insert.bind(2, body(i).c_str());
      insert.execDML();
      insert.reset();
    }
    db.execDML("COMMIT;");
  }
  int64_t total = 0;
  {
    CppSQLite3Query scan = db.execQuery("SELECT body FROM t;");
    for (; !scan.eof(); scan.nextRow()) total += static_cast<int64_t>(std::strlen(scan.getStringField(0)));
  }
  CppSQLite3Statement point = db.compileStatement("SELECT body FROM t WHERE id = ?1;");
  for (int i = 0; i < rows; ++i) {
    point.bind(1, point_id(i, rows));
    CppSQLite3Query row = point.execQuery();
    total += static_cast<int64_t>(std::strlen(row.getStringField(0)));
    point.reset();
  }
  benchmark::DoNotOptimize(total);
  if (total == 0) state.SkipWithError("nothing read");
}

void run_bare(const std::string& path, benchmark::State& state) {
  const int rows = static_cast<int>(state.range(0));
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "CREATE TABLE t (id INTEGER PRIMARY KEY, body TEXT);", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO t (id, body) VALUES (?1, ?2);", -1, &insert, nullptr);
  sqlite3_exec(db, "BEGIN;", nullptr, nullptr, nullptr);
  for (int i = 1; i <= rows; ++i) {
    sqlite3_bind_int(insert, 1, i);
    sqlite3_bind_text(insert, 2, body(i).c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
  sqlite3_finalize(insert);
  int64_t total = 0;
  sqlite3_stmt* scan = nullptr;
  sqlite3_prepare_v2(db, "SELECT body FROM t;", -1, &scan, nullptr);
  while (sqlite3_step(scan) == SQLITE_ROW) total += sqlite3_column_bytes(scan, 0);
  sqlite3_finalize(scan);
  sqlite3_stmt* point = nullptr;
  sqlite3_prepare_v2(db, "SELECT body FROM t WHERE id = ?1;", -1, &point, nullptr);
  for (int i = 0; i < rows; ++i) {
    sqlite3_bind_int(point, 1, point_id(i, rows));
    if (sqlite3_step(point) == SQLITE_ROW) total += sqlite3_column_bytes(point, 0);
    sqlite3_reset(point);
  }
  sqlite3_finalize(point);
  sqlite3_close(db);
  benchmark::DoNotOptimize(total);
  if (total == 0) state.SkipWithError("nothing read");
}

// Each iteration starts from an empty file.
template <typename Run>
void on_fresh_files(benchmark::State& state, Run run) {
  TempFile file;
  for (auto _ : state) {
    file.clear();
    run(file.path(), state);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0) * 3);
}

void BM_BareSqlite(benchmark::State& state) { on_fresh_files(state, run_bare); }

void BM_WrapperUnkeyed(benchmark::State& state) {
  on_fresh_files(state, [](const std::string& path, benchmark::State& s) { run_wrapper(path, false, s); });
}

void BM_WrapperKeyed(benchmark::State& state) {
  on_fresh_files(state, [](const std::string& path, benchmark::State& s) { run_wrapper(path, true, s); });
}

BENCHMARK(BM_BareSqlite)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WrapperUnkeyed)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WrapperKeyed)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

// The three variants take turns, so that a slow spell of the disk does not land on one of them.
int main(int argc, char** argv) {
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  std::vector<char*> args(argv, argv + argc);
  args.insert(args.begin() + 1, interleave.data());
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
