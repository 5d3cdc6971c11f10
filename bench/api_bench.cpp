// The facade's start-up and shut-down on a keyed store of 10k and of 100k conversations (two
// e-mails each, 40% of them in the inbox).
//
//   ApiToFirstInboxPage   constructing the Api (core thread, managers, schema check, both
//                         centers) until the first inbox page of 50 has reached its observer;
//   BareFirstInboxPage    next to it, bare sqlite3_* calls doing the least the same answer needs:
//                         open the file through the encrypting file layer, key it, find the page
//                         boundary and step through the inbox rows since it, reading every column;
//   ApiDestroyIdle        destroying an Api that has nothing to do;
//   ApiDestroyStalled     destroying an Api while a download hangs on a server that accepted the
//                         connection and never answers.
//
// Each case also reports the peak resident set of one run of it in a child process of its own
// (peak_MiB), so the cases do not inherit each other's high-water mark.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "brelt/semaphore.h"
#include "core/api/api.h"
#include "core/foundation/defaults.h"
#include "core/model/db_context.h"
#include "core/model/query_observer.h"
#include "core/services/ks_http.h"
#include "core/store/codec.h"
#include "tools/host_http/http_bridge.h"

namespace {

using libkestrun::ItemState;
using Clock = std::chrono::steady_clock;
using Object = std::shared_ptr<KestrunObject>;

constexpr int kPage = 50;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Conversation i: 40% in the inbox (two accounts), the rest archived; two e-mails each.
libkestrun::internal::Item sample_item(int i) {
  return bench::sample_item(i, i % 5 < 2 ? ItemState::Inbox : ItemState::Archive, 2);
}

// A data directory as the application leaves it: the key-value store with the per-install key,
// and the database keyed with it holding `conversations` conversations. Removed with the object.
class Store {
 public:
  explicit Store(int conversations) {
    char pattern[] = "/tmp/kestrun-api-bench-XXXXXX";
    dir_ = mkdtemp(pattern);
    key_ = libkestrun::Defaults(dir_).get_encryption_key();
    const std::string path = dir_ + "/kestrun.db";
    DBContext::check_schema_version(path, false, key_, [] {});
    DBContext context;
    context.open(path, key_);
    context.database().execDML("BEGIN TRANSACTION;");
    for (int i = 0; i < conversations; ++i) {
      auto item = sample_item(i);
      context.insertItem(item);
      for (int n = 0; n < 2; ++n) context.insertEmail(bench::sample_email(i, n, item.get_ITEMID()));
    }
    context.database().execDML("END TRANSACTION;");
  }
  ~Store() { std::filesystem::remove_all(dir_); }

  const std::string& dir() const { return dir_; }
  const std::string& key() const { return key_; }
  std::string path() const { return dir_ + "/kestrun.db"; }

 private:
  std::string dir_;
  std::string key_;
};

Store& store(int conversations) {
  static std::map<int, std::unique_ptr<Store>> stores;
  auto& slot = stores[conversations];
  if (!slot) slot = std::make_unique<Store>(conversations);
  return *slot;
}

// A server that takes connections and never answers, so a download to it hangs until stopped.
class StalledServer {
 public:
  StalledServer() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      abort();
    port_ = ntohs(address.sin_port);
  }
  ~StalledServer() {
    drop();
    close(listener_);
  }
  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/stalled"; }
  // Waits for the next client and holds its connection open, unanswered.
  void accept_one() {
    const int connection = accept(listener_, nullptr, nullptr);
    if (connection < 0) abort();
    held_.push_back(connection);
  }
  void drop() {
    for (int connection : held_) close(connection);
    held_.clear();
  }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::vector<int> held_;
};

libkestrun::Config config_for(const Store& store) {
  libkestrun::Config config;
  config.server_env.host = "127.0.0.1";
  config.server_env.port = "1";
  config.database_name = "kestrun.db";
  config.encrypt_database = true;
  config.device_type = libkestrun::DEVICE_TYPE_MACOS;
  config.bundle_id = "com.kestrun.bench";
  config.app_version = "1";
  config.data_directory = store.dir();
  config.resource_directory = store.dir();
  config.connection_type = libkestrun::INTERNET_CONNECTION_WIFI;
  return config;
}

std::unique_ptr<libkestrun::Api> make_api(const Store& store,
                                          const std::shared_ptr<kestrun_host::HttpBridge>& http) {
  return std::make_unique<libkestrun::Api>(
      config_for(store), libkestrun::Overrides{}, kestrun_host::HttpBridge::download_hook(http),
      kestrun_host::HttpBridge::upload_hook(http), [http] { http->stop(); });
}

std::shared_ptr<kestrun_host::HttpBridge> new_bridge(const Store& store) {
  return std::make_shared<kestrun_host::HttpBridge>(store.dir());
}

// The first inbox page through the facade; returns the number of rows it listed.
size_t first_inbox_page(libkestrun::Api& api) {
  size_t rows = 0;
  auto observer = std::make_shared<libkestrun::FnDataQueryObserver>(
      [&](const std::string&, const std::vector<Object>& results) { rows = results.size(); },
      [](const std::string&) {}, [](const std::string&, Object, libkestrun::ConsumerChangeType, int, int) {},
      [](const std::string&) {});
  api.perform_query_items("inbox", libkestrun::ItemGestureContextType::Inbox, kPage, "", "", observer);
  return rows;
}

// Bare SQLite: the same page as the facade lists, every column of every row read.
size_t bare_inbox_page(const Store& store) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(store.path().c_str(), &db, SQLITE_OPEN_READWRITE, kestrun_codec_vfs_name()) !=
          SQLITE_OK ||
      kestrun_sqlite3_key(db, store.key().data(), static_cast<int>(store.key().size())) != SQLITE_OK)
    abort();
  auto prepare = [&](const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) abort();
    return statement;
  };
  sqlite3_stmt* boundary = prepare(
      "SELECT MODIFIEDAT FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MASTERREV!=? "
      "ORDER BY MODIFIEDAT DESC LIMIT 50, 1;");
  sqlite3_bind_int(boundary, 1, static_cast<int>(ItemState::Inbox));
  sqlite3_bind_int64(boundary, 2, KSItem::kSearchOnlyMasterRev);
  const int64_t since = sqlite3_step(boundary) == SQLITE_ROW ? sqlite3_column_int64(boundary, 0) : 0;
  sqlite3_finalize(boundary);

  sqlite3_stmt* page = prepare(
      "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MODIFIEDAT>=? AND MASTERREV!=? "
      "ORDER BY MODIFIEDAT DESC, ITEMID ASC;");
  sqlite3_bind_int(page, 1, static_cast<int>(ItemState::Inbox));
  sqlite3_bind_int64(page, 2, since);
  sqlite3_bind_int64(page, 3, KSItem::kSearchOnlyMasterRev);
  size_t rows = 0;
  std::vector<std::string> row;
  while (sqlite3_step(page) == SQLITE_ROW) {
    row.clear();
    for (int c = 0; c < sqlite3_column_count(page); ++c) {
      if (sqlite3_column_type(page, c) == SQLITE_TEXT)
        row.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(page, c)),
                         static_cast<size_t>(sqlite3_column_bytes(page, c)));
      else
        benchmark::DoNotOptimize(sqlite3_column_int64(page, c));
    }
    benchmark::DoNotOptimize(row);
    ++rows;
  }
  sqlite3_finalize(page);
  sqlite3_close(db);
  return rows;
}

// Starts a download that hangs and returns once its hook is connected and waiting for the answer.
void start_stalled_download(StalledServer& server) {
  auto downloader = std::make_shared<KSHttp::Downloader>(server.url(), 60000, 0);
  downloader->get(jsonette::Json());
  server.accept_one();
}

void BM_ApiToFirstInboxPage(benchmark::State& state) {
  const Store& s = store(static_cast<int>(state.range(0)));
  size_t rows = 0;
  for (auto _ : state) {
    auto http = new_bridge(s);
    const auto start = Clock::now();
    auto api = make_api(s, http);
    rows = first_inbox_page(*api);
    state.SetIterationTime(seconds_since(start));
    api.reset();
  }
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["peak_MiB"] = bench::peak_mib_in_child([&] {
    auto http = new_bridge(s);
    auto api = make_api(s, http);
    benchmark::DoNotOptimize(first_inbox_page(*api));
  });
}

void BM_BareFirstInboxPage(benchmark::State& state) {
  const Store& s = store(static_cast<int>(state.range(0)));
  size_t rows = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    rows = bare_inbox_page(s);
    state.SetIterationTime(seconds_since(start));
  }
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["peak_MiB"] = bench::peak_mib_in_child([&] { benchmark::DoNotOptimize(bare_inbox_page(s)); });
}

void BM_ApiDestroyIdle(benchmark::State& state) {
  const Store& s = store(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    auto http = new_bridge(s);
    auto api = make_api(s, http);
    first_inbox_page(*api);
    const auto start = Clock::now();
    api.reset();
    state.SetIterationTime(seconds_since(start));
  }
  state.counters["peak_MiB"] = bench::peak_mib_in_child([&] {
    auto http = new_bridge(s);
    auto api = make_api(s, http);
    first_inbox_page(*api);
    api.reset();
  });
}

void BM_ApiDestroyStalled(benchmark::State& state) {
  const Store& s = store(static_cast<int>(state.range(0)));
  StalledServer server;
  for (auto _ : state) {
    auto http = new_bridge(s);
    auto api = make_api(s, http);
    start_stalled_download(server);
    const auto start = Clock::now();
    api.reset();
    state.SetIterationTime(seconds_since(start));
    server.drop();
  }
  state.counters["peak_MiB"] = bench::peak_mib_in_child([&] {
    auto http = new_bridge(s);
    auto api = make_api(s, http);
    start_stalled_download(server);
    api.reset();
  });
}

BENCHMARK(BM_ApiToFirstInboxPage)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BareFirstInboxPage)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApiDestroyIdle)->Arg(10000)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ApiDestroyStalled)->Arg(10000)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
