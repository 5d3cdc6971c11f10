// 10k KSITEM rows read into row records and written back through the prepared update, next to the
// same SQL on bare sqlite3_* calls over the same connection: the cost of the typed records, their
// column encodings and the wrapper.
#include <benchmark/benchmark.h>

#include <sqlite3.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/store/cpp_sqlite3.h"
#include "core/store/db_schema.h"
#include "core/store/item_record.h"
#include "core/store/sqlite_query.h"

namespace {

using libkestrun::SqlSchema;
using libkestrun::internal::Item;
using libkestrun::internal::SqliteQuery;

constexpr int kRows = 10000;
const char* const kSelectAll = "SELECT * FROM `KSITEM`";

// A database file of kRows realistic items, plain or keyed, removed with its directory.
class ItemDatabase {
 public:
  explicit ItemDatabase(bool keyed) {
    char pattern[] = "/tmp/kestrun-records-bench-XXXXXX";
    dir_ = mkdtemp(pattern);
    db.open((dir_ + "/kestrun.db").c_str());
    if (keyed) SqlSchema::set_key(db, std::string(32, '\x5a'));
    SqlSchema::create_tables(db);
    SqliteQuery<Item> items(db);
    db.execDML("BEGIN TRANSACTION;");
    for (int i = 0; i < kRows; ++i) items.update_or_insert(sample_item(i));
    db.execDML("END TRANSACTION;");
  }
  ~ItemDatabase() {
    db.close();
    std::filesystem::remove_all(dir_);
  }

  CppSQLite3DB db;

 private:
  static Item sample_item(int i) {
    const std::string n = std::to_string(i);
    Item item;
    item.set_ITEMID("item-" + n + "-6F9619FF-8B86-D011-B42D-00C04FC964FF");
    item.set_ACCOUNTID("account-1");
    item.set_AGGREGATECONVO(std::string(300, 'c'));
    item.set_CREATEDAT(1700000000000LL + i);
    item.set_EMAILCOUNT(i % 7);
    item.set_MASTERREV(1.0 + i);
    item.set_MODIFIEDAT(1700000000000LL + 2 * i);
    item.set_STATE(libkestrun::ItemState::Inbox);
    item.set_SUBJECT("Subject of conversation " + n);
    item.set_SYNCDATA(R"({"hist":12345,"thread":"t)" + n + R"("})");
    item.set_DRAFTIDS({"draft-" + n});
    item.set_THREADPREVIEW(std::string(120, 'p'));
    item.set_THREADSENDERS(R"({"ann@example.com":{"name":"Ann","short_display_name":"Ann",)"
                           R"("full_display_name":"Ann Example","is_original_participant":true,)"
                           R"("is_current_user":false,"sent_at":1700000000000}})");
    item.set_THREADRECEIVERS(R"({"me@example.com":{"name":"Me","short_display_name":"Me",)"
                             R"("full_display_name":"Me Myself","is_original_participant":true,)"
                             R"("is_current_user":true}})");
    item.set_THREADTIMESTAMP(1700000000000LL + i);
    item.set_TYPE(libkestrun::ItemType::Default);
    return item;
  }

  std::string dir_;
};

void BM_ItemRecords(benchmark::State& state) {
  ItemDatabase base(state.range(0) != 0);
  SqliteQuery<Item> items(base.db);
  CppSQLite3Statement select = base.db.compileStatement(kSelectAll);
  for (auto _ : state) {
    std::vector<Item> rows;
    rows.reserve(kRows);
    {
      CppSQLite3Query cursor = select.execQuery();
      for (; !cursor.eof(); cursor.nextRow()) rows.emplace_back(cursor);
    }
    select.reset();
    base.db.execDML("BEGIN TRANSACTION;");
    for (const Item& item : rows) {
      libkestrun::internal::bind_row(items.update_stmt, item.row.values);
      items.update_stmt.execDML();
      items.update_stmt.reset();
    }
    base.db.execDML("END TRANSACTION;");
    if (rows.size() != kRows) state.SkipWithError("rows missing");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

// The same columns held as the bare library gives them: text copied out, numbers by value, the
// JSON column left as its text.
struct RawItem {
  std::vector<std::string> texts;
  std::vector<sqlite3_int64> integers;
  double master_rev = 0;
};

void BM_RawSqlite(benchmark::State& state) {
  ItemDatabase base(state.range(0) != 0);
  sqlite3* db = base.db.handle();
  sqlite3_stmt* select = nullptr;
  sqlite3_stmt* update = nullptr;
  sqlite3_prepare_v2(db, kSelectAll, -1, &select, nullptr);
  sqlite3_prepare_v2(db, SqliteQuery<Item>::_build_update().c_str(), -1, &update, nullptr);
  const int columns = sqlite3_column_count(select);
  std::vector<int> types(columns);
  for (auto _ : state) {
    std::vector<RawItem> rows;
    rows.reserve(kRows);
    bool first = true;
    while (sqlite3_step(select) == SQLITE_ROW) {
      if (first) {  // the declared storage of each column, as the record's tuple fixes it
        for (int c = 0; c < columns; ++c) types[c] = sqlite3_column_type(select, c);
        first = false;
      }
      RawItem& row = rows.emplace_back();
      row.texts.reserve(columns);
      row.integers.reserve(columns);
      for (int c = 0; c < columns; ++c) {
        if (types[c] == SQLITE_TEXT) {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(select, c));
          row.texts.emplace_back(text, sqlite3_column_bytes(select, c));
        } else if (types[c] == SQLITE_FLOAT) {
          row.master_rev = sqlite3_column_double(select, c);
        } else {
          row.integers.push_back(sqlite3_column_int64(select, c));
        }
      }
    }
    sqlite3_reset(select);
    sqlite3_exec(db, "BEGIN TRANSACTION;", nullptr, nullptr, nullptr);
    for (const RawItem& row : rows) {
      size_t text = 0, integer = 0;
      for (int c = 0; c < columns; ++c) {
        if (types[c] == SQLITE_TEXT) {
          const std::string& value = row.texts[text++];
          sqlite3_bind_text(update, c + 1, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
        } else if (types[c] == SQLITE_FLOAT) {
          sqlite3_bind_double(update, c + 1, row.master_rev);
        } else {
          sqlite3_bind_int64(update, c + 1, row.integers[integer++]);
        }
      }
      sqlite3_step(update);
      sqlite3_reset(update);
    }
    sqlite3_exec(db, "END TRANSACTION;", nullptr, nullptr, nullptr);
    if (rows.size() != kRows) state.SkipWithError("rows missing");
  }
  sqlite3_finalize(select);
  sqlite3_finalize(update);
  state.SetItemsProcessed(state.iterations() * kRows);
}

// Side by side, plain then keyed, so that the two variants of a pair run close together.
BENCHMARK(BM_ItemRecords)->ArgName("keyed")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawSqlite)->ArgName("keyed")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ItemRecords)->ArgName("keyed")->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawSqlite)->ArgName("keyed")->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
