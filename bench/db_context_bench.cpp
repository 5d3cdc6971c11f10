// The database context on a keyed file of 10k inbox items, next to bare sqlite3_* calls running
// the same SQL over the same connection: a whole folder read into model objects (with an empty
// cache, as after each commit), and fetches by id that the object cache answers.
#include <benchmark/benchmark.h>

#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/model/db_context.h"
#include "core/model/ks_item.h"

namespace {

constexpr int kRows = 10000;
const char* const kInboxSql = "SELECT * FROM KSITEM WHERE STATE=? AND THREADHASEMAILS=1 AND MASTERREV!=?;";
const char* const kByIdSql = "SELECT * FROM KSITEM WHERE ITEMID=?;";

std::string item_id(int i) { return "item-" + std::to_string(i) + "-6F9619FF-8B86-D011-B42D-00C04FC964FF"; }

// A keyed database file of kRows realistic inbox items, with a context open on it.
class InboxDatabase {
 public:
  InboxDatabase() {
    char pattern[] = "/tmp/kestrun-context-bench-XXXXXX";
    dir_ = mkdtemp(pattern);
    const std::string path = dir_ + "/kestrun.db";
    DBContext::check_schema_version(path, false, key(), [] {});
    context.open(path, key());
    context.database().execDML("BEGIN TRANSACTION;");
    for (int i = 0; i < kRows; ++i) context.insertItem(sample_item(i));
    context.database().execDML("END TRANSACTION;");
  }
  ~InboxDatabase() {
    context.close();
    std::filesystem::remove_all(dir_);
  }

  static std::string key() { return std::string(32, '\x5a'); }

  DBContext context;

 private:
  static libkestrun::internal::Item sample_item(int i) {
    const std::string n = std::to_string(i);
    libkestrun::internal::Item item;
    item.set_ITEMID(item_id(i));
    item.set_ACCOUNTID("account-1");
    item.set_STATE(libkestrun::ItemState::Inbox);
    item.set_THREADHASEMAILS(true);
    item.set_MASTERREV(200);
    item.set_MODIFIEDAT(1700000000000LL + 2 * i);
    item.set_SUBJECT("Subject of conversation " + n);
    item.set_SYNCDATA(R"({"hist":12345,"thread":"t)" + n + R"("})");
    item.set_THREADPREVIEW(std::string(120, 'p'));
    item.set_THREADSENDERS(R"({"ann@example.com":{"name":"Ann","full_display_name":"Ann Example"}})");
    item.set_THREADRECEIVERS(R"({"me@example.com":{"name":"Me","full_display_name":"Me Myself"}})");
    item.set_THREADTIMESTAMP(1700000000000LL + i);
    return item;
  }

  std::string dir_;
};

// Every column of a row as the bare library gives it: texts copied out, numbers by value.
struct RawRow {
  std::vector<std::string> texts;
  std::vector<sqlite3_int64> integers;
  double real = 0;
};

void read_raw_row(sqlite3_stmt* statement, RawRow& row) {
  const int columns = sqlite3_column_count(statement);
  for (int c = 0; c < columns; ++c) {
    switch (sqlite3_column_type(statement, c)) {
      case SQLITE_TEXT:
        row.texts.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(statement, c)),
                               sqlite3_column_bytes(statement, c));
        break;
      case SQLITE_FLOAT:
        row.real = sqlite3_column_double(statement, c);
        break;
      default:
        row.integers.push_back(sqlite3_column_int64(statement, c));
    }
  }
}

void BM_ContextInboxFolder(benchmark::State& state) {
  InboxDatabase base;
  for (auto _ : state) {
    base.context.reset();
    auto items = base.context.itemsInState(libkestrun::ItemState::Inbox);
    if (items->size() != kRows) state.SkipWithError("rows missing");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_RawInboxFolder(benchmark::State& state) {
  InboxDatabase base;
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(base.context.database().handle(), kInboxSql, -1, &select, nullptr);
  for (auto _ : state) {
    std::vector<RawRow> rows;
    sqlite3_bind_int(select, 1, 2);
    sqlite3_bind_int64(select, 2, 100);
    while (sqlite3_step(select) == SQLITE_ROW) read_raw_row(select, rows.emplace_back());
    sqlite3_reset(select);
    if (rows.size() != kRows) state.SkipWithError("rows missing");
  }
  sqlite3_finalize(select);
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_ContextFetchCachedById(benchmark::State& state) {
  InboxDatabase base;
  std::vector<std::string> ids;
  for (int i = 0; i < kRows; i += 10) ids.push_back(item_id(i));
  for (const std::string& id : ids) base.context.fetchItem(id);
  for (auto _ : state) {
    for (const std::string& id : ids) benchmark::DoNotOptimize(base.context.fetchItem(id));
  }
  state.SetItemsProcessed(state.iterations() * ids.size());
}

void BM_RawFetchById(benchmark::State& state) {
  InboxDatabase base;
  std::vector<std::string> ids;
  for (int i = 0; i < kRows; i += 10) ids.push_back(item_id(i));
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(base.context.database().handle(), kByIdSql, -1, &select, nullptr);
  for (auto _ : state) {
    for (const std::string& id : ids) {
      RawRow row;
      sqlite3_bind_text(select, 1, id.data(), static_cast<int>(id.size()), SQLITE_STATIC);
      if (sqlite3_step(select) == SQLITE_ROW) read_raw_row(select, row);
      sqlite3_reset(select);
      benchmark::DoNotOptimize(row);
    }
  }
  sqlite3_finalize(select);
  state.SetItemsProcessed(state.iterations() * ids.size());
}

BENCHMARK(BM_ContextInboxFolder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawInboxFolder)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ContextFetchCachedById)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RawFetchById)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
