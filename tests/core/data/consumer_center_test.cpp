#include "core/data/consumer_center.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/foundation/semaphore.h"
#include "core/model/ks_email.h"
#include "core/model/ks_item.h"
#include "core/model/query_updater.h"
#include "support/on_loop.h"
#include "support/temp_dir.h"

namespace {

using libkestrun::ChangeSet;
using libkestrun::ConsumerChangeType;
using Object = std::shared_ptr<KestrunObject>;
using Type = ConsumerChangeType;

Object item(const std::string& id, int64_t modifiedAt, bool read = false) {
  libkestrun::internal::Item row;
  row.set_ITEMID(id);
  row.set_MODIFIEDAT(modifiedAt);
  row.set_THREADREAD(read);
  return std::make_shared<KSItem>(nullptr, row);
}

bool newest_first(const Object& a, const Object& b) {
  return static_cast<const KSItem&>(*a).modifiedAt() > static_cast<const KSItem&>(*b).modifiedAt();
}

// Records every call of one query's observer as a line.
template <class T, class IdFn>
class Recorder : public libkestrun::DataQueryObserver<T> {
 public:
  void set_results(const std::string&, const std::vector<T>& rows) override {
    lines.push_back("results " + std::to_string(rows.size()));
  }
  void begin_changes(const std::string&) override { lines.push_back("begin"); }
  void item_changed(const std::string&, T row, Type type, int from, int to) override {
    lines.push_back(IdFn()(row) + " " + std::to_string(static_cast<int>(type)) + " " + std::to_string(from) +
                    " " + std::to_string(to));
  }
  void end_changes(const std::string&) override { lines.push_back("end"); }
  std::vector<std::string> lines;
};
using ObjectRecorder = Recorder<Object, libkestrun::KestrunId>;
using ConvoRecorder = Recorder<KSConvoItem, KSConvoItem::GetId>;

// A consumer center opened over a fresh database; queries whose rows the test sets and whose
// fetches it counts.
class ConsumerCenterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DBContext::check_schema_version(dir_.file("kestrun.db"), false, std::nullopt, [] {});
    KestrunConsumerCenter::initialize(&thread_, dir_.file("kestrun.db"), std::nullopt);
  }
  void TearDown() override { libkestrun::query_updater_set_instance(nullptr); }

  struct Registered {
    std::shared_ptr<ObjectRecorder> recorder = std::make_shared<ObjectRecorder>();
    std::vector<Object> rows;
    int fetches = 0;
  };

  Registered& addQuery(const std::string& id, const std::string& table, std::vector<Object> rows = {}) {
    auto& registered = queries_[id];
    registered = std::make_unique<Registered>();
    registered->rows = std::move(rows);
    Registered* r = registered.get();
    KestrunConsumerCenter::addQuery(id, table,
                                    std::make_unique<libkestrun::FnObjectQuery>(
                                        id,
                                        [r](const std::string&, KestrunContext&) {
                                          ++r->fetches;
                                          return std::make_shared<std::vector<Object>>(r->rows);
                                        },
                                        newest_first, r->recorder),
                                    false);
    return *r;
  }

  // A commit's change set reaching the consumer center on the core thread.
  void commit(const ChangeSet& changes) {
    kestrun_test::run_on(thread_, [&] { libkestrun::query_updater_update_queries(changes, false); });
  }

  // Returns once everything queued on the core thread, low priority included, has run.
  void drainLowPriority() {
    patch::semaphore done;
    thread_.post_low([&] { done.notify(); });
    done.wait();
  }

  brelt::UvThread thread_{true};
  kestrun_test::TempDir dir_;
  std::map<std::string, std::unique_ptr<Registered>> queries_;
};

TEST_F(ConsumerCenterTest, OnlyQueriesOfTheChangedTableRun) {
  auto& lists = addQuery("lists", "KSLIST");
  auto& items = addQuery("items", "KSITEM");
  int convoFetches = 0;
  KestrunConsumerCenter::addConvoItemQuery(
      "convo",
      std::make_unique<libkestrun::FnDataQuery<KSConvoItem, KSConvoItem::GetId>>(
          "convo",
          [&](const std::string&, KestrunContext&) {
            ++convoFetches;
            return std::make_shared<std::vector<KSConvoItem>>();
          },
          [](const KSConvoItem&, const KSConvoItem&) { return false; }, std::make_shared<ConvoRecorder>()));
  commit({{"KSLIST", {{Type::Update, {"L"}}}}});
  EXPECT_EQ(lists.fetches, 2);
  EXPECT_EQ(items.fetches, 1);
  EXPECT_EQ(convoFetches, 1);
  KestrunConsumerCenter::endQuery("convo");
}

// Conversation queries see one change set holding the e-mail ids and the draft ids.
TEST_F(ConsumerCenterTest, ConversationQueriesMergeEmailsAndDrafts) {
  auto email = std::make_shared<KSEmail>(nullptr);
  email->set_EMAILID("e1");
  libkestrun::internal::Draft draft;
  draft.set_draft_id("d1");
  draft.set_modified_at(5);
  std::vector<KSConvoItem> rows = {KSConvoItem(email), KSConvoItem(draft)};
  auto recorder = std::make_shared<ConvoRecorder>();
  KestrunConsumerCenter::addConvoItemQuery(
      "convo", std::make_unique<libkestrun::FnDataQuery<KSConvoItem, KSConvoItem::GetId>>(
                   "convo",
                   [&](const std::string&, KestrunContext&) {
                     return std::make_shared<std::vector<KSConvoItem>>(rows);
                   },
                   [](const KSConvoItem& a, const KSConvoItem& b) { return a.modifiedAt() < b.modifiedAt(); },
                   recorder));
  struct Case {
    const char* what;
    ChangeSet changes;
    std::vector<std::string> lines;
  };
  const std::vector<Case> cases = {
      {"a draft alone", {{"Draft", {{Type::Insert, {"d1"}}}}}, {"begin", "results 2", "d1 2 1 1", "end"}},
      {"e-mails and drafts in one pass",
       {{"KSEMAIL", {{Type::Update, {"e1"}}}}, {"Draft", {{Type::Update, {"d1"}}}}},
       {"begin", "results 2", "e1 2 0 0", "d1 2 1 1", "end"}},
      {"neither", {{"KSITEM", {{Type::Update, {"e1", "d1"}}}}}, {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.what);
    recorder->lines.clear();
    commit(test.changes);
    EXPECT_EQ(recorder->lines, test.lines);
  }

  KestrunConsumerCenter::endQuery("convo");
  recorder->lines.clear();
  commit({{"KSEMAIL", {{Type::Update, {"e1"}}}}});
  EXPECT_TRUE(recorder->lines.empty());
}

// A commit of the writing side that saves an e-mail and a draft re-runs every conversation query,
// each seeing the e-mail and the draft in one change set; a commit of lists re-runs none of them.
TEST_F(ConsumerCenterTest, DraftCommitRerunsEveryConversationQuery) {
  auto email = std::make_shared<KSEmail>(nullptr);
  email->set_EMAILID("e1");
  libkestrun::internal::Draft draft;
  draft.set_draft_id("d1");
  draft.set_user_id("U");
  draft.set_modified_at(5);
  const std::vector<KSConvoItem> rows = {KSConvoItem(email), KSConvoItem(draft)};
  struct Convo {
    std::shared_ptr<ConvoRecorder> recorder = std::make_shared<ConvoRecorder>();
    int fetches = 0;
  };
  Convo convos[2];
  for (int i = 0; i < 2; ++i) {
    Convo* c = &convos[i];
    const std::string id = "convo" + std::to_string(i);
    KestrunConsumerCenter::addConvoItemQuery(
        id, std::make_unique<libkestrun::FnDataQuery<KSConvoItem, KSConvoItem::GetId>>(
                id,
                [c, &rows](const std::string&, KestrunContext&) {
                  ++c->fetches;
                  return std::make_shared<std::vector<KSConvoItem>>(rows);
                },
                [](const KSConvoItem& a, const KSConvoItem& b) { return a.modifiedAt() < b.modifiedAt(); },
                c->recorder));
    c->recorder->lines.clear();
  }

  DBContext writer;
  kestrun_test::run_on(thread_, [&] {
    writer.open(dir_.file("kestrun.db"), std::nullopt);
    auto stored = std::static_pointer_cast<KSEmail>(writer.createObject("KSEMAIL", "e1"));
    stored->set_EMAILID("e1");
    writer.insertDraft(draft);
    libkestrun::ChangeSet changes;
    writer.commit(changes);
  });
  for (const Convo& c : convos) {
    EXPECT_EQ(c.fetches, 2);
    EXPECT_EQ(c.recorder->lines,
              (std::vector<std::string>{"begin", "results 2", "e1 2 0 0", "d1 2 1 1", "end"}));
  }

  commit({{"KSLIST", {{Type::Insert, {"L"}}, {Type::Update, {}}, {Type::Delete, {}}}}});
  for (const Convo& c : convos) EXPECT_EQ(c.fetches, 2);
  KestrunConsumerCenter::endQuery("convo0");
  KestrunConsumerCenter::endQuery("convo1");
}

TEST_F(ConsumerCenterTest, PausedQueryComparesWithRowsFromBeforeThePause) {
  auto& q = addQuery("inbox", "KSITEM", {item("A", 100)});
  KestrunConsumerCenter::pauseQuery("inbox");
  q.rows = {item("B", 200), item("A", 100, true)};
  commit({{"KSITEM", {{Type::Insert, {"B"}}, {Type::Update, {"A"}}}}});
  EXPECT_EQ(q.fetches, 1);

  KestrunConsumerCenter::resumeQuery("inbox");
  q.rows = {item("C", 300), item("B", 200), item("A", 100, true)};
  q.recorder->lines.clear();
  commit({{"KSITEM", {{Type::Insert, {"C"}}}}});
  // B is new against the rows before the pause; A's change was in a commit the query missed.
  EXPECT_EQ(q.recorder->lines,
            (std::vector<std::string>{"begin", "results 3", "C 1 -1 0", "B 1 -1 1", "end"}));
  KestrunConsumerCenter::pauseQuery("unknown");
  KestrunConsumerCenter::resumeQuery("unknown");
  KestrunConsumerCenter::endQuery("unknown");
}

TEST_F(ConsumerCenterTest, SecondRegistrationUnderAnIdDestroysTheFirst) {
  auto first = std::make_shared<ObjectRecorder>();
  auto token = std::make_shared<int>(0);
  std::weak_ptr<int> alive = token;
  KestrunConsumerCenter::addQuery(
      "q", "KSITEM",
      std::make_unique<libkestrun::FnObjectQuery>(
          "q",
          [token](const std::string&, KestrunContext&) { return std::make_shared<std::vector<Object>>(); },
          newest_first, first),
      false);
  token.reset();
  auto& second = addQuery("q", "KSITEM");
  EXPECT_TRUE(alive.expired());
  second.rows = {item("A", 1)};
  commit({{"KSITEM", {{Type::Insert, {"A"}}}}});
  EXPECT_EQ(first->lines, (std::vector<std::string>{"results 0"}));
  EXPECT_EQ(second.recorder->lines,
            (std::vector<std::string>{"results 0", "begin", "results 1", "A 1 -1 0", "end"}));
}

// A query whose pass throws is logged; the queries after it still run.
TEST_F(ConsumerCenterTest, FailingPassDoesNotStopTheOthers) {
  bool fail = false;
  for (const char* id : {"a", "b", "c"}) {
    KestrunConsumerCenter::addQuery(id, "KSITEM",
                                    std::make_unique<libkestrun::FnObjectQuery>(
                                        id,
                                        [&fail](const std::string&, KestrunContext&) {
                                          if (fail) throw std::runtime_error("no such table");
                                          return std::make_shared<std::vector<Object>>();
                                        },
                                        newest_first, std::make_shared<ObjectRecorder>()),
                                    false);
  }
  auto& healthy = addQuery("healthy", "KSITEM");
  fail = true;
  healthy.rows = {item("A", 1)};
  commit({{"KSITEM", {{Type::Insert, {"A"}}}}});
  EXPECT_EQ(healthy.recorder->lines.size(), 5u);
}

TEST_F(ConsumerCenterTest, ResetDropsObjectQueriesOnly) {
  auto& items = addQuery("items", "KSITEM");
  auto convo = std::make_shared<ConvoRecorder>();
  KestrunConsumerCenter::addConvoItemQuery(
      "convo", std::make_unique<libkestrun::FnDataQuery<KSConvoItem, KSConvoItem::GetId>>(
                   "convo",
                   [](const std::string&, KestrunContext&) {
                     libkestrun::internal::Draft draft;
                     draft.set_draft_id("d1");
                     return std::make_shared<std::vector<KSConvoItem>>(1, KSConvoItem(draft));
                   },
                   [](const KSConvoItem&, const KSConvoItem&) { return false; }, convo));
  KestrunConsumerCenter::resetToDefaultState();
  drainLowPriority();
  items.rows = {item("A", 1)};
  commit({{"KSITEM", {{Type::Insert, {"A"}}}}, {"Draft", {{Type::Update, {"d1"}}}}});
  EXPECT_EQ(items.fetches, 1);
  EXPECT_EQ(items.recorder.use_count(), 1);  // the query's share of the observer went with it
  EXPECT_EQ(convo->lines, (std::vector<std::string>{"results 1", "begin", "results 1", "d1 2 0 0", "end"}));
  KestrunConsumerCenter::endQuery("convo");
}

TEST_F(ConsumerCenterTest, FailedOpenWakesTheCallerWithTheError) {
  EXPECT_ANY_THROW(
      KestrunConsumerCenter::initialize(&thread_, dir_.file("missing/dir/kestrun.db"), std::nullopt));
}

}  // namespace
