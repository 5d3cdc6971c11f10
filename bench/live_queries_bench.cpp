// Archiving inbox items as triage writes them, with ten live queries over KSITEM registered on a
// store of 100k items (3 e-mails each): a data task changes 1, 10 or 100 items, commits, and every
// query re-fetches and diffs. Timed from posting the task to its completion, which runs after the
// last observer's end_changes. Next to it, bare sqlite3_* calls on a connection of their own do the
// same updates in one transaction and step through the same ten SELECTs, reading every column.
#include <benchmark/benchmark.h>

#include <sqlite3.h>
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/data/consumer_center.h"
#include "core/data/data_center.h"
#include "core/foundation/semaphore.h"
#include "core/model/db_context_sql.h"
#include "core/model/item_orderings.h"
#include "core/model/query_observer.h"

namespace {

using libkestrun::DbSql;
using libkestrun::ItemState;
using Object = std::shared_ptr<KestrunObject>;
using Rows = KSQueryRows;

constexpr int kItems = 100000;
using bench::kBaseTime;

// Item i: 40% inbox (two accounts), 8% filed in one of 20 lists, 0.4% each deferred, trash and
// spam, the rest archived; every tenth has a sent e-mail, every thousandth a draft. Newer i, newer
// item.
libkestrun::internal::Item sample_item(int i) {
  const int slot = i % 1000;
  ItemState state = ItemState::Archive;
  if (slot < 400)
    state = ItemState::Inbox;
  else if (slot < 480)
    state = ItemState::List;
  else if (slot < 484)
    state = ItemState::Later;
  else if (slot < 487)
    state = ItemState::Trash;
  else if (slot < 490)
    state = ItemState::Spam;
  libkestrun::internal::Item item = bench::sample_item(i, state, 3);
  item.set_MLISTID(state == ItemState::List ? "list-" + std::to_string(i % 20) : "");
  item.set_REMINDAT(state == ItemState::Later ? kBaseTime + 7 * i : 0);
  if (i % 1000 == 7) item.set_DRAFTIDS({"draft-" + std::to_string(i)});
  return item;
}

libkestrun::internal::Email sample_email(int i, int n, const std::string& itemID) {
  libkestrun::internal::Email email = bench::sample_email(i, n, itemID);
  email.set_SENT(n == 2 && i % 10 == 0);
  return email;
}

// The ten queries: their fetch on a context, and the same SELECT with its bindings for the bare run.
struct QuerySpec {
  const char* name;
  std::function<Rows(KestrunContext&)> fetch;
  std::function<bool(const Object&, const Object&)> ordering;
  DbSql sql;
  std::vector<int64_t> ints;       // bound first, in order
  std::vector<std::string> texts;  // bound after the ints at the positions named below
  std::vector<int> text_positions;
};

class World {
 public:
  World() {
    char pattern[] = "/tmp/kestrun-live-queries-bench-XXXXXX";
    dir_ = mkdtemp(pattern);
    const std::string path = dir_ + "/kestrun.db";
    DBContext::check_schema_version(path, false, std::nullopt, [] {});
    thread_ = std::make_unique<brelt::UvThread>(true);
    center_ = std::make_shared<libkestrun::NotificationCenter>(*thread_);
    KestrunDataCenter::initialize(thread_.get(), center_, path, std::nullopt);
    KestrunDataCenter::performSyncDataTask([this](std::vector<std::string>&, DBContext& context) {
      context.database().execDML("BEGIN TRANSACTION;");
      for (int i = 0; i < kItems; ++i) {
        auto item = sample_item(i);
        context.insertItem(item);
        for (int n = 0; n < 3; ++n) context.insertEmail(sample_email(i, n, item.get_ITEMID()));
        if (item.get_STATE() == ItemState::Inbox) inbox_.push_back(item.get_ITEMID());
      }
      context.database().execDML("END TRANSACTION;");
    });
    // Newest first, as triage meets them.
    inbox_.assign(inbox_.rbegin(), inbox_.rend());
    KestrunConsumerCenter::initialize(thread_.get(), path, std::nullopt);
    register_queries();
    if (sqlite3_open_v2(path.c_str(), &bare_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) abort();
  }

  ~World() {
    for (const auto& spec : specs_) KestrunConsumerCenter::endQuery(spec.name);
    sqlite3_close(bare_);
    std::filesystem::remove_all(dir_);
  }

  // Archives the next `count` inbox items in one data task; returns the seconds until its
  // completion ran.
  double archive_ours(int count) {
    std::vector<std::string> ids = take(count);
    patch::semaphore done;
    auto start = std::chrono::steady_clock::now();
    KestrunDataCenter::performNormalDataTask(
        [&](std::vector<std::string>&, DBContext& context) {
          for (const auto& id : ids) {
            auto item = context.fetchItem(id);
            item->setState(ItemState::Archive);
            item->setModifiedAt(++now_);
          }
        },
        [&](std::vector<std::string>&) { done.notify(); }, nullptr);
    done.wait();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

  // The same updates on bare SQLite, then the ten SELECTs stepped through with every column read.
  double archive_bare(int count) {
    std::vector<std::string> ids = take(count);
    auto start = std::chrono::steady_clock::now();
    exec("BEGIN TRANSACTION;");
    sqlite3_stmt* update =
        prepare("UPDATE KSITEM SET STATE=?, PREVIOUSSTATE=?, MODIFIEDAT=? WHERE ITEMID=?;");
    for (const auto& id : ids) {
      sqlite3_bind_int(update, 1, static_cast<int>(ItemState::Archive));
      sqlite3_bind_int(update, 2, static_cast<int>(ItemState::Inbox));
      sqlite3_bind_int64(update, 3, ++now_);
      sqlite3_bind_text(update, 4, id.data(), static_cast<int>(id.size()), SQLITE_STATIC);
      if (sqlite3_step(update) != SQLITE_DONE) abort();
      sqlite3_reset(update);
    }
    sqlite3_finalize(update);
    exec("END TRANSACTION;");
    for (const auto& spec : specs_) read_all(spec);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }

 private:
  void register_queries() {
    int64_t inbox = 0, account = 0, archive = 0, sent = 0;
    KestrunConsumerCenter::withDBContext([&](DBContext& context) {
      inbox = KSItem::inboxPageBoundary(199, &context);
      account = KSItem::inboxPageBoundaryForAccount(199, "account-b", &context);
      archive = KSItem::archivePageBoundary(199, &context);
      sent = KSItem::sentPageBoundary(199, &context);
    });
    const int64_t searchOnly = KSItem::kSearchOnlyMasterRev;
    const std::string single = inbox_[inbox_.size() / 2];
    auto by_time = KSItem::ModifiedAtDesc();
    specs_ = {
        {"inbox",
         [=](KestrunContext& c) { return c.inboxItemsSinceQuery(inbox); },
         by_time,
         DbSql::InboxItemsSince,
         {static_cast<int>(ItemState::Inbox), inbox, searchOnly},
         {},
         {}},
        {"archive",
         [=](KestrunContext& c) { return c.archiveItemsSinceQuery(archive); },
         by_time,
         DbSql::ArchiveItemsSince,
         {static_cast<int>(ItemState::Archive), archive, searchOnly},
         {},
         {}},
        {"list",
         [](KestrunContext& c) { return c.listItemsSinceQuery(0, "list-1"); },
         by_time,
         DbSql::ListItemsSinceForList,
         {static_cast<int>(ItemState::List), 0, searchOnly},
         {"list-1"},
         {3}},
        {"account",
         [=](KestrunContext& c) { return c.inboxItemsSinceForAccountQuery(account, "account-b"); },
         by_time,
         DbSql::InboxItemsSinceForAccount,
         {static_cast<int>(ItemState::Inbox), account, searchOnly},
         {"account-b"},
         {3}},
        {"later",
         [](KestrunContext& c) { return c.laterItemsQuery(); },
         KSItem::DeferralOrdering(),
         DbSql::LaterItems,
         {static_cast<int>(ItemState::Later), searchOnly},
         {},
         {}},
        {"trash",
         [](KestrunContext& c) { return c.trashItemsQuery(); },
         by_time,
         DbSql::TrashItems,
         {static_cast<int>(ItemState::Trash), searchOnly},
         {},
         {}},
        {"spam",
         [](KestrunContext& c) { return c.spamItemsQuery(); },
         by_time,
         DbSql::SpamItems,
         {static_cast<int>(ItemState::Spam), searchOnly},
         {},
         {}},
        {"sent",
         [=](KestrunContext& c) { return c.sentItemsSinceQuery(sent); },
         by_time,
         DbSql::SentItemsSince,
         {static_cast<int>(ItemState::Deleted), static_cast<int>(ItemState::ServerHidden), sent, searchOnly},
         {},
         {}},
        {"drafts",
         [](KestrunContext& c) { return c.itemsWithDraftsSinceQuery(0); },
         by_time,
         DbSql::ItemsWithDraftsSince,
         {static_cast<int>(ItemState::Deleted), static_cast<int>(ItemState::ServerHidden), 0, searchOnly},
         {},
         {}},
        {"item",
         [=](KestrunContext& c) { return c.itemQuery(single); },
         KSItem::modified_at_desc,
         DbSql::ItemQuery,
         {},
         {single},
         {1}},
    };
    auto observer = std::make_shared<libkestrun::FnDataQueryObserver>(
        [](const std::string&, const std::vector<Object>&) {}, [](const std::string&) {},
        [](const std::string&, Object, libkestrun::ConsumerChangeType, int, int) {},
        [](const std::string&) {});
    for (const auto& spec : specs_) {
      auto fetch = spec.fetch;
      KestrunConsumerCenter::addQuery(
          spec.name, "KSITEM",
          std::make_unique<libkestrun::FnObjectQuery>(
              spec.name, [fetch](const std::string&, KestrunContext& context) { return fetch(context); },
              spec.ordering, KSItem::ChangeIsUserVisible(), observer),
          false);
    }
  }

  std::vector<std::string> take(int count) {
    std::vector<std::string> ids(inbox_.begin() + next_, inbox_.begin() + next_ + count);
    next_ += count;
    return ids;
  }

  void exec(const char* sql) {
    if (sqlite3_exec(bare_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) abort();
  }
  sqlite3_stmt* prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(bare_, sql, -1, &statement, nullptr) != SQLITE_OK) abort();
    return statement;
  }

  void read_all(const QuerySpec& spec) {
    sqlite3_stmt* select = prepare(libkestrun::db_sql_texts()[static_cast<size_t>(spec.sql)].sql);
    int position = 1;
    size_t text = 0;
    for (int64_t value : spec.ints) {
      while (text < spec.text_positions.size() && spec.text_positions[text] == position) {
        sqlite3_bind_text(select, position++, spec.texts[text].data(),
                          static_cast<int>(spec.texts[text].size()), SQLITE_STATIC);
        ++text;
      }
      sqlite3_bind_int64(select, position++, value);
    }
    for (; text < spec.texts.size(); ++text) {
      sqlite3_bind_text(select, position++, spec.texts[text].data(),
                        static_cast<int>(spec.texts[text].size()), SQLITE_STATIC);
    }
    std::vector<std::string> row;
    while (sqlite3_step(select) == SQLITE_ROW) {
      const int columns = sqlite3_column_count(select);
      row.clear();
      for (int c = 0; c < columns; ++c) {
        if (sqlite3_column_type(select, c) == SQLITE_TEXT) {
          row.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(select, c)),
                           static_cast<size_t>(sqlite3_column_bytes(select, c)));
        } else {
          benchmark::DoNotOptimize(sqlite3_column_int64(select, c));
        }
      }
      benchmark::DoNotOptimize(row);
    }
    sqlite3_finalize(select);
  }

  std::string dir_;
  std::unique_ptr<brelt::UvThread> thread_;
  std::shared_ptr<libkestrun::NotificationCenter> center_;
  std::vector<std::string> inbox_;
  size_t next_ = 0;
  int64_t now_ = kBaseTime + 1000LL * kItems;
  std::vector<QuerySpec> specs_;
  sqlite3* bare_ = nullptr;
};

World& world() {
  static World instance;
  return instance;
}

void BM_ArchiveWithLiveQueries(benchmark::State& state) {
  World& w = world();
  for (auto _ : state) state.SetIterationTime(w.archive_ours(static_cast<int>(state.range(0))));
  state.counters["peak_rss_MB"] = bench::peak_rss_mib();
}

void BM_ArchiveBareSqlite(benchmark::State& state) {
  World& w = world();
  for (auto _ : state) state.SetIterationTime(w.archive_bare(static_cast<int>(state.range(0))));
  state.counters["peak_rss_MB"] = bench::peak_rss_mib();
}

// Fixed iterations: each archives fresh inbox items, and the store has 40k of them.
BENCHMARK(BM_ArchiveWithLiveQueries)->Arg(1)->Iterations(100)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArchiveBareSqlite)->Arg(1)->Iterations(100)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArchiveWithLiveQueries)->Arg(10)->Iterations(30)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArchiveBareSqlite)->Arg(10)->Iterations(30)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArchiveWithLiveQueries)
    ->Arg(100)
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ArchiveBareSqlite)->Arg(100)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
