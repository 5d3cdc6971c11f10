// Applying one account snapshot of 2k conversations and 6k e-mails (each e-mail with a sender and
// two recipients out of 200 people) through the data center on a keyed database, next to bare
// sqlite3_* inserts of the same rows (items, e-mails, contacts and recipient links) in one
// transaction on the same kind of file. Ours also converts every document, finds or creates its
// objects and folds each e-mail into its conversation; the bare side only writes rows.
//
// Each pass starts from an empty database (made outside the timing). The peak resident set of the
// process is reported after each benchmark; the bare one runs first, so ours is the peak of both.
// The work of ours runs on the core thread, so both are timed by the clock, not the CPU time.
#include <benchmark/benchmark.h>

#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "brelt/uv_thread.h"
#include "core/accounts/account_manager.h"
#include "core/data/data_center.h"
#include "core/foundation/semaphore.h"
#include "core/model/db_context.h"
#include "tools/kestrun_run/run_accounts.h"

namespace {

using jsonette::Json;

constexpr int kItems = 2000;
constexpr int kEmailsPerItem = 3;
constexpr int kPeople = 200;
const char kAccount[] = "account-1";

std::string person(int i) { return "person" + std::to_string(i % kPeople) + "@example.com"; }
std::string item_id(int i) { return "item-" + std::to_string(i) + "-6F9619FF-8B86-D011-B42D-00C04FC964FF"; }
std::string email_id(int i) { return "email-" + std::to_string(i) + "-6F9619FF-8B86-D011-B42D-00C04FC964FF"; }
std::string body(int i) { return "<p>Message " + std::to_string(i) + "</p>" + std::string(300, 'b'); }

Json people(int i) {
  return Json::object{{"address", person(i)}, {"name", "Person " + std::to_string(i % kPeople)}};
}

const Json& snapshot() {
  static const Json value = [] {
    Json::array items, emails;
    for (int i = 0; i < kItems; ++i) {
      items.push_back(Json::object{{"_id", item_id(i)},
                                   {"acct_id", kAccount},
                                   {"state", 2},
                                   {"subject", "Subject of conversation " + std::to_string(i)},
                                   {"modified_at", 1700000000000LL + i}});
      for (int e = 0; e < kEmailsPerItem; ++e) {
        const int n = i * kEmailsPerItem + e;
        emails.push_back(Json::object{{"_id", email_id(n)},
                                      {"acct_id", kAccount},
                                      {"p_id", item_id(i)},
                                      {"subject", "Subject of conversation " + std::to_string(i)},
                                      {"preview", std::string(120, 'p')},
                                      {"conversation", body(n)},
                                      {"created_at", 1700000000000LL + n},
                                      {"from", people(n)},
                                      {"to", Json::array{people(n + 1), people(n + 2)}}});
      }
    }
    return Json(Json::object{{"item", items}, {"email", emails}});
  }();
  return value;
}

double peak_resident_mib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

std::string key() { return std::string(32, '\x5a'); }

// A fresh directory with an empty keyed database of the core's schema; removed with the object.
class EmptyDatabase {
 public:
  EmptyDatabase() {
    char pattern[] = "/tmp/kestrun-snapshot-bench-XXXXXX";
    dir_ = mkdtemp(pattern);
    DBContext::check_schema_version(path(), false, key(), [] {});
  }
  ~EmptyDatabase() { std::filesystem::remove_all(dir_); }
  std::string path() const { return dir_ + "/kestrun.db"; }

 private:
  std::string dir_;
};

void BM_RawSnapshotInserts(benchmark::State& state) {
  const Json& docs = snapshot();
  for (auto _ : state) {
    state.PauseTiming();
    auto database = std::make_unique<EmptyDatabase>();
    DBContext context;
    context.open(database->path(), key());
    sqlite3* db = context.database().handle();
    state.ResumeTiming();

    // Every column of a table: the id first, then texts and numbers as the row has them.
    auto prepare = [&](const char* sql) {
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK)
        state.SkipWithError(sqlite3_errmsg(db));
      return statement;
    };
    auto text = [](sqlite3_stmt* s, int index, const std::string& value) {
      sqlite3_bind_text(s, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT);
    };
    auto run = [&](sqlite3_stmt* s) {
      if (sqlite3_step(s) != SQLITE_DONE) state.SkipWithError(sqlite3_errmsg(db));
      sqlite3_reset(s);
    };
    sqlite3_exec(db, "BEGIN TRANSACTION;", nullptr, nullptr, nullptr);
    sqlite3_stmt* item = prepare(
        "INSERT INTO KSITEM (ITEMID, ACCOUNTID, STATE, SUBJECT, MODIFIEDAT, THREADHASEMAILS, EMAILCOUNT, "
        "THREADPREVIEW, THREADSENDERS, THREADTIMESTAMP) VALUES (?,?,?,?,?,?,?,?,?,?);");
    sqlite3_stmt* email = prepare(
        "INSERT INTO KSEMAIL (EMAILID, ACCOUNTID, PARENTITEMID, SUBJECT, PREVIEW, CONVERSATION, CREATEDAT, "
        "MFROMID) VALUES (?,?,?,?,?,?,?,?);");
    sqlite3_stmt* contact =
        prepare("INSERT INTO KSCONTACT (CONTACTID, EMAILADDRESS, NAME, SCORE) VALUES (?,?,?,?);");
    sqlite3_stmt* link = prepare("INSERT INTO TOEMAILS (CONTACTID, EMAILID) VALUES (?,?);");
    for (int p = 0; p < kPeople; ++p) {
      text(contact, 1, "contact-" + std::to_string(p));
      text(contact, 2, person(p));
      text(contact, 3, "Person " + std::to_string(p));
      sqlite3_bind_int(contact, 4, 1);
      run(contact);
    }
    for (const Json& doc : docs["item"].array_items()) {
      text(item, 1, doc["_id"].string_value());
      text(item, 2, kAccount);
      sqlite3_bind_int(item, 3, 2);
      text(item, 4, doc["subject"].string_value());
      sqlite3_bind_int64(item, 5, doc["modified_at"].int64_value());
      sqlite3_bind_int(item, 6, 1);
      sqlite3_bind_int(item, 7, kEmailsPerItem);
      text(item, 8, std::string(120, 'p'));
      text(item, 9, R"({"person0@example.com":{"name":"Person 0"}})");
      sqlite3_bind_int64(item, 10, doc["modified_at"].int64_value());
      run(item);
    }
    int n = 0;
    for (const Json& doc : docs["email"].array_items()) {
      text(email, 1, doc["_id"].string_value());
      text(email, 2, kAccount);
      text(email, 3, doc["p_id"].string_value());
      text(email, 4, doc["subject"].string_value());
      text(email, 5, doc["preview"].string_value());
      text(email, 6, doc["conversation"].string_value());
      sqlite3_bind_int64(email, 7, doc["created_at"].int64_value());
      text(email, 8, "contact-" + std::to_string(n % kPeople));
      run(email);
      for (int r = 1; r <= 2; ++r) {
        text(link, 1, "contact-" + std::to_string((n + r) % kPeople));
        text(link, 2, doc["_id"].string_value());
        run(link);
      }
      ++n;
    }
    for (sqlite3_stmt* s : {item, email, contact, link}) sqlite3_finalize(s);
    sqlite3_exec(db, "END TRANSACTION;", nullptr, nullptr, nullptr);

    state.PauseTiming();
    context.close();
    database.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kItems * (1 + kEmailsPerItem));
  state.counters["peak_MiB"] = peak_resident_mib();
}

void BM_DataCenterSnapshot(benchmark::State& state) {
  const Json& docs = snapshot();
  brelt::UvThread core(true);
  libkestrun::account_manager_set_instance(std::make_shared<kestrun_run::RunAccounts>(kAccount, person(0)));
  for (auto _ : state) {
    state.PauseTiming();
    auto database = std::make_unique<EmptyDatabase>();
    KestrunDataCenter::initialize(&core, nullptr, database->path(), key());
    state.ResumeTiming();

    std::vector<std::string> counts;
    patch::semaphore done;
    core.post([&] {
      KestrunDataCenter::processDocumentSnapshot(docs, Json(), kAccount, nullptr,
                                                 [&](std::vector<std::string>& r) {
                                                   counts = r;
                                                   done.notify();
                                                 });
    });
    done.wait();

    state.PauseTiming();
    int items = 0;
    KestrunDataCenter::performSyncDataTask(
        [&](std::vector<std::string>&, DBContext& context) { items = context.countItems(); });
    if (items != kItems) state.SkipWithError("items missing");
    database.reset();
    state.ResumeTiming();
  }
  libkestrun::account_manager_set_instance(nullptr);
  state.SetItemsProcessed(state.iterations() * kItems * (1 + kEmailsPerItem));
  state.counters["peak_MiB"] = peak_resident_mib();
}

BENCHMARK(BM_RawSnapshotInserts)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DataCenterSnapshot)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
