// `make run`: runs, end to end, as much of the core as has been built so far, and says plainly
// what cannot run yet. State lives in the directory given as the first argument, so a second
// run shows what the first one left behind.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "brelt/semaphore.h"
#include "brelt/uv_thread.h"
#include "core/foundation/defaults.h"
#include "core/foundation/posix_file_utility.h"
#include "core/foundation/utility.h"
#include "core/store/db_schema.h"
#include "core/store/item_record.h"
#include "core/store/query_builder.h"
#include "core/store/sqlite_query.h"

namespace {

using libkestrun::ItemState;
using libkestrun::internal::Item;
using libkestrun::internal::ItemAttr;

const char kRunCountKey[] = "kestrun.run.count";

struct Sample {
  const char* id;
  const char* subject;
  const char* preview;
  const char* senders;
  ItemState state;
  int minutes_ago;
  bool read;
};

const Sample kSamples[] = {
    {"S1", "Quarterly planning", "Agenda attached for Thursday's review", "Ada Byron", ItemState::Inbox, 12,
     false},
    {"S2", "Your flight on Friday", "Check-in opens 24 hours before departure", "Skyways", ItemState::Inbox,
     95, true},
    {"S3", "Re: lunch?", "Sounds good, see you at noon", "Grace, Alan", ItemState::Inbox, 240, false},
    {"S4", "Receipt #4411", "Thanks for your order", "Shop", ItemState::Archive, 600, true},
    {"S5", "Newsletter", "This week in gardening", "Garden Club", ItemState::Trash, 900, true},
};

void show_core_thread(brelt::UvThread& core) {
  using namespace std::chrono_literals;
  std::string order;
  brelt::Semaphore done;
  core.post_sync([&] {
    core.post_low([&] { order += "low "; });
    core.post([&] { order += "high "; });
  });
  auto timer = core.defer(20ms, [&] {
    order += "timer";
    done.notify();
  });
  done.wait();
  std::printf("core thread: queued work ran in priority order: %s\n", order.c_str());
}

std::string key_value_store(libkestrun::Defaults& defaults, int& run) {
  run = 0;
  defaults.read_int(kRunCountKey, run);
  ++run;
  defaults.set_json(kRunCountKey, run);
  std::string key = defaults.get_encryption_key();
  std::printf("key-value store \"defaultsdb\": run %d; per-install database key of %zu bytes\n", run,
              key.size());
  return key;
}

void fill_and_show_inbox(const std::string& name, const std::string& key, bool first_run) {
  CppSQLite3DB db;
  db.open(name.c_str());
  libkestrun::SqlSchema::set_key(db, key);
  const long long now = libkestrun::Utility::now_ms();
  if (first_run) {
    libkestrun::internal::SqliteQuery<Item> items(db);
    db.execDML("BEGIN;");
    for (const Sample& s : kSamples) {
      Item item;
      item.set_ITEMID(s.id);
      item.set_ACCOUNTID("sample-account");
      item.set_SUBJECT(s.subject);
      item.set_THREADPREVIEW(s.preview);
      item.set_THREADSENDERS(s.senders);
      item.set_STATE(s.state);
      item.set_THREADREAD(s.read);
      item.set_EMAILCOUNT(1);
      item.set_MODIFIEDAT(now - s.minutes_ago * 60000LL);
      item.set_THREADTIMESTAMP(now - s.minutes_ago * 60000LL);
      items.update_or_insert(item);
    }
    db.execDML("COMMIT;");
    std::printf("sample data: %zu conversations saved to the encrypted database\n", std::size(kSamples));
  }
  auto by_state =
      libkestrun::internal::QueryBuilder<Item>().select_all().where(ItemAttr::STATE).build_stmt(db);
  std::vector<Item> inbox = by_state.fetch_all(ItemAttr::STATE, ItemState::Inbox);
  std::sort(inbox.begin(), inbox.end(),
            [](const Item& a, const Item& b) { return a.get_MODIFIEDAT() > b.get_MODIFIEDAT(); });
  std::printf("\nInbox (%zu)\n", inbox.size());
  for (const Item& item : inbox) {
    std::printf("  %s %-24s %-16s %s\n", item.get_THREADREAD() ? " " : "*", item.get_SUBJECT().c_str(),
                item.get_THREADSENDERS().c_str(), item.get_THREADPREVIEW().c_str());
  }
  std::printf("Archive (%zu), Trash (%zu)\n", by_state.fetch_all(ItemAttr::STATE, ItemState::Archive).size(),
              by_state.fetch_all(ItemAttr::STATE, ItemState::Trash).size());
}

int run(const std::string& caches) {
  libkestrun::posix::PosixFileUtility files;
  files.ensure_directory(caches);
  std::printf("Kestrun core (state in %s)\n\n", caches.c_str());

  brelt::UvThread core(true);
  show_core_thread(core);

  libkestrun::Defaults defaults(caches);
  int run_number = 0;
  const std::string key = key_value_store(defaults, run_number);

  const std::string name = libkestrun::SqlSchema::database_name(caches, "kestrun.db", false);
  bool rebuilt = false;
  libkestrun::SqlSchema::check_schema_version(name, false, key, [&] { rebuilt = true; });
  const bool first_run = rebuilt || run_number == 1;
  std::printf("database \"kestrun.db\": schema version %d, pages encrypted, %s\n",
              libkestrun::SqlSchema::schema_version, first_run ? "created" : "kept from the last run");
  fill_and_show_inbox(name, key, first_run);

  std::printf(
      "\nNot built yet: the data model and live queries, synchronisation with a server, accounts,\n"
      "the core facade and every window. The network library (TLS, framing, reconnecting client)\n"
      "is built and tested against a local test peer by `make test`, but there is no sync server\n"
      "to run against yet, so the mail above is sample data written by this program.\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string caches = argc > 1 ? argv[1] : "kestrun-run";
  try {
    return run(caches);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "kestrun_run: %s\n", e.what());
    return 1;
  }
}
