// Searching through the facade: the quick local search, the full search in the cloud of the local
// sync server, cancelling, and priming the server's search.
#include <gtest/gtest.h>

#include <jansson.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "brelt/semaphore.h"
#include "core/api/api.h"
#include "signed_in_fixture.h"

namespace kestrun_test {
namespace {

using jsonette::Json;
using libkestrun::ConsumerChangeType;

constexpr char kNet[] = "acct-example-net";
constexpr char kCom[] = "acct-example-com";
// Both words occur in sample e-mails, never side by side in this order: the local quick search
// (a phrase in the subject, senders or receivers) finds nothing, the server (every word anywhere)
// finds conversations in both accounts.
constexpr char kText[] = "renovation kitchen";

// What one search reported: the calls of its live query in order ("results:<n>", "begin",
// "insert:<id>", "end", ...) and its finished and error calls. Any thread.
class SearchLog : public std::enable_shared_from_this<SearchLog> {
 public:
  void add(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back(call);
  }
  std::vector<std::string> calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  // The ids of the rows the query handed over last.
  void set_rows(const std::vector<std::shared_ptr<KestrunObject>>& rows) {
    std::lock_guard<std::mutex> lock(mutex_);
    rows_.clear();
    for (const auto& row : rows) rows_.insert(row->id());
    calls_.push_back("results:" + std::to_string(rows.size()));
  }
  std::set<std::string> rows() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rows_;
  }

  libkestrun::Api::SearchResultCallback finished() {
    return [self = shared_from_this()](json_t* result) {
      self->add(result ? "finished" : "finished null");
      self->ended_.notify();
    };
  }
  libkestrun::Api::SearchResultCallback error() {
    return [self = shared_from_this()](json_t* error) {
      self->add(error ? "error" : "error null");
      self->ended_.notify();
    };
  }
  void wait_ended() { ended_.wait(); }

 private:
  std::mutex mutex_;
  std::vector<std::string> calls_;  // guarded by mutex_
  std::set<std::string> rows_;      // guarded by mutex_
  brelt::Semaphore ended_;
};

class RecordingObserver : public libkestrun::ObjectQueryObserver {
 public:
  explicit RecordingObserver(std::shared_ptr<SearchLog> log) : log_(std::move(log)) {}
  void set_results(const std::string&, const std::vector<std::shared_ptr<KestrunObject>>& rows) override {
    log_->set_rows(rows);
  }
  void begin_changes(const std::string&) override { log_->add("begin"); }
  void item_changed(const std::string&, std::shared_ptr<KestrunObject> row, ConsumerChangeType type, int,
                    int) override {
    if (type == ConsumerChangeType::Insert) log_->add("insert:" + row->id());
  }
  void end_changes(const std::string&) override { log_->add("end"); }

 private:
  const std::shared_ptr<SearchLog> log_;
};

size_t count(const std::vector<std::string>& calls, const std::string& call) {
  size_t n = 0;
  for (const std::string& c : calls) n += c == call;
  return n;
}

TEST_F(ApiTest, AQuickSearchWithAnEmptyTextOnlyFinishesWithNull) {
  start();
  auto log = std::make_shared<SearchLog>();
  api_->perform_quick_local_search(
      "S1", "", "",
      [log](const std::string&, const std::vector<std::shared_ptr<KestrunObject>>& rows) {
        log->set_rows(rows);
      },
      [log](const std::string&) { log->add("begin"); }, [log](const std::string&) { log->add("end"); },
      [log](const std::string&, std::shared_ptr<KestrunObject>, ConsumerChangeType, int, int) {
        log->add("change");
      },
      log->finished(), log->error());
  log->wait_ended();
  on_core([] {});
  // No query was registered: its first pass would have handed over results.
  EXPECT_EQ(log->calls(), (std::vector<std::string>{"finished null"}));
}

class ApiSearchTest : public SignedInApiTest {
 protected:
  // The conversations the server's own search finds for `text` in `account`, asked over the test's
  // connection.
  std::set<std::string> server_finds(const std::string& account, const std::string& text) {
    const std::string id = "own-" + account;
    wire_->send(Json(Json::object{
        {"method", "SEARCH_QUERY"},
        {"id", id},
        {"params",
         Json::object{{"account_id", account},
                      {"search_id", id},
                      {"query", text},
                      {"client_metadata", Json::object{{"num_accounts", 1}, {"network_state", 1}}}}}}));
    wire_->wait_for([&](const Json& m) { return m["id"] == Json(id); });
    std::set<std::string> found;
    for (const Json& m : wire_->messages()) {
      if (m["method"] != Json("SEARCH_RESULT_ITEM") || m["params"]["search_id"] != Json(id)) continue;
      for (const Json& thread : m["params"]["threads"].array_items())
        found.insert(thread["_id"].string_value());
    }
    return found;
  }
};

TEST_F(ApiSearchTest, AFullSearchStreamsTheCloudResultsIntoTheQuickSearchsObserver) {
  ASSERT_NO_FATAL_FAILURE(sign_in({kCom, kNet}));
  const std::set<std::string> in_com = server_finds(kCom, kText);
  const std::set<std::string> in_net = server_finds(kNet, kText);
  ASSERT_FALSE(in_com.empty());
  ASSERT_FALSE(in_net.empty());
  std::set<std::string> expected = in_com;
  expected.insert(in_net.begin(), in_net.end());

  // The callback form, so that its four functions are seen in their places.
  auto log = std::make_shared<SearchLog>();
  api_->perform_quick_local_search(
      "S1", kText, "",
      [log](const std::string&, const std::vector<std::shared_ptr<KestrunObject>>& rows) {
        log->set_rows(rows);
      },
      [log](const std::string&) { log->add("begin"); }, [log](const std::string&) { log->add("end"); },
      [log](const std::string&, std::shared_ptr<KestrunObject> row, ConsumerChangeType type, int, int) {
        if (type == ConsumerChangeType::Insert) log->add("insert:" + row->id());
        if (type == ConsumerChangeType::Update) log->add("update:" + row->id());
      },
      log->finished(), log->error());
  api_->perform_full_search("S1", "");
  log->wait_ended();
  // Both accounts' replies are in before the one report; nothing follows it.
  on_core([] {});

  std::vector<std::string> calls = log->calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "results:0") << "the local pass finds nothing";
  EXPECT_EQ(count(calls, "finished"), 1u);
  EXPECT_EQ(count(calls, "finished null") + count(calls, "error") + count(calls, "error null"), 0u);
  EXPECT_EQ(calls.back(), "finished");
  // Every change set is bracketed, and every conversation the server found came in as an insert.
  int open = 0;
  std::set<std::string> inserted;
  for (const std::string& call : calls) {
    if (call == "begin") ++open;
    if (call == "end") --open;
    ASSERT_GE(open, 0);
    ASSERT_LE(open, 1);
    if (call.rfind("insert:", 0) == 0) {
      EXPECT_EQ(open, 1) << call;
      inserted.insert(call.substr(7));
    }
  }
  for (const std::string& thread : expected) {
    EXPECT_EQ(inserted.count(thread), 1u) << thread;
    EXPECT_EQ(log->rows().count(thread), 1u) << thread;
  }

  // A result is opened: its conversation is fetched whole, and shown again as fetched.
  const std::string thread = *in_com.begin();
  brelt::Semaphore fetched;
  std::vector<std::string> fetch_reports;  // core thread until fetched
  api_->perform_search_fetch(
      kCom, "S1", thread, "-",
      [&](const std::string& id) {
        fetch_reports.push_back(id);
        fetched.notify();
      },
      [&](json_t*) {
        fetch_reports.push_back("error");
        fetched.notify();
      });
  fetched.wait();
  EXPECT_EQ(on_core([&] { return fetch_reports; }), (std::vector<std::string>{thread}));
  api_->update_fetched_item(thread);
  EXPECT_TRUE(wait_until([&] { return count(log->calls(), "update:" + thread) > 0; }));
}

TEST_F(ApiSearchTest, ACancelledSearchIgnoresTheServersReply) {
  ASSERT_NO_FATAL_FAILURE(sign_in({kCom}));
  auto cancelled = std::make_shared<SearchLog>();
  // Posted together, the three run before any reply can be read.
  on_core([&] {
    api_->perform_quick_local_search("S1", kText, "", std::make_shared<RecordingObserver>(cancelled),
                                     cancelled->finished(), cancelled->error());
    api_->perform_full_search("S1", "");
    api_->cancel_search();
  });
  // The replies to the cancelled search come before those of a later one, which ends normally.
  auto later = std::make_shared<SearchLog>();
  api_->perform_quick_local_search("S2", kText, "", std::make_shared<RecordingObserver>(later),
                                   later->finished(), later->error());
  api_->perform_full_search("S2", "");
  later->wait_ended();
  on_core([] {});

  EXPECT_EQ(count(later->calls(), "finished"), 1u);
  EXPECT_EQ(sent("SEARCH_QUERY").size(), 2u);
  EXPECT_FALSE(received(sent("SEARCH_QUERY").front()["id"].string_value()).is_null());
  std::vector<std::string> calls = cancelled->calls();
  EXPECT_EQ(count(calls, "finished") + count(calls, "finished null") + count(calls, "error") +
                count(calls, "error null"),
            0u);
}

TEST_F(ApiSearchTest, PrimingAsksForEveryPrimaryAccountOrTheOneNamed) {
  ASSERT_NO_FATAL_FAILURE(sign_in({kCom, kNet}));
  api_->prime_search("");
  on_core([] {});
  std::multiset<std::string> primed;
  for (const Json& message : sent("SEARCH_PRIME"))
    primed.insert(message["params"]["account_id"].string_value());
  EXPECT_EQ(primed, (std::multiset<std::string>{kCom, kNet}));

  api_->prime_search(kNet);
  on_core([] {});
  std::vector<Json> all = sent("SEARCH_PRIME");
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all.back()["params"]["account_id"], Json(kNet));
}

}  // namespace
}  // namespace kestrun_test
